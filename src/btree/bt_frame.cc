// Framing the entries of a node image.
#include "btree/frame.h"

namespace jbbformat {

namespace {

// Finds the key's terminator and checks that the data record fits.
void frameEntry(const uint8_t* e, size_t dataSize, FramedEntry* f) {
  size_t keyEnd = f->dataAt < f->nkl ? f->dataAt : f->nkl;  // the key ends before its data
  size_t units = keyEnd > kEntryKey ? (keyEnd - kEntryKey) / 2 : 0;
  f->keyUnits = unitsBeforeZero(e + kEntryKey, units);
  f->terminated = f->keyUnits < units;
  f->dataInside = f->dataAt >= kEntryKey + 2 * (f->keyUnits + 1) && f->dataAt + dataSize <= f->nkl;
}

}  // namespace

void frameNode(const uint8_t* image, size_t limit, int wanted, size_t dataSize, FramedNode* node) {
  node->storedCount = getU16(image + kNodeCount);
  for (int i = 0; i < kBranches; ++i) node->branch[i] = getI32(image + kNodeBranch + 4 * size_t(i));
  node->framed = 0;
  node->stop = FrameStop::None;
  size_t off = kNodeEntries;
  if (wanted > kMaxEntries) wanted = kMaxEntries;
  for (int i = 0; i < wanted; ++i) {
    if (limit - off < kEntryKey) {
      node->stop = FrameStop::NoRoom;
      break;
    }
    size_t nkl = getU16(image + off + kEntryNkl);
    if (nkl < kEntryKey + 2 || nkl > limit - off) {
      node->stop = nkl < kEntryKey + 2 ? FrameStop::NklTooSmall : FrameStop::NklPastLimit;
      node->stopNkl = nkl;
      break;
    }
    FramedEntry& f = node->entries[node->framed++];
    f.offset = off;
    f.nkl = nkl;
    f.dataAt = 2 + size_t(getU16(image + off + kEntryDataOffset));
    frameEntry(image + off, dataSize, &f);
    off += nkl;
  }
  node->end = off;
}

}  // namespace jbbformat
