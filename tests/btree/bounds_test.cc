// What the open takes from fields the file states: allocations stay within
// what the file could hold, and positions read from it never overflow.
#include <string>

#include "builder/builder.h"
#include "storage_fixture.h"
#include "platform/kxmem.h"

using namespace storagetest;

namespace {

constexpr uint32_t kHugeIndexSize = 150995444;

class BoundsTest : public StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    std::string error;
    keys = jbbbuilder::syntheticPaths(300, 5);
    auto entries = jbbbuilder::entriesFor(keys, kDataSize);
    ASSERT_TRUE(jbbbuilder::sortEntries(&entries, true, &error)) << error;
    ASSERT_TRUE(jbbbuilder::bulkLoad(entries, jbbbuilder::BulkOptions{}, &tree, &error)) << error;
  }

  // Writes the tree with the control record claiming indexArraySize.
  Bytes build(uint32_t indexArraySize) {
    jbbbuilder::DbSpec spec;
    spec.dataSize = kDataSize;
    spec.ctrl.indexArraySize = indexArraySize;
    std::string error;
    EXPECT_TRUE(jbbbuilder::buildImage(tree, spec, &built, &error)) << error;
    release();
    writeFile(path, built.bytes);
    return built.bytes;
  }

  int32_t walk() {
    int32_t count = 0;
    class Counter : public bTree {
     public:
      Counter(uint16_t size, int32_t* n) : bTree(size), n_(n) {}
      int32_t walkCallback(const wchar16*, const uint8_t*) override {
        ++*n_;
        return 0;
      }
      int32_t* n_;
    };
    Counter c(kDataSize, &count);
    EXPECT_EQ(c.openBtDb(path.c_str(), false), 0);
    EXPECT_EQ(c.walkTree(), 0);
    c.closeBtDb();
    return count;
  }

  std::vector<jbbbuilder::Key> keys;
  jbbbuilder::TreeNode tree;
  jbbbuilder::BuiltImage built;
};

TEST_F(BoundsTest, StoredIndexSizeBeyondTheFileSizesNoAllocation) {
  Bytes before = build(kHugeIndexSize);
  ASSERT_GT(before.size(), 30000u);
  ASSERT_LT(before.size(), 50000u);
  make();
  uint64_t held = kxTestLiveBytes();
  kxTestResetPeak();
  ASSERT_EQ(db->openBtDb(path.c_str(), false), 0);
  // The array holds 40 bytes for each 24-byte record the file could hold,
  // and the root's buffer is one allocation unit: a few times the file,
  // where the stored size would ask for 6 GB.
  EXPECT_LT(kxTestPeakBytes() - held, 4 * before.size());
  EXPECT_EQ(db->cr.indexArraySize, kHugeIndexSize);
  EXPECT_GE(db->indexCapacity, db->cr.currentIXCount);
  release();
  EXPECT_EQ(readFile(path), before);
  EXPECT_EQ(walk(), 300);
}

TEST_F(BoundsTest, StoredIndexSizeIsWrittenBackAsItWas) {
  build(kHugeIndexSize);
  make();
  ASSERT_EQ(db->openBtDb(path.c_str(), false), 0);
  std::u16string key(keys[17].begin(), keys[17].end());
  ASSERT_EQ(db->Delete(reinterpret_cast<const wchar16*>(key.c_str())), 0);
  ASSERT_EQ(db->syncToDisk(), 0);
  release();
  Bytes after = readFile(path);
  EXPECT_EQ(u32At(after, jbbformat::kCrIndexArraySize), kHugeIndexSize);
  EXPECT_EQ(walk(), 299);
}

TEST_F(BoundsTest, SoundFileGetsItsStoredIndexSize) {
  build(1000);
  make();
  ASSERT_EQ(db->openBtDb(path.c_str(), false), 0);
  EXPECT_EQ(db->indexCapacity, 1000u);
  EXPECT_EQ(db->cr.indexArraySize, 1000u);
}

// A subscript the stored size allows but no file of this length could
// have handed out is damage: the open refuses it and writes nothing.
TEST_F(BoundsTest, SubscriptBeyondWhatTheFileCouldHoldFailsTheOpen) {
  Bytes image = build(kHugeIndexSize);
  jbbformat::putU32(image.data() + built.slots.back().position + jbbformat::kNodeDiskLoc, 1000000);
  writeFile(path, image);
  EXPECT_EQ(make().openBtDb(path.c_str(), false), kResultOpenFailed);
  EXPECT_EQ(db->dbErrno, 22);
  release();
  EXPECT_EQ(readFile(path), image);
}

// A last slot claimed to reach the end of the position range: the chain
// must end well below it, so that appending after it cannot overflow.
TEST_F(BoundsTest, SlotReachingTheEndOfThePositionRangeFailsTheOpen) {
  Bytes image = build(1000);
  const auto& last = built.slots.back();
  for (uint64_t end : {uint64_t(INT64_MAX) - 1, uint64_t(INT64_MAX), uint64_t(1) << 62 | 1}) {
    SCOPED_TRACE(end);
    jbbformat::putU64(image.data() + last.position + jbbformat::kNodeSlotLength, end - uint64_t(last.position));
    writeFile(path, image);
    EXPECT_EQ(make().openBtDb(path.c_str(), false), kResultOpenFailed);
    EXPECT_EQ(db->dbErrno, 22);
    release();
    EXPECT_EQ(readFile(path), image);
  }
}

// A last slot may reach past the end of the file by what a cut-short write
// leaves, but a claim far beyond it would have the next append leave a hole
// of that size: such a chain is damage, and the file stays as it was.
TEST_F(BoundsTest, LastSlotFarPastTheEndOfTheFileFailsTheOpen) {
  Bytes image = build(1000);
  const auto& last = built.slots.back();
  uint64_t toEnd = image.size() - uint64_t(last.position);
  for (uint64_t beyond : {uint64_t(400000), uint64_t(1) << 40}) {
    SCOPED_TRACE(beyond);
    jbbformat::putU64(image.data() + last.position + jbbformat::kNodeSlotLength, toEnd + beyond);
    writeFile(path, image);
    EXPECT_EQ(make().openBtDb(path.c_str(), false), kResultOpenFailed);
    EXPECT_EQ(db->dbErrno, 22);
    release();
    EXPECT_EQ(readFile(path), image);
  }
  // What a cut-short write of a node can leave still opens.
  jbbformat::putU64(image.data() + last.position + jbbformat::kNodeSlotLength, toEnd + 300000);
  writeFile(path, image);
  EXPECT_EQ(make().openBtDb(path.c_str(), false), 0);
}

}  // namespace
