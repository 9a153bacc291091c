// Page input and output: fetching by subscript, deferred writes, records
// rewritten in place, grown at the end, moved into free slots or to the end
// of data, discarded, and writes that fail.
#include <cerrno>
#include <cstring>

#include "storage_fixture.h"
#include "platform/kxmem.h"

using namespace storagetest;
using namespace jbbformat;

namespace {
constexpr char kSourceName[] = "pageio_test";

class PageIoTest : public StorageTest {
 protected:
  // Appends an entry with a key of `units` code units to the node, growing
  // its buffer as the key operations would.
  void appendEntry(NodeP* pp, size_t units) {
    Bytes e = entry(std::u16string(units, u'z'), 0x77);
    while (allocSizeOf(*pp) < nodeSizeOf(*pp) + e.size()) ASSERT_EQ(db->extendNode(pp), 0);
    NodeP p = *pp;
    std::memcpy(nodeImage(p) + nodeSizeOf(p), e.data(), e.size());
    setNodeSize(p, uint32_t(nodeSizeOf(p) + e.size()));
    setCount(p, uint16_t(countOf(p) + 1));
    db->indexArray[diskLocOf(p)].nodeSize = nodeSizeOf(p);
  }
  // Fetches, grows and hands back node s.
  NodeP grow(int32_t s, size_t units) {
    NodeP p = db->fetchPage(s);
    EXPECT_TRUE(isRealNode(p));
    appendEntry(&p, units);
    EXPECT_EQ(db->writePage(&p), 0);
    return p;
  }
  // Reopens the file and checks that every live node reads back.
  void reopenAndFetch(const std::vector<int32_t>& live) {
    release();
    ASSERT_EQ(make().openBtDb(path.c_str(), false), 0);
    EXPECT_EQ(db->dbErrno, 0);
    for (int32_t s : live) {
      NodeP p = db->fetchPage(s);
      EXPECT_TRUE(isRealNode(p)) << "node " << s;
      db->dbFree(p, "test", __LINE__);
    }
  }
};

// Root 1 over leaves 2 and 3; leaf 2's slot has `slack2` spare bytes.
Image twoLeaves(uint64_t slack2 = 0) {
  Image img;
  img.live(node(1, {u"m"}, {2, 3}));
  Bytes leaf = node(2, {u"a", u"b"});
  img.live(leaf, leaf.size() + slack2);
  img.live(node(3, {u"x"}));
  return img;
}

TEST_F(PageIoTest, FetchRejectsSubscriptsOutsideTheHandedOutRange) {
  ASSERT_EQ(open(twoLeaves()), 0);
  db->dbErrno = 0;
  EXPECT_EQ(db->fetchPage(0), nullptr);
  EXPECT_EQ(db->dbErrno, 0);
  EXPECT_EQ(db->fetchPage(int32_t(db->cr.currentIXCount)), nodeFailed());
  EXPECT_EQ(db->dbErrno, 22);
  db->dbErrno = 0;
  EXPECT_EQ(db->fetchPage(-3), nodeFailed());
  EXPECT_EQ(db->dbErrno, 22);
}

TEST_F(PageIoTest, NodeThatStillFitsIsRewrittenInPlace) {
  Image img = twoLeaves(200);
  ASSERT_EQ(open(img), 0);
  int64_t pos = entryOf(2).nodePos;
  grow(2, 10);
  db->ExitCleanup();
  ASSERT_EQ(db->FlushMemNodes(), 0);
  Bytes file = readFile(path);
  EXPECT_EQ(file.size(), img.bytes().size());
  EXPECT_EQ(entryOf(2).nodePos, pos);
  EXPECT_EQ(u16At(file, size_t(pos) + kNodeCount), 3);
  EXPECT_EQ(u64At(file, size_t(pos) + kNodeSlotLength), node(2, {u"a", u"b"}).size() + 200);
  reopenAndFetch({1, 2, 3});
}

TEST_F(PageIoTest, LastRecordGrowsInPlaceAndClaimsItsLengthAtOnce) {
  ASSERT_EQ(open(twoLeaves()), 0);
  int64_t last = db->cr.lastNDRec;
  ASSERT_EQ(entryOf(3).nodePos, last);
  NodeP p = grow(3, 40);
  EXPECT_EQ(entryOf(3).slotLength, nodeSizeOf(p));
  EXPECT_EQ(slotLengthOf(p), nodeSizeOf(p));
  EXPECT_EQ(db->newNDLast, last + int64_t(nodeSizeOf(p)));
  uint32_t size = nodeSizeOf(p);
  db->ExitCleanup();
  ASSERT_EQ(db->FlushMemNodes(), 0);
  Bytes file = readFile(path);
  EXPECT_EQ(file.size(), size_t(last) + size);
  EXPECT_EQ(u64At(file, size_t(last) + kNodeSlotLength), size);
  EXPECT_EQ(ctrlOf(file).lastNDRec, last);
  reopenAndFetch({1, 2, 3});
}

TEST_F(PageIoTest, OutgrownNodeMovesIntoTheFirstFreeSlotThatFits) {
  Image img;
  img.live(node(1, {u"m"}, {2, 3}));
  int64_t old2 = img.live(node(2, {u"a"}));
  int64_t big = img.freeSlot(6, 1000);
  img.freeSlot(5, 100);  // at the head of the list, but too short
  img.live(node(3, {u"x"}));
  img.cr.currentIXCount = 7;
  ASSERT_EQ(open(img), 0);
  ASSERT_EQ(listOf(db->avlList), (std::vector<int32_t>{5, 6}));
  uint64_t oldSlot = entryOf(2).slotLength;
  NodeP p = grow(2, 60);
  ASSERT_GT(nodeSizeOf(p), 100u);
  db->ExitCleanup();
  ASSERT_EQ(db->FlushMemNodes(), 0);
  // The two entries have exchanged slots; the node keeps the whole slot.
  EXPECT_EQ(entryOf(2).nodePos, big);
  EXPECT_EQ(entryOf(2).slotLength, 1000u);
  EXPECT_EQ(entryOf(6).nodePos, old2);
  EXPECT_EQ(entryOf(6).slotLength, oldSlot);
  Bytes file = readFile(path);
  EXPECT_EQ(file.size(), img.bytes().size());
  EXPECT_EQ(u32At(file, size_t(old2) + kNodeSize), uint32_t(oldSlot));
  EXPECT_EQ(u64At(file, size_t(old2) + kNodeSlotLength), oldSlot);
  EXPECT_EQ(u32At(file, size_t(old2) + kNodeRecordState), 1u);
  EXPECT_EQ(i32At(file, size_t(old2) + kNodeDiskLoc), 6);
  EXPECT_EQ(u64At(file, size_t(big) + kNodeSlotLength), 1000u);
  EXPECT_EQ(i32At(file, size_t(big) + kNodeDiskLoc), 2);
  reopenAndFetch({1, 2, 3});
  EXPECT_EQ(listOf(db->avlList), (std::vector<int32_t>{5, 6}));
}

TEST_F(PageIoTest, OutgrownNodeWithoutAFreeSlotMovesToTheEndOfData) {
  Image img = twoLeaves();
  ASSERT_EQ(open(img), 0);
  int64_t old2 = entryOf(2).nodePos;
  uint64_t oldSlot = entryOf(2).slotLength;
  int64_t last = db->cr.lastNDRec;
  NodeP q = grow(3, 20);  // the last record, changed and not yet written
  uint32_t lastSize = nodeSizeOf(q);
  NodeP p = grow(2, 30);
  uint32_t size = nodeSizeOf(p);
  int32_t fresh = int32_t(db->cr.currentIXCount);
  ASSERT_EQ(db->RealWrite(&entryOf(2)), 0);
  // The last record went first, grown in place; the mover follows it.
  EXPECT_EQ(entryOf(3).state, kStateOccupied);
  EXPECT_EQ(entryOf(2).nodePos, last + int64_t(lastSize));
  EXPECT_EQ(db->cr.lastNDRec, last + int64_t(lastSize));
  EXPECT_EQ(db->cr.lastIndex, 2);
  EXPECT_EQ(db->newNDLast, last + int64_t(lastSize) + int64_t(size));
  EXPECT_EQ(entryOf(fresh).state, kStateAvailable);
  EXPECT_EQ(entryOf(fresh).nodePos, old2);
  EXPECT_EQ(entryOf(fresh).slotLength, oldSlot);
  EXPECT_EQ(db->avlList->subscript, fresh);
  db->ExitCleanup();
  ASSERT_EQ(db->FlushMemNodes(), 0);
  Bytes file = readFile(path);
  EXPECT_EQ(file.size(), size_t(last) + lastSize + size);
  EXPECT_EQ(i32At(file, size_t(old2) + kNodeDiskLoc), fresh);
  EXPECT_EQ(u32At(file, size_t(old2) + kNodeRecordState), 1u);
  EXPECT_EQ(ctrlOf(file).currentIXCount, uint32_t(fresh) + 1);
  reopenAndFetch({1, 2, 3});
}

TEST_F(PageIoTest, FullDiskDuringAMoveLeavesTheFileAsItWas) {
  Image img = twoLeaves();
  ASSERT_EQ(open(img), 0);
  grow(3, 20);
  grow(2, 30);
  // The first write that extends the file (the last record's growth) fails.
  osFileTestSetFault({OsFaultPoint::kExtend, 1, ENOSPC, false});
  int rc = db->RealWrite(&entryOf(2));
  osFileTestClearFault();
  EXPECT_EQ(rc, kResultWriteFailed);
  EXPECT_EQ(db->dbErrno, ENOSPC);
  EXPECT_EQ(readFile(path), img.bytes());
  // Memory no longer matches the file: the tree is read again.
  EXPECT_TRUE(db->isStale());
  ASSERT_EQ(db->reloadIfStale(), 0);
  EXPECT_EQ(entryOf(2).nodeSize, node(2, {u"a", u"b"}).size());
  reopenAndFetch({1, 2, 3});
}

TEST_F(PageIoTest, DiscardedNodeBecomesAFreeSlotByItsHeaderAloneAtTheFlush) {
  Image img = twoLeaves();
  ASSERT_EQ(open(img), 0);
  Bytes before = readFile(path);
  int64_t pos = entryOf(2).nodePos;
  NodeP p = db->fetchPage(2);
  setBranch(p, 0, -1);
  ASSERT_EQ(db->writePage(&p), 0);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(entryOf(2).state, kStateAvailable);
  EXPECT_EQ(entryOf(2).node, nullptr);
  // Not offered for reuse, and not written, before the flush.
  EXPECT_EQ(db->avlList, nullptr);
  EXPECT_EQ(readFile(path), before);
  ASSERT_EQ(db->FlushMemNodes(), 0);
  Bytes after = readFile(path);
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = kCtrlRecSize; i < after.size(); ++i) {
    if (i >= size_t(pos) + kNodeRecordState && i < size_t(pos) + kNodeRecordState + 4) continue;
    ASSERT_EQ(after[i], before[i]) << "byte " << i;
  }
  EXPECT_EQ(u32At(after, size_t(pos) + kNodeRecordState), 1u);
}

TEST_F(PageIoTest, ExtendNodeAddsOneAllocationUnit) {
  Image img;
  Bytes leaf = node(1, {std::u16string(200, u'k')});
  img.live(leaf);
  ASSERT_EQ(open(img), 0);
  NodeP p = db->rootP;
  ASSERT_EQ(allocSizeOf(p), leaf.size());
  ASSERT_EQ(db->extendNode(&p), 0);
  EXPECT_EQ(allocSizeOf(p), leaf.size() + 25340);
  EXPECT_EQ(entryOf(1).node, p);
  EXPECT_EQ(db->rootP, p);
  nodeImage(p)[allocSizeOf(p) - 1] = 0x5A;  // the whole area is usable
  EXPECT_EQ(countOf(p), 1);
}

TEST_F(PageIoTest, NewNodeBufferIsOneUnit) {
  NodeP p = make().dbCalloc("test", __LINE__);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(allocSizeOf(p), 25332u);
  EXPECT_EQ(nodeSizeOf(p), 72u);
  EXPECT_EQ(diskLocOf(p), 0);
  EXPECT_EQ(countOf(p), 0);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(branchOf(p, i), 0);
  KX_FREE(p);
}

TEST_F(PageIoTest, FailingWritesAreReportedAsFailures) {
  ASSERT_EQ(open(twoLeaves()), 0);
  uint8_t bytes[24] = {};
  osFileTestSetFault({OsFaultPoint::kWrite, 1, ENOSPC, false});
  EXPECT_EQ(db->RealWriteEx(db->dbHandle, bytes, sizeof bytes, 3000), kResultWriteFailed);
  EXPECT_EQ(db->dbErrno, ENOSPC);
  // A short write with no error from the system.
  osFileTestSetFault({OsFaultPoint::kWrite, 1, 0, false});
  EXPECT_EQ(db->RealWriteEx(db->dbHandle, bytes, sizeof bytes, 3000), kResultWriteFailed);
  EXPECT_EQ(db->dbErrno, 13);
  // The control record fails when its write or the flush behind it does.
  osFileTestSetFault({OsFaultPoint::kFlush, 1, EIO, false});
  db->dbErrno = 0;
  EXPECT_EQ(db->WriteCtrlRec(), -1);
  EXPECT_EQ(db->dbErrno, EIO);
  osFileTestClearFault();
  EXPECT_EQ(db->WriteCtrlRec(), 0);
}

}  // namespace
