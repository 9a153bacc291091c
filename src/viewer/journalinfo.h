// The viewer's two records inside a journal database: the journal
// information area of the control record, and the data record of a
// change-journal entry.  Both are little-endian on every host and decoded
// field by field; nothing is ever cast onto the bytes.
//
// Journal information area (2048 bytes at control-record offset 36)
//   OFFSET  SIZE  FIELD           MEANING
//   0       4     journalType     0 unformatted ("just-created"), 1 change
//                                 journal, anything else incremental-needed
//   4       4     (reserved)      not read
//   8       8     activationTime  seconds since 1970 UTC (signed)
//   16      8     validationTime  same unit; meaningful only when state is 2
//   24      4     journalState    2 valid, 1 incremental in progress, else
//                                 not valid
//   28      4     (reserved)      not read
//   32      8     maxJournalSize  bytes; 0 = no limit (unsigned)
//   40      1     serverNameLen   characters of the server name at the start
//                                 of serverNode
//   41      129   serverNode      8-bit text: the server name (serverNameLen
//                                 characters, no terminator) directly followed
//                                 by the node name and a zero byte; a first
//                                 byte of 0 = neither set
//   170     1878  fsName          file system name, 939 16-bit units,
//                                 zero-terminated (or ending with the area)
//
// Change-journal data record (the first 32 bytes of an entry's data)
//   OFFSET  SIZE  FIELD         MEANING
//   0       4     action        what happened (1..6, 11; see actionText)
//   4       4     objectType    1 a file, anything else a directory
//   8       8     insertedTime  seconds since 1970 UTC (signed)
//   16      8     objectTime    the object's own time, same unit
//   24      8     (unused)      not interpreted
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/psstr.h"

namespace jinfo {
constexpr size_t kAreaSize = 2048;
constexpr size_t kJournalType = 0, kActivationTime = 8, kValidationTime = 16, kJournalState = 24,
                 kMaxJournalSize = 32, kServerNameLen = 40, kServerNode = 41, kFsName = 170;
constexpr size_t kServerNodeSize = 129;
constexpr size_t kFsNameUnits = (kAreaSize - kFsName) / 2;  // 939

constexpr size_t kEntryRecordSize = 32;
constexpr size_t kAction = 0, kObjectType = 4, kInsertedTime = 8, kObjectTime = 16;
}  // namespace jinfo

// Journal types and states as stored.
constexpr int32_t kJournalUnformatted = 0;
constexpr int32_t kJournalChange = 1;
constexpr int32_t kJournalIncremental = 2;
constexpr int32_t kStateInProgress = 1;
constexpr int32_t kStateValid = 2;

struct JournalInfo {
  int32_t journalType;
  int64_t activationTime;
  int64_t validationTime;
  int32_t journalState;
  uint64_t maxJournalSize;
  uint8_t serverNameLen;
  char serverNode[jinfo::kServerNodeSize + 1];  // always zero-terminated
  wchar16 fsName[jinfo::kFsNameUnits + 1];      // always zero-terminated
};

// Decodes the 2048-byte area.  The two texts are copied with a terminator
// added after their last stored byte, so a text that fills its field is
// cut at the field's end rather than read past it.
void decodeJournalInfo(const uint8_t* area, JournalInfo* info);
// Encodes the area: every field, the two texts up to their terminators
// (or the end of their fields), every other byte zero.
void encodeJournalInfo(const JournalInfo& info, uint8_t* area);
// The journal type alone (the first field), as the walk callback reads it.
int32_t journalTypeOf(const uint8_t* area);

// Server and node names from serverNode.  server receives at most
// serverNameLen characters (fewer when the text ends sooner); node is the
// text that starts serverNameLen bytes into serverNode, empty when that is
// beyond the field.  Both are "(not set)" when serverNode starts with 0.
// Each buffer holds at least kServerNodeSize + 1 bytes.
void serverAndNode(const JournalInfo& info, char* server, char* node);

struct JournalEntry {
  int32_t action;
  int32_t objectType;
  int64_t insertedTime;
  int64_t objectTime;
};

// Decodes a data record of `length` bytes; fields beyond the bytes that
// exist read as zero, so a record shorter than 32 bytes is never overrun.
void decodeJournalEntry(const uint8_t* data, size_t length, JournalEntry* entry);
// Encodes the four fields into the first 24 bytes of a 32-byte record (the
// last 8 are the caller's).
void encodeJournalEntry(const JournalEntry& entry, uint8_t* record);
