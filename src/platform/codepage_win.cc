// Code-page conversions on Windows: the system's own.
#include <windows.h>

#include "platform/os.h"

namespace {
int bytesNeeded(int page, const wchar16* src, size_t n) {
  return WideCharToMultiByte(UINT(page), 0, reinterpret_cast<LPCWCH>(src), int(n), nullptr, 0, nullptr, nullptr);
}
}  // namespace

size_t osCodePageToWide(int page, const char* src, size_t len, wchar16* dst, size_t cap) {
  if (len == 0) return 0;
  int n = MultiByteToWideChar(UINT(page), 0, src, int(len), reinterpret_cast<LPWSTR>(dst), int(cap));
  return n == 0 ? SIZE_MAX : size_t(n);
}

// The conversion is never asked to write past cap: when the whole text does
// not fit, it is cut by whole characters until it does.
size_t osWideToCodePage(int page, const wchar16* src, size_t n, char* dst, size_t cap) {
  if (n == 0) return 0;
  int needed = bytesNeeded(page, src, n);
  if (needed == 0) return SIZE_MAX;
  while (n > 0 && size_t(needed) > cap) {
    --n;
    if (n > 0 && src[n] >= 0xDC00 && src[n] <= 0xDFFF) --n;  // keep a surrogate pair whole
    needed = n == 0 ? 0 : bytesNeeded(page, src, n);
  }
  if (n == 0) return 0;
  int written = WideCharToMultiByte(UINT(page), 0, reinterpret_cast<LPCWCH>(src), int(n), dst, needed, nullptr,
                                    nullptr);
  return written == 0 ? SIZE_MAX : size_t(written);
}
