// Keys and names as text.  Keys are 16-bit units; in every output they are
// UTF-8, whatever the console's code page.
//
//   text dump  "..." with \" and \\, and \uXXXX for a control character or
//              an unpaired surrogate: every key reads back unit for unit
//   CSV        "..." with "" for a quote; an unpaired surrogate is U+FFFD
//              (CSV has no escapes: keys that differ only there read alike)
//   JSON       a JSON string; an unpaired surrogate is \uXXXX, so distinct
//              keys stay distinct
//
// 8-bit names (the journal's server and node) are written in the text dump
// as "..." with \xHH for every byte outside printable ASCII.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>


namespace jbbtool {

enum class KeyStyle { Text, Csv, Json };

// The most bytes a key of n units takes (every unit an escape).
constexpr size_t keyTextBound(size_t n) { return 6 * n + 2; }
// Writes the quoted key whose n units lie at `le` as in a file
// (little-endian) at p, which has keyTextBound(n) bytes of room; returns
// the end.  crlf: a line feed in a CSV key is written as CR LF, the line
// end of the stream the text goes to (the other styles escape it).
char* writeFileKey(char* p, const uint8_t* le, size_t n, KeyStyle style, bool crlf);
void appendKey(std::string* out, const char16_t* units, size_t n, KeyStyle style);
void appendBytesText(std::string* out, const uint8_t* bytes, size_t n);

// Reads a quoted text-dump key starting at line[*pos] (the opening quote);
// leaves *pos after the closing quote.
bool parseKeyText(const std::string& line, size_t* pos, std::u16string* key, std::string* error);
// The same for an 8-bit name written by appendBytesText.
bool parseBytesText(const std::string& line, size_t* pos, std::string* bytes, std::string* error);

// Bytes written as hex digits, two a byte (either case); false when the
// text is anything else.
bool parseHex(const std::string& text, std::vector<uint8_t>* bytes);

}  // namespace jbbtool
