// The node cache: the index array, the node states, the two lists and the
// release, eviction and flush of nodes.
//
// Deferred writes.  A node changed by a key operation is not written when it
// is handed to writePage; it is written when it leaves memory.  The rules
// that keep the file sound:
//  (1) A node in memory (states 3 to 6) has its buffer in its index entry's
//      node field, that buffer's diskLoc is the entry's subscript, and the
//      entry has at least one cell on actList.  States 0 to 2 have no buffer.
//  (2) A changed node is in state 5 (released) or 6 (held) until its image
//      has been written; only a successful RealWrite makes it unchanged (3).
//  (3) A held node (3 or 6) and the root are never evicted.  purgecache
//      drops at most one clean node per call, the oldest first.  It never
//      writes: a modified node stays in memory until the flush, so that a
//      change is never half on file (a deletion modifies a few nodes a
//      level, so memory stays bounded).
//  (4) FlushMemNodes (bt_flush.cc) drops every buffer.  It first writes
//      every changed node, the control record once per actList cell and
//      the slots released since the last flush, in the order bt_flush.cc
//      gives; after it no node is in memory and rootP is null until the
//      root is fetched again.  The first failed write stops the writing;
//      the buffers are dropped all the same, and the tree is stale: it is
//      read again from the file before its next use.
//  (5) A subscript is handed out once: addIndexEntry never returns 0 nor
//      one below currentIXCount, and every subscript in the file is below
//      currentIXCount after the open (bt_open.cc brings the counts in line).
//  (6) The lists only ever hold subscripts inside the index array; every
//      lookup by subscript goes through entryAt, which refuses others.
#include <cerrno>
#include <cstring>

#include "btree/bt_storage.h"
#include "btree/jbbtreev.h"
#include "platform/kxmem.h"
#include "trace/trace.h"

using jbbstorage::entryAt;

namespace {
constexpr char kSourceName[] = "jbbtreev";

// The two lines dbFree traces for every buffer it is given, also for one
// that was never given a subscript (entry 0, which is never a node's and
// shows as INVALID) or whose subscript lies outside the array (no entry).
void traceReleasedEntry(const bTree& t, int32_t s) {
  if (!trClass.BTREEDB) return;
  const indexNode* e = s == 0 && t.indexArray != nullptr ? &t.indexArray[0] : entryAt(t, s);
  const char* state = e == nullptr || s == 0 ? "INVALID" : jbbstorage::stateName(e->state);
  trPrint(TR_SITE, trClass.BTREEDB, "currentIXCount: %d, found at: %p\n", int(t.cr.currentIXCount),
          static_cast<const void*>(e));
  trPrint(TR_SITE, trClass.BTREEDB, "indexNode at %p state before free: %s\n", static_cast<const void*>(e),
          state);
}
}  // namespace

using jbbstorage::dropBuffer;

namespace {
bool sparesAllowed() { return !trClass.MEMORY && !kxTestFailureArmed(); }
}  // namespace

NodeP jbbstorage::newReadBuffer(bTree& t, uint64_t bytes) {
  if (!sparesAllowed() || bytes > kSpareLimit) return static_cast<NodeP>(KX_CALLOC(1, bytes));
  auto& spare = t.spare;
  for (int i = spare.count - 1; i >= 0; --i) {
    NodeP p = spare.block[i];
    if (kxBlockSize(p) < bytes) continue;
    spare.block[i] = spare.block[--spare.count];
    std::memset(p, 0, bytes);
    return p;
  }
  // Rounded up, so that a buffer handed back fits most of its siblings.
  constexpr uint64_t kStep = 512;
  return static_cast<NodeP>(KX_CALLOC(1, (bytes + kStep - 1) / kStep * kStep));
}

void jbbstorage::releaseBuffer(bTree& t, NodeP p) {
  auto& spare = t.spare;
  if (!sparesAllowed() || spare.count == bTree::SpareBuffers::kMax) {
    KX_FREE(p);
    return;
  }
  // A broken guard is reported as freeing would report it, and the block
  // is left alone as freeing leaves it.
  if (kxCheckBlock(p, kSourceName, __LINE__) != 0) return;
  if (kxBlockSize(p) > kSpareLimit) {
    KX_FREE(p);
    return;
  }
  spare.block[spare.count++] = p;
}

void jbbstorage::freeSpareBuffers(bTree& t) {
  while (t.spare.count > 0) KX_FREE(t.spare.block[--t.spare.count]);
}

void jbbstorage::dropBuffer(bTree& t, indexNode* e) {
  if (e->node != nullptr) releaseBuffer(t, e->node);
  e->node = nullptr;
  e->state = kStateOnDisk;
}

const char* jbbstorage::stateName(int32_t state) {
  switch (state) {
    case kStateAvailable: return "available";
    case kStateOccupied: return "occupied";
    case kStateClean: return "clean";
    case kStateModified: return "modified";
    case kStateModHold: return "modhold";
    default: return "INVALID";
  }
}

int32_t bTree::addIndexEntry() {
  trPrint(TR_SITE, trClass.BTREEDB, "addIndexEntry(): currentIXCount: %d\n", int(cr.currentIXCount));
  if (cr.currentIXCount >= indexCapacity) {
    uint32_t oldSize = indexCapacity;
    uint32_t newSize = oldSize + jbbformat::kIndexGrowth;
    trPrint(TR_SITE, trClass.BTREEDB, "Increasing indexarray from %d to %d\n", int(oldSize), int(newSize));
    void* grown = newSize < oldSize ? nullptr : KX_REALLOC(indexArray, uint64_t(newSize) * sizeof(indexNode));
    if (grown == nullptr) {
      trError(kSourceName, __LINE__, trClass.BTREEDB, "addIndexEntry(): kxReAlloc() returned NULL.\n");
      dbErrno = 12;
      return 0;
    }
    trPrint(TR_SITE, trClass.BTREEDB, "Size was increased by kxRealloc()\n");
    indexArray = static_cast<indexNode*>(grown);
    std::memset(indexArray + oldSize, 0, jbbformat::kIndexGrowth * sizeof(indexNode));
    indexCapacity = newSize;
    // A stored size larger than the array stays as it was (see indexCapacity).
    if (newSize > cr.indexArraySize) cr.indexArraySize = newSize;
    if (cr.currentIXCount == 0) cr.currentIXCount = 1;
  }
  const indexNode& e = indexArray[cr.currentIXCount];
  trPrint(TR_SITE, trClass.BTREEDB, "addIndexEntry() returning nodeSize: %d, slotLength %d, newNDLast: %d\n",
          int(e.nodeSize), int(e.slotLength), int(newNDLast));
  return int32_t(cr.currentIXCount++);
}

int bTree::addToList(listCell** list, int32_t subscript) {
  auto* cell = static_cast<listCell*>(KX_CALLOC(1, sizeof(listCell)));
  if (cell == nullptr) {
    dbErrno = 12;
    return -1;
  }
  cell->subscript = subscript;
  cell->next = *list;
  *list = cell;
  return 0;
}

void bTree::removeFromList(listCell** list, int32_t subscript) {
  for (listCell** link = list; *link != nullptr; link = &(*link)->next) {
    if ((*link)->subscript == subscript) {
      listCell* cell = *link;
      *link = cell->next;
      KX_FREE(cell);
      return;
    }
  }
}

void bTree::freeList(listCell** list) {
  while (*list != nullptr) {
    listCell* cell = *list;
    *list = cell->next;
    KX_FREE(cell);
  }
}

void bTree::dbFree(NodeP p, const char* source, int32_t line) {
  trPrint(TR_SITE, trClass.BTREEDB, "dbFree() entry from %s[%d]: freeing %p, disk loc: %d\n", source, int(line),
          static_cast<void*>(p), isRealNode(p) ? int(diskLocOf(p)) : -1);
  if (!isRealNode(p)) {
    trPrint(TR_SITE, trClass.BTREEDB, "dbFree(): Trying to free a null or invalid disk-node\n");
    return;
  }
  int32_t s = diskLocOf(p);
  traceReleasedEntry(*this, s);
  indexNode* e = entryAt(*this, s);
  // A buffer never given a subscript, or one whose subscript is not the
  // entry's own buffer, is not the cache's to change.
  if (e == nullptr || e->node != p) return;
  if (e->state == kStateOccupied) {
    if (freeOnRelease) {
      removeFromList(&actList, s);
      dropBuffer(*this, e);
    } else {
      e->state = kStateClean;
    }
  } else if (e->state == kStateModHold) {
    e->state = kStateModified;
  }
}

int bTree::purgecache() {
  trPrint(TR_SITE, trClass.BTREEDB, "purgecache() entry: actList = %p\n", static_cast<void*>(actList));
  if (actList == nullptr) return 0;
  int32_t clean = 0;
  for (listCell* c = actList; c != nullptr; c = c->next) {
    const indexNode* e = entryAt(*this, c->subscript);
    if (e == nullptr || e->node == nullptr || e->node == rootP) continue;
    if (e->state == kStateClean) clean = c->subscript;  // the last seen is the oldest
  }
  if (clean != 0) {
    trPrint(TR_SITE, trClass.BTREEDB, "Dropping clean %d from the active list\n", int(clean));
    dropBuffer(*this, entryAt(*this, clean));
    removeFromList(&actList, clean);
    return 0;
  }
  // A modified node is never written from here: it waits for the flush,
  // which writes a request's changes together and in a safe order.
  return 0;
}
