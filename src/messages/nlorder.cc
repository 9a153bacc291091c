// Filling message inserts; the text layout is in nlorder.h.
#include "messages/nlorder.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "messages/amsgrtrv.h"
#include "platform/os.h"
#include "platform/psstr.h"

namespace {
constexpr int kMaxInserts = 32;
constexpr size_t kWorkSize = 25856;
constexpr size_t kConvMax = 32;
// No field may be wider or more precise than the text it goes into; a
// repository asking for more is damaged, not merely slow.
constexpr long kFieldMax = long(kWorkSize);

enum ValueKind { kPointer = 0, kInt32a = 1, kInt32b = 2, kDouble = 3 };

struct Descriptor {
  int leading = 0;
  int kind = 0;
  const char* conversion = nullptr;
};

// A bounded reader over the text.
struct Cursor {
  const char* p;
  const char* end;
  bool byte(unsigned char* v) {
    if (p >= end) return false;
    *v = static_cast<unsigned char>(*p++);
    return true;
  }
  const char* string() {
    const char* s = p;
    while (p < end && *p != '\0') ++p;
    if (p >= end) return nullptr;
    ++p;
    return s;
  }
};

// A checked conversion: flags, width, precision and the conversion
// character, rebuilt with the length modifier the argument really has.
struct Conversion {
  char format[kConvMax + 4] = {};
  char type = 0;
  int stars = 0;
};

bool parseConversion(const char* text, bool wide, int kind, Conversion* c) {
  const char* p = text;
  if (*p++ != '%') return false;
  std::string_view flags = "-+ #0";
  size_t n = 0;
  c->format[n++] = '%';
  auto put = [&](char ch) { if (n < kConvMax) c->format[n++] = ch; };
  bool bounded = true;
  // A width or precision: "*" (a leading integer) or digits within kFieldMax.
  auto field = [&] {
    if (*p == '*') {
      put(*p++);
      ++c->stars;
      return;
    }
    long value = 0;
    for (; *p >= '0' && *p <= '9'; put(*p++))
      if ((value = value * 10 + (*p - '0')) > kFieldMax) bounded = false;
  };
  while (*p != '\0' && flags.find(*p) != std::string_view::npos) put(*p++);
  field();
  if (*p == '.') {
    put(*p++);
    field();
  }
  if (!bounded) return false;
  while (*p == 'h' || *p == 'l' || *p == 'L' || *p == 'w') ++p;  // the argument's real width decides
  c->type = *p;
  if (c->type == '\0' || p[1] != '\0' || n >= kConvMax) return false;
  bool fits = false;
  switch (kind) {
    case kPointer: fits = c->type == 's' || c->type == 'p'; break;
    case kInt32a:
    case kInt32b: fits = std::strchr("diouxXc", c->type) != nullptr; break;
    case kDouble: fits = std::strchr("eEfgGaA", c->type) != nullptr; break;
    default: break;
  }
  if (!fits) return false;
  // A wide string or character is converted first and printed as text.
  if (wide && (c->type == 's' || c->type == 'c')) c->type = 's';
  put(c->type);
  c->format[n] = '\0';
  return true;
}

// The multibyte form of a wide text, '_' for what the locale cannot show.
void wideToText(const wchar16* src, char* out, size_t outSize) {
  size_t n = 0;
  for (size_t i = 0; src[i] != 0 && n + 8 < outSize; ++i) {
    wchar16 unit[3] = {src[i], 0, 0};
    if (src[i] >= 0xD800 && src[i] < 0xDC00 && src[i + 1] >= 0xDC00 && src[i + 1] < 0xE000) unit[1] = src[++i];
    char bytes[16];
    size_t m = osWide16ToMbs(bytes, unit, sizeof bytes, false);
    if (m == 0) {
      out[n++] = '_';
    } else {
      std::memcpy(out + n, bytes, m);
      n += m;
    }
  }
  out[n] = '\0';
}

// printf of one checked conversion with its "*" values in front.
template <typename T>
void emit(char* insert, size_t room, const Conversion& c, const int* lead, T value) {
  if (c.stars == 0) std::snprintf(insert, room, c.format, value);
  else if (c.stars == 1) std::snprintf(insert, room, c.format, lead[0], value);
  else std::snprintf(insert, room, c.format, lead[0], lead[1], value);
}

// Formats one insert from the arguments into `insert`.  The arguments are
// consumed by the descriptor's kind even when its conversion is refused, so
// the following inserts still find theirs.
void formatInsert(const Descriptor& d, bool wide, va_list& args, char* insert, size_t room) {
  insert[0] = '\0';
  int lead[2] = {0, 0};
  bool leadBounded = true;
  for (int i = 0; i < d.leading; ++i) {
    int v = va_arg(args, int);
    if (i < 2) lead[i] = v;
    if (v > kFieldMax || v < -kFieldMax) leadBounded = false;
  }
  Conversion c;
  bool ok = parseConversion(d.conversion, wide, d.kind, &c) && c.stars <= d.leading && leadBounded;
  if (d.kind == kPointer) {
    const void* value = va_arg(args, const void*);
    if (!ok) return;
    if (c.type == 'p') return emit(insert, room, c, lead, value);
    char text[kWideBufUnits * 4];
    const char* s = static_cast<const char*>(value);
    if (value == nullptr) {
      s = "(null)";
    } else if (wide) {
      wideToText(static_cast<const wchar16*>(value), text, sizeof text);
      s = text;
    }
    emit(insert, room, c, lead, s);
  } else if (d.kind == kInt32a || d.kind == kInt32b) {
    int value = va_arg(args, int);
    if (!ok) return;
    if (!wide || c.type != 's') return emit(insert, room, c, lead, value);
    wchar16 unit[2] = {wchar16(value), 0};
    char text[16];
    wideToText(unit, text, sizeof text);
    emit(insert, room, c, lead, static_cast<const char*>(text));
  } else if (d.kind == kDouble) {
    double value = va_arg(args, double);
    if (ok) emit(insert, room, c, lead, value);
  }
  // Other kinds carry no value this system knows how to read: left empty.
}

// The caller's value kinds, one letter each ("p", "i", "d"; see kvenls.h),
// read off as the values are.
struct KindList {
  const char* next;
  // True when the caller passed a value of this descriptor kind next.
  bool take(int kind) {
    char want = kind == kPointer ? 'p' : kind == kDouble ? 'd' : 'i';
    if (next == nullptr || *next != want) return false;
    ++next;
    return true;
  }
  // The descriptor's leading integers and its value, as formatInsert reads
  // them (kinds above 3 carry no value).
  bool takeDescriptor(const Descriptor& d) {
    for (int i = 0; i < d.leading; ++i)
      if (!take(kInt32a)) return false;
    return d.kind > kDouble || take(d.kind);
  }
};

int kindOfLetter(char letter) { return letter == 'p' ? kPointer : letter == 'd' ? kDouble : kInt32a; }

// The extent of the conversion at p (a '%' not followed by '%'): flags,
// width, precision, length modifiers and the conversion character.  0 when
// the text ends first.  `wide` tells whether an 'l' or 'w' modifier was seen.
size_t conversionLength(const char* p, bool* wide, int* stars) {
  size_t i = 1;
  *wide = false;
  *stars = 0;
  while (p[i] != '\0' && std::strchr("-+ #0123456789.*", p[i]) != nullptr)
    if (p[i++] == '*') ++*stars;
  for (; p[i] != '\0' && std::strchr("hlLwjzqtI", p[i]) != nullptr; ++i)
    if (p[i] == 'l' || p[i] == 'w') *wide = true;
  return p[i] == '\0' ? 0 : i + 1;
}

// Formats a printf-form text conversion by conversion, each checked against
// the caller's values as an ordered insert is: no "%n", no more conversions
// than values, each of the kind passed, widths and precisions within the
// work area.  False for a text that breaks any of these (a damaged text).
bool formatPrintf(const char* format, const char* kinds, va_list& args, char* work, size_t size) {
  KindList passed{kinds};
  size_t used = 0;
  auto room = [&] { return size - used; };
  for (const char* p = format; *p != '\0';) {
    if (*p != '%' || p[1] == '%') {
      if (used + 1 < size) work[used++] = *p;
      p += *p == '%' ? 2 : 1;
      continue;
    }
    bool wide = false;
    int stars = 0;
    size_t len = conversionLength(p, &wide, &stars);
    if (len == 0 || len > kConvMax) return false;
    char spec[kConvMax + 1];
    std::memcpy(spec, p, len);
    spec[len] = '\0';
    p += len;
    // The value after the "*" integers decides the kind the conversion must fit.
    const char* value = passed.next == nullptr ? "" : passed.next;
    for (int i = 0; i < stars && *value != '\0'; ++i) ++value;
    Descriptor d{stars, kindOfLetter(*value), spec};
    Conversion c;
    wide = wide && std::strchr("sc", spec[len - 1]) != nullptr;
    if (*value == '\0' || !parseConversion(spec, wide, d.kind, &c) || !passed.takeDescriptor(d)) return false;
    work[used] = '\0';
    formatInsert(d, wide, args, work + used, room());
    used += std::strlen(work + used);
  }
  work[used] = '\0';
  return true;
}

bool fillOrdered(nlsCharBuffer& out, const char* text, size_t length, const char* kinds, va_list* args) {
  Cursor cur{text + 1, text + length};
  unsigned char b[4], count = 0;
  for (unsigned char& x : b)
    if (!cur.byte(&x)) return false;
  uint32_t wideMask = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
  if (!cur.byte(&count) || count > kMaxInserts) return false;
  unsigned char order[kMaxInserts];
  for (int j = 0; j < count; ++j)
    if (!cur.byte(&order[j]) || order[j] >= count) return false;
  Descriptor desc[kMaxInserts];
  for (int i = 0; i < count; ++i) {
    unsigned char lead = 0, kind = 0;
    if (!cur.byte(&lead) || !cur.byte(&kind) || (desc[i].conversion = cur.string()) == nullptr) return false;
    if (lead > 2) return false;
    desc[i].leading = lead;
    desc[i].kind = kind;
  }
  const char* pieces[kMaxInserts + 1];
  for (int i = 0; i <= count; ++i)
    if ((pieces[i] = cur.string()) == nullptr) return false;
  // Every value the descriptors ask for must be one the caller passed.
  KindList passed{kinds};
  for (int j = 0; args != nullptr && j < count; ++j)
    if (!passed.takeDescriptor(desc[order[j]])) return false;
  // Inserts are formatted one after another into the state's insert buffer
  // when there is one, else into a local work area.  Without arguments every
  // insert stays empty.
  char localInserts[kWorkSize];
  char* area = nlsState != nullptr ? nlsState->insertBuffer : localInserts;
  const char* insert[kMaxInserts];
  for (int i = 0; i < count; ++i) insert[i] = "";
  size_t used = 0;
  for (int j = 0; args != nullptr && j < count && used + 1 < kWorkSize; ++j) {
    int ins = order[j];
    formatInsert(desc[ins], (wideMask >> ins) & 1u, *args, area + used, kWorkSize - used);
    insert[ins] = area + used;
    used += std::strlen(area + used) + 1;
  }
  for (int i = 0; i < count; ++i) {
    out.append(pieces[i], 0);
    out.append(insert[i], 0);
  }
  out.append(pieces[count], 0);
  return out.data() != nullptr;
}
}  // namespace

bool nlOrderInsert(nlsCharBuffer& out, const char* text, size_t length, const char* kinds, va_list* args) {
  if (length == 0) return true;
  if (text[0] == 1) {
    if (args == nullptr) {
      out.append(text + 1, uint32_t(length - 1));
      return out.data() != nullptr;
    }
    char work[kWorkSize];
    va_list copy;
    va_copy(copy, *args);
    bool fits = formatPrintf(text + 1, kinds, copy, work, sizeof work);
    va_end(copy);
    if (!fits) return false;
    out.append(work, 0);
    return out.data() != nullptr;
  }
  if (text[0] == 0) return fillOrdered(out, text, length, kinds, args);
  return true;
}
