// Buffered output and fast formatting.
#include "jbbtool/textout.h"

#include <cstring>

namespace jbbtool {

namespace {

const char kHexDigits[] = "0123456789abcdef";

// Days since 1970-01-01 to a proleptic Gregorian date (the civil calendar
// in eras of 400 years, which also holds before 1970).
void civilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  unsigned doe = unsigned(days - era * 146097);
  unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = int64_t(yoe) + era * 400 + (*month <= 2 ? 1 : 0);
}

char* two(char* p, unsigned v) {
  p[0] = char('0' + v / 10);
  p[1] = char('0' + v % 10);
  return p + 2;
}

}  // namespace

size_t formatUtc(int64_t seconds, char* buf) {
  int64_t days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int64_t year;
  unsigned month, day;
  civilFromDays(days, &year, &month, &day);
  char* p = buf;
  if (year >= 0 && year <= 9999) {
    p = two(p, unsigned(year / 100));
    p = two(p, unsigned(year % 100));
  } else {
    p += std::snprintf(p, 24, "%+05lld", static_cast<long long>(year));
  }
  *p++ = '-';
  p = two(p, month);
  *p++ = '-';
  p = two(p, day);
  *p++ = 'T';
  p = two(p, unsigned(rest / 3600));
  *p++ = ':';
  p = two(p, unsigned(rest / 60 % 60));
  *p++ = ':';
  p = two(p, unsigned(rest % 60));
  *p++ = 'Z';
  *p = '\0';
  return size_t(p - buf);
}

void TextOut::putUnsigned(uint64_t v) {
  char tmp[24];
  char* p = tmp + sizeof tmp;
  do {
    *--p = char('0' + v % 10);
    v /= 10;
  } while (v);
  buf_.append(p, size_t(tmp + sizeof tmp - p));
}

void TextOut::putInt(int64_t v) {
  if (v < 0) {
    buf_ += '-';
    putUnsigned(uint64_t(0) - uint64_t(v));
  } else {
    putUnsigned(uint64_t(v));
  }
}

void TextOut::putHex(const uint8_t* bytes, size_t n) {
  size_t at = buf_.size();
  buf_.resize(at + 2 * n);
  char* p = &buf_[at];
  for (size_t i = 0; i < n; ++i) {
    p[2 * i] = kHexDigits[bytes[i] >> 4];
    p[2 * i + 1] = kHexDigits[bytes[i] & 15];
  }
}

void TextOut::putUtc(int64_t seconds) {
  char tmp[32];
  buf_.append(tmp, formatUtc(seconds, tmp));
}

bool TextOut::flush() {
  if (!buf_.empty()) {
    if (std::fwrite(buf_.data(), 1, buf_.size(), stream_) != buf_.size()) failed_ = true;
    buf_.clear();
  }
  if (std::fflush(stream_) != 0) failed_ = true;
  return !failed_;
}

}  // namespace jbbtool
