// Storage-internal helpers shared by bt_object.cc, bt_open.cc, bt_cache.cc
// and bt_pageio.cc.  Not for the key operations: they see nodes only through
// the bTree members of jbbtreev.h.
#pragma once

#include <cstdint>

#include "btree/jbbtreev.h"

namespace jbbstorage {

// Node buffers grow by whole allocation units.  A new empty node is one
// unit: an 8-byte allocSize prefix and 25332 image bytes.
constexpr uint64_t kAllocUnit = 25340;
// Bytes a buffer read from disk carries beyond its image.
constexpr uint64_t kReadSlack = 80;
// An entry is at most 32767 bytes (its length is read as a signed 16-bit
// value when entries are moved), so no sound image is larger than this.
constexpr uint64_t kMaxEntryLength = 32767;
constexpr uint64_t kMaxImageSize = 72 + 10 * kMaxEntryLength;

// The name dbFree prints for an index-entry state.
const char* stateName(int32_t state);

// Checks a node image read from a slot before anyone uses it: nodeSize at
// least 72 and equal to the size the index expected, not marked free, at
// most 10 entries, child references of the used positions not negative,
// every entry inside nodeSize, every key terminated and every data record
// of dataSize bytes inside its entry.  Reads nothing outside
// image[0, nodeSize).
bool nodeImageSound(const uint8_t* image, uint64_t nodeSize, uint16_t dataSize);

// Fills the index array (allocated with indexCapacity entries) from
// the record chain that starts at file position pos: live records on disk,
// free ones available and on avlList.  *freeRoot becomes true when the
// root's record is free.  Then brings the control record's counts and last
// slot in line with what was found.  Returns 0 with *endOfData at the end
// of the last slot, or 942 with the cause in dbErrno (22 for a damaged
// chain, else the stream's error).
int loadRecordChain(bTree& t, int64_t pos, bool* freeRoot, int64_t* endOfData);

// Acts on a rollback file beside the open database before anything of the
// file is read: a change cut off by a crash or a power loss is taken back,
// or found complete (bt_update.cc).  Needs the exclusive lock for that, and
// takes it for the moment.  Returns 0, or 942 with dbErrno kErrnoInUse
// (others have the file open), kErrnoPendingConflict (the file was changed
// since) or the failed write's errno.
int recoverInterruptedChange(bTree& t);

// Every read of the database file goes through these three.  A read-only
// object whose file holds a change that a crash cut off reads the file as
// it will be once that change is taken back (bTree::overlay): its old
// bytes laid over what is there, its old length.
size_t readFile(bTree& t, void* buf, size_t n, int64_t pos);
// The n bytes at pos in place, or null (osFileView; never where the
// overlay lies).
const uint8_t* viewFile(bTree& t, int64_t pos, size_t n);
bool sizeOfFile(bTree& t, uint64_t* size);

// Drops the buffer of an entry that leaves memory: no buffer, on disk.
void dropBuffer(bTree& t, indexNode* e);

// Spare node buffers.  The walk hands a child back and reads its sibling
// straight after, and a heap round trip for every node costs more than the
// node's bytes.  So up to SpareBuffers::kMax dropped buffers of at most
// kSpareLimit bytes are kept, and a read takes one that is large enough.
// Spares are used only while the allocator neither traces nor has a test
// failure armed: its trace and its test hook then see exactly the calls
// they would see without them.
constexpr uint64_t kSpareLimit = 16384;
// A zeroed buffer of at least `bytes` bytes (a spare or a new block), or
// null when the heap has none.
NodeP newReadBuffer(bTree& t, uint64_t bytes);
// Hands a node buffer back: kept as a spare, or freed.
void releaseBuffer(bTree& t, NodeP p);
// Frees every spare.
void freeSpareBuffers(bTree& t);

// The index entry of subscript s, or null when s lies outside the array.
// Every lookup by a subscript that came from a list, a node or the file
// goes through here, so a bad subscript can never reach past the array.
inline indexNode* entryAt(const bTree& t, int32_t s) {
  if (t.indexArray == nullptr || s < 1 || uint32_t(s) >= t.indexCapacity) return nullptr;
  return &t.indexArray[s];
}

}  // namespace jbbstorage
