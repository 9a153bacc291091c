// Opening, closing and resetting the trace output.  The file layout is in
// tracestate.h.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/datetime.h"
#include "platform/psstr.h"
#include "platform/strsearch.h"
#include "platform/path.h"
#include "platform/token.h"
#include "trace/trace.h"
#include "trace/traceclasses.h"
#include "trace/tracestate.h"

TraceState* traceState = nullptr;
psMutex writeLock = {};

namespace {
constexpr char kSourceName[] = "trace";
constexpr char kHeaderTag[] = "ZRM Trace   ";
constexpr char kUnsetOffset[] = "123456789012";
constexpr char kHeaderRest[] = "%-10u Orvik Vestrel 6.1.1.00 0514FB Build date: %s\n\n";
constexpr char kBeginning[] = "BEGINNING NEW TRACE\n\n";
constexpr uint64_t kMB = 1048576;
constexpr int kFirstLineMax = 256;

bool isConsoleName(const char* name, const char* which) { return compareNoCase(name, which) == 0; }
bool isFileStream(FILE* f) { return f != nullptr && f != stdout && f != stderr; }

// Parses one unsigned decimal field; false when there is none or it does
// not fit 32 bits.
bool parseField(const char*& p, uint32_t* value) {
  while (*p == ' ') ++p;
  if (*p < '0' || *p > '9') return false;
  uint64_t v = 0;
  while (*p >= '0' && *p <= '9') {
    v = v * 10 + uint64_t(*p++ - '0');
    if (v > 0xFFFFFFFFu) return false;
  }
  *value = uint32_t(v);
  return true;
}

// An existing wrapping trace file is continued only when its header parses
// and it fits the configured limit; its recorded next-write offset must lie
// between the header and the end of the file, or the file is recreated.
FILE* reuseWrapFile(TraceState* ts) {
  if (ts->segmentCount > 1) return nullptr;
  FILE* f = std::fopen(ts->effectiveName, "rb+");
  if (f == nullptr) return nullptr;
  std::fseek(f, 0, SEEK_END);
  long size = std::ftell(f);
  std::rewind(f);
  char line[kFirstLineMax + 1] = {};
  uint32_t offset = 0, recordedMB = 0;
  bool parsed = std::fgets(line, sizeof line, f) != nullptr &&
                std::strncmp(line, kHeaderTag, sizeof kHeaderTag - 1) == 0;
  const char* p = line + sizeof kHeaderTag - 1;
  parsed = parsed && parseField(p, &offset) && parseField(p, &recordedMB);
  long dataStart = std::ftell(f);
  // The header is rewritten from offset 24 on, so its first line must have
  // the length this system gives it, or the rewrite would run into the data.
  char rest[kFirstLineMax];
  int restLen = std::snprintf(rest, sizeof rest, kHeaderRest, ts->maxMB, trBuildDate()) - 1;
  parsed = parsed && std::strlen(line) == size_t(24 + restLen);
  bool fits = parsed && size >= 0 && uint64_t(size) <= uint64_t(ts->maxMB) * kMB && recordedMB <= ts->maxMB &&
              offset >= uint64_t(dataStart) && offset <= uint64_t(size);
  if (!fits) {
    std::fclose(f);
    return nullptr;
  }
  ts->dataStart = uint64_t(dataStart);
  ts->nextWrite = offset;
  std::fseek(f, 24, SEEK_SET);
  std::fprintf(f, kHeaderRest, ts->maxMB, trBuildDate());
  return f;
}

FILE* createWrapFile(TraceState* ts) {
  FILE* f = std::fopen(ts->effectiveName, "wb+");
  if (f == nullptr) return nullptr;
  std::fputs(kHeaderTag, f);
  std::fputs(kUnsetOffset, f);
  std::fprintf(f, kHeaderRest, ts->maxMB, trBuildDate());
  trMarkNextWrite(f);
  ts->dataStart = ts->nextWrite;
  return f;
}

// Opens the trace file (wrap or append mode) as the stream; 426 when it
// cannot be opened.  stateLock is held on entry and released on failure.
// Every trace file is opened in binary mode, here and above: the header's
// offsets are byte offsets that the writer seeks to, and the size limit
// counts bytes.  In text mode the Windows runtime would write each newline
// as two bytes, so the offsets would no longer match the file and a file
// could grow past its limit.
int openTraceFile(TraceState* ts) {
  FILE* f = nullptr;
  if (ts->wrapMode) {
    f = reuseWrapFile(ts);
    if (f == nullptr) f = createWrapFile(ts);
  } else {
    f = std::fopen(ts->effectiveName, "ab");
  }
  if (f == nullptr) {
    if (ts->consoleAllowed) std::printf("Unable to open trace output file %s\n", ts->effectiveName);
    psMutexRelease(ts->stateLock);
    trReset(true);
    return 426;
  }
  ts->stream = f;
  if (!ts->wrapMode) {
    std::fprintf(f, "ZRM Trace   Orvik Vestrel 6.1.1.00 0514FB\nBuild Date: %s\nBEGINNING NEW TRACE\n\n",
                 trBuildDate());
  } else if (ts->continuing) {
    std::fprintf(f, "Continued from end of segment %u\n\n", ts->previousSegment);
    std::fflush(f);
    trMarkNextWrite(f);
  } else {
    trWrapCheck(sizeof kBeginning - 1);
    if (ts->stream == nullptr) {
      psMutexRelease(ts->stateLock);
      return 426;
    }
    std::fputs(kBeginning, ts->stream);
    trMarkNextWrite(ts->stream);
  }
  return 0;
}

// The banner lines of the first open; they flow only once tracing is on.
void announceFirstOpen(TraceState* ts, bool announce) {
  if (ts->autoPrefix) {
    ts->enabled = 1;
    trClass.TIMESTAMP = 1;
    trClass.PREFIX = 1;
  }
  if (announce) {
    trPrintf(kSourceName, __LINE__, "Tracing to file: %s\n", ts->effectiveName);
    trPrintf(kSourceName, __LINE__, "Tracefile maximum length set to %lu MB.\n", static_cast<unsigned long>(ts->maxMB));
  }
  DateTime7 now;
  currentDateTime(now);
  char date[32] = {};
  char time[32] = {};
  formatDateTime(now, date, time);
  if (announce)
    trPrintf(kSourceName, __LINE__, "----------------------------------------------------------------\n%s %s - Trace begun.\n",
             date, time);
  ts->enabled = 1;
  trPrintf(kSourceName, __LINE__, "Unicode Client\n");
}

// The sink stands behind "CONSOLE"; without one nothing is opened.
void openConsoleSink(TraceState* ts) {
  if (ts->traceOpSink == nullptr) return;
  if (ts->traceOpSink(kSinkOpen, nullptr, ts->sinkUserData) == 0) {
    ts->sinkMode = 1;
    ts->wrapMode = 0;
    ts->enabled = 1;
    ts->stream = stderr;
    std::printf("Tracing to stderr\n");
  } else {
    ts->sinkMode = 0;
  }
}
}  // namespace

int trSetName(const char* name) {
  TraceState* ts = traceState;
  if (ts == nullptr) return -1;
  if (name == nullptr || name[0] == '\0' || std::strlen(name) > size_t(kTraceNameMax)) {
    std::printf("Invalid trace file name\n");
    return -1;
  }
  char given[kTraceNameSize] = {};
  if (name[0] == '"' || name[0] == '\'') {
    // A quote without its partner, or nothing between the quotes, names no
    // file.
    const char* cursor = name;
    if (nextToken(cursor, given) != 0 || given[0] == '\0') {
      std::printf("Invalid trace file name\n");
      return -1;
    }
  } else {
    std::snprintf(given, sizeof given, "%s", name);
  }
  if (isConsoleName(given, "STDOUT") || isConsoleName(given, "STDERR") || isConsoleName(given, "CONSOLE")) {
    std::snprintf(ts->effectiveName, kTraceNameSize, "%s", given);
    return 0;
  }
  // Only a bare file name is placed in the current directory; a name that
  // already names a directory, with either separator, is kept as given.
  char full[kTraceNameSize] = {};
  std::snprintf(full, sizeof full, "%s", given);
  if (std::strchr(given, '/') == nullptr) makeFullPath(full, given, sizeof full);
  if (ts->configuredName[0] == '\0') std::snprintf(ts->configuredName, kTraceNameSize, "%s", full);
  if (ts->segmentCount > 1)
    std::snprintf(ts->effectiveName, kTraceNameSize, "%.8400s.%u", ts->configuredName, ts->currentSegment);
  else
    std::snprintf(ts->effectiveName, kTraceNameSize, "%s", ts->configuredName);
  return 0;
}

int trOpen(const char* name, bool announce) {
  int rc = trSetName(name);
  if (rc != 0) return rc;
  TraceState* ts = traceState;
  if (ts->stream != nullptr) return 0;
  psMutexLock(ts->stateLock);
  if (isConsoleName(ts->effectiveName, "CONSOLE")) {
    openConsoleSink(ts);
  } else if (isConsoleName(ts->effectiveName, "STDOUT") || isConsoleName(ts->effectiveName, "STDERR")) {
    bool out = isConsoleName(ts->effectiveName, "STDOUT");
    ts->wrapMode = 0;
    ts->stream = out ? stdout : stderr;
    trPrintf(kSourceName, __LINE__, out ? "Tracing to stdout\n" : "Tracing to stderr\n");
  } else {
    rc = openTraceFile(ts);
    if (rc != 0) return rc;
    if (!ts->opened) announceFirstOpen(ts, announce);
  }
  ts->opened = 1;
  psMutexRelease(ts->stateLock);
  return 0;
}

void trClose(bool resetFirst) {
  TraceState* ts = traceState;
  if (ts == nullptr) return;
  uint64_t lastWrite = ts->nextWrite;
  bool wrapped = ts->wrapMode != 0;
  if (resetFirst) trReset(false);
  if (!ts->continuing && ts->traceOpSink != nullptr) {
    ts->traceOpSink(kSinkClose, nullptr, ts->sinkUserData);
    ts->sinkMode = 0;
  }
  if (isFileStream(ts->stream)) {
    if (wrapped && !ts->continuing) {
      psMutexDestroy(writeLock);
      std::fseek(ts->stream, long(lastWrite), SEEK_SET);
      std::fputs("\nEND OF DATA - close\n\n", ts->stream);
    }
    if (std::fclose(ts->stream) != 0)
      std::printf("Unable to close trace output file %s: %s \n", ts->effectiveName, std::strerror(errno));
  }
  ts->stream = nullptr;
  ts->effectiveName[0] = '\0';
}

void trReset(bool close) {
  TraceState* ts = traceState;
  if (ts == nullptr) return;
  psMutexLock(ts->stateLock);
  for (int i = 1; traceClassTable[i].name != nullptr; ++i) *traceClassTable[i].flag = 0;
  if (close) {
    if (ts->wrapMode) {
      psMutexLock(writeLock);
      psMutexRelease(writeLock);
    }
    trClose(false);
  }
  ts->maxMB = 0;
  ts->segmentMB = 0;
  ts->wrapMode = 0;
  ts->autoPrefix = 0;
  ts->opened = 0;
  ts->configuredName[0] = '\0';
  psMutexRelease(ts->stateLock);
}
