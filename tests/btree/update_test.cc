// One program changes a database at a time: every open object holds a
// shared lock, a change is made under the exclusive lock, and an open that
// finds a change cut off takes it back first, or refuses a file changed
// since.  A run that changes nothing writes nothing.
#include <filesystem>

#include "btree/rollback.h"
#include "crashstate.h"
#include "tree_fixture.h"

namespace keytest {
namespace {

class UpdateTest : public TreeTest {
 protected:
  void SetUp() override { keys_ = buildRandomFill(120, 7, false); }
  void TearDown() override {
    TreeTest::TearDown();
    std::remove(side().c_str());
  }
  std::string side() const { return jbbrollback::sideFileOf(path_.c_str()); }
  std::unique_ptr<RecordingTree> another() {
    auto t = std::make_unique<RecordingTree>(32);
    return t;
  }
  // One update deleting every fifth of keys[from, from + 25), cut off after
  // its rollback file and `writes` of its writes.
  void leaveDeletionCutOff(size_t from, size_t writes) {
    crashtest::Recording rec;
    rec.start({path_, side()});
    openTree();
    ASSERT_EQ(tree_->beginUpdate(), 0);
    for (size_t i = from; i < from + 25; i += 5) ASSERT_EQ(del(keys_[i]), 0);
    ASSERT_EQ(tree_->syncToDisk(), 0);
    tree_->endUpdate();
    closeTree();
    rec.stop();
    size_t n = 0, seen = 0;
    for (; n < rec.size(); ++n) {
      const OsFileEvent& e = rec.events()[n];
      if (e.kind == OsFileEvent::kWrite && e.path == path_ && seen++ == writes) break;
    }
    ASSERT_LT(n, rec.size()) << "the update made " << seen << " writes";
    crashtest::putFiles(rec.crashAfter(n), {path_, side()});
    ASSERT_TRUE(std::filesystem::exists(side()));
  }
  std::vector<Key> keys_;
};

TEST_F(UpdateTest, ReadersShareAWriterIsAlone) {
  openTree();
  auto other = another();
  ASSERT_EQ(other->openBtDb(path_.c_str(), false), 0);
  Bytes before = crashtest::readWhole(path_);
  // Two programs have it open: neither may change it.
  EXPECT_EQ(tree_->beginUpdate(), -1);
  EXPECT_EQ(tree_->dbErrno, kErrnoInUse);
  EXPECT_EQ(other->Search(keys_[3].c_str()) != nullptr, true);
  other->closeBtDb();
  ASSERT_EQ(tree_->beginUpdate(), 0);
  // While one changes it, nobody else opens it, and the file stays as it is.
  auto third = another();
  EXPECT_EQ(third->openBtDb(path_.c_str(), false), kResultOpenFailed);
  EXPECT_EQ(third->dbErrno, kErrnoInUse);
  EXPECT_EQ(third->dbHandle, nullptr);
  EXPECT_EQ(crashtest::readWhole(path_), before);
  ASSERT_EQ(del(keys_[3]), 0);
  ASSERT_EQ(tree_->syncToDisk(), 0);
  tree_->endUpdate();
  ASSERT_EQ(third->openBtDb(path_.c_str(), false), 0);
  EXPECT_EQ(third->Search(keys_[3].c_str()), nullptr);
  EXPECT_NE(third->Search(keys_[4].c_str()), nullptr);
}

// A flush outside an update takes the exclusive lock for its own writes;
// while another program has the file open it fails, writes nothing, and the
// tree is read again before it is used.
TEST_F(UpdateTest, FlushWhileOthersHaveItOpenWritesNothing) {
  openTree();
  auto other = another();
  ASSERT_EQ(other->openBtDb(path_.c_str(), false), 0);
  Bytes before = crashtest::readWhole(path_);
  ASSERT_EQ(del(keys_[10]), 0);
  EXPECT_NE(tree_->syncToDisk(), 0);
  EXPECT_EQ(tree_->dbErrno, kErrnoInUse);
  EXPECT_EQ(crashtest::readWhole(path_), before);
  EXPECT_NE(tree_->Search(keys_[10].c_str()), nullptr);  // read again: the key is there
}

// Opening, counting, finding and closing leave the file's bytes, length and
// time of change as they were.
TEST_F(UpdateTest, ReadingRunWritesNothing) {
  // Whole seconds: the Windows runtime does not keep finer ones exactly.
  auto old = std::chrono::time_point_cast<std::chrono::seconds>(std::filesystem::file_time_type::clock::now() -
                                                                  std::chrono::hours(48));
  std::filesystem::last_write_time(path_, old);
  Bytes before = crashtest::readWhole(path_);
  openTree();
  ASSERT_EQ(tree_->walkTree(), 0);
  EXPECT_EQ(tree_->keys.size(), keys_.size());
  EXPECT_NE(find(keys_[0]), nullptr);
  EXPECT_EQ(find(u"/nowhere"), nullptr);
  ASSERT_EQ(tree_->walkTree(), 0);
  EXPECT_EQ(del(u"/nowhere"), 1);
  closeTree();
  EXPECT_EQ(crashtest::readWhole(path_), before);
  EXPECT_EQ(std::filesystem::last_write_time(path_), old);
  EXPECT_FALSE(std::filesystem::exists(side()));
}

// Deletions cut off part way are taken back, all of them, by the next
// open, which then holds every entry.
TEST_F(UpdateTest, OpenTakesBackACutOffUpdate) {
  Bytes before = crashtest::readWhole(path_);
  leaveDeletionCutOff(20, 2);
  openTree();
  EXPECT_FALSE(std::filesystem::exists(side()));
  for (size_t i = 20; i < 45; i += 5) EXPECT_NE(find(keys_[i]), nullptr) << i;
  closeTree();
  EXPECT_EQ(crashtest::readWhole(path_), before);
}

// A cut-off change waits while another program has the file open: the open
// refuses, and neither file is touched.  Once alone, the open recovers.
TEST_F(UpdateTest, CutOffChangeWaitsUntilTheOpenIsAlone) {
  Bytes before = crashtest::readWhole(path_);
  leaveDeletionCutOff(30, 1);
  Bytes cut = crashtest::readWhole(path_), rollback = crashtest::readWhole(side());
  OsFile* holder = osFileOpenLocked(path_.c_str(), OsFileMode::kRead, OsLock::kShared);
  ASSERT_NE(holder, nullptr);
  RecordingTree t(32);
  EXPECT_EQ(t.openBtDb(path_.c_str(), false), kResultOpenFailed);
  EXPECT_EQ(t.dbErrno, kErrnoInUse);
  EXPECT_EQ(crashtest::readWhole(path_), cut);
  EXPECT_EQ(crashtest::readWhole(side()), rollback);
  osFileClose(holder);
  ASSERT_EQ(t.openBtDb(path_.c_str(), false), 0);
  t.closeBtDb();
  EXPECT_EQ(crashtest::readWhole(path_), before);
}

// A file changed by someone else after the change was cut off: taking the
// change back could lose their work, so the open refuses and says what
// differs, and both files stay as they are.
TEST_F(UpdateTest, FileChangedSinceIsRefused) {
  leaveDeletionCutOff(40, 1);
  Bytes other = crashtest::readWhole(path_);
  other[2] ^= 0x40;  // the control record, which the change rewrites last
  Bytes rollback = crashtest::readWhole(side());
  crashtest::putFiles({{path_, other}, {side(), rollback}}, {path_, side()});
  RecordingTree t(32);
  EXPECT_EQ(t.openBtDb(path_.c_str(), false), kResultOpenFailed);
  EXPECT_EQ(t.dbErrno, kErrnoPendingConflict);
  EXPECT_NE(std::string(t.pendingWhy()).find("changed since"), std::string::npos) << t.pendingWhy();
  EXPECT_EQ(crashtest::readWhole(path_), other);
  EXPECT_EQ(crashtest::readWhole(side()), rollback);
}

}  // namespace
}  // namespace keytest
