// utf8: UTF-8 text of keys, whatever the C locale.  Problem reports, dumps
// and shape texts show keys this way on every host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Appends code point cp (below 0x110000) as UTF-8.
void appendUtf8(std::string* out, uint32_t cp);
// Appends n 16-bit units as UTF-8: a surrogate pair as one character, an
// unpaired surrogate as U+FFFD.
void appendUtf16AsUtf8(std::string* out, const char16_t* units, size_t n);
// The same for n units stored little-endian at `bytes` (as in a file).
void appendStoredUnitsAsUtf8(std::string* out, const uint8_t* bytes, size_t n);

// Strict UTF-8 decoding into 16-bit units: overlong forms, encoded
// surrogates, values above U+10FFFF, truncated sequences and the zero
// character are refused (false, *error says where).  Characters above
// U+FFFF become surrogate pairs.
bool utf8ToUtf16(const std::string& text, std::u16string* units, std::string* error);
