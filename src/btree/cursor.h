// A cursor over a bTree's entries in key order: seek to the first key at or
// after a given one, then step.  A seek reads the nodes of one path from
// the root, and a step at most one node per level it climbs or descends, so
// k entries from a seek cost O(height + k) node reads.  It holds the nodes
// of its path (the root is always held); nothing else of the tree, so a
// scan of any length keeps one path in memory.
//
// The tree must not change while a cursor is open on it.  A cursor is a key
// operation: it reaches nodes only through fetchPage, dbFree and
// ExitCleanup (jbbtreev.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "btree/jbbtreev.h"

class bTreeCursor {
 public:
  explicit bTreeCursor(bTree& tree) : tree_(tree) {}
  ~bTreeCursor() { close(); }
  bTreeCursor(const bTreeCursor&) = delete;
  bTreeCursor& operator=(const bTreeCursor&) = delete;

  // Positions on the first entry whose key is at or after `key` (the
  // tree's first entry for an empty key).  False when there is none (the
  // tree's dbErrno 0) or a node cannot be read (dbErrno set).
  bool seek(const wchar16* key);
  // Moves to the next entry in key order.  False at the end (dbErrno 0) or
  // on a failed read (dbErrno set).
  bool next();
  bool valid() const { return !path_.empty(); }

  // The current entry (valid() only): its key, units not terminated, as
  // they lie in the node (little-endian), and its data record.
  const uint8_t* keyBytes() const;
  size_t keyUnits() const;
  const uint8_t* data() const;
  // Bytes of the data record inside its entry (at most the data size).
  size_t dataAvailable() const;

  // Lets go of every node held, as the end of a public operation does.
  void close();

 private:
  // One level of the path: the node, and the index of the entry that is
  // current (at the deepest level) or comes next once the subtree below
  // has been stepped through.
  struct Level {
    NodeP node;
    int index;
  };
  bool descend(int32_t subscript);
  bool climb();
  const uint8_t* entry() const;
  void release(NodeP node);

  bTree& tree_;
  std::vector<Level> path_;
};
