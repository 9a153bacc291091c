// The trace statements: format one message and hand it to the writer.
// A statement whose class byte is 0 costs a call and one byte test.
#include "trace/trace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/codepage.h"
#include "platform/kxmem.h"
#include "platform/psthread.h"
#include "platform/widefmt.h"
#include "trace/tracestate.h"

TraceClasses trClass = {};
TestFlags trTestFlag = {};

namespace {
// Wide messages are formatted into this many units before conversion.
constexpr int kWideLineUnits = 25856;
constexpr uint32_t kAllWide = 0xFFFFFFFFu;

// The source prefix when PREFIX is on; returns its length.
int putSourcePrefix(char* buf, const char* source, int32_t line) {
  if (!trClass.PREFIX) return 0;
  int n = std::snprintf(buf, kTraceLineSize, "%-20s(%4u): ", source, unsigned(line));
  return n < 0 ? 0 : n;
}

// A formatter's count clipped to what the buffer holds.
int clip(int n, int room) { return n < 0 ? 0 : (n >= room ? room - 1 : n); }

// The page a code-page test flag names while it is set, 0 for none.
int testFlagPage(bool sourcePage) {
  const TestFlag& flag = sourcePage ? trTestFlag.OEMNLSREPOS : trTestFlag.ANSINLSREPOS;
  return flag.set != 0 ? flag.value : 0;
}
}  // namespace

void trStart() {
  kxTrace = TraceChannel{&trClass.MEMORY, trVPrintf, trVErrorNoAlloc};
  psMutexTrace = TraceChannel{&trClass.GENERAL, trVPrintf, trVErrorNoAlloc};
  codePageTestPage = testFlagPage;
}

bool trIsActive() {
  const TraceState* ts = traceState;
  if (ts == nullptr || ts->stream == nullptr || !ts->enabled) return false;
  if (ts->consoleAllowed || ts->sinkMode) return true;
  return ts->stream != stdout && ts->stream != stderr;
}

int trVPrintf(const char* source, int32_t line, const char* format, va_list args) {
  if (!trIsActive()) return 0;
  int savedErrno = errno;
  char buf[kTraceLineSize];
  std::memset(buf, 0, sizeof buf);
  int prefix = putSourcePrefix(buf, source, line);
  int message = clip(std::vsnprintf(buf + prefix, size_t(kTraceLineSize - prefix), format, args),
                     kTraceLineSize - prefix);
  trWriteLine(buf);
  errno = savedErrno;
  return message;
}

int trVPrintfW(const char* source, int32_t line, const wchar16* format, va_list args) {
  if (!trIsActive()) return 0;
  int savedErrno = errno;
  char buf[kTraceLineSize];
  std::memset(buf, 0, sizeof buf);
  putSourcePrefix(buf, source, line);
  wchar16 wide[kWideLineUnits];
  wide[0] = 0;
  int count = portableVswprintf(kAllWide, wide, kWideLineUnits, format, args);
  wide[kWideLineUnits - 1] = 0;
  strAppendWide(buf, wide);
  trWriteLine(buf);
  errno = savedErrno;
  return count;
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

// Raw text goes wherever the writer has a stream: unlike the statements it
// does not ask trIsActive, so a console trace that is open but not enabled
// still shows it when the console is allowed (trWriteRaw decides).
void trPrintRaw(const char* format, ...) {
  if (traceState == nullptr || traceState->stream == nullptr) return;
  int savedErrno = errno;
  char buf[kWideLineUnits];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  trWriteRaw(buf);
  errno = savedErrno;
}
