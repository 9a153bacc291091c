// Keys and names as text; the escapes are listed in keytext.h.
#include "jbbtool/keytext.h"

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

}  // namespace

namespace {
// Writes the quoted key at p; returns the end.
char* putKey(char* p, const char16_t* units, size_t n, KeyStyle style) {
  *p++ = '"';
  for (size_t i = 0; i < n; ++i) {
    uint32_t u = units[i];
    if (u < 0x80) {
      if (u == '"') {
        if (style == KeyStyle::Csv) {
          *p++ = '"';
        } else {
          *p++ = '\\';
        }
        *p++ = '"';
      } else if (u == '\\' && style != KeyStyle::Csv) {
        *p++ = '\\';
        *p++ = '\\';
      } else if ((u < 0x20 || (u == 0x7F && style == KeyStyle::Text)) && style != KeyStyle::Csv) {
        p = putUnitEscape(p, u);
      } else {
        *p++ = char(u);
      }
    } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      p = putUtf8(p, 0x10000 + ((u - 0xD800) << 10) + (uint32_t(units[i + 1]) - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      p = style == KeyStyle::Text ? putUnitEscape(p, u) : putUtf8(p, 0xFFFD);
    } else {
      p = putUtf8(p, u);
    }
  }
  *p++ = '"';
  return p;
}
}  // namespace

void appendKey(std::string* out, const char16_t* units, size_t n, KeyStyle style) {
  // A unit takes at most 6 bytes (an escape), a pair 4.  A short key is
  // made on the stack, a long one in place (growing a string zero-fills).
  char local[2048];
  if (6 * n + 2 <= sizeof local) {
    out->append(local, size_t(putKey(local, units, n, style) - local));
    return;
  }
  size_t at = out->size();
  out->resize(at + 6 * n + 2);
  char* start = &(*out)[at];
  out->resize(at + size_t(putKey(start, units, n, style) - start));
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

bool parseKeyText(const std::string& line, size_t* pos, jbbbuilder::Key* key, std::string* error) {
  key->clear();
  size_t p = *pos;
  if (p >= line.size() || line[p] != '"') return fail(error, "a quoted key expected");
  ++p;
  std::string raw;  // UTF-8 between escapes
  jbbbuilder::Key part;
  auto takeRaw = [&]() {
    if (raw.empty()) return true;
    std::string why;
    if (!jbbbuilder::utf8ToKey(raw, &part, &why)) return fail(error, why);
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
