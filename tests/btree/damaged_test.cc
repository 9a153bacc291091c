// Damaged database files, made by the test-database builder: each must
// fail cleanly (942, or a failed fetch with dbErrno 22 or 13) and leave the
// file as it was, or open soundly where the damage is harmless to storage.
#include <string>

#include "builder/builder.h"
#include "storage_fixture.h"

using namespace storagetest;
using jbbbuilder::Damage;

namespace {

class DamagedTest : public StorageTest {
 protected:
  // A two-level tree of 40 entries, breadth first: the root is subscript 1,
  // its leaves 2 and up; the last leaf is the last slot.
  void SetUp() override {
    StorageTest::SetUp();
    std::string error;
    auto entries = jbbbuilder::entriesFor(jbbbuilder::syntheticPaths(40, 7), kDataSize);
    ASSERT_TRUE(jbbbuilder::sortEntries(&entries, true, &error)) << error;
    ASSERT_TRUE(jbbbuilder::bulkLoad(entries, jbbbuilder::BulkOptions{}, &tree, &error)) << error;
    ASSERT_GE(tree.children.size(), 3u);
  }

  // Builds the tree with the damage and writes it; returns the bytes.
  Bytes build(Damage damage, int32_t target = 0, jbbbuilder::Layout layout = {}) {
    jbbbuilder::DbSpec spec;
    spec.dataSize = kDataSize;
    spec.damage = damage;
    spec.damageTarget = target;
    spec.layout = layout;
    std::string error;
    EXPECT_TRUE(jbbbuilder::buildImage(tree, spec, &built, &error)) << error;
    release();
    writeFile(path, built.bytes);
    return built.bytes;
  }
  int32_t lastLeaf() const { return built.slots.back().subscript; }

  // The open fails with 942, leaves no stream and no write behind.
  void expectRefused(Damage damage, int32_t target, int32_t dbErrno) {
    SCOPED_TRACE(jbbbuilder::damageName(damage));
    Bytes before = build(damage, target);
    EXPECT_EQ(make().openBtDb(path.c_str(), false), kResultOpenFailed);
    EXPECT_EQ(db->dbErrno, dbErrno);
    release();
    EXPECT_EQ(readFile(path), before);
  }

  jbbbuilder::TreeNode tree;
  jbbbuilder::BuiltImage built;
};

TEST_F(DamagedTest, BrokenRecordChainFailsTheOpen) {
  for (Damage d : {Damage::SlotTooShort, Damage::SlotZero, Damage::DiskLocZero, Damage::DiskLocTooLarge})
    for (int32_t target : {1, 3}) expectRefused(d, target, 22);
  expectRefused(Damage::DuplicateDiskLoc, 0, 22);
}

TEST_F(DamagedTest, EmptyCountsWithRecordsFailTheOpenAndKeepTheRecords) {
  expectRefused(Damage::CountsZero, 0, 22);
}

TEST_F(DamagedTest, RootThatCannotBeReadFailsTheOpen) {
  for (Damage d : {Damage::NodeSizeTooSmall, Damage::NodeSizeBeyondSlot, Damage::CountTooLarge,
                   Damage::NklBeyondNode, Damage::NklZero, Damage::KeyUnterminated, Damage::RootMissing}) {
    SCOPED_TRACE(jbbbuilder::damageName(d));
    Bytes before = build(d);
    EXPECT_EQ(make().openBtDb(path.c_str(), false), kResultOpenFailed);
    EXPECT_EQ(db->dbErrno, 22);
    release();
    EXPECT_EQ(readFile(path), before);
  }
}

TEST_F(DamagedTest, BadChildImageIsAFailedFetch) {
  for (Damage d : {Damage::NodeSizeTooSmall, Damage::NodeSizeBeyondSlot, Damage::CountTooLarge,
                   Damage::NklBeyondNode, Damage::NklZero, Damage::KeyUnterminated}) {
    SCOPED_TRACE(jbbbuilder::damageName(d));
    Bytes before = build(d, 3);
    ASSERT_EQ(make().openBtDb(path.c_str(), false), 0);
    for (int attempt = 0; attempt < 2; ++attempt) {
      db->dbErrno = 0;
      EXPECT_EQ(db->fetchPage(3), nodeFailed());
      EXPECT_EQ(db->dbErrno, 22);
      EXPECT_EQ(entryOf(3).state, kStateOnDisk);
      EXPECT_EQ(entryOf(3).node, nullptr);
    }
    NodeP sound = db->fetchPage(2);
    EXPECT_TRUE(isRealNode(sound));
    db->dbFree(sound, "test", __LINE__);
    db->ExitCleanup();
    release();
    EXPECT_EQ(readFile(path), before);
  }
}

TEST_F(DamagedTest, TruncatedLastRecordIsAShortRead) {
  build(Damage::TruncatedFile);
  ASSERT_EQ(make().openBtDb(path.c_str(), false), 0);
  EXPECT_EQ(db->fetchPage(lastLeaf()), nodeFailed());
  EXPECT_EQ(db->dbErrno, 13);
  EXPECT_EQ(entryOf(lastLeaf()).node, nullptr);
  // The end of data is the end of the last slot, not of the file.
  const auto& last = built.slots.back();
  EXPECT_EQ(db->newNDLast, last.position + int64_t(last.slotLength));
}

TEST_F(DamagedTest, AppendNeverLandsInsideALastSlotLongerThanTheFile) {
  build(Damage::LastSlotBeyondFile);
  const auto& last = built.slots.back();
  int64_t claimEnd = last.position + int64_t(last.slotLength) + 4096;
  ASSERT_EQ(make().openBtDb(path.c_str(), false), 0);
  EXPECT_EQ(db->newNDLast, claimEnd);
  // Grow the first leaf past its slot: with no free slot it is appended.
  NodeP p = db->fetchPage(2);
  ASSERT_TRUE(isRealNode(p));
  ASSERT_EQ(db->extendNode(&p), 0);
  Bytes e = entry(u"~appended", 0x11);
  std::memcpy(nodeImage(p) + nodeSizeOf(p), e.data(), e.size());
  setNodeSize(p, uint32_t(nodeSizeOf(p) + e.size()));
  setCount(p, uint16_t(countOf(p) + 1));
  db->indexArray[2].nodeSize = nodeSizeOf(p);
  ASSERT_EQ(db->writePage(&p), 0);
  db->ExitCleanup();
  ASSERT_EQ(db->FlushMemNodes(), 0);
  EXPECT_EQ(entryOf(2).nodePos, claimEnd);
}

TEST_F(DamagedTest, CountsBelowTheSubscriptsInUseAreRaised) {
  build(Damage::CountsTooSmall);
  int32_t highest = 0;
  for (const auto& s : built.slots) highest = std::max(highest, s.subscript);
  ASSERT_EQ(make().openBtDb(path.c_str(), false), 0);
  EXPECT_EQ(db->cr.currentIXCount, uint32_t(highest) + 1);
  EXPECT_EQ(db->addIndexEntry(), highest + 1);
}

TEST_F(DamagedTest, CountsBeyondTheArrayAreBroughtBack) {
  Image img;
  img.live(node(1, {u"a"}));
  img.cr.currentIXCount = 900;  // more than the array holds
  ASSERT_EQ(open(img), 0);
  EXPECT_LE(db->cr.currentIXCount, db->cr.indexArraySize);
  int32_t s = db->addIndexEntry();
  EXPECT_GT(s, 1);
  EXPECT_LT(uint32_t(s), db->cr.indexArraySize);
  img.cr.currentIXCount = 0;  // none handed out, though the root is there
  ASSERT_EQ(open(img), 0);
  EXPECT_EQ(db->addIndexEntry(), 2);
}

TEST_F(DamagedTest, AbsurdArraySizeIsRefusedOrServed) {
  Image img;
  img.live(node(1, {u"a"}));
  img.cr.indexArraySize = 0xFFFFFE0Cu;  // an array of some 170 GB
  int rc = open(img);
  // Where the heap cannot hold it the open fails for memory; where it can
  // (address space reserved lazily), the tree is usable.
  if (rc == 0) {
    EXPECT_EQ(countOf(db->rootP), 1);
  } else {
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(db->dbErrno, 12);
  }
}

TEST_F(DamagedTest, StaleLastRecordPositionIsTakenFromTheChain) {
  Image img;
  img.live(node(1, {u"m"}, {2, 3}));
  img.live(node(2, {u"a"}));
  int64_t realLast = img.live(node(3, {u"x"}));
  img.cr.lastNDRec = 2088;  // lags behind the records
  img.cr.lastIndex = 1;
  ASSERT_EQ(open(img), 0);
  EXPECT_EQ(db->cr.lastNDRec, realLast);
  EXPECT_EQ(db->cr.lastIndex, 3);
}

TEST_F(DamagedTest, RepeatedFreeSubscriptIsOnlyLostSpace) {
  Image img;
  img.freeSlot(3, 100);
  img.live(node(1, {u"m"}, {2, 3}));
  img.freeSlot(2, 80);
  img.live(node(2, {u"a"}));
  img.freeSlot(3, 60);
  img.live(node(3, {u"x"}));
  ASSERT_EQ(open(img), 0);
  // The live records win; no subscript of a live node stays on the list.
  EXPECT_EQ(db->avlList, nullptr);
  EXPECT_EQ(entryOf(2).state, kStateOnDisk);
  EXPECT_EQ(entryOf(3).state, kStateOnDisk);
  for (int32_t s : {2, 3}) {
    NodeP p = db->fetchPage(s);
    EXPECT_TRUE(isRealNode(p)) << s;
    db->dbFree(p, "test", __LINE__);
  }
}

TEST_F(DamagedTest, HarmlessDamageStillOpens) {
  for (Damage d : {Damage::ChildCycle, Damage::ChildZero, Damage::KeysOutOfOrder}) {
    SCOPED_TRACE(jbbbuilder::damageName(d));
    build(d);
    EXPECT_EQ(make().openBtDb(path.c_str(), false), 0);
    EXPECT_EQ(db->dbErrno, 0);
  }
}

// A root record marked free while other live records hold entries is no
// empty tree: a new root would lose every entry at the first write.  The
// open refuses it and leaves the file as it is.
TEST_F(DamagedTest, FreeRootRecordBesideLiveEntriesIsDamage) {
  build(Damage::RootFree);
  Bytes before = readFile(path);
  EXPECT_EQ(make().openBtDb(path.c_str(), false), kResultOpenFailed);
  EXPECT_EQ(db->dbErrno, 22);
  release();
  EXPECT_EQ(readFile(path), before);
}

// A free root record with no live entry anywhere is an empty tree, as it
// always was: the open makes a new root, and a walk writes nothing.
TEST_F(DamagedTest, FreeRootRecordAloneIsAnEmptyTree) {
  Image img;
  img.freeSlot(1, 72);
  Bytes before = img.bytes();
  writeFile(path, before);
  ASSERT_EQ(make().openBtDb(path.c_str(), false), 0);
  EXPECT_EQ(db->walkTree(), 0);
  EXPECT_EQ(readFile(path), before);
}

TEST_F(DamagedTest, UnrecognisedFilesAreRecreated) {
  for (Damage d : {Damage::ShortControlRecord, Damage::BadMagic, Damage::SwappedMagic, Damage::OtherDataSize}) {
    SCOPED_TRACE(jbbbuilder::damageName(d));
    build(d);
    EXPECT_EQ(make().openBtDb(path.c_str(), false), 0);
    EXPECT_EQ(db->dbErrno, kErrnoRecreated);
    release();
    EXPECT_EQ(readFile(path).size(), 2160u);
  }
}

TEST_F(DamagedTest, SoundBuiltLayoutsOpenAndCloseUnchanged) {
  jbbbuilder::Layout spread;
  spread.freeSlots = 4;
  spread.slack = 40;
  jbbbuilder::Layout shuffled;
  shuffled.shuffle = true;
  shuffled.shuffleSeed = 11;
  for (const auto& layout : {jbbbuilder::Layout{}, spread, shuffled}) {
    Bytes before = build(Damage::None, 0, layout);
    ASSERT_EQ(make().openBtDb(path.c_str(), false), 0);
    EXPECT_EQ(db->cr.rootOffset, built.rootSubscript);
    for (const auto& s : built.slots) {
      if (s.free) continue;
      NodeP p = db->fetchPage(s.subscript);
      ASSERT_TRUE(isRealNode(p)) << s.subscript;
      db->dbFree(p, "test", __LINE__);
    }
    db->ExitCleanup();
    release();
    EXPECT_EQ(readFile(path), before);
    EXPECT_TRUE(jbbbuilder::checkDatabase(path).ok());
  }
}

}  // namespace
