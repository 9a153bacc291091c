// The flush's model of the tree on file (btree/bt_order.h).  Its answers
// must be exactly those of a walk of the whole model from the roots, since
// the order of the commits they choose decides the free-slot list and so
// where later nodes go: seeded flushes, tree-shaped ones as deletions make
// them and arbitrary (damaged) ones with shared and cyclic references, are
// replayed against such a walk, question by question.
//
// The seed is printed; rerun with --gtest_random_seed=N to replay one.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "btree/bt_order.h"

namespace {

using jbbstorage::KeySet;
using jbbstorage::NodeView;
using jbbstorage::TreeOnFile;

uint64_t baseSeed() {
  int seed = ::testing::GTEST_FLAG(random_seed);
  return seed != 0 ? uint64_t(seed) : 20261208u;
}

// What the answers mean, computed plainly: every question walks the model
// from the root and the nodes hanging from untouched parents, collecting
// the keys and tokens reached, and compares them with what must stay.
class WalkedTree {
 public:
  void addNode(int32_t s, NodeView onFile, bool changed, NodeView next) {
    Node& n = nodes_[s];
    n.file = std::move(onFile);
    n.next = std::move(next);
    n.changed = changed;
  }
  void setRoots(int32_t fileRoot, int32_t newRoot) {
    root_ = fileRoot;
    newRoot_ = newRoot;
  }
  void start() {
    std::set<int32_t> referred;
    for (const auto& [s, n] : nodes_) referred.insert(n.file.refs.begin(), n.file.refs.end());
    for (const auto& [s, n] : nodes_)
      if (referred.count(s) == 0 && s != root_) tops_.push_back(s);
    Reach before = reach(0, root_), after = reach(0, newRoot_, true);
    std::set_intersection(before.keys.begin(), before.keys.end(), after.keys.begin(), after.keys.end(),
                          std::inserter(required_.keys, required_.keys.end()));
    std::set_intersection(before.tokens.begin(), before.tokens.end(), after.tokens.begin(), after.tokens.end(),
                          std::inserter(required_.tokens, required_.tokens.end()));
  }
  bool safeToWrite(int32_t s) const { return covers(reach(s, root_)); }
  void written(int32_t s) { nodes_[s].written = true; }
  bool safeToRenameRoot() const { return covers(reach(0, newRoot_)); }
  void rootRenamed() { root_ = newRoot_; }

 private:
  struct Node {
    NodeView file, next;
    bool changed = false, written = false;
  };
  struct Reach {
    KeySet keys;
    std::set<int32_t> tokens;
  };
  Reach reach(int32_t swapped, int32_t root, bool allNew = false) const {
    Reach r;
    std::vector<int32_t> stack(tops_);
    stack.push_back(root);
    std::set<int32_t> seen;
    while (!stack.empty()) {
      int32_t s = stack.back();
      stack.pop_back();
      if (s == 0 || !seen.insert(s).second) continue;
      auto it = nodes_.find(s);
      if (it == nodes_.end()) {
        r.tokens.insert(s);
        continue;
      }
      const Node& n = it->second;
      bool inNewForm = allNew || n.written || s == swapped;
      if (inNewForm && !n.changed) continue;
      const NodeView& v = inNewForm ? n.next : n.file;
      r.keys.insert(v.keys.begin(), v.keys.end());
      stack.insert(stack.end(), v.refs.begin(), v.refs.end());
    }
    return r;
  }
  bool covers(const Reach& r) const {
    return std::includes(r.keys.begin(), r.keys.end(), required_.keys.begin(), required_.keys.end()) &&
           std::includes(r.tokens.begin(), r.tokens.end(), required_.tokens.begin(), required_.tokens.end());
  }

  std::map<int32_t, Node> nodes_;
  std::vector<int32_t> tops_;
  int32_t root_ = 0, newRoot_ = 0;
  Reach required_;
};

// One flush as the model is told it.
struct Flush {
  struct Node {
    int32_t s;
    NodeView file;
    bool changed;
    NodeView next;
  };
  std::vector<Node> nodes;
  int32_t fileRoot = 0, newRoot = 0;
};

template <class Model>
void load(Model& m, const Flush& f) {
  for (const Flush::Node& n : f.nodes) m.addNode(n.s, n.file, n.changed, n.next);
  m.setRoots(f.fileRoot, f.newRoot);
  m.start();
}

struct Tally {
  size_t yes = 0, no = 0;
};

// Replays a flush on both models: the commits as the flush picks them (the
// first safe one in order, else the first left) or, with `shuffled`, in a
// random order; the root named; the released slots freed where safe.
// Along the way every subscript of the flush, and some it does not hold,
// are asked about.  Returns false at the first answer that differs.
bool replay(const Flush& f, std::mt19937_64& rng, bool shuffled, Tally& tally) {
  TreeOnFile model;
  WalkedTree walked;
  load(model, f);
  load(walked, f);
  std::vector<int32_t> changed, released, asked;
  for (const Flush::Node& n : f.nodes) (n.changed ? changed : released).push_back(n.s);
  for (const Flush::Node& n : f.nodes) asked.push_back(n.s);
  asked.push_back(0);
  asked.push_back(int32_t(rng() % 400) + 1);
  auto same = [&](int32_t s) {
    bool a = model.safeToWrite(s), b = walked.safeToWrite(s);
    (b ? tally.yes : tally.no)++;
    if (a != b) ADD_FAILURE() << "safeToWrite(" << s << ") answers " << a << ", the walk " << b;
    return a == b ? std::optional<bool>(b) : std::nullopt;
  };
  auto askAll = [&] {
    for (int32_t s : asked)
      if (!same(s)) return false;
    return true;
  };
  std::vector<bool> done(changed.size());
  for (size_t left = changed.size(); left > 0; --left) {
    if (!askAll()) return false;
    size_t next = changed.size();
    if (shuffled) {
      size_t k = rng() % left;
      for (next = 0; done[next] || k-- > 0; ++next) {
      }
    } else {
      for (size_t i = 0; i < changed.size() && next == changed.size(); ++i) {
        if (done[i]) continue;
        std::optional<bool> safe = same(changed[i]);
        if (!safe) return false;
        if (*safe) next = i;
      }
      for (size_t i = 0; i < changed.size() && next == changed.size(); ++i)
        if (!done[i]) next = i;
    }
    done[next] = true;
    model.written(changed[next]);
    walked.written(changed[next]);
  }
  bool a = model.safeToRenameRoot(), b = walked.safeToRenameRoot();
  if (a != b) {
    ADD_FAILURE() << "safeToRenameRoot answers " << a << ", the walk " << b;
    return false;
  }
  model.rootRenamed();
  walked.rootRenamed();
  for (int32_t s : released) {
    if (!askAll()) return false;
    std::optional<bool> safe = same(s);
    if (!safe) return false;
    if (*safe || rng() % 4 == 0) {
      model.written(s);
      walked.written(s);
    }
  }
  return askAll();
}

// A tree as a deletion's flush finds it, and what the flush makes of it:
// keys deleted, borrowed between siblings, replaced by a leaf's, siblings
// merged (one released), a root collapsed or split.  The flush models the
// nodes it changes or releases, and now and then one more; every other
// node is a token.  A few file images are unreadable, and a few roots odd.
Flush treeFlush(std::mt19937_64& rng) {
  struct T {
    std::vector<std::u16string> keys;
    std::vector<int> kids;
  };
  std::vector<T> file;
  std::vector<int32_t> sub;
  std::set<int32_t> used;
  auto newSub = [&] {
    int32_t s;
    do s = int32_t(rng() % 300) + 1;
    while (!used.insert(s).second);
    sub.push_back(s);
  };
  int keyNo = 0;
  auto grow = [&](auto& self, int depth) -> int {
    int i = int(file.size());
    file.emplace_back();
    newSub();
    int fan = depth == 0 || rng() % 5 == 0 ? 0 : 2 + int(rng() % 3);
    for (int k = 0, n = 1 + int(rng() % 4); k < n; ++k)
      file[size_t(i)].keys.push_back(u"k" + std::u16string(1, char16_t(u'A' + keyNo++ % 900)));
    for (int c = 0; c < fan; ++c) {
      int kid = self(self, depth - 1);
      file[size_t(i)].kids.push_back(kid);
    }
    return i;
  };
  int root = grow(grow, 1 + int(rng() % 3));
  std::vector<T> next = file;
  std::vector<bool> released(file.size()), touched(file.size());
  int newRoot = root;
  auto parentOf = [&](int c) {
    for (size_t p = 0; p < next.size(); ++p)
      if (!released[p] && std::count(next[p].kids.begin(), next[p].kids.end(), c) > 0) return int(p);
    return -1;
  };
  for (int op = 0, ops = 1 + int(rng() % 6); op < ops; ++op) {
    int a = int(rng() % next.size());
    if (released[size_t(a)]) continue;
    int p = parentOf(a);
    switch (rng() % 6) {
      case 0:  // a key deleted
        if (std::vector<std::u16string>& keys = next[size_t(a)].keys; !keys.empty())
          keys.erase(keys.begin() + long(rng() % keys.size()));
        touched[size_t(a)] = true;
        break;
      case 1:    // a key borrowed from a sibling, with a child
      case 2: {  // siblings merged: the right one is released
        if (p < 0) break;
        std::vector<int>& kids = next[size_t(p)].kids;
        size_t at = size_t(std::find(kids.begin(), kids.end(), a) - kids.begin());
        if (at + 1 >= kids.size()) break;
        int b = kids[at + 1];
        T& x = next[size_t(a)];
        T& y = next[size_t(b)];
        if (rng() % 2 == 0) {
          if (!y.keys.empty()) x.keys.push_back(y.keys.front()), y.keys.erase(y.keys.begin());
          if (!y.kids.empty()) x.kids.push_back(y.kids.front()), y.kids.erase(y.kids.begin());
        } else {
          x.keys.insert(x.keys.end(), y.keys.begin(), y.keys.end());
          x.kids.insert(x.kids.end(), y.kids.begin(), y.kids.end());
          y = T();
          kids.erase(kids.begin() + long(at) + 1);
          released[size_t(b)] = true;
        }
        touched[size_t(a)] = touched[size_t(b)] = touched[size_t(p)] = true;
        break;
      }
      case 3: {  // an inner key replaced by a leaf's
        int leaf = a;
        while (!next[size_t(leaf)].kids.empty()) leaf = next[size_t(leaf)].kids.back();
        if (leaf == a || next[size_t(leaf)].keys.empty() || next[size_t(a)].keys.empty()) break;
        next[size_t(a)].keys.back() = next[size_t(leaf)].keys.back();
        next[size_t(leaf)].keys.pop_back();
        touched[size_t(a)] = touched[size_t(leaf)] = true;
        break;
      }
      case 4:  // the root collapses into its only child
        if (next[size_t(newRoot)].kids.size() == 1) {
          int kid = next[size_t(newRoot)].kids[0];
          next[size_t(kid)].keys.insert(next[size_t(kid)].keys.end(), next[size_t(newRoot)].keys.begin(),
                                        next[size_t(newRoot)].keys.end());
          released[size_t(newRoot)] = touched[size_t(newRoot)] = touched[size_t(kid)] = true;
          next[size_t(newRoot)] = T();
          newRoot = kid;
        }
        break;
      case 5: {  // the root splits under a new root never written
        T& r = next[size_t(newRoot)];
        T half;
        half.kids.assign(r.kids.begin() + long(r.kids.size() / 2), r.kids.end());
        r.kids.resize(r.kids.size() / 2);
        if (!r.keys.empty()) half.keys.push_back(r.keys.back()), r.keys.pop_back();
        T top;
        top.kids = {newRoot, int(next.size())};
        file.emplace_back(), next.push_back(half), released.push_back(false), touched.push_back(true), newSub();
        file.emplace_back(), next.push_back(top), released.push_back(false), touched.push_back(true), newSub();
        touched[size_t(newRoot)] = true;
        newRoot = int(next.size()) - 1;
        break;
      }
    }
  }
  auto view = [&](const T& t) {
    NodeView v;
    v.keys.insert(t.keys.begin(), t.keys.end());
    for (int k : t.kids) v.refs.push_back(sub[size_t(k)]);
    return v;
  };
  Flush f;
  for (size_t i = 0; i < file.size(); ++i) {
    if (!touched[i] && rng() % 4 != 0) continue;
    NodeView onFile = rng() % 25 == 0 ? NodeView() : view(file[i]);
    f.nodes.push_back({sub[i], onFile, !released[i], released[i] ? NodeView() : view(next[i])});
  }
  std::shuffle(f.nodes.begin(), f.nodes.end(), rng);
  f.fileRoot = rng() % 30 == 0 ? 0 : sub[size_t(root)];
  f.newRoot = rng() % 30 == 0 ? sub[rng() % sub.size()] : sub[size_t(newRoot)];
  return f;
}

// Any references at all among a few nodes and tokens: shared children,
// cycles, a node referring to itself or to one child twice, roots that are
// tokens, nothing, or a node hanging elsewhere.
Flush graphFlush(std::mt19937_64& rng) {
  const char16_t* names[] = {u"a", u"b", u"c", u"d", u"e", u"f", u""};
  auto view = [&] {
    NodeView v;
    for (int k = 0, n = int(rng() % 4); k < n; ++k) v.keys.insert(names[rng() % 7]);
    for (int k = 0, n = int(rng() % 4); k < n; ++k) v.refs.push_back(rng() % 12 == 0 ? -3 : int32_t(rng() % 16) + 1);
    return v;
  };
  Flush f;
  for (int k = 0, n = 1 + int(rng() % 10); k < n; ++k) {
    bool changed = rng() % 4 != 0;
    f.nodes.push_back({int32_t(rng() % 12) + 1, view(), changed, changed ? view() : NodeView()});
  }
  auto aRoot = [&] { return rng() % 8 == 0 ? 0 : int32_t(rng() % 16) + 1; };
  f.fileRoot = aRoot();
  f.newRoot = rng() % 2 == 0 ? f.fileRoot : aRoot();
  return f;
}

TEST(FlushOrderTest, AnswersAsAWalkOfTreeShapedFlushes) {
  uint64_t seed = baseSeed();
  std::printf("seed %llu\n", static_cast<unsigned long long>(seed));
  std::mt19937_64 rng(seed);
  Tally tally;
  for (int i = 0; i < 3000; ++i) {
    Flush f = treeFlush(rng);
    ASSERT_TRUE(replay(f, rng, i % 3 == 2, tally)) << "flush " << i;
  }
  // Both answers are common, or the comparison would prove little.
  EXPECT_GT(tally.no, tally.yes / 50);
  EXPECT_GT(tally.yes, tally.no);
}

TEST(FlushOrderTest, AnswersAsAWalkOfAnyReferences) {
  uint64_t seed = baseSeed() + 1;
  std::mt19937_64 rng(seed);
  Tally tally;
  for (int i = 0; i < 20000; ++i) {
    Flush f = graphFlush(rng);
    ASSERT_TRUE(replay(f, rng, i % 2 == 1, tally)) << "flush " << i;
  }
  EXPECT_GT(tally.no, tally.yes / 10);
  EXPECT_GT(tally.yes, tally.no / 10);
}

NodeView node(KeySet keys, std::vector<int32_t> refs = {}) { return {std::move(keys), std::move(refs)}; }

// Leaves under an untouched parent: a borrowed key is written where it
// goes before it leaves where it was.
TEST(FlushOrderTest, ReceiverBeforeGiver) {
  TreeOnFile t;
  t.addNode(5, node({u"a", u"b", u"c"}), true, node({u"a", u"b"}));
  t.addNode(6, node({u"x"}), true, node({u"c", u"x"}));
  t.setRoots(1, 1);
  t.start();
  EXPECT_FALSE(t.safeToWrite(5));
  EXPECT_TRUE(t.safeToWrite(6));
  t.written(6);
  EXPECT_TRUE(t.safeToWrite(5));
}

// A merge: the parent drops the right leaf only once the left one holds
// its keys, and the right leaf's slot is free only after that.  A deleted
// key may go at any point.
TEST(FlushOrderTest, MergeWritesSurvivorThenParentThenFreesSlot) {
  TreeOnFile t;
  t.addNode(2, node({u"m", u"q"}, {3, 4, 9}), true, node({u"q"}, {3, 9}));
  t.addNode(3, node({u"a"}), true, node({u"a", u"m", u"n"}));
  t.addNode(4, node({u"n", u"gone"}), false, {});
  t.setRoots(2, 2);
  t.start();
  EXPECT_FALSE(t.safeToWrite(2));
  EXPECT_FALSE(t.safeToWrite(4));
  EXPECT_TRUE(t.safeToWrite(3));
  t.written(3);
  EXPECT_TRUE(t.safeToWrite(2));
  EXPECT_TRUE(t.safeToWrite(4));  // leaf 3 holds n, and "gone" is deleted
  t.written(2);
  EXPECT_TRUE(t.safeToRenameRoot());
  t.rootRenamed();
  EXPECT_TRUE(t.safeToWrite(4));
}

// A root split: the new root is named only once it is on file, and the old
// root gives up keys only to nodes on file; an untouched subtree (token 9)
// must stay reached throughout.
TEST(FlushOrderTest, NewRootNamedWhenItReachesEverything) {
  TreeOnFile t;
  t.addNode(1, node({u"a", u"b", u"c"}, {9}), true, node({u"a"}, {9}));
  t.addNode(7, {}, true, node({u"c"}));
  t.addNode(8, {}, true, node({u"b"}, {1, 7}));
  t.setRoots(1, 8);
  t.start();
  EXPECT_FALSE(t.safeToRenameRoot());  // 8 is not on file yet
  EXPECT_FALSE(t.safeToWrite(1));      // b and c would go
  t.written(7);
  t.written(8);
  EXPECT_TRUE(t.safeToRenameRoot());
  t.rootRenamed();
  EXPECT_TRUE(t.safeToWrite(1));
}

}  // namespace
