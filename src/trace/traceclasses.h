// traceclasses: the tables that name the trace classes, groups and test
// flags, so that a configuration step can set them by name (traceconfig.h).
//
// Each table is a fixed array ended by its first empty row (null name); the
// rows the system's code uses come first and the rest stay empty, ready for
// more.  The flag bytes themselves live in trClass and trTestFlag (trace.h).
#pragma once

#include <cstdint>

#include "trace/trace.h"

struct TraceClassRow {
  const char* name;      // upper-case class name; null ends the table
  unsigned char* flag;   // the class's process-wide flag byte
  int32_t number;        // carried with the row; nothing reads it
};

// A group names a list of members separated by single blanks: class names,
// other group names, "ALL", or "-NAME" to take a class (or group) away.
struct TraceGroupRow {
  const char* name;      // null ends the table
  const char* members;
};

struct TestFlagRow {
  const char* name;      // null ends the table
  TestFlag* flag;
};

constexpr int kTraceClassRows = 189;
constexpr int kTraceGroupRows = 24;
constexpr int kTestFlagRows = 283;

// ERROR is the first row: a reset turns every class off but that one.
extern TraceClassRow traceClassTable[kTraceClassRows + 1];
extern TraceGroupRow traceGroupTable[kTraceGroupRows + 1];
extern TestFlagRow testFlagTable[kTestFlagRows + 1];
