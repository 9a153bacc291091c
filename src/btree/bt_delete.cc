// Deletion of one key with the rebalancing that keeps the tree a B-tree.
//
// Invariants kept by a completed deletion:
//   1. every node but the root holds 5 to 10 entries, all leaves are at one
//      depth, keys ascend across the tree;
//   2. a key in an interior node is replaced by a copy of its successor (the
//      smallest key to its right, with its data record) before the successor
//      is deleted from its leaf;
//   3. a child left with 4 entries is refilled from its left sibling when
//      that has more than 5 (MoveRight), else merged with it (Combine); only
//      the leftmost child uses its right sibling (MoveLeft, or Combine);
//   4. a root left without entries is released and its only child becomes
//      the root, recorded in the control record; when the last key goes the
//      database is re-initialised empty (makeEmpty).
//
// Holds: each level hands its child back through the child's index entry,
// not through a local pointer, because a move may have enlarged (moved) the
// child and Combine may have released it; a released node has no buffer
// and is never handed back.  Changed nodes go to writePage, which defers
// their writes; nothing reaches the file before the caller flushes
// (syncToDisk), and the flush writes the changes in an order that keeps
// every entry on file throughout.  A Delete that fails leaves the tree
// stale: nothing of it is written, and the tree is read again from the file
// before its next use.
//
// Memory: a move enlarges the nodes that receive entries before it changes
// anything, so a failed enlargement leaves the tree as it was and reaches
// Delete's result as -1 with dbErrno 12; no entry is ever lost half-moved.
#include <cstring>

#include "btree/bt_keys.h"
#include "btree/jbbtreev.h"
#include "platform/kxmem.h"
#include "trace/trace.h"

namespace {
constexpr char kSourceName[] = "jbbtreev";
}  // namespace

using namespace jbbformat;
using jbbkeys::entryAt;
using jbbkeys::entryLength;

namespace {

// The length InsertDatum will copy, or -1 for an entry it would refuse.
int insertLength(const uint8_t* e) {
  int nkl = getI16(e + kEntryNkl);
  return nkl >= int(kEntryKey) ? nkl : -1;
}

// Grows *pp until its image area holds `needed` bytes.
int reserveRoom(bTree& tree, NodeP* pp, uint64_t needed) {
  while (allocSizeOf(*pp) < needed) {
    if (tree.extendNode(pp) != 0) {
      tree.dbErrno = 12;
      return -1;
    }
  }
  return 0;
}

// Hands the three nodes of a move to writePage.  All three are handed over
// even when one fails, so that a node merged away is still released.
int handOverMoved(bTree& tree, NodeP* lt, NodeP* rt, NodeP* parent) {
  int a = tree.writePage(lt);
  int b = tree.writePage(rt);
  int c = tree.writePage(parent);
  return (a != 0 || b != 0 || c != 0) ? kResultWriteFailed : 0;
}

// Ends this level's hold on the node with subscript s, if it still exists.
void handBack(bTree& tree, int32_t s) {
  if (s < 1 || uint32_t(s) >= tree.cr.currentIXCount || tree.indexArray == nullptr) return;
  NodeP node = tree.indexArray[s].node;
  if (node != nullptr) tree.dbFree(node, kSourceName, __LINE__);
}

}  // namespace

int bTree::Delete(const wchar16* target) {
  dbErrno = 0;
  trPrintW(TR_SITE, trClass.BTREEDB, u"Delete() entry, target = %s\n", target != nullptr ? target : u"NULL");
  if (target == nullptr) {
    dbErrno = 22;
    return -1;
  }
  if (reloadIfStale() != 0) return -1;
  dbErrno = 0;
  if (!isRealNode(rootP)) {
    dbErrno = 22;
    return -1;
  }
  if (RecDelete(target, &rootP) == 0) {
    // Nothing else is held after a search that found nothing; after a
    // failure this releases what the failed step still held.
    ExitCleanup();
    if (dbErrno == 0) return 1;
    // The failed step may have changed nodes in memory: they are never
    // written, and the tree is read again before it is used.
    mustReload = true;
    return -1;
  }

  if (countOf(rootP) == 0) {
    NodeP oldRoot = rootP;
    NodeP newRoot = jbbkeys::fetchChild(*this, branchOf(oldRoot, 0), 1);
    if (newRoot != nodeFailed()) {
      rootP = newRoot;
      setBranch(oldRoot, 0, -1);
      // The control record that names the new root is written by the
      // flush, after the new root and before the old root's slot is free.
      if (writePage(&oldRoot) == 0) cr.rootOffset = newRoot != nullptr ? diskLocOf(newRoot) : 1;
    }
    // After a failed fetch the emptied old root stays the root.
    if (oldRoot != nullptr) dbFree(oldRoot, kSourceName, __LINE__);
    if (rootP == nullptr) makeEmpty();
    if (dbErrno != 0) {
      ExitCleanup();
      mustReload = true;
      return -1;
    }
  }

  trPrint(TR_SITE, trClass.BTREEDB, "Leaving Delete(), currentIXCount = %d, rootP = %p\n", int(cr.currentIXCount),
          static_cast<void*>(rootP));
  ExitCleanup();
  return 0;
}

int bTree::RecDelete(const wchar16* target, NodeP* pp) { return RecDelete(target, pp, 0); }

int bTree::RecDelete(const wchar16* target, NodeP* pp, int depth) {
  trPrintW(TR_SITE, trClass.BTREEDB, u"RecDelete() entry, target = %s, p = %p\n", target, static_cast<void*>(*pp));
  if (*pp == nullptr) return 0;
  int k = 0;
  bool found = SearchNode(target, *pp, &k) != 0;
  if (found && branchOf(*pp, k) == 0) {
    Remove(*pp, k);
    return 1;
  }

  int32_t childSub;
  NodeP child;
  int result;
  int restoreAt;
  if (found) {
    if (Successor(pp, k) != 0) return 0;
    childSub = branchOf(*pp, k + 1);
    child = jbbkeys::fetchChild(*this, childSub, depth + 1);
    if (!isRealNode(child)) {
      if (child == nullptr) dbErrno = 22;  // an interior node without its right child
      return 0;
    }
    jbbkeys::KeyCopy successor;
    if (!successor.load(entryAt(*pp, k))) {
      dbErrno = 12;
      handBack(*this, childSub);
      return 0;
    }
    result = RecDelete(successor.get(), &child, depth + 1);
    if (result == 0) {
      handBack(*this, childSub);
      return 0;
    }
    restoreAt = k;
  } else {
    childSub = branchOf(*pp, k);
    child = jbbkeys::fetchChild(*this, childSub, depth + 1);
    if (!isRealNode(child)) return 0;  // null: *pp is a leaf, the key is absent
    result = RecDelete(target, &child, depth + 1);
    // The underfull child pairs with its left sibling; the leftmost child
    // with its right one.
    restoreAt = k > 0 ? k - 1 : 0;
  }
  if (countOf(child) < kMinFill && Restore(pp, restoreAt) != 0) result = 0;
  handBack(*this, childSub);
  return result;
}

int bTree::Remove(NodeP p, int k) {
  trPrint(TR_SITE, trClass.BTREEDB, "Remove() entry, k = %d, p = %p\n", k, static_cast<void*>(p));
  // branch[k] stays; branch[k+1] goes with entry k.
  for (int i = k; i <= countOf(p) - 2; ++i) setBranch(p, i + 1, branchOf(p, i + 2));
  RemoveDatum(&p, k);
  return writePage(&p);
}

int bTree::Successor(NodeP* pp, int k) {
  trPrint(TR_SITE, trClass.BTREEDB, "Successor() entry, k = %d, p = %p\n", k, static_cast<void*>(*pp));
  int depth = 1;
  NodeP leaf = jbbkeys::fetchChild(*this, branchOf(*pp, k + 1), depth);
  while (isRealNode(leaf) && branchOf(leaf, 0) != 0) {
    int32_t next = branchOf(leaf, 0);
    dbFree(leaf, kSourceName, __LINE__);
    leaf = jbbkeys::fetchChild(*this, next, ++depth);
  }
  if (!isRealNode(leaf)) {
    if (leaf == nullptr) dbErrno = 22;  // an interior node without its right child
    return -1;
  }
  int succLength = countOf(leaf) > 0 ? insertLength(entryAt(leaf, 0)) : -1;
  if (succLength < 0) {
    dbFree(leaf, kSourceName, __LINE__);
    dbErrno = 22;
    return -1;
  }
  uint64_t needed = nodeSizeOf(*pp) - entryLength(entryAt(*pp, k)) + uint64_t(succLength);
  if (reserveRoom(*this, pp, needed) != 0) {
    dbFree(leaf, kSourceName, __LINE__);
    return -1;
  }
  RemoveDatum(pp, k);
  InsertDatum(pp, k, entryAt(leaf, 0));  // cannot fail: the room is reserved
  dbFree(leaf, kSourceName, __LINE__);
  return writePage(pp);
}

int bTree::Restore(NodeP* pp, int k) {
  trPrint(TR_SITE, trClass.BTREEDB, "Restore() entry, k = %d, p = %p\n", k, static_cast<void*>(*pp));
  if (k < 0 || k >= countOf(*pp)) {
    dbErrno = 22;
    return -1;
  }
  int32_t rtSub = branchOf(*pp, k + 1);
  int32_t ltSub = branchOf(*pp, k);
  // One of the pair is the child on the path, held; the other is not.  Two
  // held siblings, or a sibling that is the parent, mean the file's
  // references loop, and moving entries between them would corrupt memory.
  int32_t parentSub = diskLocOf(*pp);
  if (ltSub == rtSub || ltSub == parentSub || rtSub == parentSub ||
      (jbbkeys::isHeld(*this, ltSub) && jbbkeys::isHeld(*this, rtSub))) {
    dbErrno = 22;
    return -1;
  }
  NodeP rt = fetchPage(rtSub);
  NodeP lt = fetchPage(ltSub);
  int result = 0;
  if (!isRealNode(rt) || !isRealNode(lt)) {
    if (rt == nullptr || lt == nullptr) dbErrno = 22;  // an interior node without a child
    result = -1;
  } else {
    int l = countOf(lt);
    int r = countOf(rt);
    if (l > kMinFill && r < kMinFill) {
      result = MoveRight(pp, k, &lt, &rt);
    } else if (r > kMinFill && l < kMinFill) {
      result = MoveLeft(pp, k, &lt, &rt);
    } else if (l <= kMinFill && r <= kMinFill) {
      result = Combine(pp, k, &lt, &rt);
    }
  }
  dbFree(lt, kSourceName, __LINE__);
  if (rt != nullptr) dbFree(rt, kSourceName, __LINE__);
  return result;
}

int bTree::MoveRight(NodeP* pp, int k, NodeP* lt, NodeP* rt) {
  trPrint(TR_SITE, trClass.BTREEDB, "MoveRight() entry, k = %d, p = %p, lt = %p, rt = %p\n", k,
          static_cast<void*>(*pp), static_cast<void*>(*lt), static_cast<void*>(*rt));
  int l = countOf(*lt);
  int r = countOf(*rt);
  int sepLength = insertLength(entryAt(*pp, k));
  int lastLength = insertLength(entryAt(*lt, l - 1));
  if (sepLength < 0 || lastLength < 0 || r + 1 > kMaxEntries) {
    dbErrno = 22;
    return -1;
  }
  if (reserveRoom(*this, rt, nodeSizeOf(*rt) + uint64_t(sepLength)) != 0 ||
      reserveRoom(*this, pp, nodeSizeOf(*pp) - uint64_t(sepLength) + uint64_t(lastLength)) != 0) {
    return -1;
  }
  for (int i = r; i >= 1; --i) setBranch(*rt, i + 1, branchOf(*rt, i));
  InsertDatum(rt, 0, entryAt(*pp, k));
  RemoveDatum(pp, k);
  setBranch(*rt, 1, branchOf(*rt, 0));
  InsertDatum(pp, k, entryAt(*lt, l - 1));
  setBranch(*rt, 0, branchOf(*lt, l));
  Remove(*lt, l - 1);
  return handOverMoved(*this, lt, rt, pp);
}

int bTree::MoveLeft(NodeP* pp, int k, NodeP* lt, NodeP* rt) {
  trPrint(TR_SITE, trClass.BTREEDB, "MoveLeft() entry, k = %d, p = %p, lt = %p, rt = %p\n", k,
          static_cast<void*>(*pp), static_cast<void*>(*lt), static_cast<void*>(*rt));
  int l = countOf(*lt);
  int sepLength = insertLength(entryAt(*pp, k));
  int firstLength = insertLength(entryAt(*rt, 0));
  if (sepLength < 0 || firstLength < 0 || l + 1 > kMaxEntries) {
    dbErrno = 22;
    return -1;
  }
  if (reserveRoom(*this, lt, nodeSizeOf(*lt) + uint64_t(sepLength)) != 0 ||
      reserveRoom(*this, pp, nodeSizeOf(*pp) - uint64_t(sepLength) + uint64_t(firstLength)) != 0) {
    return -1;
  }
  InsertDatum(lt, l, entryAt(*pp, k));
  RemoveDatum(pp, k);
  setBranch(*lt, l + 1, branchOf(*rt, 0));
  InsertDatum(pp, k, entryAt(*rt, 0));
  setBranch(*rt, 0, branchOf(*rt, 1));
  Remove(*rt, 0);
  return handOverMoved(*this, lt, rt, pp);
}

int bTree::Combine(NodeP* pp, int k, NodeP* lt, NodeP* rt) {
  trPrint(TR_SITE, trClass.BTREEDB, "Combine() entry, k = %d, p = %p, lt = %p, rt = %p\n", k,
          static_cast<void*>(*pp), static_cast<void*>(*lt), static_cast<void*>(*rt));
  int l = countOf(*lt);
  int r = countOf(*rt);
  int sepLength = insertLength(entryAt(*pp, k));
  uint64_t incoming = sepLength < 0 ? 0 : uint64_t(sepLength);
  bool sound = sepLength >= 0 && l + 1 + r <= kMaxEntries;
  for (int i = 0; sound && i < r; ++i) {
    int length = insertLength(entryAt(*rt, i));
    sound = length >= 0;
    incoming += uint64_t(length);
  }
  if (!sound) {
    dbErrno = 22;
    return -1;
  }
  if (reserveRoom(*this, lt, nodeSizeOf(*lt) + incoming) != 0) return -1;

  InsertDatum(lt, l, entryAt(*pp, k));
  Remove(*pp, k);
  setBranch(*lt, l + 1, branchOf(*rt, 0));
  for (int i = 0; i < r; ++i) {
    InsertDatum(lt, countOf(*lt), entryAt(*rt, i));
    setBranch(*lt, countOf(*lt), branchOf(*rt, i + 1));
  }
  setBranch(*rt, 0, -1);
  return handOverMoved(*this, lt, rt, pp);
}
