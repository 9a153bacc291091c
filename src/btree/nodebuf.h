// A node in memory: one heap block from the debug allocator.
//
//   OFFSET  SIZE       FIELD
//   0       8          allocSize   capacity of the image area that follows
//                                  (unsigned, host-independent little-endian)
//   8       allocSize  image       the node image of format.h, exactly what
//                                  the node's slot holds; nodeSize bytes used
//
// Invariant: the block is at least 8 + allocSize bytes long, and
// nodeSize <= allocSize.  Entries are packed, so a key or data record inside
// the image may sit at any byte address: the accessors below read and write
// bytes, never through a cast pointer.
#pragma once

#include <cstdint>

#include "btree/format.h"

typedef uint8_t* NodeP;

constexpr size_t kNodePrefixSize = 8;

// fetchPage's failure value: all bits set, distinct from null ("no node").
inline NodeP nodeFailed() { return reinterpret_cast<NodeP>(~uintptr_t{0}); }
inline bool isRealNode(NodeP p) { return p != nullptr && p != nodeFailed(); }

inline uint8_t* nodeImage(NodeP p) { return p + kNodePrefixSize; }
inline const uint8_t* nodeImage(const uint8_t* p) { return p + kNodePrefixSize; }

inline uint64_t allocSizeOf(const uint8_t* p) { return jbbformat::getU64(p); }
inline void setAllocSize(NodeP p, uint64_t v) { jbbformat::putU64(p, v); }

inline uint32_t nodeSizeOf(const uint8_t* p) { return jbbformat::getU32(nodeImage(p) + jbbformat::kNodeSize); }
inline void setNodeSize(NodeP p, uint32_t v) { jbbformat::putU32(nodeImage(p) + jbbformat::kNodeSize, v); }
inline uint64_t slotLengthOf(const uint8_t* p) { return jbbformat::getU64(nodeImage(p) + jbbformat::kNodeSlotLength); }
inline void setSlotLength(NodeP p, uint64_t v) { jbbformat::putU64(nodeImage(p) + jbbformat::kNodeSlotLength, v); }
inline uint32_t recordStateOf(const uint8_t* p) { return jbbformat::getU32(nodeImage(p) + jbbformat::kNodeRecordState); }
inline void setRecordState(NodeP p, uint32_t v) { jbbformat::putU32(nodeImage(p) + jbbformat::kNodeRecordState, v); }
inline int32_t diskLocOf(const uint8_t* p) { return jbbformat::getI32(nodeImage(p) + jbbformat::kNodeDiskLoc); }
inline void setDiskLoc(NodeP p, int32_t v) { jbbformat::putI32(nodeImage(p) + jbbformat::kNodeDiskLoc, v); }
inline uint16_t countOf(const uint8_t* p) { return jbbformat::getU16(nodeImage(p) + jbbformat::kNodeCount); }
inline void setCount(NodeP p, uint16_t v) { jbbformat::putU16(nodeImage(p) + jbbformat::kNodeCount, v); }
inline int32_t branchOf(const uint8_t* p, int i) {
  return jbbformat::getI32(nodeImage(p) + jbbformat::kNodeBranch + 4 * size_t(i));
}
inline void setBranch(NodeP p, int i, int32_t v) {
  jbbformat::putI32(nodeImage(p) + jbbformat::kNodeBranch + 4 * size_t(i), v);
}
