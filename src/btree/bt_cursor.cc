// The cursor (cursor.h): a path from the root, stepped in key order.
//
// Invariant between calls: path_ runs from the root down; at every level
// but the deepest, `index` is the entry that comes once the subtree under
// branch[index] is done; at the deepest level, `index` is the current
// entry, below the node's count.  Every node of the path but the root is
// held through fetchPage, and handed back when the path leaves it.
#include "btree/cursor.h"

#include "btree/bt_keys.h"
#include "btree/format.h"

namespace {
constexpr char kSourceName[] = "jbbtreev";

bool isLeaf(NodeP p) { return branchOf(p, 0) == 0; }
}  // namespace

using jbbkeys::entryAt;

void bTreeCursor::release(NodeP node) {
  if (node != tree_.rootP) tree_.dbFree(node, kSourceName, __LINE__);
}

void bTreeCursor::close() {
  for (const Level& l : path_) release(l.node);
  path_.clear();
  tree_.ExitCleanup();
}

bool bTreeCursor::seek(const wchar16* key) {
  close();
  tree_.dbErrno = 0;
  if (tree_.reloadIfStale() != 0 || !isRealNode(tree_.rootP)) {
    if (tree_.dbErrno == 0) tree_.dbErrno = 22;
    return false;
  }
  NodeP node = tree_.rootP;
  for (int depth = 0;; ++depth) {
    int k = 0;
    bool found = key != nullptr && key[0] != 0 && tree_.SearchNode(key, node, &k) != 0;
    path_.push_back(Level{node, k});
    if (found || isLeaf(node)) break;
    NodeP child = jbbkeys::fetchChild(tree_, branchOf(node, k), depth + 1);
    if (child == nullptr || child == nodeFailed()) {
      if (child == nullptr) tree_.dbErrno = 22;  // an interior node without a child
      close();
      return false;
    }
    node = child;
  }
  // In a leaf every key from `index` on follows the one sought.
  if (path_.back().index < countOf(path_.back().node)) return true;
  return climb();
}

// The deepest node is done: up to the first level with an entry left.
bool bTreeCursor::climb() {
  while (!path_.empty()) {
    Level& l = path_.back();
    if (l.index < countOf(l.node)) return true;
    release(l.node);
    path_.pop_back();
  }
  tree_.ExitCleanup();
  return false;
}

// Down from the current entry's right subtree to its leftmost leaf.
bool bTreeCursor::descend(int32_t subscript) {
  for (;;) {
    NodeP child = jbbkeys::fetchChild(tree_, subscript, int(path_.size()));
    if (child == nullptr || child == nodeFailed()) {
      if (child == nullptr) tree_.dbErrno = 22;
      close();
      return false;
    }
    path_.push_back(Level{child, 0});
    if (isLeaf(child)) return countOf(child) > 0 || climb();
    subscript = branchOf(child, 0);
  }
}

bool bTreeCursor::next() {
  if (path_.empty()) return false;
  tree_.dbErrno = 0;
  Level& l = path_.back();
  if (!isLeaf(l.node)) {
    // The entry after an interior one is the first of the subtree to its
    // right; this level then waits at the entry after that subtree.
    ++l.index;
    return descend(branchOf(l.node, l.index));
  }
  ++l.index;
  return climb();
}

const uint8_t* bTreeCursor::entry() const { return entryAt(path_.back().node, path_.back().index); }

const uint8_t* bTreeCursor::keyBytes() const { return entry() + jbbformat::kEntryKey; }

size_t bTreeCursor::keyUnits() const {
  const uint8_t* e = entry();
  size_t room = (size_t(jbbkeys::entryLength(e)) - jbbformat::kEntryKey) / 2;
  return jbbformat::unitsBeforeZero(e + jbbformat::kEntryKey, room);
}

const uint8_t* bTreeCursor::data() const { return jbbkeys::entryData(entry()); }

size_t bTreeCursor::dataAvailable() const {
  size_t have = jbbkeys::entryDataAvailable(entry());
  return have < tree_.dataSize ? have : tree_.dataSize;
}
