// Case-insensitive comparison, searches that understand multibyte text, and
// the duplication of a wide string.
#pragma once

#include <cstdint>

#include "platform/psstr.h"

// Result of mbStrRChr's error out when the text cannot be converted.
constexpr int32_t kErrNotConvertible = 207;

// 0 when a and b are equal ignoring letter case (the C runtime's wide
// upper-casing); otherwise the difference of the first differing upper-cased
// units, or 1 / -1 when one string runs out first.  Null sorts before every
// string, the empty one included; two nulls are equal.  Only the first 8958
// units of each take part.
int compareNoCase(const char* a, const char* b);

// First occurrence of pattern in text; null when either is null or empty.
const char* safeStrStr(const char* text, const char* pattern);

// First (mbStrChr) or last (mbStrRChr) occurrence of the single-byte
// character c as a whole character of text, so that c is never found as the
// trailing byte of a double-byte character.  Null when absent, when the text
// is empty or null, or when it cannot be converted (mbStrRChr then sets err
// to 207, else to 0).
const char* mbStrChr(const char* text, char c);
const char* mbStrRChr(const char* text, char c, int32_t& err);

// A copy of s from kxMalloc, or null for a null s or an exhausted heap.  The
// caller releases it with kxFree.
wchar16* wideDup(const wchar16* s);
