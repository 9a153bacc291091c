// The bTree object itself: the default walk callback, the destructor's
// write-back, and running out of memory in the open and the fetch.
#include "storage_fixture.h"
#include "platform/kxmem.h"

using namespace storagetest;

namespace {

using ObjectTest = StorageTest;

TEST_F(ObjectTest, DefaultCallbackPrintsTheWholeKey) {
  bTree& t = make();
  uint8_t data[kDataSize] = {};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(t.walkCallback(u"ab", data), 0);
  EXPECT_EQ(t.walkCallback(u"/home/a/very/long/name.txt", data), 0);
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Retrieved Key:         ab\nRetrieved Key: /home/a/very/long/name.txt\n");
}

// The destructor writes back and lets the file go, lock and all: nothing
// could reach an open stream after it, and its lock would keep every other
// program out until the process ended.
TEST_F(ObjectTest, DestructorWritesBackAndLetsTheFileGo) {
  bTree* t = new bTree(kDataSize);
  ASSERT_EQ(t->openBtDb(path.c_str(), false), 0);
  delete t;
  EXPECT_EQ(readFile(path).size(), 2160u);
  OsFile* other = osFileOpenLocked(path.c_str(), OsFileMode::kUpdate, OsLock::kExclusive);
  EXPECT_NE(other, nullptr);
  osFileClose(other);
}

TEST_F(ObjectTest, ExhaustedMemoryFailsTheOpenCleanly) {
  Image img;
  img.live(node(1, {u"a"}));
  Bytes before = img.bytes();
  // The requests of an open of an existing file, in order: the path, the
  // index array, the root's buffer, its list cell.
  for (int64_t after = 0; after < 4; ++after) {
    SCOPED_TRACE(after);
    release();
    writeFile(path, before);
    bTree& t = make();
    kxTestSetFailure(after, 1);
    int rc = t.openBtDb(path.c_str(), false);
    kxTestSetFailure(0, 0);
    EXPECT_NE(rc, 0);
    EXPECT_EQ(t.dbErrno, 12);
    release();
    EXPECT_EQ(readFile(path), before);
  }
}

TEST_F(ObjectTest, ExhaustedMemoryWhileCreating) {
  // The path, the root's buffer, the index array, the root's list cell:
  // each failure is a failed open, never a half-made tree that looks sound.
  for (int64_t after = 0; after < 4; ++after) {
    SCOPED_TRACE(after);
    release();
    std::filesystem::remove(path);
    bTree& t = make();
    kxTestSetFailure(after, 1);
    int rc = t.openBtDb(path.c_str(), false);
    kxTestSetFailure(0, 0);
    EXPECT_TRUE(rc == kResultOpenFailed || rc == kResultMemory) << rc;
    EXPECT_EQ(t.dbErrno, 12);
  }
}

TEST_F(ObjectTest, ExhaustedMemoryWhileGivingAnEmptyTreeItsRoot) {
  Image img;  // the control record alone
  for (int64_t after = 0; after < 4; ++after) {
    SCOPED_TRACE(after);
    release();
    writeFile(path, img.bytes());
    bTree& t = make();
    kxTestSetFailure(after, 1);
    int rc = t.openBtDb(path.c_str(), false);
    kxTestSetFailure(0, 0);
    EXPECT_NE(rc, 0);
    EXPECT_EQ(t.dbErrno, 12);
    release();
    EXPECT_EQ(readFile(path), img.bytes());
  }
}

TEST_F(ObjectTest, FetchWithoutMemoryLeavesTheNodeOnDisk) {
  Image img;
  img.live(node(1, {u"m"}, {2, 3}));
  img.live(node(2, {u"a"}));
  img.live(node(3, {u"x"}));
  ASSERT_EQ(open(img), 0);
  for (int64_t after : {0, 1}) {  // the buffer, then the list cell
    kxTestSetFailure(after, 1);
    NodeP p = db->fetchPage(2);
    kxTestSetFailure(0, 0);
    EXPECT_EQ(p, nodeFailed());
    EXPECT_EQ(db->dbErrno, 12);
    EXPECT_EQ(entryOf(2).state, kStateOnDisk);
    EXPECT_EQ(entryOf(2).node, nullptr);
  }
  NodeP p = db->fetchPage(2);
  EXPECT_TRUE(isRealNode(p));
  db->dbFree(p, "test", __LINE__);
}

}  // namespace
