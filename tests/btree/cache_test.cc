// The node cache: subscripts, holds and releases, eviction order, the flush
// and the end-of-operation cleanup.
#include <cstring>

#include "storage_fixture.h"
#include "platform/kxmem.h"

using namespace storagetest;

namespace {

using CacheTest = StorageTest;

// Root 1 over leaves 2, 3 and 4.
Image threeLeaves() {
  Image img;
  img.live(node(1, {u"f", u"p"}, {2, 3, 4}));
  img.live(node(2, {u"a"}));
  img.live(node(3, {u"g"}));
  img.live(node(4, {u"q"}));
  return img;
}

TEST_F(CacheTest, SubscriptsStartAtOneAndTheArrayGrowsBy500) {
  bTree& t = make();
  EXPECT_EQ(t.addIndexEntry(), 1);
  EXPECT_EQ(t.cr.indexArraySize, 500u);
  EXPECT_EQ(t.addIndexEntry(), 2);
  t.cr.currentIXCount = 500;
  EXPECT_EQ(t.addIndexEntry(), 500);
  EXPECT_EQ(t.cr.indexArraySize, 1000u);
  EXPECT_EQ(t.indexArray[999].state, 0);
  EXPECT_EQ(t.indexArray[999].node, nullptr);
}

TEST_F(CacheTest, FailedGrowthChangesNothing) {
  bTree& t = make();
  t.cr.currentIXCount = 0;
  kxTestSetFailure(0, 1);
  int32_t s = t.addIndexEntry();
  kxTestSetFailure(0, 0);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(t.dbErrno, 12);
  EXPECT_EQ(t.cr.indexArraySize, 0u);
  EXPECT_EQ(t.cr.currentIXCount, 0u);
  EXPECT_EQ(t.indexArray, nullptr);
}

TEST_F(CacheTest, ReleaseAndFetchAgainMoveThroughTheStates) {
  ASSERT_EQ(open(threeLeaves()), 0);
  NodeP p = db->fetchPage(2);
  ASSERT_TRUE(isRealNode(p));
  EXPECT_EQ(entryOf(2).state, kStateOccupied);
  EXPECT_EQ(db->fetchPage(2), p);  // a held node: same buffer, no read
  db->dbFree(p, "test", __LINE__);
  EXPECT_EQ(entryOf(2).state, kStateClean);
  EXPECT_EQ(db->fetchPage(2), p);
  EXPECT_EQ(entryOf(2).state, kStateOccupied);

  ASSERT_EQ(db->writePage(&p), 0);
  EXPECT_EQ(entryOf(2).state, kStateModHold);
  db->dbFree(p, "test", __LINE__);
  EXPECT_EQ(entryOf(2).state, kStateModified);
  db->dbFree(p, "test", __LINE__);
  EXPECT_EQ(entryOf(2).state, kStateModified);
  EXPECT_EQ(db->fetchPage(2), p);
  EXPECT_EQ(entryOf(2).state, kStateModHold);
}

TEST_F(CacheTest, ReleaseDuringAWalkDropsTheNode) {
  ASSERT_EQ(open(threeLeaves()), 0);
  int before = listLength(db->actList);
  NodeP p = db->fetchPage(3);
  ASSERT_TRUE(isRealNode(p));
  db->freeOnRelease = 1;
  db->dbFree(p, "test", __LINE__);
  EXPECT_EQ(entryOf(3).state, kStateOnDisk);
  EXPECT_EQ(entryOf(3).node, nullptr);
  EXPECT_EQ(listLength(db->actList), before);
  db->dbFree(nullptr, "test", __LINE__);
  db->dbFree(nodeFailed(), "test", __LINE__);
}

TEST_F(CacheTest, EvictionTakesTheOldestCleanNodeFirst) {
  ASSERT_EQ(open(threeLeaves()), 0);
  NodeP a = db->fetchPage(2);
  NodeP b = db->fetchPage(3);
  db->dbFree(a, "test", __LINE__);
  db->dbFree(b, "test", __LINE__);
  EXPECT_EQ(db->purgecache(), 0);
  EXPECT_EQ(entryOf(2).state, kStateOnDisk);
  EXPECT_EQ(entryOf(3).state, kStateClean);
  EXPECT_EQ(db->purgecache(), 0);
  EXPECT_EQ(entryOf(3).state, kStateOnDisk);
  // Only the held root is left: nothing more goes.
  EXPECT_EQ(db->purgecache(), 0);
  EXPECT_EQ(entryOf(1).state, kStateOccupied);
  EXPECT_EQ(db->rootP, entryOf(1).node);
}

TEST_F(CacheTest, ModifiedNodeStaysInMemoryUntilTheFlush) {
  Image img = threeLeaves();
  ASSERT_EQ(open(img), 0);
  NodeP p = db->fetchPage(4);
  NodeP held = db->fetchPage(2);
  setBranch(p, 5, 77);  // a stale child slot: changes bytes, not meaning
  ASSERT_EQ(db->writePage(&p), 0);
  db->dbFree(p, "test", __LINE__);
  // Eviction never writes: the change waits for the flush.
  EXPECT_EQ(db->purgecache(), 0);
  EXPECT_EQ(entryOf(4).state, kStateModified);
  EXPECT_EQ(entryOf(2).state, kStateOccupied);
  EXPECT_EQ(readFile(path), img.bytes());
  db->dbFree(held, "test", __LINE__);
  ASSERT_EQ(db->FlushMemNodes(), 0);
  Bytes file = readFile(path);
  EXPECT_EQ(i32At(file, size_t(entryOf(4).nodePos) + jbbformat::kNodeBranch + 20), 77);
}

TEST_F(CacheTest, FlushWritesChangesAndEmptiesTheCache) {
  Image img = threeLeaves();
  ASSERT_EQ(open(img), 0);
  EXPECT_EQ(listLength(db->actList), 2);  // the root, twice
  NodeP p = db->fetchPage(3);
  setBranch(p, 4, 55);
  ASSERT_EQ(db->writePage(&p), 0);
  db->cr.keyLength = 9;  // visible only if the control record is rewritten
  EXPECT_EQ(db->FlushMemNodes(), 0);
  EXPECT_EQ(db->actList, nullptr);
  EXPECT_EQ(db->avlList, nullptr);
  EXPECT_EQ(db->rootP, nullptr);
  for (int32_t s = 1; s <= 4; ++s) {
    EXPECT_EQ(entryOf(s).state, kStateOnDisk) << s;
    EXPECT_EQ(entryOf(s).node, nullptr) << s;
  }
  Bytes file = readFile(path);
  EXPECT_EQ(ctrlOf(file).keyLength, 9);
  EXPECT_EQ(i32At(file, size_t(entryOf(3).nodePos) + jbbformat::kNodeBranch + 16), 55);
  EXPECT_EQ(file.size(), img.bytes().size());
  // The walk starts this way: the root comes back from the file.
  db->rootP = db->fetchPage(db->cr.rootOffset);
  ASSERT_TRUE(isRealNode(db->rootP));
  EXPECT_EQ(countOf(db->rootP), 2);
}

TEST_F(CacheTest, FlushThatCannotPlaceANodeWritesNothingAndLeavesTheTreeStale) {
  Image img = threeLeaves();
  img.cr.currentIXCount = 500;  // the next subscript needs a larger array
  ASSERT_EQ(open(img), 0);
  NodeP q = db->fetchPage(3);
  setBranch(q, 4, 66);
  ASSERT_EQ(db->writePage(&q), 0);
  NodeP p = db->fetchPage(2);  // now at the head: flushed first
  Bytes e = entry(std::u16string(40, u'z'), 1);
  ASSERT_EQ(db->extendNode(&p), 0);
  std::memcpy(nodeImage(p) + nodeSizeOf(p), e.data(), e.size());
  setNodeSize(p, uint32_t(nodeSizeOf(p) + e.size()));
  setCount(p, 2);
  entryOf(2).nodeSize = nodeSizeOf(p);
  ASSERT_EQ(db->writePage(&p), 0);
  kxTestSetFailure(0, 1);  // moving node 2 needs a new subscript: none
  int rc = db->FlushMemNodes();
  kxTestSetFailure(0, 0);
  EXPECT_EQ(rc, kResultMemory);
  // Not even the node that could be written: a change reaches the file
  // whole or not at all.
  EXPECT_EQ(readFile(path), img.bytes());
  EXPECT_TRUE(db->isStale());
  EXPECT_EQ(db->reloadIfStale(), 0);
  EXPECT_FALSE(db->isStale());
  EXPECT_EQ(countOf(db->rootP), 2);
}

TEST_F(CacheTest, FlushWithoutAFileOnlyFreesBuffers) {
  bTree& t = make();
  int32_t s = t.addIndexEntry();
  NodeP p = t.dbCalloc("test", __LINE__);
  setDiskLoc(p, s);
  t.indexArray[s].node = p;
  t.indexArray[s].state = kStateModified;
  ASSERT_EQ(t.addToList(&t.actList, s), 0);
  ASSERT_EQ(t.addToList(&t.avlList, 7), 0);
  EXPECT_EQ(t.FlushMemNodes(), 0);
  EXPECT_EQ(t.actList, nullptr);
  EXPECT_EQ(t.avlList, nullptr);
  EXPECT_EQ(t.indexArray[s].node, nullptr);
  EXPECT_FALSE(fileExists(path));
}

TEST_F(CacheTest, ExitCleanupReleasesEverythingButTheRoot) {
  ASSERT_EQ(open(threeLeaves()), 0);
  NodeP a = db->fetchPage(2);
  NodeP b = db->fetchPage(3);
  NodeP c = db->fetchPage(4);
  ASSERT_EQ(db->writePage(&b), 0);
  db->freeOnRelease = 1;
  db->dbFree(c, "test", __LINE__);  // leaves no cell
  db->freeOnRelease = 0;
  db->ExitCleanup();
  EXPECT_EQ(entryOf(1).state, kStateOccupied);
  EXPECT_EQ(entryOf(2).state, kStateClean);
  EXPECT_EQ(entryOf(3).state, kStateModified);
  EXPECT_EQ(entryOf(4).state, kStateOnDisk);
  EXPECT_EQ(listOf(db->actList), (std::vector<int32_t>{3, 2, 1, 1}));
  (void)a;
}

TEST_F(CacheTest, ListsAddAtTheHeadAndRemoveTheFirstMatch) {
  bTree& t = make();
  listCell* list = nullptr;
  for (int32_t s : {3, 5, 3, 8}) ASSERT_EQ(t.addToList(&list, s), 0);
  EXPECT_EQ(listOf(list), (std::vector<int32_t>{8, 3, 5, 3}));
  t.removeFromList(&list, 3);
  EXPECT_EQ(listOf(list), (std::vector<int32_t>{8, 5, 3}));
  t.removeFromList(&list, 42);
  EXPECT_EQ(listLength(list), 3);
  kxTestSetFailure(0, 1);
  EXPECT_NE(t.addToList(&list, 9), 0);
  kxTestSetFailure(0, 0);
  EXPECT_EQ(listOf(list), (std::vector<int32_t>{8, 5, 3}));
  t.freeList(&list);
  EXPECT_EQ(list, nullptr);
}

}  // namespace
