// Databases built by the builder read back through the checker unchanged:
// every size and fill gives a well-formed file holding exactly the entries
// given, in key order, with their data.
#include <gtest/gtest.h>

#include <cstdio>

#include "builder/builder.h"

using namespace jbbbuilder;

namespace {

std::vector<Entry> sortedEntries(size_t n, uint64_t seed, size_t dataSize = 32) {
  std::vector<Key> keys = syntheticPaths(n, seed);
  std::string error;
  EXPECT_TRUE(sortKeys(&keys, false, &error)) << error;
  return entriesFor(keys, dataSize, seed);
}

CheckResult buildAndCheck(const TreeNode& root, const DbSpec& spec) {
  BuiltImage image;
  std::string error;
  EXPECT_TRUE(buildImage(root, spec, &image, &error)) << error;
  return checkImage(image.bytes, CheckOptions{spec.dataSize});
}

void expectSameEntries(const std::vector<Entry>& want, const CheckResult& got) {
  ASSERT_EQ(want.size(), got.entries.size());
  for (size_t i = 0; i < want.size(); ++i) {
    ASSERT_EQ(want[i].key, got.entries[i].key) << "entry " << i;
    ASSERT_EQ(want[i].data, got.entries[i].data) << "entry " << i;
  }
}

class BulkSizes : public ::testing::TestWithParam<std::tuple<size_t, int>> {};

TEST_P(BulkSizes, WellFormedWithAllEntries) {
  auto [n, fill] = GetParam();
  std::vector<Entry> entries = sortedEntries(n, 7 + n);
  TreeNode root;
  std::string error;
  BulkOptions options;
  options.fill = fill;
  ASSERT_TRUE(bulkLoad(entries, options, &root, &error)) << error;
  CheckResult r = buildAndCheck(root, DbSpec());
  EXPECT_TRUE(r.ok()) << r.report();
  expectSameEntries(entries, r);
  EXPECT_EQ(shapeOf(root), r.dump);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BulkSizes,
                         ::testing::Combine(::testing::Values(0, 1, 10, 11, 55, 56, 65, 66, 71, 1000, 5000),
                                            ::testing::Values(5, 7, 10)));

TEST(Bulk, FillFiveMakesMinimalNodesAndTenFullOnes) {
  // 215 entries are exactly three levels of 5-entry nodes, 1330 exactly
  // three levels of full ones.
  for (auto [n, fill] : {std::pair<size_t, int>{215, 5}, {1330, 10}}) {
    TreeNode root;
    std::string error;
    BulkOptions options;
    options.fill = fill;
    ASSERT_TRUE(bulkLoad(sortedEntries(n, 3), options, &root, &error)) << error;
    CheckResult r = buildAndCheck(root, DbSpec());
    ASSERT_TRUE(r.ok()) << r.report();
    EXPECT_EQ(3, r.height);
    for (const NodeInfo& node : r.nodes) EXPECT_EQ(size_t(fill), node.keys.size()) << node.subscript;
  }
}

TEST(Bulk, LeftNodesKeepTheFillAskedFor) {
  // 2000 entries cannot all sit in full nodes; the leftmost node of every
  // level still holds the fill asked for, the right side takes the rest.
  TreeNode root;
  std::string error;
  BulkOptions options;
  options.fill = 10;
  ASSERT_TRUE(bulkLoad(sortedEntries(2000, 3), options, &root, &error)) << error;
  CheckResult r = buildAndCheck(root, DbSpec());
  ASSERT_TRUE(r.ok()) << r.report();
  for (const TreeNode* n = &root.children[0]; n; n = n->isLeaf() ? nullptr : &n->children[0])
    EXPECT_EQ(10u, n->entries.size());
}

TEST(Bulk, PerNodeFillShapesLeaves) {
  // Two levels: the root over leaves of 5, 6 and 5 entries.
  std::vector<Entry> entries = sortedEntries(18, 11);
  BulkOptions options;
  options.fill = 5;
  options.fillOf = [](int level, int ordinal) {
    if (level == 1) return 2;
    return ordinal == 1 ? 6 : 5;
  };
  TreeNode root;
  std::string error;
  ASSERT_TRUE(bulkLoad(entries, options, &root, &error)) << error;
  ASSERT_EQ(3u, root.children.size());
  EXPECT_EQ(5u, root.children[0].entries.size());
  EXPECT_EQ(6u, root.children[1].entries.size());
  EXPECT_EQ(5u, root.children[2].entries.size());
  EXPECT_TRUE(buildAndCheck(root, DbSpec()).ok());
}

TEST(Bulk, RefusesUnsortedKeysAndBadFill) {
  std::vector<Entry> entries = {{K("b"), {}}, {K("a"), {}}};
  TreeNode root;
  std::string error;
  EXPECT_FALSE(bulkLoad(entries, BulkOptions(), &root, &error));
  entries = {{K("a"), {}}, {K("a"), {}}};
  EXPECT_FALSE(bulkLoad(entries, BulkOptions(), &root, &error));
  BulkOptions bad;
  bad.fill = 4;
  EXPECT_FALSE(bulkLoad({}, bad, &root, &error));
}

TEST(Bulk, SortEntriesDropsOrRefusesDuplicates) {
  std::vector<Entry> entries = {{K("b"), {1}}, {K("a"), {2}}, {K("b"), {3}}};
  std::string error;
  std::vector<Entry> copy = entries;
  EXPECT_FALSE(sortEntries(&copy, false, &error));
  EXPECT_NE(std::string::npos, error.find("\"b\""));
  ASSERT_TRUE(sortEntries(&entries, true, &error));
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(K("a"), entries[0].key);
  EXPECT_EQ(Bytes{1}, entries[1].data);  // the first of equal keys is kept
}

TEST(Shape, ExplicitTreeIsWrittenAsDescribed) {
  TreeNode root;
  std::string error;
  const std::string shape = "[d h] ([a b] [e f] [k])";
  ASSERT_TRUE(parseShape(shape, 32, &root, &error)) << error;
  EXPECT_EQ(shape, shapeOf(root));
  CheckResult r = buildAndCheck(root, DbSpec());
  EXPECT_EQ(shape, r.dump);
  // Underfull nodes are written as asked, and the checker says so.
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(2, r.height);
  ASSERT_EQ(4u, r.nodes.size());
  EXPECT_EQ(1, r.nodes[0].subscript);
  EXPECT_EQ(2088, r.nodes[0].position);
  EXPECT_EQ((std::vector<int32_t>{2, 3, 4}), r.nodes[0].children);
}

TEST(Shape, ParseErrorsAreReported) {
  TreeNode root;
  std::string error;
  EXPECT_FALSE(parseShape("[a b] ([a])", 32, &root, &error));  // needs 3 children
  EXPECT_FALSE(parseShape("[a", 32, &root, &error));
  EXPECT_FALSE(parseShape("[a] x", 32, &root, &error));
  EXPECT_TRUE(parseShape("[]", 32, &root, &error));
  EXPECT_TRUE(root.entries.empty());
}

TEST(Layout, EmptyDatabaseAsCreatedAndClosed) {
  BuiltImage image;
  std::string error;
  ASSERT_TRUE(buildImage(TreeNode(), DbSpec(), &image, &error)) << error;
  ASSERT_EQ(2160u, image.bytes.size());
  CheckResult r = checkImage(image.bytes);
  EXPECT_TRUE(r.ok()) << r.report();
  EXPECT_EQ("[]", r.dump);
  EXPECT_EQ(1, r.ctrl.rootOffset);
  EXPECT_EQ(500u, r.ctrl.indexArraySize);
  EXPECT_EQ(2u, r.ctrl.currentIXCount);
  EXPECT_EQ(1, r.ctrl.lastIndex);
  EXPECT_EQ(2088, r.ctrl.lastNDRec);
  ASSERT_EQ(1u, r.slots.size());
  EXPECT_EQ(72u, r.slots[0].nodeSize);
  EXPECT_EQ(72u, r.slots[0].slotLength);
  EXPECT_EQ(1, r.slots[0].diskLoc);

  DbSpec created;
  created.layout.writeEmptyRoot = false;
  ASSERT_TRUE(buildImage(TreeNode(), created, &image, &error)) << error;
  EXPECT_EQ(2088u, image.bytes.size());
  EXPECT_TRUE(checkImage(image.bytes).ok());
}

TEST(Layout, FreeSlotsSlackAndShuffleStayWellFormed) {
  std::vector<Entry> entries = sortedEntries(3000, 5);
  TreeNode root;
  std::string error;
  ASSERT_TRUE(bulkLoad(entries, BulkOptions(), &root, &error)) << error;
  DbSpec spec;
  spec.layout.freeSlots = 17;
  spec.layout.slack = 40;
  spec.layout.shuffle = true;
  spec.layout.shuffleSeed = 99;
  BuiltImage image;
  ASSERT_TRUE(buildImage(root, spec, &image, &error)) << error;
  CheckResult r = checkImage(image.bytes, CheckOptions{32});
  EXPECT_TRUE(r.ok()) << r.report();
  expectSameEntries(entries, r);
  size_t freeSlots = 0;
  for (const SlotInfo& s : r.slots) {
    freeSlots += s.free();
    if (!s.free()) {
      EXPECT_EQ(s.nodeSize + 40u, s.slotLength);
    }
  }
  EXPECT_EQ(17u, freeSlots);
  EXPECT_FALSE(r.slots.back().free());
  EXPECT_NE(1, r.ctrl.rootOffset);  // the shuffle moved the root
  EXPECT_EQ(r.slots.back().diskLoc, r.ctrl.lastIndex);
  EXPECT_EQ(uint32_t(r.slots.size() + 1), r.ctrl.currentIXCount);
  EXPECT_EQ(0u, r.ctrl.indexArraySize % 500);
}

TEST(Layout, IndexArraySizeGrowsInStepsOf500) {
  // 499 records fit subscripts 1..499 of 500 entries; 500 need 1000.
  for (auto [freeSlots, size] : {std::pair<int, uint32_t>{498, 500}, {499, 1000}}) {
    DbSpec spec;
    spec.layout.freeSlots = freeSlots;
    BuiltImage image;
    std::string error;
    TreeNode root;
    ASSERT_TRUE(parseShape("[a]", 32, &root, &error));
    ASSERT_TRUE(buildImage(root, spec, &image, &error)) << error;
    CheckResult r = checkImage(image.bytes);
    EXPECT_TRUE(r.ok()) << r.report();
    EXPECT_EQ(size, r.ctrl.indexArraySize);
  }
}

TEST(Layout, ExplicitNodeOrderAndSlackPerSlot) {
  TreeNode root;
  std::string error;
  ASSERT_TRUE(parseShape("[f] ([a b c d e] [g h i j k])", 32, &root, &error));
  DbSpec spec;
  spec.layout.nodeOrder = {2, 1, 0};  // the root last
  spec.layout.slackOf = [](int32_t subscript) { return subscript == 3 ? 100u : 0u; };
  BuiltImage image;
  ASSERT_TRUE(buildImage(root, spec, &image, &error)) << error;
  CheckResult r = checkImage(image.bytes);
  EXPECT_TRUE(r.ok()) << r.report();
  EXPECT_EQ(3, r.ctrl.rootOffset);
  EXPECT_EQ(3, r.ctrl.lastIndex);
  EXPECT_EQ(r.slots[2].position, r.ctrl.lastNDRec);
  EXPECT_EQ(r.slots[2].nodeSize + 100u, r.slots[2].slotLength);
  EXPECT_EQ((std::vector<int32_t>{2, 1}), r.nodes[0].children);
  EXPECT_EQ(K("g"), r.node(1)->keys[0]);

  spec.layout.nodeOrder = {0, 0, 1};
  EXPECT_FALSE(buildImage(root, spec, &image, &error));
}

TEST(Layout, WriterRefusesWhatTheFormatCannotHold) {
  TreeNode root;
  std::string error;
  BuiltImage image;
  root.entries.resize(11);
  for (size_t i = 0; i < 11; ++i) root.entries[i].key = sequentialKeys(11)[i];
  EXPECT_FALSE(buildImage(root, DbSpec(), &image, &error));
  root.entries.resize(1);
  root.entries[0].key = Key(16400, u'x');  // entry above 32767 bytes
  EXPECT_FALSE(buildImage(root, DbSpec(), &image, &error));
  root.entries[0].key = Key{u'a', 0, u'b'};
  EXPECT_FALSE(buildImage(root, DbSpec(), &image, &error));
  root.entries[0].key = K("a");
  root.entries[0].data = Bytes(33, 1);
  EXPECT_FALSE(buildImage(root, DbSpec(), &image, &error));
  root.entries[0].data = Bytes(31, 1);  // shorter data is zero-padded
  ASSERT_TRUE(buildImage(root, DbSpec(), &image, &error)) << error;
  CheckResult r = checkImage(image.bytes);
  ASSERT_EQ(1u, r.entries.size());
  EXPECT_EQ(0, r.entries[0].data[31]);
}

TEST(Bulk, HundredThousandEntries) {
  std::vector<Entry> entries = sortedEntries(100000, 8);
  TreeNode root;
  std::string error;
  ASSERT_TRUE(bulkLoad(entries, BulkOptions(), &root, &error)) << error;
  CheckResult r = buildAndCheck(root, DbSpec());
  EXPECT_TRUE(r.ok()) << r.report();
  expectSameEntries(entries, r);
}

TEST(File, WriteAndCheckByPath) {
  std::string path = ::testing::TempDir() + "roundtrip_file.jbbdb";
  TreeNode root;
  std::string error;
  ASSERT_TRUE(bulkLoad(sortedEntries(100, 2), BulkOptions(), &root, &error)) << error;
  ASSERT_TRUE(writeDatabase(path, root, DbSpec(), &error)) << error;
  CheckResult r = checkDatabase(path);
  EXPECT_TRUE(r.ok()) << r.report();
  EXPECT_EQ(100u, r.entries.size());
  std::remove(path.c_str());
  EXPECT_FALSE(checkDatabase(path).ok());
}

}  // namespace
