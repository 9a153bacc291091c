// Key order and key text for the entries a new file is made of.
#include "btree/entrystream.h"

namespace jbbbulk {

int compareKeys(const uint16_t* a, size_t aUnits, const uint16_t* b, size_t bUnits) {
  size_t n = aUnits < bUnits ? aUnits : bUnits;
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return aUnits < bUnits ? -1 : aUnits > bUnits ? 1 : 0;
}

namespace {

void appendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    *out += char(cp);
  } else if (cp < 0x800) {
    *out += char(0xC0 | (cp >> 6));
    *out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += char(0xE0 | (cp >> 12));
    *out += char(0x80 | ((cp >> 6) & 0x3F));
    *out += char(0x80 | (cp & 0x3F));
  } else {
    *out += char(0xF0 | (cp >> 18));
    *out += char(0x80 | ((cp >> 12) & 0x3F));
    *out += char(0x80 | ((cp >> 6) & 0x3F));
    *out += char(0x80 | (cp & 0x3F));
  }
}

bool isHigh(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::string keyToUtf8(const uint16_t* units, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    uint32_t u = units[i];
    if (isHigh(u) && i + 1 < n && isLow(units[i + 1])) {
      appendUtf8(&out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00u));
      ++i;
    } else {
      appendUtf8(&out, isHigh(u) || isLow(u) ? 0xFFFD : u);
    }
  }
  return out;
}

}  // namespace jbbbulk
