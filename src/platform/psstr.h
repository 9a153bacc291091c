// psstr: strings and character conversion.
//
// Keys are zero-terminated strings of 16-bit code units (`wchar16`) on every
// host; wchar_t is 16 bits on Windows and 32 on Linux, so it never reaches a
// key or a file.  Everything else is a narrow multibyte string in the
// process's current C locale.  Characters outside the Basic Multilingual
// Plane travel as surrogate pairs in wide strings.
//
// All functions are free, stateless and take no lock.  Conversions use fixed
// stack buffers; none allocates.
#pragma once

#include <cstddef>
#include <cstdint>

typedef char16_t wchar16;

// The most units (towards wide) or bytes (towards multibyte) one conversion
// produces.  Wide buffers that receive a conversion hold MAX_CONV + 1 units.
constexpr int MAX_CONV = 8959;
constexpr int kWideBufUnits = MAX_CONV + 1;
// strAppendWide converts at most this many bytes.
constexpr int kAppendWideMax = 17918;

size_t safeStrLen(const char* s);
// Copies src (null-tolerant: with a null source nothing is copied and null
// is returned) and returns dst.
char* safeStrCpy(char* dst, const char* src);
char* strAppend(char* dst, const char* src);
char* strAppendWide(char* dst, const wchar16* src);

size_t wideLen(const wchar16* s);
wchar16* wideCopy(wchar16* dst, const wchar16* src);

// dst holds kWideBufUnits units.  An invalid sequence yields the first n
// units of "Conversion error - invalid source!", n = min(strlen(src), 34).
wchar16* mbToWide(wchar16* dst, const char* src);
// Converts at most MAX_CONV bytes; dst holds MAX_CONV + 1 bytes.  A
// character the locale cannot represent ends the conversion there.
char* wideToMb(char* dst, const wchar16* src);
// For display: like wideToMb, but every character the locale cannot
// represent (or an unpaired surrogate) shows as '?', so a key always prints
// whole.  dst holds dstSize bytes, terminator included.
char* wideToDisplay(char* dst, size_t dstSize, const wchar16* src);

// Ordinal comparison by unsigned 16-bit units: -1, 0 or 1.  The order of
// the B-tree's keys.
int wideCompare(const wchar16* a, const wchar16* b);
int wideCompareMb(const wchar16* a, const char* b);

// The character upper-cased by the operating system's wide upper-casing.
signed char upperChar(char c);
