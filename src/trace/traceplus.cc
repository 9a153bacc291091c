// The error statements: a failure's text goes to the error log (the sink)
// whatever the trace state, and to the trace when it is active.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/kxmem.h"
#include "trace/trace.h"

namespace {
constexpr char kSourceName[] = "traceplus";
// Where the error-log copies go; empty until trSetErrorSink.
TraceErrorSink errorSink = {};

// Source prefix (when PREFIX is on) and message; returns the text's length.
int buildWorkingText(char* buf, const char* source, int32_t line, const char* format, va_list args) {
  std::memset(buf, 0, kTraceLineSize);
  int prefix = 0;
  if (trClass.PREFIX) prefix = std::snprintf(buf, kTraceLineSize, "%-20s(%4u): ", source, unsigned(line));
  if (prefix < 0) prefix = 0;
  int message = std::vsnprintf(buf + prefix, size_t(kTraceLineSize - prefix), format, args);
  if (message < 0) message = 0;
  if (message >= kTraceLineSize - prefix) message = kTraceLineSize - prefix - 1;
  return prefix + message;
}

// How deep this thread is inside the report statements.  Writing a report
// takes locks (the message system's for the error log, the trace writer's),
// and a failing lock reports through trErrorNoAlloc: without a limit that
// report would go the same way and recurse until the stack ran out.  So a
// report raised while one is being written skips the error log, and one
// raised below that is dropped; the outer report goes on as usual.
thread_local int reportDepth = 0;
constexpr int kTraceOnlyDepth = 1;
constexpr int kDroppedDepth = 2;

struct ReportScope {
  ReportScope() { ++reportDepth; }
  ~ReportScope() { --reportDepth; }
  ReportScope(const ReportScope&) = delete;
  ReportScope& operator=(const ReportScope&) = delete;
};

// A byte of 1 selects the line; the bit of value 2 alone does not.
bool classSelects(unsigned char classFlag) { return trClass.ERROR != 0 || (classFlag & ~2u) != 0; }

// The error-log copy: the sink's lead-in (when it has one) followed by the
// working text.  Skipped without a word when no memory can be had.  The copy
// is made with or without a sink, so that an error statement asks the
// allocator for the same blocks whatever is installed; without a sink it
// simply goes nowhere, as it does while no error log is open.
void logErrorCopy(const char* work) {
  auto* logText = static_cast<char*>(KX_MALLOC(kTraceLineSize));
  if (logText == nullptr) return;
  std::memset(logText, 0, kTraceLineSize);
  if (char* leadIn = errorSink.leadIn != nullptr ? errorSink.leadIn() : nullptr) {
    std::snprintf(logText, kTraceLineSize, "%s", leadIn);
    KX_FREE(leadIn);
  }
  size_t used = std::strlen(logText);
  std::snprintf(logText + used, kTraceLineSize - used, "%s", work);
  if (errorSink.write != nullptr) errorSink.write(logText);
  KX_FREE(logText);
}
}  // namespace

// The form behind trErrorNoAlloc, and the error statement of the channels
// of the layer below (platform/tracechannel.h): it takes no heap memory, so
// a report about the heap can always be made.
int trVErrorNoAlloc(const char* source, int32_t line, unsigned char classFlag, const char* format, va_list args) {
  if (reportDepth >= kDroppedDepth) return 0;
  int savedErrno = errno;
  bool logCopy = reportDepth < kTraceOnlyDepth;
  ReportScope scope;
  char work[kTraceLineSize];
  int count = buildWorkingText(work, source, line, format, args);
  if (logCopy && errorSink.write != nullptr) errorSink.write(work);
  int result = 0;
  if (trIsActive()) {
    result = count;
    if (classSelects(classFlag)) trWriteLine(work);
  }
  errno = savedErrno;
  return result;
}

int trError(const char* source, int32_t line, unsigned char classFlag, const char* format, ...) {
  if (reportDepth >= kDroppedDepth) return 0;
  int savedErrno = errno;
  bool logCopy = !trTestFlag.DISABLEDIAGLOGMSGS.set && reportDepth < kTraceOnlyDepth;
  if (!logCopy && !trIsActive()) return 0;
  ReportScope scope;
  auto* work = static_cast<char*>(KX_MALLOC(kTraceLineSize));
  if (work == nullptr) {
    errno = savedErrno;
    return 102;
  }
  va_list args;
  va_start(args, format);
  int count = buildWorkingText(work, source, line, format, args);
  va_end(args);
  if (logCopy) logErrorCopy(work);
  int result = 0;
  if (trIsActive()) {
    result = count;
    if (classSelects(classFlag)) trWriteLine(work);
  }
  KX_FREE(work);
  errno = savedErrno;
  return result;
}

int trErrorNoAlloc(const char* source, int32_t line, unsigned char classFlag, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = trVErrorNoAlloc(source, line, classFlag, format, args);
  va_end(args);
  return result;
}

void trSetErrorSink(const TraceErrorSink& sink) { errorSink = sink; }
