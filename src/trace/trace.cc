// The trace statements' calling side.  While no trace output is open (the
// utility's whole run) every statement returns after its checks.
#include "trace/trace.h"

#include <cerrno>

TraceClasses trClass = {};
TestFlags trTestFlag = {};

namespace {
// Becomes true only when a configuration step opens a trace output.
bool traceOutputOpen = false;
}  // namespace

bool trIsActive() { return traceOutputOpen; }

int trWriteLine(const char* text) { return 0; }

int trWriteRaw(const char* text) { return 0; }

int trVPrintf(const char* source, int32_t line, const char* format, va_list args) {
  if (!trIsActive()) return 0;
  return 0;
}

int trVPrintfW(const char* source, int32_t line, const wchar16* format, va_list args) {
  if (!trIsActive()) return 0;
  return 0;
}

void trPrint(const TraceSite& site, unsigned char classFlag, const char* format, ...) {
  if (classFlag == 0) return;
  int savedErrno = errno;
  va_list args;
  va_start(args, format);
  trVPrintf(site.source, site.line, format, args);
  va_end(args);
  errno = savedErrno;
}

void trPrintW(const TraceSite& site, unsigned char classFlag, const wchar16* format, ...) {
  if (classFlag == 0) return;
  int savedErrno = errno;
  va_list args;
  va_start(args, format);
  trVPrintfW(site.source, site.line, format, args);
  va_end(args);
  errno = savedErrno;
}

int trPrintf(const char* source, int32_t line, const char* format, ...) {
  int savedErrno = errno;
  va_list args;
  va_start(args, format);
  int n = trVPrintf(source, line, format, args);
  va_end(args);
  errno = savedErrno;
  return n;
}

void trPrintRaw(const char* format, ...) {
  if (!trIsActive()) return;
}
