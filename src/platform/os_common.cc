// The operating-system services whose code is the same on every host.
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/os.h"
#include "platform/os_internal.h"

// The text is the C runtime's ctime text, built here from the thread-safe
// local-time conversion instead: ctime converts through the shared
// broken-down time, and glibc then looks at the time zone file again on
// every call.  The runtimes differ only in the day of the month, which
// glibc pads with a blank and the Microsoft runtime with a zero.
bool osLocaleKeepsAscii() {
  // The decision and the locale it was made for, in one word, so that a
  // thread that reads it sees both or neither: bit 63 set once decided,
  // the locale's tag in bits 1 to 62, the decision in bit 0.
  constexpr uint64_t kTagBits = (uint64_t(1) << 62) - 1;
  static std::atomic<uint64_t> decided{0};
  uint64_t tag = osLocaleTag() & kTagBits;
  uint64_t known = decided.load(std::memory_order_relaxed);
  if (known != 0 && ((known >> 1) & kTagBits) == tag) return (known & 1) != 0;
  bool keeps = std::mblen(nullptr, 0) == 0;  // no state-dependent encodings
  for (int c = 1; c < 0x80 && keeps; ++c) {
    std::mbstate_t state{};
    char piece[MB_LEN_MAX];
    keeps = std::wcrtomb(piece, wchar_t(c), &state) == 1 && piece[0] == char(c);
  }
  decided.store((uint64_t(1) << 63) | (tag << 1) | (keeps ? 1 : 0), std::memory_order_relaxed);
  return keeps;
}

namespace {
// Two digits of v (0 to 99) at p.
char* twoDigits(char* p, int v) {
  p[0] = char('0' + v / 10);
  p[1] = char('0' + v % 10);
  return p + 2;
}
}  // namespace

bool osCtime64(int64_t seconds, char* buf, size_t size) {
  static const char kDays[] = "SunMonTueWedThuFriSat";
  static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  buf[0] = '\0';
  struct tm tm {};
  if (!osLocalTime(seconds, tm) || tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_mon < 0 || tm.tm_mon > 11 ||
      tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour < 0 || tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59 ||
      tm.tm_sec < 0 || tm.tm_sec > 60 || tm.tm_year > INT_MAX - 1900)
    return false;
  // "Www Mmm dd hh:mm:ss yyyy\n", the year in as many digits as it takes.
  char text[64];
  std::memcpy(text, kDays + 3 * tm.tm_wday, 3);
  text[3] = ' ';
  std::memcpy(text + 4, kMonths + 3 * tm.tm_mon, 3);
  text[7] = ' ';
  char* p = twoDigits(text + 8, tm.tm_mday);
  if (tm.tm_mday < 10 && !osCtimePadsDayWithZero()) text[8] = ' ';
  *p++ = ' ';
  p = twoDigits(p, tm.tm_hour);
  *p++ = ':';
  p = twoDigits(p, tm.tm_min);
  *p++ = ':';
  p = twoDigits(p, tm.tm_sec);
  // The year as " %d\n" writes it, without a format to interpret.
  long long year = (long long)tm.tm_year + 1900;
  char digits[24];
  size_t d = 0;
  unsigned long long magnitude = year < 0 ? 0ull - (unsigned long long)year : (unsigned long long)year;
  do {
    digits[d++] = char('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  *p++ = ' ';
  if (year < 0) *p++ = '-';
  while (d > 0) *p++ = digits[--d];
  *p++ = '\n';
  *p = '\0';
  size_t length = size_t(p - text);
  if (length >= sizeof text || length >= size) return false;
  std::memcpy(buf, text, length + 1);
  return true;
}
