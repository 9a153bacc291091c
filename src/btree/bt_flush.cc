// The flush: how the changes of a request reach the file.
//
// The key operations change nodes in memory only (writePage defers every
// write, purgecache never writes, a released slot and a new root wait
// too).  The flush settles where each changed node goes, then gathers
// every write of the change, in this order, and hands them to the
// rollback file's commit (rollback.h), which makes them all or none:
//
//  1. Preparation.  Nothing the file's tree uses is touched yet.
//     a. Every write that extends the file, in file order: a node moved to
//        the end of data is written whole but with a free-slot header, so
//        the file still reads as it did; a last record that grows in place
//        writes the part of its image beyond the end of the file.
//     b. The bodies of nodes moving into free slots; the slot keeps its
//        free header, so it still reads as free.
//  2. Commits, one changed node at a time.  A node in place is one write of
//     its image; a moved node is the live header of its new home, then the
//     free header of its old slot.  A node whose image on file holds an
//     entry that its new image gives up (a key not being deleted) is
//     committed only after a node that took that entry: receivers before
//     givers.  If the index array outgrew the size the file's control
//     record gives, the control record is rewritten first (with the root it
//     names on file), so that no subscript on file lies outside it.
//  3. The control record, once per active-list cell.  A new root is named
//     only now, after it and every node that took entries.
//  4. The free headers of released nodes (merged away, or an old root).
//     After the last entry was deleted, the file is cut after the new empty
//     tree instead.
//
// The rollback file makes the order irrelevant to a crash or a power loss;
// it is kept because every state it passes through holds every entry, so a
// file whose rollback file is lost with its folder still reads whole.  A
// change whose writes all find their bytes already in the file writes
// nothing at all: a walk's flush of an unchanged tree leaves the file, and
// its time of change, as they were.
//
// A change that fails is taken back by the commit, and the tree in memory
// is marked stale, so that it is read again from the file before it is
// used: the next request works on what the file holds.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "btree/bt_order.h"
#include "btree/rollback.h"
#include "btree/bt_storage.h"
#include "btree/jbbtreev.h"
#include "platform/osfile.h"
#include "platform/kxmem.h"
#include "trace/trace.h"

using namespace jbbformat;
using jbbstorage::entryAt;

namespace {
constexpr char kSourceName[] = "jbbtreev";

using Bytes = std::vector<uint8_t>;
using jbbstorage::KeySet;
using jbbstorage::NodeView;
using jbbstorage::TreeOnFile;

// One changed node and how it reaches the file.
struct NodeWrite {
  int32_t s = 0;
  int64_t pos = 0;  // where its image goes (the new home when moved)
  uint32_t size = 0;
  bool moved = false;
  bool appended = false;  // moved to the end of data, not into a free slot
  int64_t oldPos = 0;     // moved: the slot it leaves
  uint64_t oldSlot = 0;
  int32_t freeLoc = 0;    // moved: the entry that describes the old slot
  bool committed = false;
};

struct Plan {
  std::vector<NodeWrite> nodes;
  TreeOnFile tree;            // what the file's tree reaches as the writes go on
  int64_t fileEnd = 0;        // the file's length when the flush began
  jbbrollback::Change change;  // every write, in order
  std::vector<uint8_t> ctrl;  // the control record last written, if any
};

bool planned(const Plan& plan, int32_t s) {
  for (const NodeWrite& w : plan.nodes)
    if (w.s == s) return true;
  return false;
}

bool isChanged(int32_t state) { return state == kStateModified || state == kStateModHold; }

// The 24-byte header that marks a slot free.
void freeSlotHeader(uint8_t* header, uint64_t slotLength, int32_t subscript) {
  putU32(header + kNodeSize, uint32_t(slotLength));
  putU32(header + kNodeReserved, 0);
  putU64(header + kNodeSlotLength, slotLength);
  putU32(header + kNodeRecordState, kRecordFree);
  putI32(header + kNodeDiskLoc, subscript);
}

// The keys and child references of a sound node image.
NodeView viewOf(const uint8_t* image) {
  NodeView v;
  int count = getU16(image + kNodeCount);
  const uint8_t* e = image + kNodeEntries;
  for (int i = 0; i < count; ++i) {
    uint16_t nkl = getU16(e + kEntryNkl);
    std::u16string key;
    for (size_t u = kEntryKey; u + 2 <= nkl && getU16(e + u) != 0; u += 2) key.push_back(char16_t(getU16(e + u)));
    v.keys.insert(key);
    e += nkl;
  }
  for (int i = 0; i <= count && i < kBranches; ++i) {
    int32_t r = getI32(image + kNodeBranch + 4 * size_t(i));
    if (r > 0) v.refs.push_back(r);
  }
  return v;
}

// Reads n file bytes at pos; what the file does not hold is left out.
Bytes readBytes(bTree& t, int64_t pos, size_t n) {
  Bytes b(n);
  b.resize(osFileRead(t.dbHandle, b.data(), n, pos));
  return b;
}

// The node image that the file holds at pos (nothing when there is none
// there, or it does not read as a sound node).
NodeView fileViewAt(bTree& t, int64_t pos, uint64_t slot) {
  Bytes header = readBytes(t, pos, kRecordHeaderSize);
  if (header.size() < kRecordHeaderSize || getU32(header.data() + kNodeRecordState) == kRecordFree) return {};
  uint64_t size = getU32(header.data() + kNodeSize);
  if (size < kDiskNodeBaseSize || size > slot || size > jbbstorage::kMaxImageSize) return {};
  Bytes image = readBytes(t, pos, size_t(size));
  if (image.size() != size || !jbbstorage::nodeImageSound(image.data(), size, t.dataSize)) return {};
  return viewOf(image.data());
}

// ---------------------------------------------------------------------------
// Placement: where each changed node goes, settled in memory first.

int place(bTree& t, Plan& plan, int32_t s);

// A node that has outgrown its slot moves: into the first free slot long
// enough (the two entries exchange slots), or to the end of data (a new
// entry takes over the old slot).  The last record, when changed, is
// placed first, so that it grows in place and the end of data moves past
// it before anything is appended.
int relocate(bTree& t, Plan& plan, int32_t s, NodeWrite* w) {
  NodeP p = t.indexArray[s].node;
  int32_t f = t.findFit(p);
  if (f == 0 && t.dbErrno == 12) {
    trError(kSourceName, __LINE__, trClass.BTREEDB, "RealWrite() findFit() failed.\n");
    return kResultMemory;
  }
  int32_t kind = t.indexArray[f].state;
  if (kind == kStateUnassigned) {
    indexNode* last = entryAt(t, t.cr.lastIndex);
    if (last != nullptr && last->nodePos == t.cr.lastNDRec && isChanged(last->state) && !planned(plan, t.cr.lastIndex)) {
      int rc = place(t, plan, t.cr.lastIndex);
      if (rc != 0) return rc;
    }
  } else if (kind != kStateAvailable) {
    t.dbErrno = 22;
    return kResultWriteFailed;
  }
  indexNode* e = &t.indexArray[s];
  indexNode* g = &t.indexArray[f];
  w->moved = true;
  w->oldPos = e->nodePos;
  w->oldSlot = e->slotLength;
  w->freeLoc = f;
  if (kind == kStateAvailable) {
    e->nodePos = g->nodePos;
    e->slotLength = g->slotLength;
  } else {
    w->appended = true;
    g->state = kStateAvailable;
    e->nodePos = t.newNDLast;
    e->slotLength = nodeSizeOf(p);
    t.cr.lastNDRec = t.newNDLast;
    t.cr.lastIndex = diskLocOf(p);
    t.newNDLast += int64_t(nodeSizeOf(p));
  }
  g->nodePos = w->oldPos;
  g->slotLength = w->oldSlot;
  return 0;
}

int place(bTree& t, Plan& plan, int32_t s) {
  NodeWrite w;
  w.s = s;
  indexNode* e = &t.indexArray[s];
  NodeP p = e->node;
  // The node's own size is what its buffer holds.
  e->nodeSize = nodeSizeOf(p);
  if (e->nodePos != t.cr.lastNDRec && e->nodeSize > e->slotLength) {
    int rc = relocate(t, plan, s, &w);
    if (rc != 0) return rc;
    e = &t.indexArray[s];  // findFit may have grown the array
  }
  if (e->nodePos == t.cr.lastNDRec) {
    // The last record grows in place and claims its length.
    if (t.newNDLast < t.cr.lastNDRec + int64_t(e->nodeSize)) t.newNDLast = t.cr.lastNDRec + int64_t(e->nodeSize);
    if (e->nodeSize > e->slotLength) e->slotLength = e->nodeSize;
  }
  // The image written always carries its current slot length.
  setSlotLength(p, e->slotLength);
  w.pos = e->nodePos;
  w.size = uint32_t(e->nodeSize);
  plan.nodes.push_back(std::move(w));
  return 0;
}

// The tree as the file holds it and as memory will leave it.
void readFileCopies(bTree& t, Plan& plan) {
  for (NodeWrite& w : plan.nodes) {
    NodeP p = t.indexArray[w.s].node;
    int64_t from = w.moved ? w.oldPos : w.pos;
    uint64_t slot = w.moved ? w.oldSlot : std::max<uint64_t>(t.indexArray[w.s].slotLength, w.size);
    plan.tree.addNode(w.s, fileViewAt(t, from, slot), true, viewOf(nodeImage(p)));
  }
  for (const PendingRelease& r : t.pending.releases)
    plan.tree.addNode(r.subscript, fileViewAt(t, r.pos, getU64(r.header + kNodeSlotLength)), false, {});
  int32_t fileRoot = t.cr.rootOffset;
  if (t.pending.fileCtrlKnown) fileRoot = getI32(t.pending.fileCtrl + kCrRootOffset);
  plan.tree.setRoots(fileRoot, t.cr.rootOffset);
  plan.tree.start();
}

// ---------------------------------------------------------------------------
// Execution.

// Adds a write of n bytes at pos to the change.
void addWrite(Plan& plan, const uint8_t* bytes, size_t n, int64_t pos) { plan.change.write(pos, bytes, n); }

// The control record from cr.
void writeControlRecord(bTree& t, Plan& plan) {
  trPrint(TR_SITE, trClass.BTREEDB, "Writing control rec, currentIXCount: %d, lastIndex: %d\n",
          int(t.cr.currentIXCount), int(t.cr.lastIndex));
  plan.ctrl.resize(kCtrlRecSize);
  encodeCtrlRec(t.cr, plan.ctrl.data());
  addWrite(plan, plan.ctrl.data(), kCtrlRecSize, 0);
}

// Step 1: everything that extends the file, then the bodies that go into
// free slots.
void prepare(bTree& t, Plan& plan) {
  std::vector<NodeWrite*> order;
  for (NodeWrite& w : plan.nodes) order.push_back(&w);
  auto end = [](const NodeWrite* w) { return w->pos + int64_t(w->size); };
  std::stable_sort(order.begin(), order.end(), [&](const NodeWrite* a, const NodeWrite* b) {
    bool ax = end(a) > plan.fileEnd, bx = end(b) > plan.fileEnd;
    if (ax != bx) return ax;
    return ax && a->pos < b->pos;
  });
  for (NodeWrite* w : order) {
    const uint8_t* image = nodeImage(t.indexArray[w->s].node);
    int64_t from = w->pos;
    Bytes bytes(image, image + w->size);
    if (w->appended) {
      putU32(bytes.data() + kNodeRecordState, kRecordFree);  // reads as free until committed
    } else if (w->moved) {
      from = w->pos + int64_t(kRecordHeaderSize);  // the slot's own free header stays
    } else {
      from = std::max(w->pos, plan.fileEnd);  // only what lies beyond the file
    }
    if (from >= end(w)) continue;
    size_t skip = size_t(from - w->pos);
    addWrite(plan, bytes.data() + skip, bytes.size() - skip, from);
    // A record in place that lay wholly beyond the file (a new root never
    // written) was written whole: nothing on file referred to it.
    if (!w->moved && w->pos >= plan.fileEnd) {
      w->committed = true;
      plan.tree.written(w->s);
      t.indexArray[w->s].state = kStateOccupied;
    }
  }
}

// Commits one node: its image in place, or its new home's live header and
// then the old slot's free header.
void commit(bTree& t, Plan& plan, NodeWrite& w) {
  indexNode* e = &t.indexArray[w.s];
  NodeP p = e->node;
  trPrint(TR_SITE, trClass.BTREEDB, "RealWrite() entry: indexArray[%d]\n", int(diskLocOf(p)));
  if (!w.moved) {
    addWrite(plan, nodeImage(p), w.size, w.pos);
  } else {
    uint8_t header[kRecordHeaderSize];
    freeSlotHeader(header, w.oldSlot, w.freeLoc);
    addWrite(plan, nodeImage(p), kRecordHeaderSize, w.pos);
    addWrite(plan, header, sizeof header, w.oldPos);
    // The old slot is free from now on.
    int32_t savedErrno = t.dbErrno;
    if (t.addToList(&t.avlList, w.freeLoc) != 0) t.dbErrno = savedErrno;
  }
  w.committed = true;
  e = &t.indexArray[w.s];
  e->state = kStateOccupied;
  trPrint(TR_SITE, trClass.BTREEDB, "RealWrite() exit: newNDLast: %d\n", int(t.newNDLast));
}

// Step 2: the commits, each only when the file's tree stays sound after
// it.  Among the nodes that may go next, those inside the old file go
// first, so that a failure leaves the file as long as possible in a state
// that can still be cut back.
void commitAll(bTree& t, Plan& plan) {
  for (;;) {
    NodeWrite* next = nullptr;
    for (int pass = 0; pass < 2 && next == nullptr; ++pass) {
      for (NodeWrite& w : plan.nodes) {
        bool pastEnd = w.pos + int64_t(w.size) > plan.fileEnd;
        if (!w.committed && pastEnd == (pass == 1) && plan.tree.safeToWrite(w.s)) {
          next = &w;
          break;
        }
      }
    }
    if (next == nullptr) {
      // No order keeps the whole tree (only a damaged tree gets here).
      for (NodeWrite& w : plan.nodes)
        if (!w.committed) {
          trPrint(TR_SITE, trClass.BTREEDB, "FlushMemNodes(): no safe order left, writing indexArray[%d]\n", int(w.s));
          next = &w;
          break;
        }
    }
    if (next == nullptr) return;
    commit(t, plan, *next);
    plan.tree.written(next->s);
  }
}

// Before any subscript beyond the file's index-array size reaches the
// file, the control record must cover it; the root stays the one on file.
void coverNewSubscripts(bTree& t, Plan& plan) {
  if (!t.pending.fileCtrlKnown) return;
  CtrlRec onFile;
  decodeCtrlRec(t.pending.fileCtrl, &onFile);
  if (onFile.indexArraySize >= t.cr.indexArraySize) return;
  int32_t root = t.cr.rootOffset;
  t.cr.rootOffset = onFile.rootOffset;
  writeControlRecord(t, plan);
  t.cr.rootOffset = root;
}

// Step 4.  A slot whose node the tree would still need stays live: lost
// space, never a lost entry.
void releaseSlots(bTree& t, Plan& plan) {
  for (const PendingRelease& r : t.pending.releases) {
    if (!plan.tree.safeToWrite(r.subscript)) {
      trPrint(TR_SITE, trClass.BTREEDB, "FlushMemNodes(): indexArray[%d] still needed, its slot stays\n",
              int(r.subscript));
      continue;
    }
    addWrite(plan, r.header, kRecordHeaderSize, r.pos);
    plan.tree.written(r.subscript);
    int32_t savedErrno = t.dbErrno;
    if (t.addToList(&t.avlList, r.subscript) != 0) t.dbErrno = savedErrno;
  }
}

// The database's writes go through RealWriteEx, which reports a failure.
class TreeWriter : public jbbrollback::Writer {
 public:
  explicit TreeWriter(bTree& t) : t_(t) {}
  bool write(OsFile* db, int64_t pos, const uint8_t* bytes, size_t n) override {
    if (t_.RealWriteEx(db, bytes, n, pos) == 0) return true;
    errno = t_.dbErrno;
    return false;
  }

 private:
  bTree& t_;
};

// Hands the gathered change to the commit, under the exclusive lock (taken
// here for this change alone when no update holds it).  On failure the tree
// is stale.
int applyChange(bTree& t, Plan& plan) {
  if (plan.change.empty()) return 0;
  if (t.readOnly) {
    t.dbErrno = EROFS;
    t.mustReload = true;
    return kResultWriteFailed;
  }
  bool lockedHere = osFileLockHeld(t.dbHandle) != OsLock::kExclusive;
  if (lockedHere && !osFileLock(t.dbHandle, OsLock::kExclusive)) {
    t.dbErrno = errno == EAGAIN ? kErrnoInUse : (errno != 0 ? errno : 13);
    t.mustReload = true;
    return kResultWriteFailed;
  }
  TreeWriter writer(t);
  jbbrollback::CommitResult result = jbbrollback::commit(t.dbHandle, plan.change, writer);
  int err = errno;
  if (lockedHere) osFileLock(t.dbHandle, OsLock::kShared);
  if (result == jbbrollback::CommitResult::kDone) {
    t.unsettled = true;
    if (!plan.ctrl.empty()) {
      std::memcpy(t.pending.fileCtrl, plan.ctrl.data(), kCtrlRecSize);
      t.pending.fileCtrlKnown = true;
    }
    return 0;
  }
  trPrint(TR_SITE, trClass.BTREEDB, "FlushMemNodes(): the change was not made (%s)\n",
          result == jbbrollback::CommitResult::kLeftPending ? "its rollback file stays" : "the file is as it was");
  t.dbErrno = err != 0 ? err : 13;
  t.mustReload = true;
  return kResultWriteFailed;
}

// Writes the nodes `subs` (and what their placement brings in), then, when
// asked, the control record `ctrlWrites` times and the released slots.
int writeChanges(bTree& t, const std::vector<int32_t>& subs, int ctrlWrites, bool releases) {
  Plan plan;
  uint64_t size = 0;
  if (!osFileSizeOf(t.dbHandle, &size)) {
    t.dbErrno = errno != 0 ? errno : 13;
    t.mustReload = true;
    return kResultWriteFailed;
  }
  plan.fileEnd = int64_t(size);
  for (int32_t s : subs) {
    if (planned(plan, s)) continue;
    int rc = place(t, plan, s);
    if (rc != 0) {
      t.mustReload = true;  // placement has changed the index in memory
      return rc;
    }
  }
  readFileCopies(t, plan);
  prepare(t, plan);
  coverNewSubscripts(t, plan);
  commitAll(t, plan);
  if (ctrlWrites > 0 && !plan.tree.safeToRenameRoot()) {
    // Naming the new root would cut entries off (only a damaged tree gets
    // here): nothing of the change is written, and it counts as failed.
    trPrint(TR_SITE, trClass.BTREEDB, "FlushMemNodes(): root %d not named\n", int(t.cr.rootOffset));
    t.dbErrno = 22;
    t.mustReload = true;
    return kResultWriteFailed;
  }
  for (int i = 0; i < ctrlWrites; ++i) writeControlRecord(t, plan);
  plan.tree.rootRenamed();
  if (releases) releaseSlots(t, plan);
  // A re-initialised database: the old tree's records after the new root
  // go last, when everything before them is on file.
  if (releases && t.pending.reinitialise) plan.change.cut(t.newNDLast);
  int rc = applyChange(t, plan);
  if (rc == 0 && ctrlWrites == 0 && !plan.change.empty()) t.pending.controlRecord = true;
  return rc;
}

int cellCount(const listCell* c) {
  int n = 0;
  for (; c != nullptr; c = c->next) ++n;
  return n;
}
}  // namespace

int bTree::RealWrite(indexNode* e) {
  if (e->node == nullptr) {
    trPrint(TR_SITE, trClass.BTREEDB, "RealWrite() entry: indexArray[%d]\n", -1);
    trPrint(TR_SITE, trClass.BTREEDB, "RealWrite() exit: newNDLast: %d\n", int(newNDLast));
    return 0;
  }
  if (dbHandle == nullptr) {
    dbErrno = EBADF;
    return kResultWriteFailed;
  }
  return writeChanges(*this, {int32_t(e - indexArray)}, 0, false);
}

int bTree::FlushMemNodes() {
  trPrint(TR_SITE, trClass.BTREEDB, "FlushMemNodes() entry: currentIXCount = %d, actList = %p\n",
          int(cr.currentIXCount), static_cast<void*>(actList));
  int result = 0;
  if (dbHandle != nullptr) freshRoot = false;
  if (dbHandle != nullptr && !mustReload) {
    std::vector<int32_t> changed;
    for (listCell* c = actList; c != nullptr; c = c->next) {
      indexNode* e = entryAt(*this, c->subscript);
      if (e == nullptr || !isChanged(e->state)) continue;
      trPrint(TR_SITE, trClass.BTREEDB, "FlushMemNodes(): found mod at = %d, disk location: %lld\n",
              int(c->subscript), static_cast<long long>(diskLocOf(e->node)));
      changed.push_back(c->subscript);
    }
    // With nothing changed there is nothing to write, not even the control
    // record: cr may differ from the file's only where the open brought a
    // lagging record in line, which the next change writes.
    bool anything = !changed.empty() || !pending.releases.empty() || pending.reinitialise || pending.controlRecord;
    int cells = cellCount(actList);
    if (anything) result = writeChanges(*this, changed, cells > 0 ? cells : 1, true);
  }
  pending.clear();
  // Every buffer goes; a node that could not be written goes unwritten, and
  // the tree is then stale.
  while (actList != nullptr) {
    int32_t s = actList->subscript;
    indexNode* e = entryAt(*this, s);
    int32_t state = e != nullptr ? e->state : kStateUnassigned;
    if (state != kStateClean && state != kStateOccupied && !isChanged(state))
      trPrint(TR_SITE, trClass.BTREEDB, "FlushMemNodes() invalid entry in the  activeNode list: %d\n", int(s));
    if (e != nullptr && state >= kStateOccupied && state <= kStateModHold) jbbstorage::dropBuffer(*this, e);
    listCell* head = actList;
    actList = head->next;
    KX_FREE(head);
  }
  freeList(&avlList);
  // Every buffer is gone, the root's too.
  rootP = nullptr;
  return result;
}
