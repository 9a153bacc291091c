// Small texts the viewer prints everywhere: byte counts, clock intervals
// and stored times.
#pragma once

#include <cstddef>
#include <cstdint>

// Buffer sizes that hold every text these functions make.
constexpr size_t kSizeTextSize = 112;
constexpr size_t kElapsedTextSize = 32;
constexpr size_t kDateTextSize = 256;

// A byte count with its unit: "0 Byte ", "1 Byte ", "2 Bytes", "1023 Bytes",
// "1 KB (1024 Bytes)" ... up to PB; the quotient is truncated.  buf holds at
// least 64 bytes.  Returns buf.
char* formatSize(uint64_t v, char* buf);

// The interval between two clock readings in milliseconds as
// "minutes:seconds:milliseconds" ("%02d:%02ld:%03ld", minutes unbounded),
// or "< 1 ms" for equal readings.  buf holds at least 32 bytes.
char* formatElapsed(char* buf, int32_t start, int32_t end);

// The local-time ctime text of a stored time, ending with its newline.  A
// time the C runtime cannot turn into a date gives kBadDateText.  buf holds
// kDateTextSize bytes.  Returns buf.
extern const char kBadDateText[];
char* dateText(int64_t seconds, char* buf);
// The same without the trailing newline.
char* dateTextLine(int64_t seconds, char* buf);
