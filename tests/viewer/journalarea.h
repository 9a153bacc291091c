// Builds journal information areas and change-journal records for tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "btree/format.h"
#include "viewer/journalinfo.h"

struct JournalArea {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(jinfo::kAreaSize, 0);

  JournalArea& type(int32_t t) { jbbformat::putI32(&bytes[jinfo::kJournalType], t); return *this; }
  JournalArea& state(int32_t s) { jbbformat::putI32(&bytes[jinfo::kJournalState], s); return *this; }
  JournalArea& activation(int64_t t) { jbbformat::putI64(&bytes[jinfo::kActivationTime], t); return *this; }
  JournalArea& validation(int64_t t) { jbbformat::putI64(&bytes[jinfo::kValidationTime], t); return *this; }
  JournalArea& maxSize(uint64_t v) { jbbformat::putU64(&bytes[jinfo::kMaxJournalSize], v); return *this; }
  // Writes text (at most the field) and the length byte.
  JournalArea& serverNode(uint8_t nameLen, const std::string& text) {
    bytes[jinfo::kServerNameLen] = nameLen;
    std::memcpy(&bytes[jinfo::kServerNode], text.data(), text.size());
    return *this;
  }
  JournalArea& fsName(const std::u16string& name) {
    for (size_t i = 0; i < name.size(); ++i) jbbformat::putU16(&bytes[jinfo::kFsName + 2 * i], name[i]);
    return *this;
  }
};

inline std::vector<uint8_t> journalRecord(int32_t action, int32_t objectType, int64_t inserted, int64_t object,
                                          size_t size = 32) {
  std::vector<uint8_t> r(size < 32 ? 32 : size, 0);
  jbbformat::putI32(&r[jinfo::kAction], action);
  jbbformat::putI32(&r[jinfo::kObjectType], objectType);
  jbbformat::putI64(&r[jinfo::kInsertedTime], inserted);
  jbbformat::putI64(&r[jinfo::kObjectTime], object);
  r.resize(size);
  return r;
}
