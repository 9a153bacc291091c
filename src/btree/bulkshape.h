// The shape of a bulk-loaded tree, node by node, in the order its entries
// come in.
//
// The shape depends only on the number of entries and the fill options, so
// it is known before the first entry arrives.  It is chosen top down.  For
// a subtree of height h (1 = a leaf) the entry counts that can be built are
// [minSize(h), maxSize(h)] (every node 5..10 entries); a node holding k
// entries over m entries is feasible when its k + 1 children can share the
// other m - k.  Each node takes the count wanted for it, clamped into its
// feasible range, and hands its children the sizes their own wanted counts
// imply; what is left over (or missing) goes to the rightmost children, so
// nodes on the left keep the counts asked for.
//
// Entries in key order visit the tree in order: the leftmost leaf fills,
// then its parent takes one entry, then the next leaf fills, and so on.
// ShapeCursor follows that walk with one frame per level, so it needs
// memory for the height of the tree only, and reports every node the
// moment its last entry (or its last child) is in.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "btree/format.h"

namespace jbbbulk {

// `fill` is the entry count aimed at in every node; `fillOf`, when set,
// overrides it per node: it is called with the node's level (0 = leaves)
// and its position from the left among the nodes of that level, and
// returns the wanted count (0 = use `fill`).  A wanted count is met
// whenever the number of entries allows it.
struct FillOptions {
  int fill = 8;
  std::function<int(int level, int ordinal)> fillOf;
};

// A node whose entries (and children) are all in.
struct ShapeNode {
  int level;           // 0 = leaves; the root is at height() - 1
  int64_t ordinal;     // position from the left within its level
  int count;           // its entries
  int64_t firstChild;  // ordinal of its first child on level - 1; -1 for a leaf
};

class ShapeCursor {
 public:
  // fill must be 5..10.  onClose is called for every node as it completes,
  // children before their parent; the constructor already closes an empty
  // root (the tree of 0 entries).
  ShapeCursor(uint64_t entries, const FillOptions& options, std::function<void(const ShapeNode&)> onClose);

  int height() const { return height_; }
  // The level of the node that takes the next entry; -1 once every entry
  // has its place and every node is closed.
  int level() const { return stack_.empty() ? -1 : stack_.back().level; }
  // The next entry went into the node at level(): moves on.
  void advance();

  // Nodes per level (index 0 = leaves) of the tree for `entries`.
  static std::vector<int64_t> levelSizes(uint64_t entries, const FillOptions& options);

 private:
  ShapeCursor(uint64_t entries, const FillOptions& options, std::function<void(const ShapeNode&)> onClose, bool dry);

  struct Frame {
    int level;
    int64_t ordinal;
    int k;  // entries the node takes
    int count = 0;
    int childrenDone = 0;
    int64_t firstChild = -1;
    uint64_t sizes[jbbformat::kBranches] = {};  // entries below each child
  };

  void push(uint64_t m, int level, bool isRoot);
  void settle();
  void close();
  int wanted(int level, int64_t ordinal) const;
  int countFor(uint64_t m, int h, bool isRoot, int level, int64_t ordinal) const;
  void childSizes(uint64_t total, int count, int h, int level, uint64_t* sizes) const;

  FillOptions options_;
  std::function<void(const ShapeNode&)> onClose_;
  int height_;
  bool dry_ = false;  // levelSizes: leaves and separators count as filled at once
  std::vector<int64_t> ordinals_;  // nodes begun so far, per level
  std::vector<Frame> stack_;       // the root first; the node taking entries last
};

}  // namespace jbbbulk
