// The code page of the keys typed on standard input (stdpage.h).
#include "platform/stdpage.h"

#include <cstring>

#include "platform/os.h"

unsigned selectStreamCodePage(bool isConsole, unsigned consolePage, unsigned ansiPage) {
  return isConsole && consolePage != 0 ? consolePage : ansiPage;
}

wchar16* typedToWide(wchar16* dst, const char* src) {
  unsigned page = osStdinCodePage();
  size_t n = page == 0 ? SIZE_MAX : osCodePageToWide(int(page), src, std::strlen(src), dst, MAX_CONV);
  // The locale's conversion also stands in where the system cannot use
  // the console's page.
  if (n == SIZE_MAX) return mbToWide(dst, src);
  dst[n] = 0;
  return dst;
}
