// The entries of one node image, framed in place: the one decoding of a
// node's count, child references and entry boundaries, which the open's
// check of a node, the integrity check and the salvage of damaged files
// share, each with rules of its own.  Nothing here trusts a stored length:
// every read stays below the limit the caller gives.
#pragma once

#include <cstddef>
#include <cstdint>

#include "btree/format.h"

namespace jbbformat {

// One entry as it lies in an image; offsets are from the image's start.
struct FramedEntry {
  size_t offset;     // the entry's first byte
  size_t nkl;        // its stored length
  size_t keyUnits;   // units before the terminator (all units up to the data when unterminated)
  bool terminated;   // a zero unit ends the key before its data record
  size_t dataAt;     // the data record's offset within the entry (2 + dataOffset)
  bool dataInside;   // the data record lies within the entry, after the key
};

// Why framing ended before the entries wanted were framed.
enum class FrameStop {
  None,
  NoRoom,       // fewer than 4 bytes are left for the next entry
  NklTooSmall,  // the next entry's nkl cannot hold a key
  NklPastLimit  // the next entry's nkl runs past the limit
};

struct FramedNode {
  int storedCount = 0;  // the count field as stored
  int32_t branch[kBranches] = {};
  int framed = 0;  // entries framed, from the first on
  FramedEntry entries[kMaxEntries];
  FrameStop stop = FrameStop::None;
  size_t stopNkl = 0;  // the nkl that stopped framing
  size_t end = kNodeEntries;  // just past the last framed entry
  bool entryOk(int i) const { return entries[i].terminated && entries[i].dataInside; }
};

// Reads the count and the child references of the image at `image` and
// frames up to `wanted` (at most 10) entries from offset 72, reading no byte
// at or past `limit`, which is at least 72.
void frameNode(const uint8_t* image, size_t limit, int wanted, size_t dataSize, FramedNode* node);

// The key's unit i of an entry (little-endian in the image).
inline uint16_t keyUnit(const uint8_t* image, const FramedEntry& e, size_t i) {
  return getU16(image + e.offset + kEntryKey + 2 * i);
}

}  // namespace jbbformat
