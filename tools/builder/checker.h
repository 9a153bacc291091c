// The engine's integrity check (btree/check.h) for the tests: the whole
// result in memory, as lists of slots, nodes (breadth first) and, when
// asked, entries and the tree's shape text.  jbbtool uses the engine's
// check directly, streaming.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "builder/keys.h"
#include "builder/records.h"

namespace jbbbuilder {

struct CtrlInfo {
  uint16_t magic = 0;
  uint8_t majorVersion = 0, minorVersion = 0;
  int32_t rootOffset = 0;
  uint32_t indexArraySize = 0, currentIXCount = 0;
  int32_t lastIndex = 0;
  int64_t lastNDRec = 0;
  uint16_t keyLength = 0, dataSize = 0;
  Bytes journalInfoArea;  // 2048 bytes
};

// One record of the chain, in file order.
struct SlotInfo {
  int64_t position;
  uint64_t slotLength;
  uint32_t nodeSize;
  uint32_t recordState;
  int32_t diskLoc;
  bool free() const { return recordState == 1; }
};

// One node of the tree, as reached from the root.
struct NodeInfo {
  int32_t subscript;
  int64_t position;
  uint64_t slotLength;
  uint32_t nodeSize;
  int depth;  // 0 for the root
  int count;  // entries read from the node
  std::vector<Key> keys;  // when CheckOptions::collect is set
  std::vector<int32_t> children;  // branch[0..count]; empty for a leaf
};

struct CheckEntry {
  Key key;
  Bytes data;
};

// An entry as it lies in the file, handed to CheckOptions::onEntry.
struct EntryRef {
  int64_t offset;      // of the entry in the file
  const uint8_t* key;  // keyUnits little-endian 16-bit units, no terminator
  size_t keyUnits;
  const uint8_t* data;  // dataSize bytes; null when the record lies outside its entry
  size_t dataSize;
  Key toKey() const;
};

struct Problem {
  int64_t offset;  // in the file; -1 when the text is about no one place
  std::string text;
};

struct CheckResult {
  std::vector<Problem> problems;  // empty: the file is well-formed; at most 200 and a count of the rest
  size_t problemCount = 0;        // all problems found
  uint64_t fileSize = 0;
  CtrlInfo ctrl;
  std::vector<SlotInfo> slots;
  std::vector<NodeInfo> nodes;      // breadth first from the root
  std::vector<CheckEntry> entries;  // in key order, when CheckOptions::collect is set
  std::string dump;                 // shape text, e.g. "[d h] ([a b] [e f] [k])", likewise
  size_t entryCount = 0;            // entries reached from the root
  int height = 0;                   // levels; 1 for a lone leaf root
  bool ok() const { return problems.empty(); }
  // The node of a subscript, or null.
  const NodeInfo* node(int32_t subscript) const;
  // All problems, one a line, without their offsets.
  std::string report() const;
};

struct CheckOptions {
  CheckOptions() = default;
  explicit CheckOptions(uint16_t dataSize) : expectedDataSize(dataSize) {}
  // When non-zero, the stored dataSize must equal it.
  uint16_t expectedDataSize = 0;
  // Collect the entries, the keys of every node and the shape text.  A
  // large file checks several times faster without.
  bool collect = true;
  // Called for every entry reached from the root, in tree order.
  std::function<void(const EntryRef&)> onEntry;
};

// A file that cannot be read gives one problem at offset -1.
CheckResult checkDatabase(const std::string& path, const CheckOptions& options = CheckOptions());
CheckResult checkImage(const Bytes& bytes, const CheckOptions& options = CheckOptions());
CheckResult checkImage(const uint8_t* bytes, size_t size, const CheckOptions& options = CheckOptions());

}  // namespace jbbbuilder
