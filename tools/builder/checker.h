// An independent reader of database files for tests: it reads the file with
// plain stdio, shares nothing with the B-tree but the layout constants of
// btree/format.h, and verifies every invariant stated there.
//
// The check never trusts a field: every length, count and subscript is
// bounded before it is followed, the tree walk stops at a node reached a
// second time and below 64 levels, so any file, however damaged, gives a
// list of problems and no crash.
#pragma once

#include <cstdint>
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
  std::vector<Key> keys;
  std::vector<int32_t> children;  // branch[0..count]; empty for a leaf
};

struct CheckEntry {
  Key key;
  Bytes data;
};

struct CheckResult {
  std::vector<std::string> problems;  // empty: the file is well-formed
  uint64_t fileSize = 0;
  CtrlInfo ctrl;
  std::vector<SlotInfo> slots;
  std::vector<NodeInfo> nodes;      // breadth first from the root
  std::vector<CheckEntry> entries;  // in key order
  std::string dump;                 // shape text, e.g. "[d h] ([a b] [e f] [k])"
  int height = 0;                   // levels; 1 for a lone leaf root
  bool ok() const { return problems.empty(); }
  // The node of a subscript, or null.
  const NodeInfo* node(int32_t subscript) const;
  // All problems, one a line.
  std::string report() const;
};

struct CheckOptions {
  // When non-zero, the stored dataSize must equal it.
  uint16_t expectedDataSize = 0;
};

CheckResult checkDatabase(const std::string& path, const CheckOptions& options = CheckOptions());
CheckResult checkImage(const Bytes& bytes, const CheckOptions& options = CheckOptions());

}  // namespace jbbbuilder
