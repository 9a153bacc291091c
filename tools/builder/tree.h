// A tree to be written: nodes in memory, described explicitly, parsed from
// a compact shape text, or bulk-loaded from sorted keys.
//
// Shape text (also what the checker prints for a file):
//   node     = "[" key { " " key } "]" [ " (" node { " " node } ")" ]
//   e.g.     [d h] ([a b] [e f] [k])
// Keys are UTF-8 without blanks, brackets or parentheses; "[]" is an empty
// node.  An interior node lists exactly count + 1 children.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "builder/keys.h"
#include "builder/records.h"

namespace jbbbuilder {

struct Entry {
  Key key;
  Bytes data;  // at most dataSize bytes; the writer zero-pads shorter data
};

// Leaf: no children.  Interior: entries.size() + 1 children.  The writer
// accepts any such shape (also underfull nodes, unequal leaf depths or
// unordered keys, for tests of damaged trees); the bulk loader only builds
// well-formed ones.
struct TreeNode {
  std::vector<Entry> entries;
  std::vector<TreeNode> children;
  bool isLeaf() const { return children.empty(); }
};

std::string shapeOf(const TreeNode& root);
size_t entryCountOf(const TreeNode& root);
size_t nodeCountOf(const TreeNode& root);
int heightOf(const TreeNode& root);  // 1 for a lone leaf

// Parses shape text; every entry gets keyData(key, dataSize) as its data.
bool parseShape(const std::string& text, size_t dataSize, TreeNode* root, std::string* error);

// Bulk loading.  Every node but the root holds 5..10 entries, all leaves are
// at one depth, keys are in tree order.  `fill` is the entry count aimed at
// in every node; `fillOf`, when set, overrides it per node: it is called
// with the node's level (0 = leaves) and its position from the left among
// the nodes of that level, and returns the wanted count (0 = use `fill`).
// A wanted count is met whenever the number of entries allows it: counts
// are taken from the left, and the surplus or shortfall of a level is
// spread over its rightmost nodes.
struct BulkOptions {
  int fill = 8;
  std::function<int(int level, int ordinal)> fillOf;
};

// `entries` must be strictly ascending (sortEntries); a violation fails.
bool bulkLoad(std::vector<Entry> entries, const BulkOptions& options, TreeNode* root,
              std::string* error);
// Sorts into tree order; equal keys are dropped (keeping the first) or fail.
bool sortEntries(std::vector<Entry>* entries, bool removeDuplicates, std::string* error);
// Entries for keys, each with keyData(key, dataSize, seed).
std::vector<Entry> entriesFor(const std::vector<Key>& keys, size_t dataSize, uint64_t seed = 0);

}  // namespace jbbbuilder
