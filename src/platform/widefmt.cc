// Rewriting wide formats so that their string conversions mean the same on
// every host.
#include "platform/widefmt.h"

#include <cstring>

#include "platform/kxmem.h"
#include "platform/osversion.h"
#include "platform/wideformatter.h"

namespace {
constexpr char kSourceName[] = "pkfile";

// The characters that end a conversion, for the mask.
bool endsConversion(wchar16 c) {
  for (const char* p = "cdeEfgGinopsuxX%"; *p != '\0'; ++p)
    if (c == wchar16(*p)) return true;
  return false;
}

// Room for the inserted modifiers: at least 20, and never fewer than the
// format has "%" signs, so that no format outgrows its result.
size_t insertionRoom(const wchar16* format) {
  size_t percents = 0;
  for (const wchar16* p = format; *p != 0; ++p)
    if (*p == u'%') ++percents;
  return percents > 20 ? percents : 20;
}
}  // namespace

wchar16* fixWideFormat(uint32_t mask, const wchar16* format) {
  if (format == nullptr) return nullptr;
  const size_t len = wideLen(format);
  auto* result = static_cast<wchar16*>(KX_MALLOC((len + insertionRoom(format) + 1) * sizeof(wchar16)));
  if (result == nullptr) return nullptr;
  auto* work = static_cast<wchar16*>(KX_MALLOC((len + 1) * sizeof(wchar16)));
  if (work == nullptr) {
    KX_FREE(result);
    return nullptr;
  }
  std::memcpy(work, format, (len + 1) * sizeof(wchar16));
  const wchar16 modifier = isNtFamily() ? u'h' : u'l';

  const wchar16* in = work;
  wchar16* out = result;
  for (;;) {
    const wchar16* percent = in;
    while (*percent != 0 && *percent != u'%') ++percent;
    if (*percent == 0) break;
    const wchar16* conv = percent + 1;
    while (*conv != 0 && !endsConversion(*conv)) ++conv;
    if (*conv == 0) break;  // no conversion character: the rest is copied as it is
    while (in < conv) *out++ = *in++;
    if ((mask & 1u) != 0 && (*conv == u's' || *conv == u'c')) *out++ = modifier;
    *out++ = *in++;
    mask >>= 1;
  }
  while (*in != 0) *out++ = *in++;
  *out = 0;
  KX_FREE(work);
  return result;
}

int portableVswprintf(uint32_t mask, wchar16* dst, size_t capacity, const wchar16* format, va_list args) {
  const bool nt = isNtFamily() != 0;
  if (nt) mask = ~mask;
  if (mask == 0 || format == nullptr) return formatWide(dst, capacity, format, args, nt);
  wchar16* fixed = fixWideFormat(mask, format);
  if (fixed == nullptr) return 0;
  int n = formatWide(dst, capacity, fixed, args, nt);
  KX_FREE(fixed);
  return n;
}
