// Keys and names as text; the escapes are listed in keytext.h.
#include "jbbtool/keytext.h"

#include <algorithm>
#include <cstring>

#include "btree/format.h"
#include "platform/utf8.h"

namespace jbbtool {

namespace {

const char kHex[] = "0123456789ABCDEF";

char* putUtf8(char* p, uint32_t cp) {
  if (cp < 0x80) {
    *p++ = char(cp);
  } else if (cp < 0x800) {
    *p++ = char(0xC0 | (cp >> 6));
    *p++ = char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *p++ = char(0xE0 | (cp >> 12));
    *p++ = char(0x80 | ((cp >> 6) & 0x3F));
    *p++ = char(0x80 | (cp & 0x3F));
  } else {
    *p++ = char(0xF0 | (cp >> 18));
    *p++ = char(0x80 | ((cp >> 12) & 0x3F));
    *p++ = char(0x80 | ((cp >> 6) & 0x3F));
    *p++ = char(0x80 | (cp & 0x3F));
  }
  return p;
}

char* putUnitEscape(char* p, uint32_t u) {
  *p++ = '\\';
  *p++ = 'u';
  for (int shift = 12; shift >= 0; shift -= 4) *p++ = kHex[(u >> shift) & 15];
  return p;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// n hex digits at line[pos]; -1 when they are not there.
long hexAt(const std::string& line, size_t pos, int n) {
  if (pos + size_t(n) > line.size()) return -1;
  long v = 0;
  for (int i = 0; i < n; ++i) {
    int d = hexValue(line[pos + size_t(i)]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

bool fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// Whether an ASCII unit stands for itself in a style's quoted key.
struct PlainUnits {
  bool plain[3][128];
  constexpr PlainUnits() : plain() {
    for (int u = 0; u < 128; ++u) {
      bool special = u == '"' || u == '\\' || u < 0x20;
      plain[int(KeyStyle::Text)][u] = !special && u != 0x7F;
      plain[int(KeyStyle::Json)][u] = !special;
      plain[int(KeyStyle::Csv)][u] = u != '"';
    }
  }
};
constexpr PlainUnits kPlainUnits;

constexpr uint64_t lanes(uint16_t v) { return v * 0x0001000100010001ull; }

constexpr uint64_t bytes8(uint8_t v) { return v * 0x0101010101010101ull; }

// Eight ASCII characters, one a byte: the bytes of those that do not stand
// for themselves have their bit 0x80 set in the result, which is zero when
// all eight are plain.  Every byte is below 0x80, so no sum carries into
// the next byte.
// In CSV a line feed stands for itself unless crlf says it is written as
// CR LF (as a Windows text stream wrote every LF).
template <KeyStyle S>
uint64_t notPlain(uint64_t c, bool crlf) {
  const uint64_t top = bytes8(0x80);
  auto equal = [&](uint8_t v) { return ~((c ^ bytes8(v)) + bytes8(0x7F)) & top; };
  uint64_t bad = equal('"');
  if (S == KeyStyle::Csv && crlf) bad |= equal('\n');
  if (S != KeyStyle::Csv) bad |= (~(c + bytes8(0x60)) & top) | equal('\\');  // controls, backslash
  if (S == KeyStyle::Text) bad |= (c + bytes8(1)) & top;                      // 0x7F
  return bad;
}

// The low bytes of the four 16-bit lanes of a word, in lane order.
uint64_t narrowFour(uint64_t w) {
  uint64_t b = w & lanes(0x00FF);
  b = (b | (b >> 8)) & 0x0000FFFF0000FFFFull;
  return (b | (b >> 16)) & 0xFFFFFFFFull;
}

// The unit i of a key lying as in the file.
inline uint32_t unitAt(const uint8_t* le, size_t i) { return jbbformat::getU16(le + 2 * i); }

// One unit (or a surrogate pair starting at unit *i) that needs more than
// a copy.
char* putUnit(char* p, const uint8_t* le, size_t n, size_t* i, KeyStyle style, bool crlf) {
  uint32_t u = unitAt(le, *i);
  uint32_t next = *i + 1 < n ? unitAt(le, *i + 1) : 0;
  if (u < 0x80) {
    if (u == '\n' && style == KeyStyle::Csv && crlf) {
      *p++ = '\r';
      *p++ = '\n';
    } else if (u == '"') {
      *p++ = style == KeyStyle::Csv ? '"' : '\\';
      *p++ = '"';
    } else if (u == '\\' && style != KeyStyle::Csv) {
      *p++ = '\\';
      *p++ = '\\';
    } else if ((u < 0x20 || (u == 0x7F && style == KeyStyle::Text)) && style != KeyStyle::Csv) {
      p = putUnitEscape(p, u);
    } else {
      *p++ = char(u);
    }
  } else if (u >= 0xD800 && u <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
    p = putUtf8(p, 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00));
    ++*i;
  } else if (u >= 0xD800 && u <= 0xDFFF) {
    p = style == KeyStyle::Csv ? putUtf8(p, 0xFFFD) : putUnitEscape(p, u);
  } else {
    p = putUtf8(p, u);
  }
  return p;
}

// Paths are mostly ASCII: eight plain units at a time where a word's lanes
// are in unit order, then one at a time.
template <KeyStyle S>
char* writeKeyIn(char* p, const uint8_t* le, size_t n, bool crlf) {
  const bool* plain = kPlainUnits.plain[int(S)];
  const bool wordwise = jbbformat::hostIsLittleEndian();
  *p++ = '"';
  size_t i = 0;
  while (i < n) {
    if (wordwise && n - i >= 8) {
      uint64_t w[2];
      std::memcpy(w, le + 2 * i, 16);
      if (((w[0] | w[1]) & lanes(0xFF80)) == 0) {  // all ASCII
        uint64_t c = narrowFour(w[0]) | narrowFour(w[1]) << 32;
        if (notPlain<S>(c, crlf) == 0) {
          std::memcpy(p, &c, 8);
          p += 8;
          i += 8;
          continue;
        }
      }
    }
    // Up to the next unit that is not plain, then that unit.
    size_t stop = std::min(n, i + 8);
    const uint32_t lineFeed = S == KeyStyle::Csv && crlf ? '\n' : 0x80;  // 0x80: none
    for (uint32_t u; i < stop && (u = unitAt(le, i)) < 0x80 && plain[u] && u != lineFeed; ++i) *p++ = char(u);
    if (i < stop) {
      p = putUnit(p, le, n, &i, S, crlf);
      ++i;
    }
  }
  *p++ = '"';
  return p;
}

}  // namespace

char* writeFileKey(char* p, const uint8_t* le, size_t n, KeyStyle style, bool crlf) {
  switch (style) {
    case KeyStyle::Text: return writeKeyIn<KeyStyle::Text>(p, le, n, false);
    case KeyStyle::Csv: return writeKeyIn<KeyStyle::Csv>(p, le, n, crlf);
    default: return writeKeyIn<KeyStyle::Json>(p, le, n, false);
  }
}

void appendKey(std::string* out, const char16_t* units, size_t n, KeyStyle style) {
  std::vector<uint8_t> le(2 * n);
  for (size_t i = 0; i < n; ++i) jbbformat::putU16(&le[2 * i], uint16_t(units[i]));
  size_t at = out->size();
  out->resize(at + keyTextBound(n));
  char* start = &(*out)[at];
  out->resize(at + size_t(writeFileKey(start, le.data(), n, style, false) - start));
}

void appendBytesText(std::string* out, const uint8_t* bytes, size_t n) {
  *out += '"';
  for (size_t i = 0; i < n; ++i) {
    uint8_t b = bytes[i];
    if (b == '"' || b == '\\') {
      *out += '\\';
      *out += char(b);
    } else if (b >= 0x20 && b < 0x7F) {
      *out += char(b);
    } else {
      *out += "\\x";
      *out += kHex[b >> 4];
      *out += kHex[b & 15];
    }
  }
  *out += '"';
}

bool parseKeyText(const std::string& line, size_t* pos, std::u16string* key, std::string* error) {
  key->clear();
  size_t p = *pos;
  if (p >= line.size() || line[p] != '"') return fail(error, "a quoted key expected");
  ++p;
  std::string raw;  // UTF-8 between escapes
  std::u16string part;
  auto takeRaw = [&]() {
    if (raw.empty()) return true;
    std::string why;
    if (!utf8ToUtf16(raw, &part, &why)) return fail(error, why);
    *key += part;
    raw.clear();
    return true;
  };
  for (;;) {
    if (p >= line.size()) return fail(error, "the key has no closing quote");
    char c = line[p];
    if (c == '"') break;
    if (c != '\\') {
      raw += c;
      ++p;
      continue;
    }
    if (!takeRaw()) return false;
    char e = p + 1 < line.size() ? line[p + 1] : '\0';
    if (e == '"' || e == '\\') {
      *key += char16_t(e);
      p += 2;
    } else if (e == 'u') {
      long u = hexAt(line, p + 2, 4);
      if (u <= 0) return fail(error, "\\u needs four hex digits of a unit other than 0");
      *key += char16_t(u);
      p += 6;
    } else {
      return fail(error, "unknown escape in a key");
    }
  }
  if (!takeRaw()) return false;
  *pos = p + 1;
  return true;
}

bool parseHex(const std::string& text, std::vector<uint8_t>* bytes) {
  if (text.size() % 2) return false;
  bytes->resize(text.size() / 2);
  for (size_t i = 0; i < bytes->size(); ++i) {
    long v = hexAt(text, 2 * i, 2);
    if (v < 0) return false;
    (*bytes)[i] = uint8_t(v);
  }
  return true;
}

bool parseBytesText(const std::string& line, size_t* pos, std::string* bytes, std::string* error) {
  bytes->clear();
  size_t p = *pos;
  if (p >= line.size() || line[p] != '"') return fail(error, "a quoted name expected");
  for (++p;; ++p) {
    if (p >= line.size()) return fail(error, "the name has no closing quote");
    char c = line[p];
    if (c == '"') break;
    if (c != '\\') {
      *bytes += c;
      continue;
    }
    char e = p + 1 < line.size() ? line[p + 1] : '\0';
    if (e == '"' || e == '\\') {
      *bytes += e;
      ++p;
    } else if (e == 'x' && hexAt(line, p + 2, 2) > 0) {
      *bytes += char(hexAt(line, p + 2, 2));
      p += 3;
    } else {
      return fail(error, "unknown escape in a name");
    }
  }
  *pos = p + 1;
  return true;
}

}  // namespace jbbtool
