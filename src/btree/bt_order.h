// The order of a flush's writes: a model of what the tree on file reaches.
//
// A flush rewrites a few nodes: the changed ones, whose images the file
// holds in an old and memory in a new form, and the released ones, whose
// slots become free.  The file's tree is sound at a point of the flush when
// it still reaches every entry and every untouched subtree that it reaches
// both before the flush and after it: what the change takes out (a deleted
// key) may go, nothing else.  The model answers, for
// each next write, whether the tree stays sound after it, so the flush can
// order receivers before givers and a parent's new references after the
// children they lead to.
//
// Only the nodes of the flush are modelled.  A node the flush does not touch
// is a token: its subtree is unchanged, and it is reached whenever a
// reference to it is.  A changed node that no node of the flush referred to
// hangs from an untouched parent and stays reached throughout.  (Storage
// internal: used by bt_flush.cc.)
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace jbbstorage {

using KeySet = std::set<std::u16string>;

// What one image of a node holds: its keys and its child references.
struct NodeView {
  KeySet keys;
  std::vector<int32_t> refs;  // non-zero child subscripts
};

class TreeOnFile {
 public:
  // A node of the flush as the file holds it now; `changed` when memory holds
  // a new image for it (else it is released and its image will go).
  void addNode(int32_t s, NodeView onFile, bool changed, NodeView next);
  // The root the control record names now, and the one it will name.
  void setRoots(int32_t fileRoot, int32_t newRoot);
  // Takes what the tree reaches both now and at the end of the flush as
  // what it must reach throughout.
  void start();

  // Whether the tree stays sound if s's new image (or, for a released node,
  // its free slot) replaced its file image now.
  bool safeToWrite(int32_t s) const;
  void written(int32_t s);
  // Whether naming the new root keeps the tree sound.
  bool safeToRenameRoot() const;
  void rootRenamed();

 private:
  struct Node {
    NodeView file, next;
    bool changed = false;
    bool written = false;
  };
  struct Reach {
    KeySet keys;
    std::set<int32_t> tokens;
  };
  // What the tree reaches when node `swapped` (0: none), or with `allNew`
  // every node, is already in its new form and `root` is the root.
  Reach reach(int32_t swapped, int32_t root, bool allNew = false) const;
  bool covers(const Reach& r) const;

  std::map<int32_t, Node> nodes_;
  std::vector<int32_t> tops_;  // nodes hanging from untouched parents
  int32_t root_ = 0, newRoot_ = 0;
  Reach required_;
};

}  // namespace jbbstorage
