// Search for one key, the in-order walk over every entry, and the flush that
// ends a change.
//
// Holds: the search holds the nodes of its path and hands each back on the
// way up, except the root, which stays held as rootP.  The walk runs with
// freeOnRelease set, so a child handed back is dropped from memory at once
// and only the current root-to-leaf path is in memory: a walk of any size
// needs memory for one path plus the index array.
#include <cstring>

#include "btree/bt_keys.h"
#include "btree/jbbtreev.h"
#include "platform/kxmem.h"
#include "trace/trace.h"

namespace {
constexpr char kSourceName[] = "jbbtreev";
}  // namespace

using jbbkeys::entryAt;

namespace jbbkeys {

bool isHeld(const bTree& tree, int32_t s) {
  if (s < 1 || uint32_t(s) >= tree.cr.currentIXCount || tree.indexArray == nullptr) return false;
  int32_t state = tree.indexArray[s].state;
  return state == kStateOccupied || state == kStateModHold;
}

NodeP fetchChild(bTree& tree, int32_t s, int depth) {
  if (s != 0 && (depth >= kMaxTreeDepth || isHeld(tree, s))) {
    trPrint(TR_SITE, trClass.BTREEDB, "fetchChild(): indexArray[%d] at depth %d is already on the path\n", s,
            depth);
    tree.dbErrno = 22;
    return nodeFailed();
  }
  return tree.fetchPage(s);
}

}  // namespace jbbkeys

namespace {

// Hands one entry to the walk callback with its key in place where it is
// aligned, else with an aligned copy.
int32_t visitEntry(bTree& tree, const uint8_t* e) {
  if (const wchar16* inPlace = jbbkeys::keyInPlace(e)) return tree.walkCallback(inPlace, jbbkeys::entryData(e));
  jbbkeys::KeyCopy key;
  if (!key.load(e)) {
    tree.dbErrno = 12;
    return kResultMemory;
  }
  return tree.walkCallback(key.get(), jbbkeys::entryData(e));
}

int walkFetchFailure(int32_t dbErrno) { return dbErrno == 12 ? kResultMemory : kResultWalkRead; }

}  // namespace

uint8_t* bTree::Search(const wchar16* target) {
  trPrintW(TR_SITE, trClass.BTREEDB, u"Search(public) entry, target = %s\n", target != nullptr ? target : u"NULL");
  if (target == nullptr || target[0] == 0) return nullptr;
  // A tree that may differ from the file is read again first; when that
  // fails there is no tree to search, and dbErrno says why.
  if (reloadIfStale() != 0) return nullptr;

  int position = 0;
  NodeP found = Search(target, rootP, &position, 0);
  bool hit = isRealNode(found);
  if (hit) {
    // The data record is dataSize bytes; bytes the entry does not hold (a
    // damaged file) read as zero rather than past the entry.
    const uint8_t* e = entryAt(found, position);
    size_t have = jbbkeys::entryDataAvailable(e);
    size_t copy = have < dataSize ? have : dataSize;
    std::memcpy(resultBuffer, jbbkeys::entryData(e), copy);
    std::memset(resultBuffer + copy, 0, dataSize - copy);
    if (found != rootP) dbFree(found, kSourceName, __LINE__);
  }
  if (trClass.BTREEDB) {
    trPrintf(kSourceName, __LINE__, "Leaving Search(), currentIXCount = %d, root = %p\n", int(cr.currentIXCount),
             static_cast<void*>(rootP));
    for (uint32_t i = 1; indexArray != nullptr && i < cr.currentIXCount; ++i) {
      if (indexArray[i].state == kStateOccupied) {
        trPrintf(kSourceName, __LINE__, "\tOccupied: indexArray[%d].node = %p\n", int(i),
                 static_cast<void*>(indexArray[i].node));
      }
    }
  }
  ExitCleanup();
  return hit ? resultBuffer : nullptr;
}

NodeP bTree::Search(const wchar16* target, NodeP node, int* targetPos, int depth) {
  trPrintW(TR_SITE, trClass.BTREEDB, u"Search(private) entry, target = %s, root = %p, targetPos = %d\n", target,
           static_cast<void*>(node), *targetPos);
  if (!isRealNode(node)) return nullptr;
  if (SearchNode(target, node, targetPos)) return node;

  NodeP child = jbbkeys::fetchChild(*this, branchOf(node, *targetPos), depth + 1);
  if (child == nodeFailed()) return nodeFailed();
  NodeP result = Search(target, child, targetPos, depth + 1);
  if (result == nodeFailed()) return nodeFailed();  // the path stays held until ExitCleanup
  if (child != result) dbFree(child, kSourceName, __LINE__);
  return result;
}

int bTree::walkTree() {
  freeOnRelease = 1;
  NodeP root = nodeFailed();
  if (reloadIfStale() == 0 && freshRoot) {
    // An empty tree whose root the open made: nothing to write or read.
    root = rootP;
  } else if (reloadIfStale() == 0) {
    FlushMemNodes();
    // A flush whose write failed leaves a stale tree: read it again.
    if (reloadIfStale() == 0) root = fetchPage(cr.rootOffset);
  }
  int result;
  if (root == nodeFailed()) {
    rootP = nullptr;
    trError(kSourceName, __LINE__, trClass.BTREEDB, "walkTree(): fetchPage(): dbErrno: %d, \"%s\".\n", dbErrno,
            std::strerror(dbErrno));
    result = walkFetchFailure(dbErrno);
  } else {
    rootP = root;
    result = WalkTree(rootP, 0);
  }
  ExitCleanup();
  freeOnRelease = 0;
  return result;
}

int bTree::WalkTree(NodeP p, int depth) {
  trPrint(TR_SITE, trClass.BTREEDB, "WalkTree() entry: p = %p\n", static_cast<void*>(p));
  if (p == nullptr) {
    trError(kSourceName, __LINE__, trClass.BTREEDB, "WalkTree(): Null branch.\n");
    dbErrno = 22;
    return kResultNullBranch;
  }
  int count = countOf(p);
  if (count == 0) return 0;

  NodeP child = jbbkeys::fetchChild(*this, branchOf(p, 0), depth + 1);
  if (child == nodeFailed()) {
    trError(kSourceName, __LINE__, trClass.BTREEDB, "walkTree(): fetchPage(): dbErrno: %d, \"%s\".\n", dbErrno,
            std::strerror(dbErrno));
    return walkFetchFailure(dbErrno);
  }
  // Entries are visited in order, so each is found from the one before.
  const uint8_t* e = entryAt(p, 0);
  if (child == nullptr) {
    for (int i = 0; i < count; ++i, e += jbbkeys::entryLength(e)) {
      int32_t rc = visitEntry(*this, e);
      if (rc != 0) return rc;
    }
    return 0;
  }

  // While one child's subtree is walked, the next child's record is on its
  // way from memory.
  prefetchPage(branchOf(p, 1));
  int rc = WalkTree(child, depth + 1);
  dbFree(child, kSourceName, __LINE__);
  if (rc != 0) return rc;
  for (int i = 0; i < count; ++i, e += jbbkeys::entryLength(e)) {
    rc = visitEntry(*this, e);
    if (rc != 0) return rc;
    if (i + 2 <= count) prefetchPage(branchOf(p, i + 2));
    child = jbbkeys::fetchChild(*this, branchOf(p, i + 1), depth + 1);
    if (child == nodeFailed()) {
      trError(kSourceName, __LINE__, trClass.BTREEDB, "walkTree(): fetchPage() returned -1, dbErrno: %d, \"%s\".\n",
              dbErrno, std::strerror(dbErrno));
      return walkFetchFailure(dbErrno);
    }
    rc = WalkTree(child, depth + 1);
    dbFree(child, kSourceName, __LINE__);
    if (rc != 0) return rc;
  }
  return 0;
}

int bTree::syncToDisk() {
  int result = FlushMemNodes();
  // After a failed write the tree is stale; the next operation reads it
  // again, and nothing of this one is taken back into memory.
  if (result != 0 || mustReload) return result != 0 ? result : -1;
  NodeP root = fetchPage(cr.rootOffset);
  if (!isRealNode(root)) {
    // Never keep a freed or failed pointer as the root.
    rootP = nullptr;
    if (root == nullptr) dbErrno = 22;
    return result != 0 ? result : -1;
  }
  rootP = root;
  return result;
}
