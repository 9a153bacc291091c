// Keys in one node: locating, inserting and removing entries.
//
// Nodes keep no table of entry offsets: every position is found by stepping
// over the nkl chain from the first entry.  A node holds at most 10
// entries, so the walks are short.  InsertDatum and RemoveDatum move entries
// only; the callers shift the child references themselves.  Both keep the
// node's index entry in step with its nodeSize.
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

namespace jbbkeys {

int compareKey(const wchar16* target, const uint8_t* e) {
  const uint8_t* key = e + kEntryKey;
  size_t units = entryLength(e) > kEntryKey ? (entryLength(e) - kEntryKey) / 2 : 0;
  for (size_t i = 0;; ++i) {
    uint16_t a = uint16_t(target[i]);
    uint16_t b = i < units ? getU16(key + 2 * i) : 0;
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
  }
}

KeyCopy::~KeyCopy() {
  if (heap_ != nullptr) KX_FREE(heap_);
}

bool KeyCopy::load(const uint8_t* e) {
  const uint8_t* key = e + kEntryKey;
  size_t room = entryLength(e) > kEntryKey ? (entryLength(e) - kEntryKey) / 2 : 0;
  size_t n = unitsBeforeZero(key, room);
  if (heap_ != nullptr) {
    KX_FREE(heap_);
    heap_ = nullptr;
  }
  units_ = inline_;
  if (n + 1 > kInlineUnits) {
    heap_ = static_cast<wchar16*>(KX_MALLOC((n + 1) * sizeof(wchar16)));
    if (heap_ == nullptr) {
      inline_[0] = 0;
      return false;
    }
    units_ = heap_;
  }
  static_assert(sizeof(wchar16) == sizeof(uint16_t), "a key unit is 16 bits");
  getU16s(key, reinterpret_cast<uint16_t*>(units_), n);
  units_[n] = 0;
  return true;
}

}  // namespace jbbkeys

namespace {

// Keeps the index entry's copy of nodeSize equal to the node's own.
void recordNodeSize(bTree* tree, NodeP p) {
  int32_t s = diskLocOf(p);
  if (s > 0 && tree->indexArray != nullptr && uint32_t(s) < tree->indexCapacity) {
    tree->indexArray[s].nodeSize = nodeSizeOf(p);
  }
}

}  // namespace

int bTree::SearchNode(const wchar16* target, NodeP p, int* k) {
  trPrintW(TR_SITE, trClass.BTREEDB, u"SearchNode() entry, target = %s, *k = %d, p = %p\n", target,
           int(countOf(p)), static_cast<void*>(p));
  *k = countOf(p);
  if (*k == 0) return 0;
  int cmp;
  for (;;) {
    cmp = jbbkeys::compareKey(target, entryAt(p, *k - 1));
    if (cmp >= 0) break;
    --*k;
    if (*k == 0) return 0;
  }
  if (cmp != 0) return 0;
  --*k;
  return 1;
}

int bTree::InsertDatum(NodeP* pp, int k, const uint8_t* entry) {
  // An entry is at most 32767 bytes; a longer length reads as negative.
  int nkl = getI16(entry + kEntryNkl);
  NodeP p = *pp;
  if (trClass.BTREEDB) {
    jbbkeys::KeyCopy key;
    key.load(entry);
    trPrintW(TR_SITE, trClass.BTREEDB,
             u"InsertDatum(): entry. p: %p, k: %d, key: %s, nodeSize: %d, allocSize: %d, nkl: %d, count: %d\n",
             static_cast<void*>(p), k, key.get(), int(nodeSizeOf(p)), int(allocSizeOf(p)), nkl, int(countOf(p)));
  }
  if (nkl < int(kEntryKey)) {
    dbErrno = 22;
    return -1;
  }
  if (nodeSizeOf(p) + uint64_t(nkl) > allocSizeOf(p)) {
    if (extendNode(pp) != 0) {
      dbErrno = 12;
      return -1;
    }
    p = *pp;
  }
  // One growth step adds 25340 bytes, more than any entry; a node that
  // arrived with less room than its image still grows until the entry fits.
  while (nodeSizeOf(p) + uint64_t(nkl) > allocSizeOf(p)) {
    trPrint(TR_SITE, trClass.BTREEDB, "InsertDatum(): p: %p buffer underflow!, bp: %p, newLast %p\n",
            static_cast<void*>(p), static_cast<void*>(entryAt(p, k)), static_cast<void*>(entryAt(p, countOf(p))));
    if (extendNode(pp) != 0) {
      dbErrno = 12;
      return -1;
    }
    p = *pp;
  }
  uint8_t* bp = entryAt(p, k);
  uint8_t* newLast = entryAt(p, countOf(p));
  std::memmove(bp + nkl, bp, size_t(newLast - bp));
  std::memcpy(bp, entry, size_t(nkl));
  setCount(p, uint16_t(countOf(p) + 1));
  setNodeSize(p, nodeSizeOf(p) + uint32_t(nkl));
  recordNodeSize(this, p);
  return 0;
}

void bTree::RemoveDatum(NodeP* pp, int k) {
  NodeP p = *pp;
  uint8_t* bp = entryAt(p, k);
  uint16_t nkl = entryLength(bp);
  uint8_t* next = bp + nkl;
  trPrint(TR_SITE, trClass.BTREEDB,
          "RemoveDatum(): entry. p: %p, k: %d, nodeSize: %d, allocSize: %d, nkl: %d, count: %d\n",
          static_cast<void*>(p), k, int(nodeSizeOf(p)), int(allocSizeOf(p)), int(nkl), int(countOf(p)));
  setNodeSize(p, nodeSizeOf(p) - nkl);
  recordNodeSize(this, p);
  if (k != countOf(p) - 1) {
    uint8_t* newLast = entryAt(p, countOf(p));
    trPrint(TR_SITE, trClass.BTREEDB, "RemoveDatum(): memcpy %d, from src %p to bp %p\n", int(newLast - next),
            static_cast<void*>(next), static_cast<void*>(bp));
    std::memmove(bp, next, size_t(newLast - next));
  }
  setCount(p, uint16_t(countOf(p) - 1));
}
