// List on a database whose keys run far past one conversion
// buffer: every key prints whole.  The request loop runs in-process on a
// builder database, in the C locale (a CJK character shows as '?').
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "viewer/requests.h"
#include "viewer/tooldb.h"
#include "request_loop.h"

namespace {

using jbbbuilder::Key;

// A key of `units` units: a path of digits and letters with one CJK character.
Key longKey(size_t units, char16_t lead) {
  Key key = u"/";
  key += lead;
  while (key.size() < units) key += char16_t(u'a' + key.size() % 26);
  key[units / 2] = u'\u4e2d';
  return key;
}

std::string shownAscii(const Key& key) {
  std::string s;
  for (char16_t c : key) s += c < 0x80 ? char(c) : '?';
  return s;
}

class LongKeysTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = testing::TempDir() + "longkeys.jbbdb";
    keys_ = {u"/short", longKey(10000, u'm'), longKey(16000, u'x')};
    std::vector<jbbbuilder::Entry> entries = jbbbuilder::entriesFor(keys_, 32);
    std::string error;
    ASSERT_TRUE(jbbbuilder::sortEntries(&entries, false, &error)) << error;
    jbbbuilder::TreeNode root;
    ASSERT_TRUE(jbbbuilder::bulkLoad(entries, jbbbuilder::BulkOptions(), &root, &error)) << error;
    jbbbuilder::DbSpec spec;
    spec.info.journalType = 2;
    ASSERT_TRUE(jbbbuilder::writeDatabase(path_, root, spec, &error)) << error;
    db_ = new toolDB(32);
    ASSERT_EQ(db_->openBtDb(path_.c_str(), false), 0);
    db_->journalInfo = db_->cr.journalInfoArea;
    db_->entryCount = uint32_t(keys_.size());
  }
  void TearDown() override {
    if (db_ != nullptr) db_->closeBtDb();
    delete db_;
    std::remove(path_.c_str());
  }
  std::string run(const std::string& input) { return runRequests(*db_, input); }

  std::string path_;
  std::vector<Key> keys_;
  toolDB* db_ = nullptr;
};

TEST_F(LongKeysTest, ListPrintsEveryKeyWhole) {
  std::string out = run("List\nQuit\n");
  std::string expected = "\t" + shownAscii(keys_[1]) + "\n\t" + shownAscii(keys_[0]) + "\n\t" +
                         shownAscii(keys_[2]) + "\n";
  EXPECT_NE(out.find(expected), std::string::npos) << out.substr(0, 200);
}

}  // namespace
