// tracechannel: how a module of the portability layer traces and reports.
//
// This layer lies below the trace facility and cannot call it.  A module
// here that has lines to trace or failures to report (the debug allocator,
// the mutex wrappers) owns a TraceChannel instead: the class byte that
// selects its lines, and the two statements behind it.  The trace facility
// fills every channel when the program starts (trStart in trace/trace.h,
// called by startServices); an empty channel traces and reports nothing,
// which is also all that its lines and reports come to while no trace and
// no error log is open.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "platform/compiler.h"

struct TraceChannel {
  // The channel's class byte, read at every call; null reads as 0.
  const unsigned char* classFlag;
  // Writes one trace line (trVPrintf).
  int (*traceLine)(const char* source, int32_t line, const char* format, va_list args);
  // An error report that takes no heap memory (trVErrorNoAlloc): the error
  // log, and the trace when the class byte selects it.
  int (*errorReport)(const char* source, int32_t line, unsigned char classFlag, const char* format, va_list args);

  // Whether the channel's lines are wanted: its class byte is set.
  bool on() const { return classFlag != nullptr && *classFlag != 0; }
  // One trace line; callers test on() first, as they would test the byte.
  void line(const char* source, int32_t at, const char* format, ...) const JBB_PRINTF(4, 5);
  // One error report, with the class byte as it is at the call.
  void error(const char* source, int32_t at, const char* format, ...) const JBB_PRINTF(4, 5);
};
