// Code-page conversions on Linux, from the tables of the single-byte pages
// (codepage_tables.cc); other pages are not supported here.
#include <cstdint>

#include "platform/codepage_tables.h"
#include "platform/os.h"

namespace {
char byteFor(const SingleBytePage& page, wchar16 unit) {
  if (unit < 0x80) return char(unit);
  for (int i = 0; i < 128; ++i)
    if (page.high[i] == unit) return char(0x80 + i);
  char fit = bestFitByte(page, unit);
  return fit != 0 ? fit : page.defaultChar;
}
}  // namespace

size_t osCodePageToWide(int number, const char* src, size_t len, wchar16* dst, size_t cap) {
  const SingleBytePage* page = findSingleBytePage(number);
  if (page == nullptr || len > cap) return SIZE_MAX;
  for (size_t i = 0; i < len; ++i) {
    auto b = static_cast<unsigned char>(src[i]);
    dst[i] = b < 0x80 ? wchar16(b) : wchar16(page->high[b - 0x80]);
  }
  return len;
}

size_t osWideToCodePage(int number, const wchar16* src, size_t n, char* dst, size_t cap) {
  const SingleBytePage* page = findSingleBytePage(number);
  if (page == nullptr) return SIZE_MAX;
  size_t count = n < cap ? n : cap;
  for (size_t i = 0; i < count; ++i) dst[i] = byteFor(*page, src[i]);
  return count;
}
