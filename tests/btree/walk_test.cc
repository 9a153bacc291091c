// The walk: every entry once, in key order, with its own record; a callback
// result stops it; damaged references fail it; memory stays one path deep.
#include <chrono>
#include <cstdio>

#include "tree_fixture.h"

namespace keytest {
namespace {

using jbbbuilder::K;

class WalkTest : public TreeTest {
 protected:
  void expectWalkMatchesModel() {
    ASSERT_EQ(tree_->keys.size(), model_.size());
    size_t i = 0;
    for (const auto& [key, data] : model_) {
      EXPECT_EQ(tree_->keys[i], key) << "entry " << i;
      EXPECT_EQ(tree_->records[i], data) << "entry " << i;
      ++i;
    }
  }
  // Nodes whose buffers are in memory.
  size_t nodesInMemory() {
    size_t n = 0;
    for (uint32_t i = 1; i < tree_->cr.currentIXCount; ++i) n += tree_->indexArray[i].node != nullptr;
    return n;
  }
};

TEST_F(WalkTest, EmptyTreeVisitsNothing) {
  buildShape("[]");
  openTree();
  EXPECT_EQ(tree_->walkTree(), 0);
  EXPECT_TRUE(tree_->keys.empty());
  EXPECT_EQ(tree_->walkTree(), 0);  // and again, from the flushed file
  EXPECT_TRUE(tree_->keys.empty());
}

TEST_F(WalkTest, OneLeafIsVisitedInKeyOrder) {
  buildKeys({K("c"), K("a"), K("b"), K("\xE8\x80\x80"), K("B")}, 10);
  openTree();
  EXPECT_EQ(tree_->walkTree(), 0);
  expectWalkMatchesModel();
}

TEST_F(WalkTest, DeepTreeIsVisitedInKeyOrderWithEachRecord) {
  buildKeys(jbbbuilder::syntheticPaths(2500, 8, u"/srv", true), 5, 33);
  openTree();
  EXPECT_EQ(tree_->walkTree(), 0);
  expectWalkMatchesModel();
  // Only the root is held afterwards, and a second walk sees the same.
  EXPECT_EQ(nodesInMemory(), 1u);
  tree_->keys.clear();
  tree_->records.clear();
  EXPECT_EQ(tree_->walkTree(), 0);
  expectWalkMatchesModel();
}

TEST_F(WalkTest, CallbackResultStopsTheWalkAndIsReturned) {
  buildKeys(jbbbuilder::syntheticPaths(100, 2), 5);
  openTree();
  tree_->stopAt = 3;
  tree_->stopWith = 7;
  EXPECT_EQ(tree_->walkTree(), 7);
  EXPECT_EQ(tree_->keys.size(), 3u);
  EXPECT_EQ(tree_->dbErrno, 0);
  EXPECT_EQ(tree_->freeOnRelease, 0);
  // Stopped inside an interior node's entries, the walk still leaves only
  // the root held.
  tree_->keys.clear();
  tree_->stopAt = 7;
  tree_->stopWith = -3;
  EXPECT_EQ(tree_->walkTree(), -3);
  EXPECT_EQ(tree_->keys.size(), 7u);
  EXPECT_EQ(nodesInMemory(), 1u);
}

TEST_F(WalkTest, ZeroChildIsANullBranchAfterTheEntriesBeforeIt) {
  std::vector<Key> keys = jbbbuilder::syntheticPaths(60, 4);
  buildKeys(keys, 6);
  Key lastRootKey = checkFile().nodes.front().keys.back();
  buildKeys(keys, 6, 32, jbbbuilder::Damage::ChildZero);
  openTree();

  EXPECT_EQ(tree_->walkTree(), kResultNullBranch);
  EXPECT_EQ(tree_->dbErrno, 22);
  ASSERT_FALSE(tree_->keys.empty());
  EXPECT_EQ(tree_->keys.back(), lastRootKey);
  size_t before = 0;
  for (const auto& [key, data] : model_) before += jbbbuilder::compareKeys(key, lastRootKey) <= 0;
  EXPECT_EQ(tree_->keys.size(), before);
}

TEST_F(WalkTest, ChildPointingBackUpFailsTheWalk) {
  std::vector<Key> keys = jbbbuilder::syntheticPaths(60, 4);
  buildKeys(keys, 6, 32, jbbbuilder::Damage::ChildCycle);
  openTree();

  EXPECT_EQ(tree_->walkTree(), kResultWalkRead);
  EXPECT_EQ(tree_->dbErrno, 22);
  EXPECT_TRUE(tree_->keys.empty());  // the cycle is on the leftmost path
  EXPECT_EQ(tree_->freeOnRelease, 0);
}

// The count of a large database keeps only one root-to-leaf path in memory.
TEST_F(WalkTest, MillionEntriesCountInBoundedMemory) {
#if defined(__SANITIZE_ADDRESS__)
  const size_t n = 200000;  // the sanitizer build walks a smaller tree
#else
  const size_t n = 1000000;
#endif
  std::vector<Key> keys = jbbbuilder::syntheticPaths(n, 42);
  std::string error;
  ASSERT_TRUE(jbbbuilder::sortKeys(&keys, true, &error));
  jbbbuilder::TreeNode root;
  jbbbuilder::BulkOptions options;
  options.fill = 7;
  ASSERT_TRUE(jbbbuilder::bulkLoad(jbbbuilder::entriesFor(keys, 32), options, &root, &error)) << error;
  jbbbuilder::DbSpec spec;
  buildTree(root, spec);
  int height = jbbbuilder::heightOf(root);
  root = jbbbuilder::TreeNode();

  openTree();
  size_t most = 0;
  size_t seen = 0;
  tree_->onEntry = [&]() {
    if (++seen % 20000 == 0) most = std::max(most, nodesInMemory());
    tree_->keys.clear();
    tree_->records.clear();
  };
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(tree_->walkTree(), 0);
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(seen, keys.size());
  EXPECT_LE(most, size_t(height));
  std::printf("walk of %zu entries (height %d): %.0f ms, at most %zu nodes in memory\n", seen, height, ms, most);
}

}  // namespace
}  // namespace keytest
