// The soundness check of a node image read from the file.  Files come from
// the field and may be damaged; every later reader of a node (the key
// operations step through entries by their nkl lengths and read keys up to
// their terminator) relies on what is checked here.
#include "btree/bt_storage.h"
#include "btree/format.h"

using namespace jbbformat;

namespace jbbstorage {

namespace {

// One entry at image offset off; end is the image's nodeSize.  On success
// *length is the entry's nkl.
bool entrySound(const uint8_t* image, uint64_t off, uint64_t end, uint16_t dataSize, uint64_t* length) {
  if (off + kEntryKey > end) return false;
  uint64_t nkl = getU16(image + off + kEntryNkl);
  uint64_t dataStart = 2 + uint64_t(getU16(image + off + kEntryDataOffset));
  if (nkl > kMaxEntryLength || nkl < kEntryKey + 2 || off + nkl > end) return false;
  if (dataStart < kEntryKey || dataStart + dataSize > nkl) return false;
  // The key runs from offset 4 up to a zero unit that lies wholly inside
  // the entry.  Its terminator is normally the unit just before the data
  // record, so that unit is tried before the whole key is scanned.
  uint64_t room = (nkl - kEntryKey) / 2;
  bool endsAtData = dataStart % 2 == 0 && dataStart >= kEntryKey + 2 && getU16(image + off + dataStart - 2) == 0;
  if (!endsAtData && unitsBeforeZero(image + off + kEntryKey, size_t(room)) == room) return false;
  *length = nkl;
  return true;
}

}  // namespace

bool nodeImageSound(const uint8_t* image, uint64_t nodeSize, uint16_t dataSize) {
  if (nodeSize < kDiskNodeBaseSize || nodeSize > kMaxImageSize) return false;
  if (getU32(image + kNodeSize) != nodeSize) return false;
  // A free slot's header over a stale image is no node.
  if (getU32(image + kNodeRecordState) == kRecordFree) return false;
  int count = getU16(image + kNodeCount);
  if (count > kMaxEntries) return false;
  // branch[0] == -1 is the in-memory mark of a node being released; a
  // stored node never carries it, nor any other negative reference.
  for (int i = 0; i <= count; ++i)
    if (getI32(image + kNodeBranch + 4 * size_t(i)) < 0) return false;
  uint64_t off = kNodeEntries;
  for (int i = 0; i < count; ++i) {
    uint64_t length = 0;
    if (!entrySound(image, off, nodeSize, dataSize, &length)) return false;
    off += length;
  }
  return true;
}

}  // namespace jbbstorage
