// amsgrtrv: the message repository reader and its two caches, which read
// numbered messages from the repository file (below kvenls.h).
//
// Repository file (all 16-bit values big-endian):
//   OFFSET           SIZE  CONTENT
//   0                62    not read
//   2 * (n + 31)     2     record number r of message n; 0: no message n
//   (r - 1) * 64     ...   record r: a chain of pieces
// A piece is a 16-bit header followed by the response bytes and the text
// bytes.  Header bits 0-7: text length; bits 8-10: response length (0-7);
// bits 11-14: severity code; bit 15: another piece follows.  Severity codes
// index the letters "ZTRKIWESL" (0 Z ... 8 L).  The first piece of severity
// above 2 and not 8 is preceded by the prefix "<prefix><nnnn><letter>".
//
// Each cache is a circular doubly linked list of nlsMsg, most recently used
// at the head; a lookup that reads a message while the list holds the cache
// limit drops the tail first.  The lists and the use-secondary flag are
// touched only under the NLS lock.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/psstr.h"
#include "platform/psthread.h"

constexpr int kNlsWorkSize = 25856;
constexpr int kNlsSeverities = 9;
constexpr int kReposNameSize = 1024;
// Severity index at which the reader's own failures are displayed.
constexpr int kSeverityError = 6;

typedef void (*nlsDisplayFn)(const wchar16* text);

struct nlsMsg {
  nlsMsg* next;
  nlsMsg* prev;
  uint16_t msgNum;
  uint8_t severity;    // code 0-15 from the repository
  char response[16];   // up to 7 characters, zero-terminated
  uint32_t textLen;    // bytes of text before its terminator (inserts may hold zero bytes)
  char text[1];        // prefix and text as assembled, zero-terminated
};

// The message-system state; null until a start-up creates it.
struct NlsState {
  nlsDisplayFn display[kNlsSeverities];  // one output function per severity code
  char msgPrefix[8];                     // e.g. "KVE"
  nlsMsg* cacheHead[2];                  // primary, secondary
  FILE* repos[2];                        // primary, secondary repository
  char reposName[kReposNameSize];
  char assembly[kNlsWorkSize];  // message assembly, and the reader's error texts
  uint32_t cacheLimit;
  int32_t useSecondary;  // the next lookup reads the secondary repository
  char insertBuffer[kNlsWorkSize];
  int32_t lineStart;     // the second log's next text starts a line
  int32_t outputMode;    // kOutputNone: no display
  psMutex* lock;         // the NLS lock; null: absent
};
constexpr int32_t kOutputNone = 4;

extern NlsState* nlsState;

// The lock hooks: -1 when there is no state or no lock handle.
int nlsLock();
void nlsUnlock();

// The record number of message msgNum in the chosen repository, 0 when it
// has none (reported as KVE0105E or KVE0106E).
uint16_t ReadIndex(uint16_t msgNum, bool secondary);
// Reads message msgNum into a new nlsMsg, or null (failures reported).
nlsMsg* ReadMsg(uint16_t msgNum, bool secondary);
// The cached message, read on a miss (from the secondary repository when the
// primary one has none); null when none can be had.  Caller holds the lock.
nlsMsg* nlsLookup(uint16_t msgNum);
// Releases both caches (for programs that tear the state down).
void nlsReleaseCaches();

// Reports message msgNum's text as damaged (KVE0108E): for a text whose
// inserts cannot be filled safely.
void nlsReportDamagedText(uint16_t msgNum);
// Shows one of the reader's own texts at the given severity index.
void nlsShow(int severity, const char* text);
