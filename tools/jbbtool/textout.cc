// Buffered output and fast formatting.
#include "jbbtool/textout.h"

#include <cerrno>

#include "btree/format.h"
#include "platform/os.h"

namespace jbbtool {

namespace {

// "00" "01" ... "99": two digits a lookup.
struct DigitPairs {
  char text[200];
  constexpr DigitPairs() : text() {
    for (int i = 0; i < 100; ++i) {
      text[2 * i] = char('0' + i / 10);
      text[2 * i + 1] = char('0' + i % 10);
    }
  }
};
constexpr DigitPairs kPairs;

struct PowersOfTen {
  uint64_t value[20];
  constexpr PowersOfTen() : value() {
    value[0] = 1;
    for (int i = 1; i < 20; ++i) value[i] = value[i - 1] * 10;
  }
};
constexpr PowersOfTen kPowersOfTen;

// Two lower-case hex digits for every byte value.
struct HexPairs {
  char text[512];
  constexpr HexPairs() : text() {
    const char digits[] = "0123456789abcdef";
    for (int i = 0; i < 256; ++i) {
      text[2 * i] = digits[i >> 4];
      text[2 * i + 1] = digits[i & 15];
    }
  }
};
constexpr HexPairs kHexPairs;

char* two(char* p, unsigned v) { return copyText(p, kPairs.text + 2 * v, 2); }

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

// The days of years 0 to 9999, which hold almost every stored time.
constexpr int64_t kDayOfYear0 = -719528, kDayAfterYear9999 = 2932897;

// The same date for a day of years 0 to 9999, with 32-bit multiplications
// and shifts only.  The calendar is shifted to start on 1 March of a year
// far enough back that every value is positive; years of the shifted
// calendar are split into centuries of 36524.25 days and years of 365.25,
// and the months from March on follow 153 days in 5 (2141 / 65536 per day).
void civilFromDaysNear(int64_t days, unsigned* year, unsigned* month, unsigned* day) {
  constexpr uint32_t kEras = 82;  // 400-year eras the calendar is shifted by
  uint32_t n = uint32_t(days + 719468 + int64_t(146097) * kEras);
  uint32_t n1 = 4 * n + 3;
  uint32_t century = n1 / 146097;
  uint32_t n2 = (n1 % 146097) | 3;  // 4 * (day of the century) + 3
  uint64_t p2 = uint64_t(2939745) * n2;
  uint32_t yearOfCentury = uint32_t(p2 >> 32);
  uint32_t dayOfYear = uint32_t(p2) / 2939745 / 4;  // from 1 March
  uint32_t n3 = 2141 * dayOfYear + 197913;
  bool janOrFeb = dayOfYear >= 306;
  *year = 100 * century + yearOfCentury - 400 * kEras + janOrFeb;
  *month = janOrFeb ? (n3 >> 16) - 12 : n3 >> 16;
  *day = (n3 & 0xFFFF) / 2141 + 1;
}

// A year beyond four digits or before year 0: a sign and at least four digits.
char* signedYear(char* p, int64_t year) {
  *p++ = year < 0 ? '-' : '+';
  uint64_t magnitude = year < 0 ? uint64_t(0) - uint64_t(year) : uint64_t(year);
  for (uint64_t below : {1000, 100, 10})
    if (magnitude < below) *p++ = '0';
  return formatUnsigned(p, magnitude);
}

// Writes v's digits backwards, ending at end.  Word is uint32_t where v
// fits: its divisions are the cheaper ones.
template <typename Word>
void digitsBackwards(char* end, Word v) {
  for (; v >= 100; v /= 100) {
    end -= 2;
    copyText(end, kPairs.text + 2 * (v % 100), 2);
  }
  if (v >= 10)
    copyText(end - 2, kPairs.text + 2 * v, 2);
  else
    end[-1] = char('0' + v);
}

// The digits of a 32-bit number, by a few comparisons.
unsigned digitCount(uint32_t v) {
  if (v < 100000) return v < 100 ? (v < 10 ? 1 : 2) : v < 1000 ? 3 : v < 10000 ? 4 : 5;
  return v < 10000000 ? (v < 1000000 ? 6 : 7) : v < 100000000 ? 8 : v < 1000000000 ? 9 : 10;
}

// Four bytes as eight hex digits, with the bytes' nibbles spread one to a
// byte of a word (in memory order on a little-endian host) and turned into
// digits all at once; no byte of the word carries into the next.
char* hexFour(char* p, const uint8_t* bytes) {
  uint32_t four;
  std::memcpy(&four, bytes, 4);
  uint64_t t = four;
  t = (t | t << 16) & 0x0000FFFF0000FFFFull;
  t = (t | t << 8) & 0x00FF00FF00FF00FFull;  // byte i in the low half of lane i
  const uint64_t low = 0x000F000F000F000Full;
  uint64_t nibbles = ((t >> 4) & low) | ((t & low) << 8);  // high nibble first
  uint64_t letters = ((nibbles + 0x0606060606060606ull) >> 4) & 0x0101010101010101ull;  // 10..15
  uint64_t digits = nibbles + 0x3030303030303030ull + letters * ('a' - '0' - 10);
  std::memcpy(p, &digits, 8);
  return p + 8;
}

// Seconds since 1970 as whole days and the seconds into the last one.
void splitDays(int64_t seconds, int64_t* days, unsigned* rest) {
  int64_t d = seconds / 86400, r = seconds % 86400;
  if (r < 0) {
    r += 86400;
    --d;
  }
  *days = d;
  *rest = unsigned(r);
}

char* monthAndDay(char* p, unsigned month, unsigned day) {
  *p++ = '-';
  p = two(p, month);
  *p++ = '-';
  return two(p, day);
}

// "YYYY-MM-DD" of a day of years 0 to 9999.
char* nearDate(char* p, int64_t days) {
  unsigned year, month, day;
  civilFromDaysNear(days, &year, &month, &day);
  p = two(p, year / 100);
  p = two(p, year % 100);
  return monthAndDay(p, month, day);
}

// "Thh:mm:ssZ"
char* timeOfDay(char* p, unsigned r) {
  *p++ = 'T';
  p = two(p, r / 3600);
  *p++ = ':';
  p = two(p, r / 60 % 60);
  *p++ = ':';
  p = two(p, r % 60);
  *p++ = 'Z';
  return p;
}

bool nearDay(int64_t days) { return days >= kDayOfYear0 && days < kDayAfterYear9999; }

}  // namespace

char* formatUnsigned(char* p, uint64_t v) {
  if (v <= UINT32_MAX) {
    char* end = p + digitCount(uint32_t(v));
    digitsBackwards(end, uint32_t(v));
    return end;
  }
  unsigned digits = 10;  // v is above 2^32 - 1
  while (digits < 20 && v >= kPowersOfTen.value[digits]) ++digits;
  digitsBackwards(p + digits, v);
  return p + digits;
}

char* formatInt(char* p, int64_t v) {
  if (v >= 0) return formatUnsigned(p, uint64_t(v));
  *p++ = '-';
  return formatUnsigned(p, uint64_t(0) - uint64_t(v));
}

char* formatHex(char* p, const uint8_t* bytes, size_t n) {
  size_t i = 0;
  if (jbbformat::hostIsLittleEndian())
    for (; i + 4 <= n; i += 4) p = hexFour(p, bytes + i);
  for (; i < n; ++i) p = copyText(p, kHexPairs.text + 2 * bytes[i], 2);
  return p;
}

char* formatUtcAt(char* p, int64_t seconds) {
  int64_t days;
  unsigned rest;
  splitDays(seconds, &days, &rest);
  if (nearDay(days)) {
    p = nearDate(p, days);
  } else {
    int64_t year;
    unsigned month, day;
    civilFromDays(days, &year, &month, &day);
    p = monthAndDay(signedYear(p, year), month, day);
  }
  return timeOfDay(p, rest);
}

size_t formatUtc(int64_t seconds, char* buf) {
  char* end = formatUtcAt(buf, seconds);
  *end = '\0';
  return size_t(end - buf);
}

TextOut::TextOut(FILE* stream)
    : stream_(stream),
      buf_(new char[kFlushAt + 65536]),
      cap_(kFlushAt + 65536),
      crlf_(std::strcmp(osLineEndOf(stream), "\r\n") == 0) {}

void TextOut::put(const char* s, size_t n) {
  if (!crlf_) {
    commit(copyText(room(n), s, n));
    return;
  }
  char* p = room(2 * n);
  for (size_t i = 0; i < n; ++i) {
    if (s[i] == '\n') *p++ = '\r';
    *p++ = s[i];
  }
  commit(p);
}

void TextOut::fail() {
  if (!failed_) error_ = errno;
  failed_ = true;
}

void TextOut::grow(size_t n) {
  size_t cap = cap_ * 2;
  while (cap - used_ < n) cap *= 2;
  std::unique_ptr<char[]> bigger(new char[cap]);
  std::memcpy(bigger.get(), buf_.get(), used_);
  buf_.swap(bigger);
  cap_ = cap;
}

bool TextOut::flush() {
  if (used_) {
    errno = 0;
    if (!osWriteBytes(stream_, buf_.get(), used_)) fail();
    used_ = 0;
  }
  errno = 0;
  if (std::fflush(stream_) != 0) fail();
  return !failed_;
}

}  // namespace jbbtool
