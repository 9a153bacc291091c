// Page input and output: node buffers, reading a node by subscript, handing
// changed and discarded nodes back, choosing slots, and the positioned
// writes.  Where and in what order a flush writes is bt_flush.cc.
//
// Space in the file: every record sits in a slot.  A record that fits its
// slot is rewritten in place; the last record (at cr.lastNDRec) grows in
// place and claims its new length at once, so that nothing is appended
// inside it; any other record that has outgrown its slot moves to the first
// free slot on avlList that is long enough, or else to the end of data
// (newNDLast), and its old slot becomes a free slot.  Free slots are reused
// whole, never split or joined.
#include <cerrno>
#include <cstring>

#include "btree/bt_storage.h"
#include "btree/jbbtreev.h"
#include "platform/osfile.h"
#include "platform/kxmem.h"
#include "trace/trace.h"

using namespace jbbformat;
using jbbstorage::entryAt;

namespace {
constexpr char kSourceName[] = "jbbtreev";

// Reads the record of the on-disk entry e (subscript s) into a new buffer
// and checks the image before anyone sees it.  The entry changes only on
// success; on any failure the buffer is freed and the entry stays on disk.
NodeP readNode(bTree& t, indexNode* e, int32_t s) {
  if (t.dbHandle == nullptr || e->nodeSize < kDiskNodeBaseSize || e->nodeSize > e->slotLength ||
      e->nodeSize > jbbstorage::kMaxImageSize) {
    t.dbErrno = 22;
    return nodeFailed();
  }
  NodeP p = jbbstorage::newReadBuffer(t, e->nodeSize + jbbstorage::kReadSlack);
  if (p == nullptr) {
    t.dbErrno = 12;
    return nodeFailed();
  }
  setAllocSize(p, e->nodeSize);
  bool sound = false;
  trPrint(TR_SITE, trClass.BTREEDB, "fetchPage(): trying to read %d bytes to %p\n", int(e->nodeSize),
          static_cast<void*>(p));
  size_t got = jbbstorage::readFile(t, nodeImage(p), e->nodeSize, e->nodePos);
  // A file that simply ends early is a short read without errno.
  if (got != e->nodeSize)
    t.dbErrno = errno != 0 ? errno : 13;
  else if (!jbbstorage::nodeImageSound(nodeImage(p), e->nodeSize, t.dataSize) || diskLocOf(p) != s)
    t.dbErrno = 22;
  else
    sound = true;
  if (!sound) {
    KX_FREE(p);
    return nodeFailed();
  }
  e->node = p;
  e->state = kStateOccupied;
  return p;
}
}  // namespace

NodeP bTree::dbCalloc(const char* source, int32_t line) {
  trPrint(TR_SITE, trClass.BTREEDB, "dbCalloc() entry: from %s[%d], request Size = %d\n", source, int(line),
          int(jbbstorage::kAllocUnit));
  auto p = static_cast<NodeP>(KX_MALLOC(jbbstorage::kAllocUnit));
  if (p == nullptr) {
    dbErrno = 12;
    return nullptr;
  }
  std::memset(nodeImage(p), 0, kDiskNodeBaseSize);
  setAllocSize(p, jbbstorage::kAllocUnit - kNodePrefixSize);
  setNodeSize(p, uint32_t(kDiskNodeBaseSize));
  setDiskLoc(p, 0);
  return p;
}

NodeP bTree::fetchPage(int32_t s) {
  trPrint(TR_SITE, trClass.BTREEDB, "fetchPage() entry: db file handle = %p, indexArray[%d]\n",
          static_cast<void*>(dbHandle), int(s));
  if (s == 0) return nullptr;
  indexNode* e = entryAt(*this, s);
  if (s < 1 || uint32_t(s) >= cr.currentIXCount || e == nullptr) {
    dbErrno = 22;
    return nodeFailed();
  }
  switch (e->state) {
    case kStateOnDisk: {
      NodeP p = readNode(*this, e, s);
      if (!isRealNode(p)) return p;
      if (addToList(&actList, s) != 0) {
        // Without its actList cell the buffer could never be dropped.
        KX_FREE(p);
        e->node = nullptr;
        e->state = kStateOnDisk;
        return nodeFailed();
      }
      if (purgecache() != 0) return nodeFailed();
      return p;
    }
    case kStateClean:
      e->state = kStateOccupied;
      return e->node;
    case kStateModified:
      e->state = kStateModHold;
      return e->node;
    default:
      return e->node;
  }
}

void bTree::prefetchPage(int32_t s) {
  const indexNode* e = entryAt(*this, s);
  if (e != nullptr && e->state == kStateOnDisk) osFilePrefetch(dbHandle, e->nodePos, size_t(e->nodeSize));
}

int bTree::writePage(NodeP* pp) {
  NodeP p = *pp;
  int32_t s = diskLocOf(p);
  indexNode* e = entryAt(*this, s);
  if (e == nullptr) {
    dbErrno = 22;
    return kResultWriteFailed;
  }
  // The buffer may have moved (extendNode).
  if (e->node != p) e->node = p;
  trPrint(TR_SITE, trClass.BTREEDB, "writePage() entry: p = %p, db handle = %p, count = %d indexArray[%d]\n",
          static_cast<void*>(p), static_cast<void*>(dbHandle), int(countOf(p)), int(s));
  dbErrno = 0;
  if (branchOf(p, 0) == -1) {
    releaseDiskNode(pp);
    return 0;
  }
  if (e->nodePos == cr.lastNDRec) {
    // Even the root waits for the flush: a write in the middle of a change
    // could leave the file with half of it.  The last record claims its
    // grown length at once, before anything can be appended after it.
    uint64_t size = nodeSizeOf(p);
    if (uint64_t(newNDLast) < uint64_t(cr.lastNDRec) + size) {
      if (size > e->slotLength) {
        setSlotLength(p, size);
        e->slotLength = size;
      }
      newNDLast = cr.lastNDRec + int64_t(size);
    }
  }
  e->state = kStateModHold;
  return 0;
}

int32_t bTree::findFit(NodeP p) {
  trPrint(TR_SITE, trClass.BTREEDB, "findFit() entry. p = %p, currentIXCount: %d\n", static_cast<void*>(p),
          int(cr.currentIXCount));
  uint32_t size = nodeSizeOf(p);
  int32_t f = 0;
  for (listCell* c = avlList; c != nullptr; c = c->next) {
    indexNode* g = entryAt(*this, c->subscript);
    if (g != nullptr && g->slotLength >= size) {
      f = c->subscript;
      g->nodeSize = size;
      removeFromList(&avlList, f);
      break;
    }
  }
  if (f == 0) {
    f = addIndexEntry();
    if (f == 0 && dbErrno == 12) {
      trError(kSourceName, __LINE__, trClass.BTREEDB, "findFit(): addIndexEntry() failed on memory allocation.\n");
      return 0;
    }
    indexArray[f].nodeSize = size;
  }
  const indexNode& g = indexArray[f];
  trPrint(TR_SITE, trClass.BTREEDB, "findFit() returning: %d, node: %p, nodePos: %d\n", int(f),
          static_cast<void*>(g.node), int(g.nodePos));
  return f;
}

int bTree::extendNode(NodeP* pp) {
  NodeP p = *pp;
  uint64_t alloc = allocSizeOf(p);
  trPrint(TR_SITE, trClass.BTREEDB, "extendNode(): entry, old p: %p, indexArray[%d], allocSize: %d\n",
          static_cast<void*>(p), int(diskLocOf(p)), int(alloc));
  auto np = static_cast<NodeP>(KX_REALLOC(p, kNodePrefixSize + alloc + jbbstorage::kAllocUnit));
  if (np == nullptr) {
    dbErrno = 12;
    return -1;
  }
  indexNode* e = entryAt(*this, diskLocOf(np));
  if (e != nullptr) e->node = np;
  // The root may be grown through any pointer to it; rootP must follow.
  if (p == rootP) rootP = np;
  *pp = np;
  setAllocSize(np, alloc + jbbstorage::kAllocUnit);
  trPrint(TR_SITE, trClass.BTREEDB, "extendNode(): exit, new p: %p, allocSize: %d\n", static_cast<void*>(np),
          int(alloc + jbbstorage::kAllocUnit));
  return 0;
}

int bTree::releaseDiskNode(NodeP* pp) {
  NodeP p = *pp;
  int32_t s = diskLocOf(p);
  removeFromList(&actList, s);
  indexNode* e = entryAt(*this, s);
  if (e != nullptr) {
    e->state = kStateAvailable;
    setRecordState(p, kRecordFree);
    // A last record that was never written has its slot only in newNDLast;
    // its free header must still lead to the end of that claim.
    if (slotLengthOf(p) == 0 && e->nodePos == cr.lastNDRec) setSlotLength(p, uint64_t(newNDLast - cr.lastNDRec));
    e->slotLength = slotLengthOf(p);
    // The slot becomes free in the file at the next flush, after the nodes
    // that took this node's entries are written; until then it is not
    // offered for reuse either (it is not on avlList).
    if (e->slotLength >= kRecordHeaderSize) {
      PendingRelease r{s, e->nodePos, {}};
      std::memcpy(r.header, nodeImage(p), kRecordHeaderSize);
      pending.releases.push_back(r);
    }
    e->node = nullptr;
  }
  KX_FREE(p);
  if (p == rootP) rootP = nullptr;
  *pp = nullptr;
  return 0;
}

int bTree::RealWriteEx(OsFile* stream, const void* bytes, size_t length, int64_t position) {
  int rc = 0;
  errno = 0;
  if (stream == nullptr || position < 0) {
    int err = stream == nullptr ? EBADF : EINVAL;
    trError(kSourceName, __LINE__, trClass.BTREEDB, "RealWriteEx(): fsetpos: errno %d: '%s' .\n", err,
            std::strerror(err));
    dbErrno = err;
    rc = kResultWriteFailed;
  } else {
    size_t written = osFileWrite(stream, bytes, length, position);
    if (written != length) {
      int err = errno;
      if (err == 0) {
        trError(kSourceName, __LINE__, trClass.BTREEDB, "RealWriteEx(): expected to fwrite %d bytes, only wrote %d .\n",
                int(length), int(written));
        dbErrno = 13;
      } else {
        trError(kSourceName, __LINE__, trClass.BTREEDB, "RealWriteEx(): fwrite: errno: %d: \"%s\".\n", err,
                std::strerror(err));
        dbErrno = err;
      }
      rc = kResultWriteFailed;
    }
  }
  trPrint(TR_SITE, trClass.BTREEDB, "RealWriteEx() exit: rc = %d, dbErrno: %d\n", rc, int(dbErrno));
  return rc;
}

int bTree::WriteCtrlRec() {
  if (dbHandle == nullptr) {
    dbErrno = 22;
    return -1;
  }
  trPrint(TR_SITE, trClass.BTREEDB, "Writing control rec, currentIXCount: %d, lastIndex: %d\n",
          int(cr.currentIXCount), int(cr.lastIndex));
  uint8_t bytes[kCtrlRecSize];
  encodeCtrlRec(cr, bytes);
  // A record that did not reach the file is a failure, whether the write
  // or the flush behind it found out.
  if (osFileWrite(dbHandle, bytes, kCtrlRecSize, 0) == kCtrlRecSize && osFileFlush(dbHandle)) {
    std::memcpy(pending.fileCtrl, bytes, kCtrlRecSize);
    pending.fileCtrlKnown = true;
    return 0;
  }
  int err = errno;
  trError(kSourceName, __LINE__, trClass.BTREEDB, "WriteCtrlRec(): fwrite: errno %d: \"%s\".\n", err,
          std::strerror(err));
  dbErrno = err != 0 ? err : 13;
  return -1;
}
