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
//
// What is reached is kept as counts: how many reached nodes refer to each
// node and token, and how many hold each key that must stay.  A question
// about one write makes that write, reads whether anything required went
// missing, and takes the write back, which touches only the nodes whose
// reach it changes.  That holds while the references among the modelled
// nodes, old and new together, form no cycle (always so in a sound tree);
// when a damaged file's references do, every question walks the whole
// model instead.  Either way the answers are those of a walk from the roots.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
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
  // what it must reach throughout.  Nodes are added before, not after.
  void start();

  // Whether the tree stays sound if s's new image (or, for a released node,
  // its free slot) replaced its file image now.
  bool safeToWrite(int32_t s);
  // s is a node added before start().
  void written(int32_t s);
  // Whether naming the new root keeps the tree sound.
  bool safeToRenameRoot();
  void rootRenamed();

 private:
  // A reference: a node (>= 0), a token that must stay reached
  // (-1 - its number), or nothing that matters (kNone).
  static constexpr int32_t kNone = INT32_MIN;
  struct Form {
    std::vector<int32_t> keys;  // numbers of the keys it holds
    std::vector<int32_t> refs;
  };
  struct Node {
    std::array<Form, 2> form;  // as on file, and as the flush leaves it
    int cur = 0;               // which form the file holds now
    int32_t refCount = 0;      // references from reached nodes and roots
  };
  struct Input {
    NodeView file, next;
    bool changed = false;
  };

  int32_t nodeOf(int32_t s) const;
  int32_t refTo(int32_t s, std::unordered_map<int32_t, int32_t>& tokens);
  template <class Visit>
  void walk(int32_t swapped, int32_t rootRef, bool allNew, Visit visit);
  bool coveredByWalk(int32_t swapped, int32_t rootRef);
  void raise(const std::vector<int32_t>& refs);
  void lower(const std::vector<int32_t>& refs);
  void setForm(int32_t n, int form);
  void setRootRef(int32_t ref, int32_t old);
  bool covered() const { return missing_ == 0; }

  std::map<int32_t, Input> input_;  // until start()
  std::vector<int32_t> subs_;       // the modelled nodes' subscripts, ascending
  std::vector<Node> nodes_;
  std::vector<int32_t> tops_;       // nodes hanging from untouched parents
  int32_t root_ = 0, newRoot_ = 0;
  int32_t rootRef_ = kNone, newRootRef_ = kNone;
  size_t keyCount_ = 0, tokenCount_ = 0;  // what must stay reached
  bool acyclic_ = true;

  // Counts of what the tree reaches now (kept while acyclic_).
  std::vector<int32_t> keyHolders_, tokenRefs_;
  size_t missing_ = 0;  // required keys and tokens not reached
  std::vector<int32_t> work_;

  // Marks of one walk (cyclic models).
  std::vector<uint32_t> seen_, keySeen_, tokenSeen_;
  uint32_t epoch_ = 0;
};

}  // namespace jbbstorage
