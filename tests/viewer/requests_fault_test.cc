// The Del request when writes fail: what the user is told, and that the file
// still holds every entry not reported deleted.  The request loop runs
// in-process on a builder database, with the file layer's fault plan.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "platform/kxmem.h"
#include "platform/osfile.h"
#include "platform/psstr.h"
#include "request_loop.h"
#include "viewer/requests.h"
#include "viewer/tooldb.h"

namespace {

using jbbbuilder::Key;

std::string utf8(const Key& key) {
  char buf[4096];
  wideToMb(buf, key.c_str());
  return buf;
}

class DelFaultTest : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    path_ = testing::TempDir() + "delfault_" + info->name() + ".jbbdb";
    keys_ = jbbbuilder::syntheticPaths(400, 5, u"/data", false);
    std::string error;
    ASSERT_TRUE(jbbbuilder::sortKeys(&keys_, true, &error)) << error;
    jbbbuilder::BulkOptions options;
    options.fill = 5;  // every deletion from a leaf rebalances
    jbbbuilder::TreeNode root;
    ASSERT_TRUE(jbbbuilder::bulkLoad(jbbbuilder::entriesFor(keys_, 32), options, &root, &error)) << error;
    jbbbuilder::DbSpec spec;
    spec.info.journalType = 2;
    ASSERT_TRUE(jbbbuilder::writeDatabase(path_, root, spec, &error)) << error;
  }
  void TearDown() override {
    osFileTestClearFault();
    kxTestSetFailure(0, 0);
    if (db_ != nullptr) db_->closeBtDb();
    delete db_;
    std::remove(path_.c_str());
  }

  void open() {
    db_ = new toolDB(32);
    ASSERT_EQ(db_->openBtDb(path_.c_str(), false), 0);
    db_->journalInfo = db_->cr.journalInfoArea;
    db_->entryCount = uint32_t(keys_.size());
  }

  // Runs the request loop on `input` and returns what it printed.
  std::string run(const std::string& input) { return runRequests(*db_, input); }

  static std::string delLines(const std::vector<Key>& keys, const std::string& more = "") {
    std::string s;
    for (const Key& k : keys) s += "Del " + utf8(k) + "\ny\n";
    return s + more + "Quit\n";
  }

  // The keys a clean reader finds in the file, with their records checked.
  std::vector<Key> fileKeys() {
    jbbbuilder::CheckOptions options;
    options.expectedDataSize = 32;
    jbbbuilder::CheckResult r = jbbbuilder::checkDatabase(path_, options);
    std::vector<Key> out;
    EXPECT_TRUE(r.ok()) << r.report();
    for (const auto& e : r.entries) {
      EXPECT_EQ(e.data, jbbbuilder::keyData(e.key, 32));
      out.push_back(e.key);
    }
    return out;
  }

  std::string path_;
  std::vector<Key> keys_;
  toolDB* db_ = nullptr;
};

size_t countOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A full disk: from some point on every write that would make a file
// longer fails.  Each deletion needs room for its rollback file, so from
// then on every deletion fails with the system's own message and changes
// nothing; those before completed; the file then holds exactly the keys
// not reported deleted.
TEST_F(DelFaultTest, FullDiskFailsSomeDeletionsAndKeepsEveryOtherEntry) {
  open();
  std::vector<Key> targets;
  for (size_t i = 0; i < keys_.size(); i += 7) targets.push_back(keys_[i]);
  osFileTestSetFault({OsFaultPoint::kExtend, 20, ENOSPC, true});
  std::string out = run(delLines(targets));
  osFileTestClearFault();
  std::string noSpace = std::string("errno = ") + std::to_string(ENOSPC) + ", " + std::strerror(ENOSPC) + ".\n";
  size_t failed = countOf(out, noSpace);
  EXPECT_GT(failed, 0u) << out;
  EXPECT_EQ(countOf(out, "failed.\n"), failed);
  std::vector<Key> expected;
  for (const Key& k : keys_) {
    bool deleted = out.find("Deletion of key \"" + utf8(k) + "\" completed.") != std::string::npos;
    if (!deleted) expected.push_back(k);
  }
  EXPECT_LT(expected.size(), keys_.size()) << "some deletions should complete without room";
  EXPECT_EQ(fileKeys(), expected);
}

// A deletion that fails before anything is written (no memory for a move)
// reports its own cause even when the file could not be written either;
// the next request works on what the file holds.
TEST_F(DelFaultTest, FailedDeletionReportsItsOwnCause) {
  open();
  osFileTestSetFault({OsFaultPoint::kWrite, 1, EIO, true});
  std::string out;
  // The first allocation a deletion makes that can fail is the successor
  // key or a node's enlargement; try the first few until one strikes.
  for (int after = 0; after < 8 && out.find("errno = 12,") == std::string::npos; ++after) {
    kxTestSetFailure(after, 1);
    out = run(delLines({keys_[10]}));
    kxTestSetFailure(0, 0);
  }
  osFileTestClearFault();
  EXPECT_NE(out.find("\" failed.\nerrno = 12, " + std::string(std::strerror(12)) + ".\n"), std::string::npos) << out;
  EXPECT_EQ(fileKeys(), keys_);
  out = run(delLines({keys_[10]}));
  EXPECT_NE(out.find("\" completed.\n"), std::string::npos) << out;
}

// When the file cannot be read again after a failure, Del changes nothing
// and says why; Find and List go on as far as they can.
TEST_F(DelFaultTest, UnreadableFileAfterAFailureRefusesDeletion) {
  open();
  osFileTestSetFault({OsFaultPoint::kWrite, 1, EIO, false});
  std::string out = run(delLines({keys_[3]}));
  osFileTestClearFault();
  ASSERT_NE(out.find("failed.\nerrno = " + std::to_string(EIO)), std::string::npos) << out;
  ASSERT_TRUE(db_->isStale());
  // Someone damages the control record meanwhile.
  FILE* f = std::fopen(path_.c_str(), "rb+");
  ASSERT_NE(f, nullptr);
  std::fputc(0, f);
  std::fputc(0, f);
  std::fclose(f);
  out = run(delLines({keys_[4]}, "Find " + utf8(keys_[5]) + "\nList\n"));
  EXPECT_NE(out.find("Deletion of key \"" + utf8(keys_[4]) +
                     "\" not attempted: the database file could not be read again after an earlier failure.\n"
                     "errno = 22, " + std::strerror(22) + ".\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Error searching the database for " + utf8(keys_[5]) + "\nerrno = 22,"), std::string::npos) << out;
  EXPECT_NE(out.find("\nList of Incremental Needed Directories:\n\n\n"), std::string::npos) << out;
}

}  // namespace

namespace {

// Another program has the journal open: Del says so in one line where the
// deletion's result would go, changes nothing, and the next Del, once the
// other program has let go, completes.
TEST_F(DelFaultTest, DeletionWhileAnotherProgramHasTheJournalIsNotAttempted) {
  open();
  std::vector<uint8_t> before;
  {
    std::string error;
    ASSERT_TRUE(jbbbuilder::readFile(path_, &before, &error)) << error;
  }
  OsFile* other = osFileOpenLocked(path_.c_str(), OsFileMode::kRead, OsLock::kShared);
  ASSERT_NE(other, nullptr);
  std::string out = run(delLines({keys_[0]}));
  EXPECT_NE(out.find("Deletion of key \"" + utf8(keys_[0]) +
                     "\" not attempted: the journal database is in use by another program.\n\nTotal Delete Time: "),
            std::string::npos)
      << out;
  EXPECT_EQ(fileKeys(), keys_);
  osFileClose(other);
  out = run(delLines({keys_[0]}));
  EXPECT_NE(out.find("Deletion of key \"" + utf8(keys_[0]) + "\" completed.\n"), std::string::npos) << out;
  std::vector<Key> rest(keys_.begin() + 1, keys_.end());
  EXPECT_EQ(fileKeys(), rest);
}

}  // namespace
