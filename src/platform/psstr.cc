// Strings and character conversion; the platform's conversions are in os.h.
#include "platform/psstr.h"

#include <algorithm>
#include <cstring>

#include "platform/os.h"

namespace {
const char kConversionError[] = "Conversion error - invalid source!";
constexpr size_t kConversionErrorLen = sizeof kConversionError - 1;  // 34
}  // namespace

size_t safeStrLen(const char* s) { return s == nullptr ? 0 : std::strlen(s); }

char* safeStrCpy(char* dst, const char* src) {
  if (src == nullptr) return nullptr;
  return std::strcpy(dst, src);
}

char* strAppend(char* dst, const char* src) {
  if (src != nullptr) std::strcat(dst, src);
  return dst;
}

char* strAppendWide(char* dst, const wchar16* src) {
  if (src == nullptr) return dst;
  char converted[kAppendWideMax + 1];
  size_t n = osWide16ToMbs(converted, src, kAppendWideMax, false);
  converted[n] = '\0';
  return std::strcat(dst, converted);
}

size_t wideLen(const wchar16* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

wchar16* wideCopy(wchar16* dst, const wchar16* src) {
  size_t i = 0;
  do {
    dst[i] = src[i];
  } while (src[i++] != 0);
  return dst;
}

wchar16* mbToWide(wchar16* dst, const char* src) {
  size_t n = osMbsToWide16(dst, src, MAX_CONV);
  if (n == SIZE_MAX) {
    // The error text never grows longer than the source.
    size_t cut = std::min(std::strlen(src), kConversionErrorLen);
    for (size_t i = 0; i < cut; ++i) dst[i] = wchar16(static_cast<unsigned char>(kConversionError[i]));
    dst[cut] = 0;
    return dst;
  }
  dst[n] = 0;
  return dst;
}

char* wideToMb(char* dst, const wchar16* src) {
  size_t n = osWide16ToMbs(dst, src, MAX_CONV, false);
  dst[n] = '\0';
  return dst;
}

char* wideToDisplay(char* dst, size_t dstSize, const wchar16* src) {
  if (dstSize == 0) return dst;
  size_t n = osWide16ToMbs(dst, src, dstSize - 1, true);
  dst[n] = '\0';
  return dst;
}

int wideCompare(const wchar16* a, const wchar16* b) {
  for (;; ++a, ++b) {
    uint16_t ua = *a, ub = *b;
    if (ua != ub) return ua < ub ? -1 : 1;
    if (ua == 0) return 0;
  }
}

int wideCompareMb(const wchar16* a, const char* b) {
  wchar16 wide[kWideBufUnits];
  mbToWide(wide, b);
  wide[MAX_CONV - 1] = 0;
  return wideCompare(a, wide);
}

signed char upperChar(char c) {
  char narrow[2] = {c, '\0'};
  wchar16 wide[2] = {0, 0};
  size_t n = osMbsToWide16(wide, narrow, 1);
  if (n != 1) return static_cast<signed char>(c);
  wide[0] = osUpperWide16(wide[0]);
  char back[16] = {};
  if (osWide16ToMbs(back, wide, sizeof back - 1, false) == 0) return static_cast<signed char>(c);
  return static_cast<signed char>(back[0]);
}
