// UTF-8 of 16-bit units.
#include "platform/utf8.h"

namespace {
bool isHigh(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Appends the units unit(0) .. unit(n - 1).
template <class Unit>
void appendUnits(std::string* out, size_t n, Unit unit) {
  for (size_t i = 0; i < n; ++i) {
    uint32_t u = unit(i);
    if (isHigh(u) && i + 1 < n && isLow(unit(i + 1))) {
      appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
      ++i;
    } else if (isHigh(u) || isLow(u)) {
      appendUtf8(out, 0xFFFD);
    } else {
      appendUtf8(out, u);
    }
  }
}
}  // namespace

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

void appendUtf16AsUtf8(std::string* out, const char16_t* units, size_t n) {
  appendUnits(out, n, [&](size_t i) { return uint32_t(units[i]); });
}

void appendStoredUnitsAsUtf8(std::string* out, const uint8_t* bytes, size_t n) {
  appendUnits(out, n, [&](size_t i) { return uint32_t(bytes[2 * i] | (bytes[2 * i + 1] << 8)); });
}
