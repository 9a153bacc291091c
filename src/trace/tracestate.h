// tracestate: the one process-wide record behind the trace statements.
//
// traceState is null unless a configuration step creates the record
// (traceconfig.h); the utility never does, so every statement returns after
// its checks.  While it exists, `stream` is the open trace output: a trace
// file, standard output or standard error (standard error also stands for
// the sink in sink mode).
//
// Trace file in wrap mode (the file stays within maxMB):
//   OFFSET  SIZE  CONTENT
//   0       12    "ZRM Trace   "
//   12      12    nextWrite, "%-12u" ("123456789012" before the first update)
//   24      10    maxMB, "%-10u"
//   34      rest  " Orvik Vestrel 6.1.1.00 0514FB Build date: <build date>\n\n"
// Lines follow from dataStart.  Every line is followed by "\nEND OF DATA\n\n",
// which the next line overwrites: the header's offset always points at the
// marker.  A full file continues at dataStart, a full segment in the next
// file of the ring <configuredName>.1 ... <configuredName>.<segmentCount>.
//
// Locks: stateLock guards open, close and reset; writeLock serialises the
// writes to a wrapping trace file with their wrap check and header update.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/psthread.h"

constexpr int kTraceNameSize = 8448;
// The longest name trSetName accepts.
constexpr int kTraceNameMax = 8192;
// The thread text of threadInfoHook holds at most 31 characters.
constexpr int kThreadTextSize = 32;
constexpr int kThreadExtraLineSize = 256;

// Sink operations: 0 opens (0 means accepted), 1 writes one text, 2 closes.
enum TraceSinkOp : int32_t { kSinkOpen = 0, kSinkWrite = 1, kSinkClose = 2 };
typedef int32_t (*TraceOpSink)(int32_t op, const char* text, void* userData);
// Fills threadText (at most 31 characters) and, optionally, extraLine with a
// line to be written first.  Both buffers arrive zeroed.
typedef void (*ThreadInfoHook)(char* extraLine, char* threadText);

struct TraceState {
  FILE* stream;
  uint64_t dataStart;  // first byte after the trace file header
  uint64_t nextWrite;  // where the next line goes
  psMutex stateLock;
  int32_t clientType;  // index into the client-type tags
  int32_t wrapMode;
  int32_t consoleAllowed;  // lines may go to standard output or error
  char configuredName[kTraceNameSize];  // the name as first given
  char effectiveName[kTraceNameSize];   // the name actually opened
  uint32_t maxMB;
  int32_t autoPrefix;  // on first open, turn on TIMESTAMP and PREFIX
  uint32_t segmentMB;  // limit of every segment but the last
  uint32_t segmentCount;  // 0 or 1: a single file
  uint32_t currentSegment;  // 1-based
  uint32_t previousSegment;
  uint32_t lastSegmentMB;
  int32_t continuing;  // set while moving from one segment to the next
  int32_t enabled;
  int32_t sinkMode;
  TraceOpSink traceOpSink;
  void* sinkUserData;
  ThreadInfoHook threadInfoHook;
  int32_t opened;  // the first open (banner lines) has been done
};

extern TraceState* traceState;
extern psMutex writeLock;

// Control operations.  trOpen returns 0, -1 for an invalid name, 426 when
// the output cannot be opened.
int trOpen(const char* name, bool announce);
void trClose(bool resetFirst);
// Turns every class but ERROR off; with close, closes the output; forgets
// the name, the limits and the first open.
void trReset(bool close);
int trSetName(const char* name);
void trWrapCheck(uint64_t length);
void trMarkNextWrite(FILE* file);

// The tags of clientType 0 to 12; any other value shows the last one.
constexpr int kClientTypeTags = 14;
extern const char* const clientTypeTags[kClientTypeTags];
// The build's date in the C library's ctime form, with a leading blank.
const char* trBuildDate();
