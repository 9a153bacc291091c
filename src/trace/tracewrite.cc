// The trace writer: one line or raw text to the open output, with the wrap
// steps of a size-limited trace file.  The file layout is in tracestate.h.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "trace/trace.h"
#include "trace/traceprefix.h"
#include "trace/tracestate.h"

namespace {
constexpr char kEndOfData[] = "\nEND OF DATA\n\n";
constexpr uint64_t kMB = 1048576;
// Room kept free behind every write for the end-of-data marker.
constexpr uint64_t kWrapMargin = 17;
// An extra line of the thread hook is checked against this fixed length.
constexpr uint64_t kExtraLineCheck = 69;
constexpr size_t kPrefixSize = 256;

bool toConsole(const TraceState* ts) { return ts->stream == stdout || ts->stream == stderr; }

// Stops tracing after a failed write; name receives the file that failed
// (the reset forgets it).
void resetAfterWriteFailure(char* name) {
  std::snprintf(name, kTraceNameSize, "%s", traceState->effectiveName);
  trReset(true);
}

// The thread hook's extra line goes out first, without a prefix.
void writeExtraLine(TraceState* ts, const char* extra) {
  if (ts->sinkMode) {
    ts->traceOpSink(kSinkWrite, extra, ts->sinkUserData);
  } else if (toConsole(ts)) {
    if (ts->consoleAllowed) std::fprintf(ts->stream, "%s", extra);
  } else if (ts->wrapMode) {
    psMutexLock(writeLock);
    trWrapCheck(kExtraLineCheck);
    if (ts->stream != nullptr) {
      std::fprintf(ts->stream, "%s", extra);
      std::fflush(ts->stream);
      trMarkNextWrite(ts->stream);
    }
    psMutexRelease(writeLock);
  } else {
    std::fprintf(ts->stream, "%s", extra);
  }
}

// A segment that cannot be opened has already reset the trace (and said
// so); the line is then dropped with a count of 0.
int writeWrapped(TraceState* ts, const char* prefix, const char* text) {
  psMutexLock(writeLock);
  std::fflush(ts->stream);
  trWrapCheck(std::strlen(text) + std::strlen(prefix));
  if (ts->stream == nullptr) {
    psMutexRelease(writeLock);
    return 0;
  }
  int n = std::fprintf(ts->stream, "%s%s", prefix, text);
  if (std::fflush(ts->stream) != 0) n = -1;
  trMarkNextWrite(ts->stream);
  std::fputs(kEndOfData, ts->stream);
  psMutexRelease(writeLock);
  return n;
}
}  // namespace

int trWriteLine(const char* text) {
  TraceState* ts = traceState;
  if (ts == nullptr || ts->stream == nullptr) return 0;
  char prefix[kPrefixSize];
  char extra[kThreadExtraLineSize];
  trBuildPrefix(prefix, sizeof prefix, extra, sizeof extra);
  if (extra[0] != '\0') writeExtraLine(ts, extra);
  if (ts->stream == nullptr) return 0;
  int n;
  if (ts->sinkMode) {
    n = ts->traceOpSink(kSinkWrite, text, ts->sinkUserData);
  } else if (toConsole(ts)) {
    if (!ts->consoleAllowed) {
      std::fflush(ts->stream);
      return 0;
    }
    n = std::fprintf(ts->stream, "%s%s", prefix, text);
  } else if (ts->wrapMode) {
    n = writeWrapped(ts, prefix, text);
  } else {
    n = std::fprintf(ts->stream, "%s%s", prefix, text);
    // A buffered stream may only find out at the flush that the line is lost.
    if (n >= 0 && std::fflush(ts->stream) != 0) n = -1;
  }
  if (n < 0) {
    char name[kTraceNameSize];
    resetAfterWriteFailure(name);
    std::printf("Unable to write to trace file %s. Tracing disabled.\n", name);
    return n;
  }
  if (ts->stream != nullptr) std::fflush(ts->stream);
  return n;
}

int trWriteRaw(const char* text) {
  TraceState* ts = traceState;
  if (ts == nullptr || ts->stream == nullptr) return 0;
  if (ts->sinkMode) {
    ts->traceOpSink(kSinkWrite, text, ts->sinkUserData);
    return 0;
  }
  int n = 0;
  int err = 0;
  if (toConsole(ts)) {
    if (ts->consoleAllowed) n = std::fprintf(ts->stream, "%s", text);
  } else if (ts->wrapMode) {
    psMutexLock(writeLock);
    trWrapCheck(std::strlen(text));
    if (ts->stream == nullptr) {
      psMutexRelease(writeLock);
      return 0;
    }
    n = std::fprintf(ts->stream, "%s", text);
    trMarkNextWrite(ts->stream);
    std::fputs(kEndOfData, ts->stream);
    psMutexRelease(writeLock);
  } else {
    errno = 0;
    n = std::fprintf(ts->stream, "%s", text);
    if (n >= 0 && std::fflush(ts->stream) != 0) n = -1;
    err = errno;
  }
  std::fflush(ts->stream);
  if (n < 0) {
    char name[kTraceNameSize];
    resetAfterWriteFailure(name);
    std::printf("Unable to write to trace file %s error is (%d) %s. Tracing disabled.\n", name, err,
                std::strerror(err));
  }
  return n;
}

void trWrapCheck(uint64_t length) {
  TraceState* ts = traceState;
  uint64_t projectedEnd = ts->nextWrite + length + kWrapMargin;
  uint32_t limitMB = ts->segmentCount < 2                          ? ts->maxMB
                     : ts->currentSegment == ts->segmentCount ? ts->lastSegmentMB
                                                               : ts->segmentMB;
  if (double(projectedEnd) / double(kMB) > double(limitMB)) {
    bool segmented = ts->segmentCount > 1;
    uint32_t nextSegment = segmented ? ts->currentSegment % ts->segmentCount + 1 : 0;
    std::fseek(ts->stream, long(ts->nextWrite), SEEK_SET);
    if (segmented)
      std::fprintf(ts->stream, "\nContinued at beginning of segment %u\n\n", nextSegment);
    else
      std::fputs("\nContinued at beginning of file\n\n", ts->stream);
    std::fflush(ts->stream);
    ts->nextWrite = ts->dataStart;
    if (segmented) {
      ts->continuing = 1;
      std::fflush(ts->stream);
      trClose(false);
      ts->previousSegment = ts->currentSegment;
      ts->currentSegment = nextSegment;
      // The name is copied: trSetName reads it while rebuilding effectiveName.
      char name[kTraceNameSize];
      std::snprintf(name, sizeof name, "%s", ts->configuredName);
      trOpen(name, true);
      ts->continuing = 0;
    }
  }
  if (ts->stream != nullptr) std::fseek(ts->stream, long(ts->nextWrite), SEEK_SET);
}

void trMarkNextWrite(FILE* file) {
  TraceState* ts = traceState;
  ts->nextWrite = uint64_t(std::ftell(file));
  std::fseek(file, 12, SEEK_SET);
  std::fprintf(file, "%-12u", unsigned(ts->nextWrite));
  std::fseek(file, long(ts->nextWrite), SEEK_SET);
}
