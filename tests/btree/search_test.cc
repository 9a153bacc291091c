// Search: the data record of a key anywhere in the tree, holds handed back,
// absent and invalid keys, damaged references.
#include <cstring>

#include "tree_fixture.h"

namespace keytest {
namespace {

using jbbbuilder::K;

class SearchTest : public TreeTest {
 protected:
  // Between public operations only the root is held.
  void expectOnlyRootHeld() {
    for (uint32_t i = 1; i < tree_->cr.currentIXCount; ++i) {
      int32_t state = tree_->indexArray[i].state;
      if (tree_->indexArray[i].node == tree_->rootP) continue;
      EXPECT_NE(state, kStateOccupied) << "indexArray[" << i << "]";
      EXPECT_NE(state, kStateModHold) << "indexArray[" << i << "]";
    }
  }
  void expectFound(const Key& key) {
    uint8_t* data = find(key);
    ASSERT_NE(data, nullptr) << jbbbuilder::keyToUtf8(key);
    EXPECT_EQ(data, tree_->resultBuffer);
    EXPECT_EQ(Bytes(data, data + dataSize_), jbbbuilder::keyData(key, dataSize_)) << jbbbuilder::keyToUtf8(key);
  }
};

TEST_F(SearchTest, FindsKeysInTheRootAndThreeLevelsDown) {
  std::vector<Key> keys = jbbbuilder::syntheticPaths(300, 11);
  buildKeys(keys, 5);
  openTree();
  jbbbuilder::CheckResult shape = checkFile();
  ASSERT_GE(shape.height, 3);
  NodeP root = tree_->rootP;

  expectFound(shape.nodes.front().keys.front());  // held in the root
  expectOnlyRootHeld();
  const jbbbuilder::NodeInfo& deepest = shape.nodes.back();
  ASSERT_EQ(deepest.depth, shape.height - 1);
  expectFound(deepest.keys.back());  // a leaf
  expectOnlyRootHeld();
  EXPECT_EQ(tree_->rootP, root);
  EXPECT_EQ(tree_->dbErrno, 0);
}

TEST_F(SearchTest, EveryKeyOfAMixedScriptTreeFindsItsOwnRecord) {
  std::vector<Key> keys = jbbbuilder::syntheticPaths(1500, 3, u"/home", true);
  keys.push_back(K("/Case/File"));
  keys.push_back(K("/case/file"));
  keys.push_back(K("/case/fil"));
  buildKeys(keys, 7, 33);  // odd entry lengths: keys at odd addresses
  openTree();
  for (const auto& [key, data] : model_) expectFound(key);
  expectOnlyRootHeld();
}

TEST_F(SearchTest, AbsentKeyIsNullAndLeavesDbErrnoAsItWas) {
  buildKeys(jbbbuilder::syntheticPaths(200, 5), 6);
  openTree();
  tree_->dbErrno = 5;  // left by an earlier failure
  EXPECT_EQ(find(K("/no/such/file")), nullptr);
  EXPECT_EQ(find(K("")), nullptr);
  EXPECT_EQ(tree_->Search(nullptr), nullptr);
  EXPECT_EQ(tree_->dbErrno, 5);
  expectOnlyRootHeld();
}

TEST_F(SearchTest, EmptyTreeFindsNothing) {
  buildShape("[]");
  openTree();
  EXPECT_EQ(find(K("a")), nullptr);
  EXPECT_EQ(tree_->dbErrno, 0);
}

TEST_F(SearchTest, ResultBufferHoldsTheLastFoundRecord) {
  buildShape("[b] ([a] [c])");
  openTree();
  expectFound(K("a"));
  EXPECT_EQ(find(K("zz")), nullptr);
  // A failed search does not touch the buffer.
  EXPECT_EQ(Bytes(tree_->resultBuffer, tree_->resultBuffer + 32), jbbbuilder::keyData(K("a"), 32));
  expectFound(K("c"));
}

class DamagedSearchTest : public TreeTest {
 protected:
  void buildDamaged(jbbbuilder::Damage damage) {
    std::vector<Key> keys;
    for (int i = 0; i < 40; ++i) keys.push_back(K(keyRange(i + 10, i + 10).c_str()));
    buildKeys(keys, 6, 32, damage);
  }
};

TEST_F(DamagedSearchTest, AChildPointingBackUpFailsTheSearch) {
  buildDamaged(jbbbuilder::Damage::ChildCycle);
  openTree();
  // The smallest key leads to the first child, whose first child is the root.
  EXPECT_EQ(find(K("00")), nullptr);
  EXPECT_EQ(tree_->dbErrno, 22);
  tree_->dbErrno = 0;
  EXPECT_NE(find(K("49")), nullptr);  // the last subtree is sound
}

TEST_F(DamagedSearchTest, AZeroChildEndsTheSearchAsNotFound) {
  buildDamaged(jbbbuilder::Damage::ChildZero);
  openTree();
  EXPECT_EQ(find(K("99")), nullptr);  // routed to the missing last child
  EXPECT_EQ(tree_->dbErrno, 0);
  EXPECT_NE(find(K("10")), nullptr);
}

}  // namespace
}  // namespace keytest
