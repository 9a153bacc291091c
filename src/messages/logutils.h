// logutils: the error log, the second log (displayed messages) and the
// wrapping of both within a fixed size.
//
// A wrapping log file:
//   "LOGHEADERREC %-12lu\n"   25 characters and a newline; the number is the
//                             offset where the next record goes
//   records                   "<date> <time> <text>" ending in a newline (the
//                             second log writes a bare text when it
//                             continues a line)
//   end-of-data marker line   right after the newest record; the next record
//                             overwrites it
// A record that would pass the maximum size first fills the tail: the wrap
// text, blanks up to a final "*" and a newline, so the file is exactly the
// maximum size; writing then continues right after the header line.  With
// wrapping off the file simply grows and has no header.
//
// Nothing in the utility opens a log or switches one on: the writers return
// at their first test.
#pragma once

#include <cstdint>
#include <cstdio>

struct LogState {
  uint32_t maxSize;    // bytes at which writing wraps back to the start
  int32_t wrapping;    // 0: the file grows and has no header
  uint64_t nextWrite;  // where the next record goes
  FILE* stream;
};

extern LogState errorLog;
extern LogState secondLog;
extern int32_t errorLogOn;
// The second log writes only while both switches are 1.
extern int32_t secondLogOn;
extern int32_t secondLogSelected;
// errno of the last failed write to each log.
extern int errorLogLastError;
extern int secondLogLastError;
// Set by whoever opens the logs; null stands for an empty text.
extern const char* logEndMarker;
extern const char* logWrapText;

constexpr int kLogHeaderLen = 25;
// The second log does not record this message.
constexpr uint16_t kUnloggedMessage = 11025;

// Writes one text to the error log.  Returns the characters written, 0 when
// the error log is off, 109 when the message state or the lock is missing
// or text is null, 621 when the write failed.
int errorLogWrite(const char* text);
// Writes one displayed message to the second log; returns 0.
int secondLogWrite(const char* text);
bool errorLogIsOpen();
bool secondLogActive();

// The two wrap steps, before and after every record of n bytes.
void logMakeRoom(LogState& log, uint64_t n);
void utSetNextWrite(LogState& log);

// Opens (or creates) a log file for log; a new or headerless wrapping file
// gets its header and end-of-data marker.  false when it cannot be opened.
bool logOpenFile(LogState& log, const char* path);
