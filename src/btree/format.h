// The journal database file (.jbbdb), byte for byte.
//
// This header is the one statement of the on-disk layout; the B-tree, the
// viewer, the test-database builder and the checker all read and write the
// file through it.  All integers are little-endian on every host and are
// decoded and encoded explicitly (getU16 ... putI64); no structure is ever
// read from or written to the file by casting.
//
// File
//   OFFSET  SIZE             CONTENT
//   0       2088             control record
//   2088    to end of data   node records, one after another, each in a slot
//                            of its own: record i+1 starts at
//                            position(i) + slotLength(i)
//
// Control record (2088 bytes)
//   OFFSET  SIZE  FIELD            MEANING
//   0       2     magic            0xABCD (bytes CD AB)
//   2       1     majorVersion     2 (written, never tested)
//   3       1     minorVersion     1 (written, never tested)
//   4       4     rootOffset       index-array subscript of the root (signed)
//   8       4     indexArraySize   index-array capacity, a multiple of 500
//   12      4     currentIXCount   next subscript to hand out; 0 is reserved,
//                                  1 .. currentIXCount-1 are in use
//   16      4     lastIndex        subscript last appended at the end (signed)
//   20      4     (padding)        carried unchanged
//   24      8     lastNDRec        file position of the last slot (signed)
//   32      2     keyLength        key length in bytes, 0 = variable
//   34      2     dataSize         size of every entry's data record
//   36      2048  journalInfoArea  opaque to the B-tree (the viewer's)
//   2084    4     (padding)        carried unchanged
//
// Node record = node image, exactly nodeSize bytes, in a slot of slotLength
// bytes (slot bytes past nodeSize are stale).  Its first 24 bytes are the
// record header.
//   OFFSET  SIZE  FIELD         MEANING
//   0       4     nodeSize      72 + the lengths of the entries
//   4       4     (reserved)    0 when written from an image; ignored
//   8       8     slotLength    distance to the next record
//   16      4     recordState   1 = free slot; anything else = live (0)
//   20      4     diskLoc       subscript (>= 1) of the describing entry
//   24      2     count         entries in the node, 0..10
//   26      2     (alignment)
//   28      44    branch[11]    child subscripts (signed); 0 = no child;
//                               branch[0] == -1 marks a node being released
//   72      ...   entries       count entries, packed, ascending key order
//
// Entry (variable length)
//   OFFSET          SIZE      FIELD       MEANING
//   0               2         nkl         total entry length in bytes
//   2               2         dataOffset  data record starts at 2 + dataOffset
//   4               2 * n     key         16-bit code units, zero-terminated
//   2 + dataOffset  dataSize  data        the entry's fixed-size record
//
// Invariants of a well-formed file
//   - currentIXCount <= indexArraySize; every diskLoc is in 1..indexArraySize-1
//   - every slot is >= 24 bytes; slotLength >= nodeSize for a live node
//   - slots tile [2088, end of data) without gap or overlap
//   - no two live records carry one diskLoc
//   - the slot at lastNDRec is the last slot; rootOffset names a live node
//   - keys ascend strictly (unsigned 16-bit units) within a node and in
//     order across the tree; every node but the root holds 5..10 entries;
//     all leaves are at one depth; a node is a leaf exactly when branch[0]
//     is 0, and an interior node's branch[0..count] are all non-zero
//
// A free slot (recordState 1) keeps a complete header: its slotLength still
// leads to the next record, its diskLoc names the entry that describes it,
// and its nodeSize must not be relied on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace jbbformat {

constexpr size_t kCtrlRecSize = 2088;
constexpr size_t kJournalInfoOffset = 36;
constexpr size_t kJournalInfoSize = 2048;
constexpr size_t kRecordHeaderSize = 24;
constexpr size_t kDiskNodeBaseSize = 72;
constexpr int kMaxEntries = 10;      // "# slots per disknode"
constexpr int kBranches = 11;
constexpr int kMinFill = 5;          // every node but the root
constexpr uint16_t kMagic = 0xABCD;
constexpr uint8_t kMajorVersion = 2;
constexpr uint8_t kMinorVersion = 1;
constexpr uint32_t kIndexGrowth = 500;
constexpr uint32_t kRecordFree = 1;

// Control record offsets.
constexpr size_t kCrMagic = 0, kCrMajor = 2, kCrMinor = 3, kCrRootOffset = 4,
                 kCrIndexArraySize = 8, kCrCurrentIXCount = 12,
                 kCrLastIndex = 16, kCrPad1 = 20, kCrLastNDRec = 24,
                 kCrKeyLength = 32, kCrDataSize = 34, kCrPad2 = 2084;

// Node image offsets (the record header is the first 24 bytes).
constexpr size_t kNodeSize = 0, kNodeReserved = 4, kNodeSlotLength = 8,
                 kNodeRecordState = 16, kNodeDiskLoc = 20, kNodeCount = 24,
                 kNodeBranch = 28, kNodeEntries = 72;

// Entry offsets.
constexpr size_t kEntryNkl = 0, kEntryDataOffset = 2, kEntryKey = 4;

inline uint16_t getU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t getU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t getU64(const uint8_t* p) { return uint64_t(getU32(p)) | (uint64_t(getU32(p + 4)) << 32); }
inline int16_t getI16(const uint8_t* p) { return int16_t(getU16(p)); }
inline int32_t getI32(const uint8_t* p) { return int32_t(getU32(p)); }
inline int64_t getI64(const uint8_t* p) { return int64_t(getU64(p)); }

// Keys are runs of 16-bit units.  These two read them eight bytes at a
// time where the host's byte order is the file's, unit by unit elsewhere.
inline bool hostIsLittleEndian() {
  const uint16_t one = 1;
  uint8_t first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}
// The number of units before the first zero unit among the `units` units
// at p (units when there is none).
inline size_t unitsBeforeZero(const uint8_t* p, size_t units) {
  size_t i = 0;
  if (hostIsLittleEndian()) {
    constexpr uint64_t kLow = 0x0001000100010001ull, kHigh = 0x8000800080008000ull;
    for (; i + 4 <= units; i += 4) {
      uint64_t word;
      std::memcpy(&word, p + 2 * i, 8);
      if (((word - kLow) & ~word & kHigh) != 0) break;  // a zero unit among these four
    }
  }
  while (i < units && getU16(p + 2 * i) != 0) ++i;
  return i;
}
// Decodes n little-endian units at p into dst.
inline void getU16s(const uint8_t* p, uint16_t* dst, size_t n) {
  if (hostIsLittleEndian()) {
    std::memcpy(dst, p, 2 * n);
    return;
  }
  for (size_t i = 0; i < n; ++i) dst[i] = getU16(p + 2 * i);
}

inline void putU16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void putU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}
inline void putU64(uint8_t* p, uint64_t v) { putU32(p, uint32_t(v)); putU32(p + 4, uint32_t(v >> 32)); }
inline void putI32(uint8_t* p, int32_t v) { putU32(p, uint32_t(v)); }
inline void putI64(uint8_t* p, int64_t v) { putU64(p, uint64_t(v)); }

}  // namespace jbbformat

// The control record decoded.  The two padding fields are kept so that a
// record read and written again is unchanged byte for byte.
struct CtrlRec {
  uint16_t magic;
  uint8_t majorVersion;
  uint8_t minorVersion;
  int32_t rootOffset;
  uint32_t indexArraySize;
  uint32_t currentIXCount;
  int32_t lastIndex;
  uint8_t pad1[4];
  int64_t lastNDRec;
  uint16_t keyLength;
  uint16_t dataSize;
  uint8_t journalInfoArea[jbbformat::kJournalInfoSize];
  uint8_t pad2[4];
};

void decodeCtrlRec(const uint8_t* bytes, CtrlRec* cr);
void encodeCtrlRec(const CtrlRec& cr, uint8_t* bytes);
