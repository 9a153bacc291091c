// A printf over wchar16 formats.  The host's own wide formatter works on
// wchar_t, which is 32 bits on Linux, so the format is walked here
// conversion by conversion: strings and characters are copied unit by unit,
// every other conversion is formatted by the C runtime's snprintf from a
// narrow conversion with the same flags, width and precision, and widened.
#include "platform/wideformatter.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/kxmem.h"
#include "platform/os.h"

namespace {
constexpr char kSourceName[] = "pkfile";

// The output: units beyond the capacity are counted as an overflow and
// dropped; there is always room for the terminator.
class WideSink {
 public:
  WideSink(wchar16* dst, size_t capacity) : dst_(dst), capacity_(capacity) {}
  void put(wchar16 u) {
    if (len_ + 1 < capacity_)
      dst_[len_++] = u;
    else
      overflow_ = true;
  }
  void putNarrow(const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i) put(wchar16(static_cast<unsigned char>(s[i])));
  }
  void pad(int count) {
    for (int i = 0; i < count; ++i) put(u' ');
  }
  void fail() { failed_ = true; }
  int finish() {
    if (capacity_ > 0) dst_[len_] = 0;
    return overflow_ || failed_ ? -1 : int(len_);
  }

 private:
  wchar16* dst_;
  size_t capacity_;
  size_t len_ = 0;
  bool overflow_ = false;
  bool failed_ = false;
};

enum class IntSize { Int, Char, Short, Long, LongLong, IntMax, Size, PtrDiff };
enum class TextWidth { Plain, Narrow, Wide };

// One conversion, its "*" values already taken.
struct Spec {
  char flags[8] = {};
  bool leftAlign = false;
  int width = -1;      // -1: none
  int precision = -1;  // -1: none
  IntSize intSize = IntSize::Int;
  bool longDouble = false;
  TextWidth text = TextWidth::Plain;  // the length modifier nearest the conversion
  wchar16 conv = 0;
};

bool isFlag(wchar16 c) { return c == u'-' || c == u'+' || c == u' ' || c == u'#' || c == u'0'; }
bool isDigit(wchar16 c) { return c >= u'0' && c <= u'9'; }

int readNumber(const wchar16*& p) {
  long n = 0;
  while (isDigit(*p)) {
    if (n < 100000000) n = n * 10 + (*p - u'0');
    ++p;
  }
  return int(n);
}

void addFlag(Spec& s, char c) {
  size_t n = std::strlen(s.flags);
  if (std::strchr(s.flags, c) == nullptr && n + 1 < sizeof s.flags) s.flags[n] = c;
  if (c == '-') s.leftAlign = true;
}

void readLength(const wchar16*& p, Spec& s) {
  for (;;) {
    switch (*p) {
      case u'h':
        s.intSize = p[1] == u'h' ? IntSize::Char : IntSize::Short;
        s.text = TextWidth::Narrow;
        p += p[1] == u'h' ? 2 : 1;
        continue;
      case u'l':
        s.intSize = p[1] == u'l' ? IntSize::LongLong : IntSize::Long;
        s.text = TextWidth::Wide;
        p += p[1] == u'l' ? 2 : 1;
        continue;
      case u'w':
        s.text = TextWidth::Wide;
        ++p;
        continue;
      case u'q':
        s.intSize = IntSize::LongLong;
        ++p;
        continue;
      case u'L':
        s.longDouble = true;
        s.intSize = IntSize::LongLong;
        ++p;
        continue;
      case u'j':
        s.intSize = IntSize::IntMax;
        ++p;
        continue;
      case u'z':
        s.intSize = IntSize::Size;
        ++p;
        continue;
      case u't':
        s.intSize = IntSize::PtrDiff;
        ++p;
        continue;
      case u'I':  // I64, I32, I: the Windows runtime's sizes
        if (p[1] == u'6' && p[2] == u'4') {
          s.intSize = IntSize::LongLong;
          p += 3;
        } else if (p[1] == u'3' && p[2] == u'2') {
          s.intSize = IntSize::Int;
          p += 3;
        } else {
          s.intSize = IntSize::Size;
          ++p;
        }
        continue;
      default:
        return;
    }
  }
}

// Parses the conversion after a "%"; p ends on the conversion character
// (or the terminator when the format ends inside it).
Spec readSpec(const wchar16*& p, va_list& args) {
  Spec s;
  while (isFlag(*p)) addFlag(s, char(*p++));
  if (*p == u'*') {
    ++p;
    int w = va_arg(args, int);
    if (w < 0) {
      addFlag(s, '-');
      w = w == INT32_MIN ? 0 : -w;
    }
    s.width = w;
  } else if (isDigit(*p)) {
    s.width = readNumber(p);
  }
  if (*p == u'.') {
    ++p;
    if (*p == u'*') {
      ++p;
      int prec = va_arg(args, int);
      s.precision = prec < 0 ? -1 : prec;
    } else {
      s.precision = readNumber(p);
    }
  }
  readLength(p, s);
  s.conv = *p;
  return s;
}

// "%" + flags + width + precision + the given length + conversion.
void narrowSpec(const Spec& s, const char* length, char conv, char* out, size_t size) {
  char width[16] = "";
  char precision[16] = "";
  if (s.width >= 0) std::snprintf(width, sizeof width, "%d", s.width);
  if (s.precision >= 0) std::snprintf(precision, sizeof precision, ".%d", s.precision);
  std::snprintf(out, size, "%%%s%s%s%s%c", s.flags, width, precision, length, conv);
}

// Formats one value with the C runtime's snprintf and widens the result,
// which holds only single-byte characters (digits, signs, letters).
template <typename T>
void putFormatted(WideSink& sink, const char* spec, T value) {
  char local[512];
  int n = std::snprintf(local, sizeof local, spec, value);
  if (n < 0) return sink.fail();
  if (size_t(n) < sizeof local) return sink.putNarrow(local, size_t(n));
  auto* big = static_cast<char*>(KX_MALLOC(uint64_t(n) + 1));
  if (big == nullptr) return sink.fail();
  std::snprintf(big, size_t(n) + 1, spec, value);
  sink.putNarrow(big, size_t(n));
  KX_FREE(big);
}

void putUnits(WideSink& sink, const Spec& s, const wchar16* units, size_t n) {
  int padding = s.width > int(n) ? s.width - int(n) : 0;
  if (!s.leftAlign) sink.pad(padding);
  for (size_t i = 0; i < n; ++i) sink.put(units[i]);
  if (s.leftAlign) sink.pad(padding);
}

bool isWideText(const Spec& s, bool plainIsWide) {
  if (s.text != TextWidth::Plain) return s.text == TextWidth::Wide;
  // "%S" and "%C" are the other width than the plain ones.
  bool upper = s.conv == u'S' || s.conv == u'C';
  return upper ? !plainIsWide : plainIsWide;
}

void putWideString(WideSink& sink, const Spec& s, const wchar16* str) {
  if (str == nullptr) str = u"(null)";
  size_t n = 0;
  while (str[n] != 0 && (s.precision < 0 || n < size_t(s.precision))) ++n;
  putUnits(sink, s, str, n);
}

// A narrow string is converted from the current locale's multibyte form; the
// precision counts wide units, as for a wide string.
void putNarrowString(WideSink& sink, const Spec& s, const char* str) {
  if (str == nullptr) str = "(null)";
  size_t bytes = std::strlen(str);
  wchar16 local[256];
  wchar16* units = local;
  if (bytes + 1 > sizeof local / sizeof local[0]) {
    units = static_cast<wchar16*>(KX_MALLOC((uint64_t(bytes) + 1) * sizeof(wchar16)));
    if (units == nullptr) return sink.fail();
  }
  size_t n = osMbsToWide16(units, str, bytes);
  if (n == SIZE_MAX) {
    sink.fail();
  } else {
    if (s.precision >= 0 && n > size_t(s.precision)) n = size_t(s.precision);
    putUnits(sink, s, units, n);
  }
  if (units != local) KX_FREE(units);
}

void putChar(WideSink& sink, const Spec& s, int value, bool wide) {
  wchar16 unit = wchar16(value);
  if (!wide) {
    char narrow[2] = {char(value), '\0'};
    wchar16 converted[2] = {0, 0};
    if (narrow[0] != '\0' && osMbsToWide16(converted, narrow, 1) != 1) return sink.fail();
    unit = converted[0];
  }
  putUnits(sink, s, &unit, 1);
}

long long takeSigned(const Spec& s, va_list& args) {
  switch (s.intSize) {
    case IntSize::Char: return static_cast<signed char>(va_arg(args, int));
    case IntSize::Short: return static_cast<short>(va_arg(args, int));
    case IntSize::Long: return va_arg(args, long);
    case IntSize::LongLong: return va_arg(args, long long);
    case IntSize::IntMax: return static_cast<long long>(va_arg(args, intmax_t));
    case IntSize::Size: return static_cast<long long>(va_arg(args, size_t));
    case IntSize::PtrDiff: return static_cast<long long>(va_arg(args, ptrdiff_t));
    case IntSize::Int: break;
  }
  return va_arg(args, int);
}

unsigned long long takeUnsigned(const Spec& s, va_list& args) {
  switch (s.intSize) {
    case IntSize::Char: return static_cast<unsigned char>(va_arg(args, unsigned));
    case IntSize::Short: return static_cast<unsigned short>(va_arg(args, unsigned));
    case IntSize::Long: return va_arg(args, unsigned long);
    case IntSize::LongLong: return va_arg(args, unsigned long long);
    case IntSize::IntMax: return static_cast<unsigned long long>(va_arg(args, uintmax_t));
    case IntSize::Size: return va_arg(args, size_t);
    case IntSize::PtrDiff: return static_cast<unsigned long long>(va_arg(args, ptrdiff_t));
    case IntSize::Int: break;
  }
  return va_arg(args, unsigned);
}

// A pointer prints as "0x" and lower-case hex digits ("(nil)" for null) on
// every host, in the field width.
void putPointer(WideSink& sink, const Spec& s, const void* p) {
  char text[32];
  if (p == nullptr)
    std::snprintf(text, sizeof text, "(nil)");
  else
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
  wchar16 units[32];
  size_t n = std::strlen(text);
  for (size_t i = 0; i < n; ++i) units[i] = wchar16(text[i]);
  Spec plain = s;
  plain.precision = -1;
  putUnits(sink, plain, units, n);
}

// "%n" would store through a pointer taken from the arguments; the pointer
// is consumed and nothing is stored.
void skipCountPointer(va_list& args) { (void)va_arg(args, void*); }

// Formats one conversion; false when the character is not a conversion.
bool putConversion(WideSink& sink, const Spec& s, va_list& args, bool plainIsWide) {
  char spec[64];
  switch (s.conv) {
    case u'd':
    case u'i':
      narrowSpec(s, "ll", char(s.conv), spec, sizeof spec);
      putFormatted(sink, spec, takeSigned(s, args));
      return true;
    case u'u':
    case u'o':
    case u'x':
    case u'X':
      narrowSpec(s, "ll", char(s.conv), spec, sizeof spec);
      putFormatted(sink, spec, takeUnsigned(s, args));
      return true;
    case u'e':
    case u'E':
    case u'f':
    case u'F':
    case u'g':
    case u'G':
    case u'a':
    case u'A': {
      // Long doubles print at double precision, the same on every host.
      double value = s.longDouble ? double(va_arg(args, long double)) : va_arg(args, double);
      narrowSpec(s, "", char(s.conv), spec, sizeof spec);
      putFormatted(sink, spec, value);
      return true;
    }
    case u's':
    case u'S':
      if (isWideText(s, plainIsWide))
        putWideString(sink, s, va_arg(args, const wchar16*));
      else
        putNarrowString(sink, s, va_arg(args, const char*));
      return true;
    case u'c':
    case u'C':
      putChar(sink, s, va_arg(args, int), isWideText(s, plainIsWide));
      return true;
    case u'p':
      putPointer(sink, s, va_arg(args, void*));
      return true;
    case u'n':
      skipCountPointer(args);
      return true;
    case u'%':
      sink.put(u'%');
      return true;
    default:
      return false;
  }
}
}  // namespace

int formatWide(wchar16* dst, size_t capacity, const wchar16* format, va_list args, bool plainIsWide) {
  WideSink sink(dst, capacity);
  if (format == nullptr) {
    sink.fail();
    return sink.finish();
  }
  va_list ap;
  va_copy(ap, args);
  const wchar16* p = format;
  while (*p != 0) {
    if (*p != u'%') {
      sink.put(*p++);
      continue;
    }
    const wchar16* start = p++;
    Spec s = readSpec(p, ap);
    if (s.conv != 0 && putConversion(sink, s, ap, plainIsWide)) {
      ++p;
      continue;
    }
    // Not a conversion (or the format ends inside one): the text stays as it
    // is, and reading goes on after it.
    if (*p != 0) ++p;
    while (start < p) sink.put(*start++);
  }
  va_end(ap);
  return sink.finish();
}
