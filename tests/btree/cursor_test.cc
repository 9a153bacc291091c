// The cursor and the read-only open: a seek to any key, then steps, give
// the model's keys from its lower bound on, with their records; a reader
// never writes, opens a file it may not change, and reads a file with a
// change cut off by a crash as recovery will leave it.
#include <filesystem>

#include "btree/cursor.h"
#include "btree/rollback.h"
#include "crashstate.h"
#include "tree_fixture.h"

namespace keytest {
namespace {

class CursorTest : public TreeTest {
 protected:
  // Steps from a seek to `from` to the end, or `limit` entries.
  std::vector<std::pair<Key, Bytes>> scan(bTree& t, const Key& from, size_t limit = SIZE_MAX) {
    std::vector<std::pair<Key, Bytes>> out;
    bTreeCursor c(t);
    for (bool ok = c.seek(from.c_str()); ok && out.size() < limit; ok = c.next()) {
      Key k(c.keyUnits(), u'\0');
      for (size_t i = 0; i < k.size(); ++i) k[i] = char16_t(jbbformat::getU16(c.keyBytes() + 2 * i));
      out.emplace_back(k, Bytes(c.data(), c.data() + c.dataAvailable()));
    }
    EXPECT_EQ(t.dbErrno, 0);
    return out;
  }
  std::vector<std::pair<Key, Bytes>> modelFrom(const Key& from, size_t limit = SIZE_MAX) {
    std::vector<std::pair<Key, Bytes>> out;
    for (auto it = model_.lower_bound(from); it != model_.end() && out.size() < limit; ++it) out.push_back(*it);
    return out;
  }
};

// Seeks to present keys, to keys between them, before the first and after
// the last, each followed by steps, over trees of one to four levels.
TEST_F(CursorTest, SeekAndStepFollowTheModel) {
  for (size_t n : {size_t(0), size_t(1), size_t(9), size_t(60), size_t(700), size_t(3000)}) {
    SCOPED_TRACE(n);
    closeTree();
    std::vector<Key> keys = buildRandomFill(n, 11 + n, true);
    openTree();
    EXPECT_EQ(scan(*tree_, u""), modelFrom(u""));
    jbbbuilder::Rng rng(n);
    for (int i = 0; i < 40 && n > 0; ++i) {
      const Key& k = keys[rng.below(keys.size())];
      EXPECT_EQ(scan(*tree_, k, 25), modelFrom(k, 25)) << jbbbuilder::keyToUtf8(k);
      Key between = k + u"\u0001";
      EXPECT_EQ(scan(*tree_, between, 25), modelFrom(between, 25));
      Key shorter = k.substr(0, k.size() / 2);
      EXPECT_EQ(scan(*tree_, shorter, 25), modelFrom(shorter, 25));
    }
    EXPECT_TRUE(scan(*tree_, u"\uffff\uffff").empty());
  }
}

// A reader on a file that may not be changed: it opens, finds, walks and
// steps, writes nothing, and refuses a change.
TEST_F(CursorTest, ReadOnlyOpenNeverWrites) {
  buildRandomFill(500, 5, false);
  auto old = std::chrono::time_point_cast<std::chrono::seconds>(std::filesystem::file_time_type::clock::now() -
                                                                  std::chrono::hours(24));
  std::filesystem::last_write_time(path_, old);
  std::filesystem::permissions(path_, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  Bytes before = crashtest::readWhole(path_);
  RecordingTree t(32);
  ASSERT_EQ(t.openReadOnly(path_.c_str()), 0) << t.dbErrno;
  EXPECT_EQ(scan(t, u"").size(), model_.size());
  EXPECT_EQ(t.walkTree(), 0);
  EXPECT_EQ(t.keys.size(), model_.size());
  EXPECT_NE(t.Search(model_.begin()->first.c_str()), nullptr);
  EXPECT_EQ(t.beginUpdate(), -1);
  EXPECT_EQ(t.dbErrno, EROFS);
  t.closeBtDb();
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
  EXPECT_EQ(crashtest::readWhole(path_), before);
  EXPECT_EQ(std::filesystem::last_write_time(path_), old);
}

// A file with a deletion cut off part way: a reader sees every entry (the
// deletion as taken back) and leaves both files as they are; the next
// writer's open takes the deletion back, and then the reader's view was
// the file.
TEST_F(CursorTest, ReaderSeesACutOffChangeAsRecoveryWillLeaveIt) {
  std::vector<Key> keys = buildRandomFill(400, 9, false);
  Bytes original = crashtest::readWhole(path_);
  std::string side = jbbrollback::sideFileOf(path_.c_str());
  crashtest::Recording rec;
  rec.start({path_, side});
  openTree();
  ASSERT_EQ(tree_->beginUpdate(), 0);
  for (size_t i = 0; i < 60; i += 3) ASSERT_EQ(del(keys[i]), 0);
  ASSERT_EQ(tree_->syncToDisk(), 0);
  tree_->endUpdate();
  closeTree();
  rec.stop();
  size_t n = 0, writes = 0;
  for (; n < rec.size(); ++n)
    if (rec.events()[n].kind == OsFileEvent::kWrite && rec.events()[n].path == path_ && writes++ == 2) break;
  crashtest::putFiles(rec.crashAfter(n), {path_, side});
  Bytes cut = crashtest::readWhole(path_), rollback = crashtest::readWhole(side);
  ASSERT_NE(cut, original);
  RecordingTree t(32);
  ASSERT_EQ(t.openReadOnly(path_.c_str()), 0) << t.dbErrno;
  EXPECT_EQ(t.pendingState(), jbbrollback::Pending::kRollBack);
  EXPECT_EQ(scan(t, u""), modelFrom(u""));
  t.closeBtDb();
  EXPECT_EQ(crashtest::readWhole(path_), cut);
  EXPECT_EQ(crashtest::readWhole(side), rollback);
  openTree();  // the writer recovers
  closeTree();
  EXPECT_EQ(crashtest::readWhole(path_), original);
  std::remove(side.c_str());
}

}  // namespace
}  // namespace keytest
