// The error log and the second log; the file layout is in logutils.h.
#include "messages/logutils.h"

#include <cerrno>
#include <cstring>

#include "messages/amsgrtrv.h"
#include "platform/datetime.h"
#include "trace/trace.h"

LogState errorLog = {};
LogState secondLog = {};
int32_t errorLogOn = 0;
int32_t secondLogOn = 0;
int32_t secondLogSelected = 0;
int errorLogLastError = 0;
int secondLogLastError = 0;
const char* logEndMarker = nullptr;
const char* logWrapText = nullptr;

namespace {
constexpr char kSourceName[] = "logutils";
constexpr int kHeaderLineMax = 4096;

const char* text(const char* s) { return s == nullptr ? "" : s; }

bool endsWithNewline(const char* s) {
  size_t n = std::strlen(s);
  return n > 0 && s[n - 1] == '\n';
}

// The date and time texts that head a record.
void stamp(char* date, char* time) {
  DateTime7 now;
  currentDateTime(now);
  formatDateTime(now, date, time);
}

// The end of the file, or 0 when it cannot be told.
uint64_t fileEnd(FILE* f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return 0;
  long end = std::ftell(f);
  return end < 0 ? 0 : uint64_t(end);
}

// Whether a header's position can be where the next record goes: past the
// header line, not past the end of the file (which would leave a gap of
// zeros), and with room for the wrap text before the maximum size (so a wrap
// from there still ends the file at exactly that size).
bool plausiblePosition(LogState& log, uint64_t pos) {
  if (pos <= uint64_t(kLogHeaderLen)) return false;
  if (pos + std::strlen(text(logWrapText)) > log.maxSize) return false;
  return pos <= fileEnd(log.stream);
}

// A header that cannot be read, or whose position is impossible, is written
// afresh, with the next record right after it.
void readHeader(LogState& log) {
  unsigned long pos = 0;
  std::rewind(log.stream);
  if (std::fscanf(log.stream, "LOGHEADERREC %lu", &pos) == 1 && plausiblePosition(log, pos)) {
    log.nextWrite = pos;
    return;
  }
  std::rewind(log.stream);
  std::fprintf(log.stream, "LOGHEADERREC %-12lu\n", static_cast<unsigned long>(kLogHeaderLen + 1));
  std::fflush(log.stream);
  log.nextWrite = kLogHeaderLen + 1;
}

// Fills the tail from the current offset to exactly the maximum size.
void padTail(LogState& log) {
  long offset = std::ftell(log.stream);
  if (offset < 0 || uint64_t(offset) >= log.maxSize) return;
  uint64_t r = log.maxSize - uint64_t(offset);
  if (r == 1)
    std::fputs("\n", log.stream);
  else
    std::fprintf(log.stream, "%*s\n", int(r - 1), "*");
  std::fflush(log.stream);
}
}  // namespace

bool errorLogIsOpen() { return errorLogOn != 0 && errorLog.stream != nullptr; }
bool secondLogActive() { return secondLogOn == 1 && secondLogSelected == 1; }

void logMakeRoom(LogState& log, uint64_t n) {
  if (!log.wrapping || log.stream == nullptr) return;
  readHeader(log);
  uint64_t marker = std::strlen(text(logEndMarker));
  uint64_t wrap = std::strlen(text(logWrapText));
  uint32_t limit = uint32_t(log.maxSize - uint32_t(wrap) - 1u);
  if (log.nextWrite + marker + n + 1 > limit) {
    std::fseek(log.stream, long(log.nextWrite), SEEK_SET);
    std::fputs(text(logWrapText), log.stream);
    std::fflush(log.stream);
    padTail(log);
    std::rewind(log.stream);
    char line[kHeaderLineMax];
    if (std::fgets(line, sizeof line, log.stream) != nullptr) log.nextWrite = uint64_t(std::ftell(log.stream));
  }
  std::fflush(log.stream);
  std::fseek(log.stream, long(log.nextWrite), SEEK_SET);
}

void utSetNextWrite(LogState& log) {
  if (!log.wrapping || log.stream == nullptr) return;
  log.nextWrite = uint64_t(std::ftell(log.stream));
  std::rewind(log.stream);
  std::fprintf(log.stream, "LOGHEADERREC %-12lu", static_cast<unsigned long>(log.nextWrite));
  std::fflush(log.stream);
  std::fseek(log.stream, long(log.nextWrite), SEEK_SET);
  if (trClass.GENERAL)
    trPrintf(kSourceName, __LINE__, "utSetNextWrite(): nextWrite for END OF DATA is %d .\n", int(log.nextWrite));
  std::fprintf(log.stream, "%s\n", text(logEndMarker));
  std::fflush(log.stream);
}

int errorLogWrite(const char* message) {
  if (nlsState == nullptr || message == nullptr) return 109;
  if (!errorLogOn) return 0;
  if (nlsLock() != 0) return 109;
  // A log that is switched on but was never opened has nowhere to write.
  if (errorLog.stream == nullptr) {
    nlsUnlock();
    return 0;
  }
  char date[32] = {};
  char time[32] = {};
  stamp(date, time);
  logMakeRoom(errorLog, std::strlen(message) + std::strlen(date) + std::strlen(time) + 2);
  int result = std::fprintf(errorLog.stream, "%s %s %s", date, time, message);
  if (result < 0) {
    errorLogLastError = errno;
    result = 621;
  } else if (!endsWithNewline(message)) {
    if (std::fputs("\n", errorLog.stream) >= 0) ++result;
  }
  std::fflush(errorLog.stream);
  utSetNextWrite(errorLog);
  nlsUnlock();
  return result;
}

int secondLogWrite(const char* message) {
  if (!secondLogActive() || secondLog.stream == nullptr || message == nullptr) return 0;
  const nlsMsg* last = nlsState == nullptr ? nullptr : nlsState->cacheHead[0];
  if (last != nullptr && last->msgNum == kUnloggedMessage) return 0;
  char date[32] = {};
  char time[32] = {};
  stamp(date, time);
  logMakeRoom(secondLog, std::strlen(message) + std::strlen(date) + std::strlen(time) + 2);
  bool lineStart = nlsState == nullptr || nlsState->lineStart == 1;
  int n = lineStart ? std::fprintf(secondLog.stream, "%s %s %s", date, time, message)
                    : std::fprintf(secondLog.stream, "%s", message);
  if (n < 0) secondLogLastError = errno;
  if (nlsState != nullptr) nlsState->lineStart = endsWithNewline(message) ? 1 : 0;
  std::fflush(secondLog.stream);
  utSetNextWrite(secondLog);
  return 0;
}

// Binary mode: the header's position is a byte offset and the maximum size
// counts bytes.  Text mode would write each newline as two bytes on Windows,
// so positions would drift from the file and a wrapped file would overrun
// its maximum.
bool logOpenFile(LogState& log, const char* path) {
  FILE* f = std::fopen(path, "rb+");
  if (f == nullptr) f = std::fopen(path, "wb+");
  if (f == nullptr) return false;
  log.stream = f;
  std::fseek(f, 0, SEEK_END);
  bool empty = std::ftell(f) == 0;
  if (log.wrapping && empty) {
    std::fprintf(f, "LOGHEADERREC %-12lu\n", static_cast<unsigned long>(kLogHeaderLen + 1));
    std::fprintf(f, "%s\n", text(logEndMarker));
    std::fflush(f);
    log.nextWrite = kLogHeaderLen + 1;
  } else if (!log.wrapping) {
    log.nextWrite = uint64_t(std::ftell(f));
  }
  return true;
}
