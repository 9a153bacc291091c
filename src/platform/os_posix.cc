// The operating-system services on Linux (POSIX and glibc).  wchar_t is a
// 32-bit code point here, so conversions go through it one character at a
// time and surrogate pairs are made and taken apart in this file.
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <cwctype>

#include "platform/os.h"
#include "platform/os_internal.h"

namespace {
// "C" and "POSIX" know only 7-bit characters: every byte of a UTF-8 name
// above 127 fails to convert.
bool sevenBitCharacterType() {
  const char* name = std::setlocale(LC_CTYPE, nullptr);
  return name == nullptr || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0;
}
}  // namespace

// A process started without a locale in its environment (a service, cron,
// "env -i") gets "C" from the environment.  Its names are still UTF-8, so the
// character type then becomes C.UTF-8 where the system has it; the other
// categories keep what the environment chose.
void osSetUserLocale() {
  if (std::setlocale(LC_ALL, "") == nullptr) std::setlocale(LC_ALL, "C.UTF-8");
  if (sevenBitCharacterType()) std::setlocale(LC_CTYPE, "C.UTF-8");
}

size_t osMbsToWide16(wchar16* dst, const char* src, size_t maxUnits) {
  std::mbstate_t state{};
  size_t units = 0;
  size_t remaining = std::strlen(src);
  while (remaining > 0 && units < maxUnits) {
    wchar_t wc = 0;
    size_t used = std::mbrtowc(&wc, src, remaining, &state);
    if (used == size_t(-1) || used == size_t(-2)) return SIZE_MAX;
    if (used == 0) break;
    auto cp = static_cast<uint32_t>(wc);
    if (cp > 0x10FFFF) return SIZE_MAX;
    if (cp >= 0x10000) {
      if (units + 2 > maxUnits) break;  // never split a pair
      cp -= 0x10000;
      dst[units++] = wchar16(0xD800 + (cp >> 10));
      dst[units++] = wchar16(0xDC00 + (cp & 0x3FF));
    } else {
      dst[units++] = wchar16(cp);
    }
    src += used;
    remaining -= used;
  }
  return units;
}

size_t osWide16ToMbs(char* dst, const wchar16* src, size_t maxBytes, bool substitute) {
  std::mbstate_t state{};
  size_t bytes = 0;
  bool ascii = osLocaleKeepsAscii();
  while (*src != 0) {
    uint32_t cp = *src;
    if (ascii && cp < 0x80) {
      // A run of ASCII units, most of every key, in one tight loop.
      size_t room = maxBytes - bytes, n = 0;
      while (n < room && src[n] != 0 && src[n] < 0x80) {
        dst[bytes + n] = char(src[n]);
        ++n;
      }
      if (n == 0) break;  // no room left
      bytes += n;
      src += n;
      continue;
    }
    size_t units = 1;
    bool valid = true;
    if (cp >= 0xD800 && cp <= 0xDBFF && src[1] >= 0xDC00 && src[1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (uint32_t(src[1]) - 0xDC00);
      units = 2;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      valid = false;  // unpaired surrogate
    }
    char piece[MB_LEN_MAX];
    size_t n = valid ? std::wcrtomb(piece, wchar_t(cp), &state) : size_t(-1);
    if (n == size_t(-1)) {
      if (!substitute) break;
      state = std::mbstate_t{};
      piece[0] = '?';
      n = 1;
    }
    if (bytes + n > maxBytes) break;
    std::memcpy(dst + bytes, piece, n);
    bytes += n;
    src += units;
  }
  return bytes;
}

wchar16 osUpperWide16(wchar16 c) {
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  return wchar16(std::towupper(wint_t(c)));
}

wchar16 osTowupper16(wchar16 c) { return osUpperWide16(c); }

int32_t osClockMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  int64_t ms = int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  return int32_t(uint32_t(uint64_t(ms)));
}

bool osFileSize(const char* path, uint64_t* size) {
  struct stat st{};
  if (stat(path, &st) != 0) return false;
  *size = uint64_t(st.st_size);
  return true;
}

char osPathSeparator() { return '/'; }

bool osCurrentDirectory(char* buf, size_t size) { return getcwd(buf, size) != nullptr; }

void osTimeNow(int64_t& seconds, uint32_t& millis) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  seconds = int64_t(ts.tv_sec);
  millis = uint32_t(ts.tv_nsec / 1000000);
}

// The time zone is read once; localtime_r then never looks at it again.
bool osLocalTime(int64_t seconds, struct tm& out) {
  static const bool zoneRead = (tzset(), true);
  (void)zoneRead;
  time_t t = time_t(seconds);
  if (time_t(seconds) != t) return false;
  return localtime_r(&t, &out) != nullptr;
}

bool osCtimePadsDayWithZero() { return false; }

// The character-type locale's name, hashed.
uint64_t osLocaleTag() {
  const char* name = std::setlocale(LC_CTYPE, nullptr);
  uint64_t h = 1469598103934665603ull;
  for (; name != nullptr && *name != 0; ++name) h = (h ^ uint8_t(*name)) * 1099511628211ull;
  return h;
}

// Linux has no legacy version word: the version is the leading numbers of
// the kernel release ("6.1.0-..."), and the system is never of the NT family.
void osQueryVersion(uint16_t& major, uint16_t& minor, bool& ntFamily) {
  major = 0;
  minor = 0;
  ntFamily = false;
  struct utsname names {};
  if (uname(&names) != 0) return;
  unsigned a = 0, b = 0;
  if (std::sscanf(names.release, "%u.%u", &a, &b) >= 1) {
    major = uint16_t(a);
    minor = uint16_t(b);
  }
}

uint32_t osProcessId() { return uint32_t(getpid()); }

bool osIsTerminal(FILE* stream) { return isatty(fileno(stream)) != 0; }

bool osHasLiveReader(FILE* stream) {
  struct stat st {};
  if (fstat(fileno(stream), &st) != 0) return true;
  return S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || isatty(fileno(stream)) != 0;
}
