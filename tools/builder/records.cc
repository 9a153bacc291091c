// Journal information area and change-journal data records.
#include "builder/records.h"

#include <cstring>

#include <algorithm>

#include "btree/format.h"
#include "viewer/journalinfo.h"

using namespace jbbformat;

namespace jbbbuilder {

bool encodeJournalInfo(const JournalInfo& info, uint8_t area[2048], std::string* error) {
  size_t nameLen = info.serverNameLen < 0 ? info.server.size() : size_t(info.serverNameLen);
  if (info.server.size() + info.node.size() + 1 > kServerNodeSize) {
    if (error) *error = "server and node names exceed 128 bytes together";
    return false;
  }
  if (nameLen > 255) {
    if (error) *error = "server name length above 255";
    return false;
  }
  if (info.fsName.size() + 1 > kFsNameUnits) {
    if (error) *error = "file-system name longer than 938 characters";
    return false;
  }
  ::JournalInfo fields{};
  fields.journalType = info.journalType;
  fields.activationTime = info.activationTime;
  fields.validationTime = info.validationTime;
  fields.journalState = info.journalState;
  fields.maxJournalSize = info.maxJournalSize;
  fields.serverNameLen = uint8_t(nameLen);
  std::string serverNode = info.server + info.node;
  std::memcpy(fields.serverNode, serverNode.data(), serverNode.size());
  std::copy(info.fsName.begin(), info.fsName.end(), fields.fsName);
  ::encodeJournalInfo(fields, area);
  return true;
}

Bytes encodeJournalEntry(const JournalEntry& e, size_t dataSize) {
  uint8_t rec[jinfo::kEntryRecordSize];
  ::encodeJournalEntry(::JournalEntry{e.action, e.objectType, e.insertedTime, e.objectTime}, rec);
  std::memcpy(rec + 24, e.extra.data(), 8);
  Bytes out(dataSize, 0);
  if (dataSize > 0) std::memcpy(out.data(), rec, dataSize < 32 ? dataSize : 32);
  return out;
}

JournalEntry journalEntryFor(const Key& key, uint64_t seed) {
  uint64_t h = 0xCBF29CE484222325ull ^ seed;  // FNV-1a over the units
  for (char16_t u : key) {
    h = (h ^ (u & 0xFF)) * 0x100000001B3ull;
    h = (h ^ (u >> 8)) * 0x100000001B3ull;
  }
  Rng rng(h);
  static const int32_t kActions[] = {1, 2, 3, 4, 5, 6, 11};
  JournalEntry e;
  e.action = kActions[rng.below(7)];
  e.objectType = rng.below(4) == 0 ? 2 : 1;
  // Times in 2020 .. 2023, the object's own time before its insertion.
  e.insertedTime = 1577836800 + int64_t(rng.below(4 * 365 * 86400));
  e.objectTime = e.insertedTime - int64_t(rng.below(30 * 86400));
  uint64_t tag = rng.next();
  for (int i = 0; i < 8; ++i) e.extra[i] = uint8_t(tag >> (8 * i));
  return e;
}

Bytes keyData(const Key& key, size_t dataSize, uint64_t seed) {
  Bytes out = encodeJournalEntry(journalEntryFor(key, seed), dataSize);
  // Bytes past the 32-byte record also depend on the key.
  for (size_t i = 32; i < dataSize; ++i) out[i] = out[i % 32] ^ uint8_t(i);
  return out;
}

}  // namespace jbbbuilder
