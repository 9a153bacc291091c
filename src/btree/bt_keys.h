// Internal to the key operations: entries inside a node image, and the
// guarded descent from a node to its child.
//
// Entries
//
// A node image holds `count` entries packed from image offset 72, each
//   nkl (u16, whole length) | dataOffset (u16) | key units..., 0 | data
// (format.h).  Entries sit at any byte address, so a key is read unit by
// unit from its bytes, and copied into aligned storage (KeyCopy) before
// anything takes it as a wchar16 string.
//
// The helpers trust the node image: count and the nkl chain have been
// checked by fetchPage, or were built by our own moves from checked nodes.
// Key reads are still bounded by the entry's own length, so a key without
// its terminator is read as ending at the end of its entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "btree/format.h"
#include "btree/nodebuf.h"
#include "platform/psstr.h"

class bTree;

namespace jbbkeys {

// Start of entry k; k == count gives the end of the last entry.
inline uint8_t* entryAt(NodeP p, int k) {
  uint8_t* e = nodeImage(p) + jbbformat::kNodeEntries;
  for (int i = 0; i < k; ++i) e += jbbformat::getU16(e + jbbformat::kEntryNkl);
  return e;
}

inline uint16_t entryLength(const uint8_t* e) { return jbbformat::getU16(e + jbbformat::kEntryNkl); }

inline const uint8_t* entryData(const uint8_t* e) {
  return e + jbbformat::kEntryDataOffset + jbbformat::getU16(e + jbbformat::kEntryDataOffset);
}

// Bytes of the data record that lie inside the entry (0 when dataOffset
// points past it).
inline size_t entryDataAvailable(const uint8_t* e) {
  size_t start = jbbformat::kEntryDataOffset + jbbformat::getU16(e + jbbformat::kEntryDataOffset);
  size_t length = entryLength(e);
  return start < length ? length - start : 0;
}

// Key order of the tree: unit by unit as unsigned 16-bit values, a prefix
// first.  Returns <0, 0 or >0 as target is below, equal to or above the key
// of entry e.
int compareKey(const wchar16* target, const uint8_t* e);

// The key of entry e as a wchar16 string read where it lies, or null when
// it cannot be: the host's byte order is not the file's, or the key sits at
// an odd address.  Safe because every node image was checked on its way in
// (a zero unit inside each entry) and our own moves copy entries whole.
inline const wchar16* keyInPlace(const uint8_t* e) {
  const uint8_t* key = e + jbbformat::kEntryKey;
  if (!jbbformat::hostIsLittleEndian() || reinterpret_cast<uintptr_t>(key) % alignof(wchar16) != 0) return nullptr;
  return reinterpret_cast<const wchar16*>(key);
}

// An aligned, zero-terminated copy of one entry's key.  Short keys live in
// the object itself; a long one takes a block from the debug allocator.
class KeyCopy {
 public:
  KeyCopy() { inline_[0] = 0; }
  ~KeyCopy();
  KeyCopy(const KeyCopy&) = delete;
  KeyCopy& operator=(const KeyCopy&) = delete;

  // Copies the key of entry e.  False when a long key's block cannot be
  // allocated; the copy is then the empty key.
  bool load(const uint8_t* e);
  const wchar16* get() const { return units_; }

 private:
  static constexpr size_t kInlineUnits = 256;
  wchar16 inline_[kInlineUnits];
  wchar16* units_ = inline_;
  wchar16* heap_ = nullptr;
};

// Descending the tree
//
// A damaged file can point a child back up the tree.  Every descent of the
// search, the walk and the deletion goes through fetchChild, which refuses
//   - a node deeper than kMaxTreeDepth levels below the root (no real tree
//     comes near: 64 levels of nodes with 6 children hold 6^63 entries), and
//   - a node that is already held, that is, already on the path being
//     followed (between public operations only the root is held, and each
//     node of a tree has one parent, so a sound tree never meets a held
//     child).
// A refusal is a failed fetch: nodeFailed() with dbErrno 22.
constexpr int kMaxTreeDepth = 64;

// True when subscript s names a node in memory that an operation holds.
bool isHeld(const bTree& tree, int32_t s);
// fetchPage(s) for a node `depth` levels below the root, refusing the two
// cases above.
NodeP fetchChild(bTree& tree, int32_t s, int depth);

}  // namespace jbbkeys
