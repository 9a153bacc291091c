// Local date and time as a compact record, and its texts.
#pragma once

#include <cstdint>
#include <ctime>

// A local date and time in 7 bytes.  The year is big-endian (high byte
// first); the other fields are single bytes.  Plain bytes, so the record has
// no padding and the same layout on every host.
struct DateTime7 {
  uint8_t yearHigh;
  uint8_t yearLow;
  uint8_t month;   // 1-12
  uint8_t day;     // 1-31
  uint8_t hour;    // 0-23
  uint8_t minute;  // 0-59
  uint8_t second;  // 0-59
};
static_assert(sizeof(DateTime7) == 7, "DateTime7 is exactly 7 bytes");

inline int dateTimeYear(const DateTime7& dt) { return (dt.yearHigh << 8) | dt.yearLow; }
inline void setDateTimeYear(DateTime7& dt, int year) {
  dt.yearHigh = uint8_t((year >> 8) & 0xFF);
  dt.yearLow = uint8_t(year & 0xFF);
}

// The patterns of the date and time texts.
extern const char kDatePattern[];  // "%m/%d/%Y"
extern const char kTimePattern[];  // "%H:%M:%S"

// The local time now.  Should the local breakdown fail, the local breakdown
// of 172800 seconds after the epoch stands in.
void currentDateTime(DateTime7& out);
// The same, with the milliseconds within the second (x 1000) in micros; both
// come from one reading of the clock.
void currentDateTimeUs(DateTime7& out, uint32_t& micros);

// Fills whichever buffers are given (each at least 16 bytes) with the date
// and time texts of the record.  Fields out of range are printed as they are
// (through formatByPattern) rather than rejected.
void formatDateTime(const DateTime7& dt, char* date, char* time);

// Copies pattern to out with the directives %Y %y %m %d %H %I %p %M %S
// replaced by the fields of t; any other text stays as it is.  Each
// directive yields at most 5 characters.  Returns the length of out.
int formatByPattern(char* out, const char* pattern, const struct tm* t);
