// Decoding of the journal information area and of change-journal records;
// the layouts are stated in journalinfo.h.
#include "viewer/journalinfo.h"

#include <cstring>

#include "btree/format.h"

using namespace jbbformat;

void decodeJournalInfo(const uint8_t* area, JournalInfo* info) {
  info->journalType = getI32(area + jinfo::kJournalType);
  info->activationTime = getI64(area + jinfo::kActivationTime);
  info->validationTime = getI64(area + jinfo::kValidationTime);
  info->journalState = getI32(area + jinfo::kJournalState);
  info->maxJournalSize = getU64(area + jinfo::kMaxJournalSize);
  info->serverNameLen = area[jinfo::kServerNameLen];
  std::memcpy(info->serverNode, area + jinfo::kServerNode, jinfo::kServerNodeSize);
  info->serverNode[jinfo::kServerNodeSize] = '\0';
  for (size_t i = 0; i < jinfo::kFsNameUnits; ++i) info->fsName[i] = getU16(area + jinfo::kFsName + 2 * i);
  info->fsName[jinfo::kFsNameUnits] = 0;
}

void encodeJournalInfo(const JournalInfo& info, uint8_t* area) {
  std::memset(area, 0, jinfo::kAreaSize);
  putI32(area + jinfo::kJournalType, info.journalType);
  putI64(area + jinfo::kActivationTime, info.activationTime);
  putI64(area + jinfo::kValidationTime, info.validationTime);
  putI32(area + jinfo::kJournalState, info.journalState);
  putU64(area + jinfo::kMaxJournalSize, info.maxJournalSize);
  area[jinfo::kServerNameLen] = info.serverNameLen;
  for (size_t i = 0; i < jinfo::kServerNodeSize && info.serverNode[i] != '\0'; ++i)
    area[jinfo::kServerNode + i] = uint8_t(info.serverNode[i]);
  for (size_t i = 0; i < jinfo::kFsNameUnits && info.fsName[i] != 0; ++i)
    putU16(area + jinfo::kFsName + 2 * i, info.fsName[i]);
}

int32_t journalTypeOf(const uint8_t* area) { return getI32(area + jinfo::kJournalType); }

void serverAndNode(const JournalInfo& info, char* server, char* node) {
  if (info.serverNode[0] == '\0') {
    std::strcpy(server, "(not set)");
    std::strcpy(node, "(not set)");
    return;
  }
  // serverNode is terminated at its field's end, so neither copy can leave it.
  size_t cut = info.serverNameLen < jinfo::kServerNodeSize ? info.serverNameLen : jinfo::kServerNodeSize;
  size_t n = 0;
  while (n < cut && info.serverNode[n] != '\0') {
    server[n] = info.serverNode[n];
    ++n;
  }
  server[n] = '\0';
  std::strcpy(node, info.serverNode + cut);
}

void decodeJournalEntry(const uint8_t* data, size_t length, JournalEntry* entry) {
  uint8_t padded[jinfo::kEntryRecordSize] = {};
  const uint8_t* record = data;
  if (length < sizeof padded) {  // a short record reads as if zero-filled
    if (length > 0) std::memcpy(padded, data, length);
    record = padded;
  }
  entry->action = getI32(record + jinfo::kAction);
  entry->objectType = getI32(record + jinfo::kObjectType);
  entry->insertedTime = getI64(record + jinfo::kInsertedTime);
  entry->objectTime = getI64(record + jinfo::kObjectTime);
}

void encodeJournalEntry(const JournalEntry& entry, uint8_t* record) {
  putI32(record + jinfo::kAction, entry.action);
  putI32(record + jinfo::kObjectType, entry.objectType);
  putI64(record + jinfo::kInsertedTime, entry.insertedTime);
  putI64(record + jinfo::kObjectTime, entry.objectTime);
}
