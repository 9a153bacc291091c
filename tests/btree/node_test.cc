// Keys in one node: SearchNode positions and key order, InsertDatum and
// RemoveDatum on nodes read from a built file.
#include <cstring>

#include "tree_fixture.h"
#include "platform/kxmem.h"

namespace keytest {
namespace {

using jbbbuilder::K;

// An entry laid out as the file holds it: the data record right after the
// key's terminator.
Bytes makeEntry(const Key& key, const Bytes& data) {
  size_t keyBytes = 2 * (key.size() + 1);
  size_t length = 4 + keyBytes + data.size();
  Bytes e(length, 0);
  jbbformat::putU16(e.data(), uint16_t(length));
  jbbformat::putU16(e.data() + 2, uint16_t(2 + keyBytes));
  for (size_t i = 0; i < key.size(); ++i) jbbformat::putU16(e.data() + 4 + 2 * i, uint16_t(key[i]));
  std::memcpy(e.data() + 4 + keyBytes, data.data(), data.size());
  return e;
}

class NodeTest : public TreeTest {
 protected:
  // Position reported by SearchNode, as {hit, k}.
  std::pair<int, int> searchRoot(const Key& key) {
    int k = -1;
    int hit = tree_->SearchNode(key.c_str(), tree_->rootP, &k);
    return {hit, k};
  }
  void insertRoot(int k, const Key& key) {
    Bytes e = makeEntry(key, jbbbuilder::keyData(key, dataSize_));
    ASSERT_EQ(tree_->InsertDatum(&tree_->rootP, k, e.data()), 0);
  }
  // nodeSize must be the header plus the entries, and the index entry must
  // agree with the node.
  void expectSizesInStep() {
    NodeP p = tree_->rootP;
    uint32_t sum = 72;
    uint8_t* e = nodeImage(p) + 72;
    for (int i = 0; i < countOf(p); ++i) {
      sum += jbbformat::getU16(e);
      e += jbbformat::getU16(e);
    }
    EXPECT_EQ(nodeSizeOf(p), sum);
    EXPECT_EQ(tree_->indexArray[diskLocOf(p)].nodeSize, nodeSizeOf(p));
  }
  std::vector<Key> fileKeys() {
    EXPECT_EQ(tree_->writePage(&tree_->rootP), 0);
    EXPECT_EQ(tree_->syncToDisk(), 0);
    jbbbuilder::CheckResult r = checkFile();
    EXPECT_TRUE(r.ok()) << r.report();
    std::vector<Key> keys;
    for (const auto& e : r.entries) {
      keys.push_back(e.key);
      EXPECT_EQ(e.data, jbbbuilder::keyData(e.key, dataSize_)) << jbbbuilder::keyToUtf8(e.key);
    }
    return keys;
  }
};

TEST_F(NodeTest, SearchNodeReportsHitPositionOrMissBranch) {
  buildShape("[b d f]");
  openTree();
  EXPECT_EQ(searchRoot(K("a")), std::make_pair(0, 0));
  EXPECT_EQ(searchRoot(K("b")), std::make_pair(1, 0));
  EXPECT_EQ(searchRoot(K("c")), std::make_pair(0, 1));
  EXPECT_EQ(searchRoot(K("d")), std::make_pair(1, 1));
  EXPECT_EQ(searchRoot(K("e")), std::make_pair(0, 2));
  EXPECT_EQ(searchRoot(K("f")), std::make_pair(1, 2));
  EXPECT_EQ(searchRoot(K("g")), std::make_pair(0, 3));
}

TEST_F(NodeTest, SearchNodeOnAnEmptyNodeGivesBranchZero) {
  buildShape("[]");
  openTree();
  EXPECT_EQ(searchRoot(K("anything")), std::make_pair(0, 0));
}

// A data size of 7 makes every entry odd in length, so keys sit at odd
// addresses; the sanitizer build would report any unaligned key read.
TEST_F(NodeTest, KeysOrderByUnsignedUnitsWithoutCaseFolding) {
  // U+8000 and the surrogate pair of U+1F600 (D83D DE00) sort after ASCII;
  // by 16-bit units the pair sorts before U+FF5A although its code point is
  // higher.
  buildShape("[Abc abc abcd z \xE8\x80\x80 \xF0\x9F\x98\x80 \xEF\xBD\x9A]", 7);
  openTree();
  const char* keys[] = {"Abc", "abc", "abcd", "z", "\xE8\x80\x80", "\xF0\x9F\x98\x80", "\xEF\xBD\x9A"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(searchRoot(K(keys[i])), std::make_pair(1, i)) << keys[i];
  EXPECT_EQ(searchRoot(K("ABC")), std::make_pair(0, 0));  // 'B' < 'b'
  EXPECT_EQ(searchRoot(K("ab")), std::make_pair(0, 1));   // a prefix sorts first
  EXPECT_EQ(searchRoot(K("abcde")), std::make_pair(0, 3));
  EXPECT_EQ(searchRoot(K("~")), std::make_pair(0, 4));  // last ASCII below U+8000
  EXPECT_EQ(searchRoot(Key(1, char16_t(0xD83D))), std::make_pair(0, 5));
  EXPECT_EQ(searchRoot(Key(1, char16_t(0xFFFF))), std::make_pair(0, 7));
}

TEST_F(NodeTest, InsertDatumPlacesEntriesAndGrowsAReadNode) {
  buildShape("[b d f]", 7);
  openTree();
  uint64_t allocBefore = allocSizeOf(tree_->rootP);
  EXPECT_EQ(allocBefore, nodeSizeOf(tree_->rootP));  // a node read from disk has no spare room

  insertRoot(3, K("g"));  // appends
  EXPECT_EQ(allocSizeOf(tree_->rootP), allocBefore + 25340);
  EXPECT_EQ(tree_->indexArray[diskLocOf(tree_->rootP)].node, tree_->rootP);
  insertRoot(0, K("a"));  // moves every entry up
  insertRoot(3, K("e"));  // between d and f
  EXPECT_EQ(countOf(tree_->rootP), 6);
  expectSizesInStep();
  EXPECT_EQ(searchRoot(K("e")), std::make_pair(1, 3));
  EXPECT_EQ(fileKeys(), (std::vector<Key>{K("a"), K("b"), K("d"), K("e"), K("f"), K("g")}));
}

TEST_F(NodeTest, InsertDatumIntoAnExactlyFullNodeGrowsOnce) {
  buildShape("[b]");
  openTree();
  // One long entry fills the first growth unit to the byte:
  // nodeSize == allocSize.
  insertRoot(1, K("c"));
  uint64_t alloc = allocSizeOf(tree_->rootP);
  size_t rest = alloc - nodeSizeOf(tree_->rootP);
  ASSERT_EQ((rest - 4 - 32) % 2, 0u);
  Bytes e = makeEntry(Key((rest - 4 - 32) / 2 - 1, u'y'), Bytes(32));
  ASSERT_EQ(e.size(), rest);
  ASSERT_EQ(tree_->InsertDatum(&tree_->rootP, 2, e.data()), 0);
  ASSERT_EQ(allocSizeOf(tree_->rootP), alloc);
  ASSERT_EQ(nodeSizeOf(tree_->rootP), alloc);

  insertRoot(0, K("a"));
  EXPECT_EQ(allocSizeOf(tree_->rootP), alloc + 25340);
  expectSizesInStep();
  EXPECT_EQ(searchRoot(K("a")), std::make_pair(1, 0));
  EXPECT_EQ(searchRoot(K("b")), std::make_pair(1, 1));
}

TEST_F(NodeTest, InsertDatumWithoutMemoryFailsAndLeavesTheNode) {
  buildShape("[b d]");
  openTree();
  NodeP before = tree_->rootP;
  uint32_t size = nodeSizeOf(before);
  Bytes e = makeEntry(K("c"), Bytes(32, 1));
  kxTestSetFailure(0, 1);
  int rc = tree_->InsertDatum(&tree_->rootP, 1, e.data());
  kxTestSetFailure(0, 0);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(tree_->dbErrno, 12);
  EXPECT_EQ(tree_->rootP, before);
  EXPECT_EQ(countOf(tree_->rootP), 2);
  EXPECT_EQ(nodeSizeOf(tree_->rootP), size);
  EXPECT_EQ(fileKeys(), (std::vector<Key>{K("b"), K("d")}));
}

TEST_F(NodeTest, InsertDatumRefusesAnEntryLongerThan32767Bytes) {
  buildShape("[b]");
  openTree();
  Bytes e(40000, 0);
  jbbformat::putU16(e.data(), 40000);  // reads as negative
  jbbformat::putU16(e.data() + 2, 4);
  EXPECT_EQ(tree_->InsertDatum(&tree_->rootP, 0, e.data()), -1);
  EXPECT_EQ(countOf(tree_->rootP), 1);
  expectSizesInStep();
}

TEST_F(NodeTest, RemoveDatumClosesTheGap) {
  buildShape("[a b c d]", 7);
  openTree();
  tree_->RemoveDatum(&tree_->rootP, 1);  // the middle: later entries move down
  EXPECT_EQ(searchRoot(K("c")), std::make_pair(1, 1));
  tree_->RemoveDatum(&tree_->rootP, 2);  // the last: nothing moves
  EXPECT_EQ(countOf(tree_->rootP), 2);
  expectSizesInStep();
  EXPECT_EQ(fileKeys(), (std::vector<Key>{K("a"), K("c")}));
}

TEST_F(NodeTest, RemovingTheOnlyEntryLeavesAnEmptyImage) {
  buildShape("[only]");
  openTree();
  tree_->RemoveDatum(&tree_->rootP, 0);
  EXPECT_EQ(countOf(tree_->rootP), 0);
  EXPECT_EQ(nodeSizeOf(tree_->rootP), 72u);
  EXPECT_EQ(tree_->indexArray[diskLocOf(tree_->rootP)].nodeSize, 72u);
}

}  // namespace
}  // namespace keytest
