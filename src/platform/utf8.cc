// UTF-8 of 16-bit units.
#include "platform/utf8.h"

namespace {
// Decodes one UTF-8 sequence starting at text[*i]; advances *i.
bool decodeOne(const std::string& text, size_t* i, uint32_t* cp) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  uint8_t b0 = byte(*i);
  int len;
  uint32_t min;
  if (b0 < 0x80) {
    *cp = b0;
    ++*i;
    return true;
  }
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, *cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, *cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, *cp = b0 & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (*i + len > text.size()) return false;
  for (int k = 1; k < len; ++k) {
    uint8_t b = byte(*i + k);
    if ((b & 0xC0) != 0x80) return false;
    *cp = (*cp << 6) | (b & 0x3F);
  }
  if (*cp < min || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) return false;
  *i += len;
  return true;
}

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

bool utf8ToUtf16(const std::string& text, std::u16string* units, std::string* error) {
  units->clear();
  size_t i = 0;
  while (i < text.size()) {
    size_t at = i;
    uint32_t cp;
    if (!decodeOne(text, &i, &cp)) {
      if (error) *error = "invalid UTF-8 at byte " + std::to_string(at);
      return false;
    }
    if (cp == 0) {
      if (error) *error = "zero character at byte " + std::to_string(at);
      return false;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      units->push_back(char16_t(0xD800 + (cp >> 10)));
      units->push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      units->push_back(char16_t(cp));
    }
  }
  return true;
}
