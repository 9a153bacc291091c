// The two records a test database carries besides the tree: the journal
// information area of the control record and the change-journal data record
// of each entry, as the builder describes them.  Their layout is stated
// once, in viewer/journalinfo.h, whose encoders write them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "builder/keys.h"

namespace jbbbuilder {

typedef std::vector<uint8_t> Bytes;

constexpr size_t kServerNodeSize = 129;
constexpr size_t kFsNameUnits = 939;  // terminator included

struct JournalInfo {
  int32_t journalType = 1;
  int64_t activationTime = 0;
  int64_t validationTime = 0;
  int32_t journalState = 2;
  uint64_t maxJournalSize = 0;
  std::string server;  // 8-bit text; both empty leaves serverNode all zero
  std::string node;
  Key fsName;
  int serverNameLen = -1;  // stored length; -1 stores server.size()
};

// Fails when server + node + terminator exceed 129 bytes, the stored server
// length exceeds 255, or fsName does not fit its 939 units.
bool encodeJournalInfo(const JournalInfo& info, uint8_t area[2048], std::string* error);

struct JournalEntry {
  int32_t action = 4;
  int32_t objectType = 1;
  int64_t insertedTime = 0;
  int64_t objectTime = 0;
  std::array<uint8_t, 8> extra{};
};

// The record cut or zero-padded to dataSize bytes.
Bytes encodeJournalEntry(const JournalEntry& e, size_t dataSize);

// A plausible change-journal record that depends only on the key (and the
// seed): the same key always carries the same data, so a test can tell
// after a deletion that every record travelled with its key.
JournalEntry journalEntryFor(const Key& key, uint64_t seed = 0);
Bytes keyData(const Key& key, size_t dataSize, uint64_t seed = 0);

}  // namespace jbbbuilder
