// Case-insensitive comparison, multibyte-aware character search and wide
// duplication.
#include "platform/strsearch.h"

#include <cstring>

#include "platform/kxmem.h"
#include "platform/os.h"

namespace {
constexpr char kSourceName[] = "psstr";

// The most bytes a wide conversion of kWideBufUnits units takes in any
// multibyte encoding (4 bytes a unit at most).
constexpr size_t kMbBufBytes = 4 * size_t(kWideBufUnits);

// The text as wide units (at most MAX_CONV), terminated; false when it holds
// an invalid sequence.
bool toWide(wchar16* dst, const char* text) {
  size_t n = osMbsToWide16(dst, text, MAX_CONV);
  if (n == SIZE_MAX) return false;
  dst[n] = 0;
  return true;
}

// The single-byte character c as one wide unit; 0 when it has none.
wchar16 wideOf(char c) {
  char one[2] = {c, '\0'};
  wchar16 unit[2] = {0, 0};
  return osMbsToWide16(unit, one, 1) == 1 ? unit[0] : wchar16(0);
}

// The position in text of the wide unit at `units`: the byte length of the
// units before it, converted back.  Counting the head (rather than the
// tail) keeps the answer right when the text is longer than one conversion.
const char* positionOf(const char* text, wchar16* wide, size_t units) {
  char head[kMbBufBytes + 1];
  wchar16 saved = wide[units];
  wide[units] = 0;
  size_t bytes = osWide16ToMbs(head, wide, kMbBufBytes, true);
  wide[units] = saved;
  return text + bytes;
}

// Finds c in text, first or last; `convertible` is false when the text
// holds an invalid sequence.
const char* findChar(const char* text, char c, bool last, bool& convertible) {
  convertible = true;
  if (text == nullptr || *text == '\0') return nullptr;
  wchar16 wide[kWideBufUnits];
  if (!toWide(wide, text)) {
    convertible = false;
    return nullptr;
  }
  const wchar16 target = wideOf(c);
  if (target == 0) return nullptr;
  size_t found = SIZE_MAX;
  for (size_t i = 0; wide[i] != 0; ++i) {
    if (wide[i] != target) continue;
    found = i;
    if (!last) break;
  }
  return found == SIZE_MAX ? nullptr : positionOf(text, wide, found);
}

// Wide form for the comparison: at most 8958 units.
void comparisonForm(wchar16* dst, const char* s) {
  mbToWide(dst, s);
  dst[MAX_CONV - 1] = 0;
}
}  // namespace

int compareNoCase(const char* a, const char* b) {
  if (b == nullptr) return a != nullptr ? 1 : 0;
  if (a == nullptr) return -1;
  wchar16 wa[kWideBufUnits];
  wchar16 wb[kWideBufUnits];
  comparisonForm(wa, a);
  comparisonForm(wb, b);
  size_t i = 0;
  for (; wa[i] != 0; ++i) {
    if (wb[i] == 0) return 1;
    int ua = osTowupper16(wa[i]);
    int ub = osTowupper16(wb[i]);
    if (ua != ub) return ua - ub;
  }
  return wb[i] != 0 ? -1 : 0;
}

const char* safeStrStr(const char* text, const char* pattern) {
  if (text == nullptr || pattern == nullptr || *text == '\0' || *pattern == '\0') return nullptr;
  return std::strstr(text, pattern);
}

const char* mbStrChr(const char* text, char c) {
  bool convertible = true;
  return findChar(text, c, false, convertible);
}

const char* mbStrRChr(const char* text, char c, int32_t& err) {
  bool convertible = true;
  const char* found = findChar(text, c, true, convertible);
  err = convertible ? 0 : kErrNotConvertible;
  return found;
}

wchar16* wideDup(const wchar16* s) {
  if (s == nullptr) return nullptr;
  const size_t bytes = (wideLen(s) + 1) * sizeof(wchar16);
  auto* copy = static_cast<wchar16*>(KX_MALLOC(bytes));
  if (copy != nullptr) std::memcpy(copy, s, bytes);
  return copy;
}
