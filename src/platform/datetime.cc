// Local date-time records and their date and time texts.
#include "platform/datetime.h"

#include <cstdio>
#include <cstring>

#include "platform/os.h"

const char kDatePattern[] = "%m/%d/%Y";
const char kTimePattern[] = "%H:%M:%S";

namespace {
// The third day of 1970: the instant used when the local breakdown of now
// fails.
constexpr int64_t kFallbackInstant = 172800;
// The C library's formatter writes at most this much (plus terminator).
constexpr size_t kFieldTextMax = 15;

void localBreakdown(int64_t seconds, struct tm& out) {
  if (osLocalTime(seconds, out)) return;
  if (osLocalTime(kFallbackInstant, out)) return;
  std::memset(&out, 0, sizeof out);  // not even the fallback: 1900-01-00 00:00:00
}

void toRecord(const struct tm& t, DateTime7& out) {
  setDateTimeYear(out, t.tm_year + 1900);
  out.month = uint8_t(t.tm_mon + 1);
  out.day = uint8_t(t.tm_mday);
  out.hour = uint8_t(t.tm_hour);
  out.minute = uint8_t(t.tm_min);
  out.second = uint8_t(t.tm_sec);
}

struct tm toBrokenDown(const DateTime7& dt) {
  struct tm t {};
  t.tm_year = dateTimeYear(dt) - 1900;
  t.tm_mon = dt.month - 1;
  t.tm_mday = dt.day;
  t.tm_hour = dt.hour;
  t.tm_min = dt.minute;
  t.tm_sec = dt.second;
  t.tm_isdst = 1;
  return t;  // weekday and day of the year stay 0
}

bool dateInRange(const struct tm& t) {
  return t.tm_year >= -1900 && t.tm_year <= 8099 && t.tm_mon >= 0 && t.tm_mon <= 11 && t.tm_mday >= 1 &&
         t.tm_mday <= 31;
}

bool timeInRange(const struct tm& t) { return t.tm_sec <= 59 && t.tm_min <= 59 && t.tm_hour <= 23; }

// Replaces every occurrence of directive in out by text, left to right.
void replaceAll(char* out, const char* directive, const char* text) {
  const size_t dirLen = std::strlen(directive);
  const size_t textLen = std::strlen(text);
  for (char* at = std::strstr(out, directive); at != nullptr; at = std::strstr(at + textLen, directive)) {
    std::memmove(at + textLen, at + dirLen, std::strlen(at + dirLen) + 1);
    std::memcpy(at, text, textLen);
  }
}

void replaceNumber(char* out, const char* directive, const char* format, int value) {
  if (std::strstr(out, directive) == nullptr) return;
  char text[16];
  std::snprintf(text, sizeof text, format, value);
  replaceAll(out, directive, text);
}

// The 12-hour clock of the C library: 12, 1, ..., 11.
int twelveHour(int hour) {
  int h = hour % 12;
  return h == 0 ? 12 : h;
}
}  // namespace

void currentDateTime(DateTime7& out) {
  int64_t seconds = 0;
  uint32_t millis = 0;
  osTimeNow(seconds, millis);
  struct tm t {};
  localBreakdown(seconds, t);
  toRecord(t, out);
}

void currentDateTimeUs(DateTime7& out, uint32_t& micros) {
  int64_t seconds = 0;
  uint32_t millis = 0;
  osTimeNow(seconds, millis);
  struct tm t {};
  localBreakdown(seconds, t);
  toRecord(t, out);
  micros = millis * 1000;
}

// The replacement texts are digits and "A.M."/"P.M.", so no pass creates a
// directive for a later one.  "%m" shows the month index plus one, as the C
// library does for months in range: a record with month 13 (index 12) shows
// "13", its own number, and only an index of 13 shows "14".  The work is done in out itself: the text
// after a directive may be of any length.
int formatByPattern(char* out, const char* pattern, const struct tm* t) {
  std::strcpy(out, pattern);
  replaceNumber(out, "%Y", "%04d", (t->tm_year + 1900) % 10000);
  replaceNumber(out, "%y", "%02d", (t->tm_year + 1900) % 100);
  replaceNumber(out, "%m", "%02d", (t->tm_mon + 1) % 100);
  replaceNumber(out, "%d", "%02d", t->tm_mday % 100);
  replaceNumber(out, "%H", "%02d", t->tm_hour % 100);
  replaceNumber(out, "%I", "%02d", twelveHour(t->tm_hour));
  replaceAll(out, "%p", t->tm_hour < 12 ? "A.M." : "P.M.");
  replaceNumber(out, "%M", "%02d", t->tm_min % 100);
  replaceNumber(out, "%S", "%02d", t->tm_sec % 100);
  return int(std::strlen(out));
}

// The C library's formatter takes only fields in range; the rest go through
// formatByPattern, which prints them as they are.
void formatDateTime(const DateTime7& dt, char* date, char* time) {
  const struct tm t = toBrokenDown(dt);
  if (date != nullptr) {
    if (!dateInRange(t) || std::strftime(date, kFieldTextMax + 1, kDatePattern, &t) == 0)
      formatByPattern(date, kDatePattern, &t);
    if (std::strlen(date) <= 8) std::strcat(date, "  ");
  }
  if (time != nullptr) {
    if (!timeInRange(t) || std::strftime(time, kFieldTextMax + 1, kTimePattern, &t) == 0)
      formatByPattern(time, kTimePattern, &t);
  }
}
