// Deletion: the tree shapes each rebalancing step leaves in the file, root
// collapse, the last key, absent keys, and what reaches the file.
#include <cctype>
#include <fstream>
#include <iterator>
#include <set>

#include "tree_fixture.h"
#include "platform/kxmem.h"

namespace keytest {
namespace {

using jbbbuilder::K;

std::string R(int from, int to) { return keyRange(from, to); }

struct ShapeCase {
  const char* name;
  std::string before;
  const char* target;
  std::string after;
};

// Leaves hold 5 to 10 entries; the two-digit keys make the moves visible.
std::vector<ShapeCase> shapeCases() {
  return {
      {"leaf keeps five", "[10] ([" + R(1, 6) + "] [" + R(11, 15) + "])", "03",
       "[10] ([01 02 04 05 06] [" + R(11, 15) + "])"},
      {"borrow from the left sibling",
       "[07 14] ([" + R(1, 6) + "] [" + R(8, 12) + "] [" + R(15, 19) + "])", "09",
       "[06 14] ([" + R(1, 5) + "] [07 08 10 11 12] [" + R(15, 19) + "])"},
      {"merge with the left sibling",
       "[06 12 18] ([" + R(1, 5) + "] [" + R(7, 11) + "] [" + R(13, 17) + "] [" + R(19, 23) + "])", "09",
       "[12 18] ([01 02 03 04 05 06 07 08 10 11] [" + R(13, 17) + "] [" + R(19, 23) + "])"},
      {"merge with the left sibling, last child",
       "[06 12] ([" + R(1, 5) + "] [" + R(7, 11) + "] [" + R(13, 17) + "])", "17",
       "[06] ([" + R(1, 5) + "] [" + R(7, 16) + "])"},
      {"leftmost borrows from the right", "[06 13] ([" + R(1, 5) + "] [" + R(7, 12) + "] [" + R(14, 18) + "])",
       "02", "[07 13] ([01 03 04 05 06] [" + R(8, 12) + "] [" + R(14, 18) + "])"},
      {"leftmost merges with the right",
       "[06 12 18] ([" + R(1, 5) + "] [" + R(7, 11) + "] [" + R(13, 17) + "] [" + R(19, 23) + "])", "02",
       "[12 18] ([01 03 04 05 06 07 08 09 10 11] [" + R(13, 17) + "] [" + R(19, 23) + "])"},
      {"successor from an interior node", "[06 12] ([" + R(1, 5) + "] [" + R(7, 11) + "] [" + R(13, 18) + "])",
       "12", "[06 13] ([" + R(1, 5) + "] [" + R(7, 11) + "] [" + R(14, 18) + "])"},
      {"successor, then the merge it causes",
       "[06 12] ([" + R(1, 5) + "] [" + R(7, 11) + "] [" + R(13, 17) + "])", "12",
       "[06] ([" + R(1, 5) + "] [07 08 09 10 11 13 14 15 16 17])"},
      {"merge empties the root", "[06] ([" + R(1, 5) + "] [" + R(7, 11) + "])", "03",
       "[01 02 04 05 06 07 08 09 10 11]"},
      {"successor from the root, then collapse", "[06] ([" + R(1, 5) + "] [" + R(7, 11) + "])", "06",
       "[01 02 03 04 05 07 08 09 10 11]"},
      {"root leaf", "[" + R(1, 3) + "]", "02", "[01 03]"},
      // Three levels: a leaf merge leaves an interior node with 4 entries,
      // which borrows from its left sibling; the sibling's last child
      // travels with the borrowed separator.
      {"interior node borrows from the left",
       "[141 177] ([105 111 117 123 129 135] ([100 101 102 103 104] [106 107 108 109 110] [112 113 114 115 116] "
       "[118 119 120 121 122] [124 125 126 127 128] [130 131 132 133 134] [136 137 138 139 140]) "
       "[147 153 159 165 171] ([142 143 144 145 146] [148 149 150 151 152] [154 155 156 157 158] "
       "[160 161 162 163 164] [166 167 168 169 170] [172 173 174 175 176]) "
       "[183 189 195 201 207] ([178 179 180 181 182] [184 185 186 187 188] [190 191 192 193 194] "
       "[196 197 198 199 200] [202 203 204 205 206] [208 209 210 211 212]))",
       "148",
       "[135 177] ([105 111 117 123 129] ([100 101 102 103 104] [106 107 108 109 110] [112 113 114 115 116] "
       "[118 119 120 121 122] [124 125 126 127 128] [130 131 132 133 134]) "
       "[141 153 159 165 171] ([136 137 138 139 140] [142 143 144 145 146 147 149 150 151 152] "
       "[154 155 156 157 158] [160 161 162 163 164] [166 167 168 169 170] [172 173 174 175 176]) "
       "[183 189 195 201 207] ([178 179 180 181 182] [184 185 186 187 188] [190 191 192 193 194] "
       "[196 197 198 199 200] [202 203 204 205 206] [208 209 210 211 212]))"},
      // Three levels: the leftmost leaf merges, its interior parent is left
      // with 4 entries and borrows from its right sibling; the sibling's
      // first child travels with the borrowed separator.
      {"leftmost interior node borrows from the right",
       "[135] ([105 111 117 123 129] ([" + R(100, 104) + "] [" + R(106, 110) + "] [" + R(112, 116) + "] [" +
           R(118, 122) + "] [" + R(124, 128) + "] [" + R(130, 134) + "]) [141 147 153 159 165 171] ([" +
           R(136, 140) + "] [" + R(142, 146) + "] [" + R(148, 152) + "] [" + R(154, 158) + "] [" + R(160, 164) +
           "] [" + R(166, 170) + "] [" + R(172, 176) + "]))",
       "100",
       "[141] ([111 117 123 129 135] ([" + R(101, 110) + "] [" + R(112, 116) + "] [" + R(118, 122) + "] [" +
           R(124, 128) + "] [" + R(130, 134) + "] [" + R(136, 140) + "]) [147 153 159 165 171] ([" + R(142, 146) +
           "] [" + R(148, 152) + "] [" + R(154, 158) + "] [" + R(160, 164) + "] [" + R(166, 170) + "] [" +
           R(172, 176) + "]))"},
      // Three levels of minimal nodes: the merge climbs to the root, which
      // collapses onto the merged interior node.
      {"merges climb and the root collapses",
       "[135] ([105 111 117 123 129] ([100 101 102 103 104] [106 107 108 109 110] [112 113 114 115 116] "
       "[118 119 120 121 122] [124 125 126 127 128] [130 131 132 133 134]) "
       "[141 147 153 159 165] ([136 137 138 139 140] [142 143 144 145 146] [148 149 150 151 152] "
       "[154 155 156 157 158] [160 161 162 163 164] [166 167 168 169 170]))",
       "100",
       "[111 117 123 129 135 141 147 153 159 165] ([101 102 103 104 105 106 107 108 109 110] "
       "[112 113 114 115 116] [118 119 120 121 122] [124 125 126 127 128] [130 131 132 133 134] "
       "[136 137 138 139 140] [142 143 144 145 146] [148 149 150 151 152] [154 155 156 157 158] "
       "[160 161 162 163 164] [166 167 168 169 170])"},
  };
}

class DeleteShapeTest : public TreeTest, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(DeleteShapeTest, LeavesTheExpectedTree) {
  const ShapeCase& c = GetParam();
  buildShape(c.before);
  openTree();
  ASSERT_EQ(syncedShape(), c.before);
  EXPECT_EQ(del(K(c.target)), 0);
  EXPECT_EQ(tree_->dbErrno, 0);
  EXPECT_EQ(syncedShape(), c.after);
  // Every record travelled with its key.
  for (const auto& e : checkFile().entries) EXPECT_EQ(e.data, jbbbuilder::keyData(e.key, 32));
  EXPECT_EQ(find(K(c.target)), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Shapes, DeleteShapeTest, ::testing::ValuesIn(shapeCases()),
                         [](const ::testing::TestParamInfo<ShapeCase>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p) {
                             if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                           }
                           return name;
                         });

class DeleteTest : public TreeTest {
 protected:
  Bytes fileBytes() {
    std::ifstream in(path_, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // True when the slot of subscript s is a free slot in the file.
  bool isFreeSlot(const jbbbuilder::CheckResult& r, int32_t s) {
    for (const auto& slot : r.slots) {
      if (slot.diskLoc == s) return slot.free();
    }
    return false;
  }
};

TEST_F(DeleteTest, AbsentKeyChangesNothing) {
  buildShape("[06 12] ([" + R(1, 5) + "] [" + R(7, 11) + "] [" + R(13, 17) + "])");
  openTree();
  ASSERT_EQ(tree_->syncToDisk(), 0);
  Bytes before = fileBytes();
  EXPECT_EQ(del(K("00")), 1);
  EXPECT_EQ(del(K("09a")), 1);
  EXPECT_EQ(del(K("99")), 1);
  EXPECT_EQ(tree_->dbErrno, 0);
  ASSERT_EQ(tree_->syncToDisk(), 0);
  EXPECT_EQ(fileBytes(), before);
}

TEST_F(DeleteTest, MergedAwayNodeBecomesAFreeSlot) {
  buildShape("[06 12 18] ([" + R(1, 5) + "] [" + R(7, 11) + "] [" + R(13, 17) + "] [" + R(19, 23) + "])");
  openTree();
  int32_t released = branchOf(tree_->rootP, 1);  // the right one of the merged pair
  ASSERT_NE(released, 0);
  EXPECT_EQ(del(K("09")), 0);
  ASSERT_EQ(tree_->syncToDisk(), 0);
  jbbbuilder::CheckResult r = checkFile();
  ASSERT_TRUE(r.ok()) << r.report();
  EXPECT_TRUE(isFreeSlot(r, released));
  EXPECT_EQ(r.node(released), nullptr);
}

TEST_F(DeleteTest, RootCollapseRecordsTheNewRoot) {
  buildShape("[06] ([" + R(1, 5) + "] [" + R(7, 11) + "])");
  openTree();
  int32_t oldRoot = diskLocOf(tree_->rootP);
  int32_t merged = branchOf(tree_->rootP, 0);
  int32_t mergedAway = branchOf(tree_->rootP, 1);
  EXPECT_EQ(del(K("03")), 0);
  EXPECT_EQ(tree_->cr.rootOffset, merged);
  EXPECT_EQ(diskLocOf(tree_->rootP), merged);
  // Nothing reaches the file before the flush; then the control record
  // names the merged node, and the old root's slot is free.
  jbbbuilder::CheckResult now = checkFile();
  EXPECT_EQ(now.ctrl.rootOffset, oldRoot);
  ASSERT_EQ(tree_->syncToDisk(), 0);
  jbbbuilder::CheckResult r = checkFile();
  ASSERT_TRUE(r.ok()) << r.report();
  EXPECT_EQ(r.height, 1);
  EXPECT_TRUE(isFreeSlot(r, oldRoot));
  EXPECT_TRUE(isFreeSlot(r, mergedAway));
  closeTree();
  openTree();
  EXPECT_EQ(tree_->walkTree(), 0);
  EXPECT_EQ(tree_->keys.size(), 10u);
}

TEST_F(DeleteTest, LastKeyReinitialisesTheDatabase) {
  jbbbuilder::TreeNode root;
  std::string error;
  ASSERT_TRUE(jbbbuilder::parseShape("[only]", 32, &root, &error)) << error;
  jbbbuilder::DbSpec spec;
  spec.info.server = "SERVER";
  spec.info.node = "NODE1";
  buildTree(root, spec);
  Bytes built = fileBytes();
  Bytes info(built.begin() + 36, built.begin() + 36 + 2048);
  openTree();

  EXPECT_EQ(del(K("only")), 0);
  EXPECT_EQ(tree_->dbErrno, 0);
  ASSERT_TRUE(isRealNode(tree_->rootP));
  EXPECT_EQ(countOf(tree_->rootP), 0);
  // The file keeps the last entry until the flush re-initialises it.
  EXPECT_EQ(fileBytes(), built);
  EXPECT_EQ(tree_->walkTree(), 0);
  EXPECT_TRUE(tree_->keys.empty());
  EXPECT_EQ(find(K("only")), nullptr);
  EXPECT_EQ(del(K("only")), 1);
  ASSERT_EQ(tree_->syncToDisk(), 0);
  Bytes after = fileBytes();
  EXPECT_EQ(after.size(), 2160u);
  EXPECT_EQ(Bytes(after.begin() + 36, after.begin() + 36 + 2048), info);
  jbbbuilder::CheckResult r = checkFile();
  EXPECT_TRUE(r.ok()) << r.report();
  EXPECT_TRUE(r.entries.empty());
}

TEST_F(DeleteTest, EveryKeyCanBeDeletedDownToAnEmptyTree) {
  buildShape("[06] ([" + R(1, 5) + "] [" + R(7, 11) + "])");
  openTree();
  for (int i = 11; i >= 1; --i) {
    ASSERT_EQ(del(K(keyRange(i, i).c_str())), 0) << i;
    jbbbuilder::CheckResult r;
    ASSERT_EQ(tree_->syncToDisk(), 0);
    r = checkFile();
    ASSERT_TRUE(r.ok()) << "after deleting " << i << ":\n" << r.report();
    EXPECT_EQ(r.entries.size(), size_t(i - 1));
  }
}

// Deleting a key held in an interior node moves the successor's record
// with it.
TEST_F(DeleteTest, SuccessorKeepsItsRecord) {
  buildKeys(jbbbuilder::syntheticPaths(400, 9), 6);
  openTree();
  jbbbuilder::CheckResult r = checkFile();
  Key interior = r.nodes.front().keys.front();
  auto next = model_.upper_bound(interior);
  ASSERT_NE(next, model_.end());
  EXPECT_EQ(del(interior), 0);
  uint8_t* data = find(next->first);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(Bytes(data, data + 32), next->second);
  model_.erase(interior);
  ASSERT_EQ(tree_->syncToDisk(), 0);
  r = checkFile();
  ASSERT_TRUE(r.ok()) << r.report();
  ASSERT_EQ(r.entries.size(), model_.size());
}

TEST_F(DeleteTest, NullTargetFails) {
  buildShape("[a]");
  openTree();
  EXPECT_EQ(tree_->Delete(nullptr), -1);
  EXPECT_NE(tree_->dbErrno, 0);
}

TEST_F(DeleteTest, CycleInTheFileFailsTheDeletionCleanly) {
  std::vector<Key> keys;
  for (int i = 10; i < 50; ++i) keys.push_back(K(keyRange(i, i).c_str()));
  buildKeys(keys, 6, 32, jbbbuilder::Damage::ChildCycle);
  openTree();
  EXPECT_EQ(del(K("10")), -1);
  EXPECT_EQ(tree_->dbErrno, 22);
  EXPECT_EQ(del(K("00")), -1);
  EXPECT_EQ(tree_->dbErrno, 22);
}

TEST_F(DeleteTest, ZeroChildUnderAnInteriorNodeIsNoCrash) {
  std::vector<Key> keys;
  for (int i = 10; i < 50; ++i) keys.push_back(K(keyRange(i, i).c_str()));
  buildKeys(keys, 5, 32, jbbbuilder::Damage::ChildZero);
  openTree();
  // A key in the last leaf of the root cannot be reached: not found.
  EXPECT_EQ(del(K("49")), 1);
  // A deletion whose rebalancing needs the missing child fails with a
  // cause, not a wrong "not found".
  Key lastRootKey = checkFile().nodes.front().keys.back();
  int rc = del(lastRootKey);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(tree_->dbErrno, 22);
}

// A failed enlargement inside a move loses nothing: either the deletion
// completes, or Delete says it failed with dbErrno 12 and every other key is
// still in the file with its record.
TEST_F(DeleteTest, MemoryFailureInsideTheMovesLosesNoEntry) {
  const std::string shape =
      "[06 12 18] ([" + R(1, 5) + "] [" + R(7, 11) + "] [" + R(13, 17) + "] [" + R(19, 23) + "])";
  int failures = 0;
  for (const char* target : {"09", "02", "12", "06"}) {
    for (int after = 0; after < 12; ++after) {
      closeTree();
      buildShape(shape);
      openTree();
      kxTestSetFailure(after, 1);
      int rc = del(K(target));
      int err = tree_->dbErrno;
      kxTestSetFailure(0, 0);
      failures += rc != 0;
      ASSERT_TRUE(rc == 0 || (rc == -1 && err == 12)) << target << " after " << after << ": rc " << rc << " dbErrno "
                                                      << err;
      // A failed deletion writes nothing and leaves the tree to be read
      // again; a completed one is written by the sync.
      if (rc == 0) {
        ASSERT_EQ(tree_->syncToDisk(), 0);
      } else {
        EXPECT_TRUE(tree_->isStale());
      }
      jbbbuilder::CheckResult r = checkFile();
      std::set<Key> present;
      for (const auto& e : r.entries) {
        present.insert(e.key);
        EXPECT_EQ(e.data, jbbbuilder::keyData(e.key, 32));
      }
      for (int i = 1; i <= 23; ++i) {
        Key k = K(keyRange(i, i).c_str());
        if (k == K(target)) {
          if (rc == 0) {
            EXPECT_EQ(present.count(k), 0u);
          }
        } else {
          EXPECT_EQ(present.count(k), 1u) << "lost " << keyRange(i, i) << " deleting " << target << " after "
                                          << after;
        }
      }
      if (rc == 0) {
        EXPECT_TRUE(r.ok()) << r.report();
      }
    }
  }
  EXPECT_GT(failures, 8);  // the injected failures did strike inside deletions
}

}  // namespace
}  // namespace keytest
