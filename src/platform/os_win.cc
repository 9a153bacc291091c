// The operating-system services on Windows: the Microsoft C runtime, where
// wchar_t is a 16-bit unit and so the same as a key's code unit, the
// kernel, and the user-interface library's upper-casing.
#include <windows.h>

#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/timeb.h>
#include <sys/types.h>

#include <clocale>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <cwctype>

#include "platform/os.h"
#include "platform/os_internal.h"

static_assert(sizeof(wchar_t) == sizeof(wchar16), "wchar_t is one UTF-16 unit on Windows");

void osSetUserLocale() { std::setlocale(LC_ALL, ""); }

size_t osMbsToWide16(wchar16* dst, const char* src, size_t maxUnits) {
  std::mbstate_t state{};
  size_t units = 0;
  size_t remaining = std::strlen(src);
  while (remaining > 0 && units < maxUnits) {
    wchar_t wc[2] = {0, 0};
    size_t used = std::mbrtowc(wc, src, remaining, &state);
    if (used == size_t(-1) || used == size_t(-2)) return SIZE_MAX;
    if (used == 0) break;
    dst[units++] = wchar16(wc[0]);
    src += used;
    remaining -= used;
  }
  return units;
}

size_t osWide16ToMbs(char* dst, const wchar16* src, size_t maxBytes, bool substitute) {
  size_t bytes = 0;
  bool ascii = osLocaleKeepsAscii();
  while (*src != 0) {
    if (ascii && *src < 0x80) {
      if (bytes + 1 > maxBytes) break;
      dst[bytes++] = char(*src++);
      continue;
    }
    size_t units = 1;
    if (src[0] >= 0xD800 && src[0] <= 0xDBFF && src[1] >= 0xDC00 && src[1] <= 0xDFFF) units = 2;
    wchar_t one[3] = {wchar_t(src[0]), units == 2 ? wchar_t(src[1]) : L'\0', L'\0'};
    char piece[2 * MB_LEN_MAX + 1];
    size_t n = std::wcstombs(piece, one, sizeof piece - 1);
    if (n == size_t(-1) || n == 0) {
      if (!substitute) break;
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
  // CharUpperW takes a single character in the low word of its argument.
  LPWSTR r = CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(c)));
  return wchar16(reinterpret_cast<ULONG_PTR>(r) & 0xFFFF);
}

wchar16 osTowupper16(wchar16 c) { return wchar16(std::towupper(wint_t(c))); }

int32_t osClockMs() { return int32_t(std::clock()); }

bool osFileSize(const char* path, uint64_t* size) {
  struct _stat64 st {};
  if (_stat64(path, &st) != 0) return false;
  *size = uint64_t(st.st_size);
  return true;
}

char osPathSeparator() { return '\\'; }

bool osCurrentDirectory(char* buf, size_t size) { return _getcwd(buf, int(size)) != nullptr; }

void osTimeNow(int64_t& seconds, uint32_t& millis) {
  struct __timeb64 now {};
  _ftime64(&now);
  seconds = int64_t(now.time);
  millis = uint32_t(now.millitm);
}

bool osLocalTime(int64_t seconds, struct tm& out) {
  __time64_t t = __time64_t(seconds);
  return _localtime64_s(&out, &t) == 0;
}

bool osCtimePadsDayWithZero() { return true; }

// The runtime converts through the code page of its locale.
uint64_t osLocaleTag() { return uint64_t(___lc_codepage_func()); }

// The legacy version word: major in the lowest byte, minor in the next, and
// the top bit clear on the NT family.
void osQueryVersion(uint16_t& major, uint16_t& minor, bool& ntFamily) {
  DWORD word = GetVersion();
  major = uint16_t(word & 0xFF);
  minor = uint16_t((word >> 8) & 0xFF);
  ntFamily = (word & 0x80000000u) == 0;
}

uint32_t osProcessId() { return uint32_t(GetCurrentProcessId()); }

// A console, not any character device: the runtime's isatty also says yes
// for the NUL device, which should be written in large blocks too.
bool osIsTerminal(FILE* stream) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

bool osHasLiveReader(FILE* stream) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (h == INVALID_HANDLE_VALUE) return true;
  DWORD type = GetFileType(h);
  return type == FILE_TYPE_PIPE || type == FILE_TYPE_UNKNOWN || osIsTerminal(stream);
}
