// Writes a tree as a journal database file, byte for byte as
// btree/format.h lays it out.
//
// Layout of a built file: the control record, then one slot per node.  By
// default the nodes follow the tree breadth first (the root at 2088), each
// slot exactly as long as its node, and subscripts are handed out in file
// order from 1, so the root's subscript is 1.  The layout options add free
// slots between the records, give every node's slot extra bytes, or place
// the nodes in a seeded random order (subscripts still follow file order,
// so the root's subscript then varies).  The control record is consistent
// with what was written: rootOffset names the root, currentIXCount is one
// past the highest subscript, indexArraySize the next multiple of 500 that
// holds it, lastNDRec and lastIndex name the last slot.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "builder/damage.h"
#include "builder/fileio.h"
#include "builder/records.h"
#include "builder/tree.h"

namespace jbbbuilder {

struct Layout {
  int freeSlots = 0;          // free slots spread between the live records
  uint32_t freeSlotSize = 120;  // slot length of each free slot (>= 24)
  uint32_t slack = 0;         // stale bytes past every node in its slot
  // When set, the stale bytes of the node that gets this subscript
  // (instead of `slack`).
  std::function<uint32_t(int32_t subscript)> slackOf;
  bool shuffle = false;       // nodes in a seeded random order
  uint64_t shuffleSeed = 1;
  // When not empty, the nodes' file order as breadth-first indices (0 is
  // the root); it must name every node once.  Overrides `shuffle`.
  std::vector<size_t> nodeOrder;
  // An empty tree is written as a database that has been created and
  // closed (a 72-byte root record, 2160 bytes); false writes only the
  // control record (2088 bytes), as a database just created.
  bool writeEmptyRoot = true;
};

// Control-record fields forced to a value after the consistent ones were
// computed.
struct CtrlOverrides {
  std::optional<uint16_t> magic;
  std::optional<uint8_t> majorVersion, minorVersion;
  std::optional<int32_t> rootOffset;
  std::optional<uint32_t> indexArraySize, currentIXCount;
  std::optional<int32_t> lastIndex;
  std::optional<int64_t> lastNDRec;
  std::optional<uint16_t> dataSize;  // stored value only; records keep DbSpec::dataSize
  std::array<uint8_t, 4> pad1{}, pad2{};
};

struct DbSpec {
  uint16_t dataSize = 32;
  uint16_t keyLength = 0;
  JournalInfo info;
  // When set, the journal information area is taken as it stands instead of
  // being encoded from `info`.
  std::optional<std::array<uint8_t, 2048>> rawInfoArea;
  CtrlOverrides ctrl;
  Layout layout;
  Damage damage = Damage::None;
  int32_t damageTarget = 0;  // subscript; 0 = the root's record
};

// One slot of a built file, in file order.
struct Placement {
  int32_t subscript;
  int64_t position;
  uint64_t slotLength;
  uint32_t nodeSize;
  bool free;
  const TreeNode* node;  // into the tree given to buildImage; null for a free slot
};

struct BuiltImage {
  Bytes bytes;
  std::vector<Placement> slots;  // file order
  int32_t rootSubscript = 0;
  size_t entryCount = 0;
};

// Fails (with *error) on a node of more than 10 entries, an interior node
// without count + 1 children, a key holding a zero unit, data longer than
// dataSize, an entry longer than 32767 bytes, a journal information field
// that does not fit, or a damage kind that does not apply.
bool buildImage(const TreeNode& root, const DbSpec& spec, BuiltImage* image, std::string* error);
// buildImage, then one write of the whole file (fileio.h).
bool writeDatabase(const std::string& path, const TreeNode& root, const DbSpec& spec,
                   std::string* error, BuiltImage* image = nullptr);
// parseShape, then writeDatabase.
bool writeShape(const std::string& path, const std::string& shape, const DbSpec& spec,
                std::string* error);

}  // namespace jbbbuilder
