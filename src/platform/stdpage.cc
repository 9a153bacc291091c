// The code page of the standard streams' text (stdpage.h).
#include "platform/stdpage.h"

#include <cstring>

#include "platform/os.h"

unsigned selectStreamCodePage(bool isConsole, unsigned consolePage, unsigned ansiPage) {
  return isConsole && consolePage != 0 ? consolePage : ansiPage;
}

wchar16* typedToWide(wchar16* dst, const char* src) {
  unsigned page = osStandardStreamPage(true);
  size_t n = page == 0 ? SIZE_MAX : osCodePageToWide(int(page), src, std::strlen(src), dst, MAX_CONV);
  // The locale's conversion also stands in where the system cannot use
  // the console's page.
  if (n == SIZE_MAX) return mbToWide(dst, src);
  dst[n] = 0;
  return dst;
}

char* wideToShown(char* dst, size_t dstSize, const wchar16* src) {
  unsigned page = osStandardStreamPage(false);
  size_t n = page == 0 || dstSize == 0 ? SIZE_MAX : osWideToCodePage(int(page), src, wideLen(src), dst, dstSize - 1);
  if (n == SIZE_MAX) return wideToDisplay(dst, dstSize, src);
  dst[n] = '\0';
  return dst;
}
