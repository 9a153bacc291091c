// os: the operating-system services the rest of the system stands on.
//
// This header is the one place where the platforms meet: os_win.cc
// implements it with the Windows kernel and user-interface services and the
// Microsoft C runtime, os_posix.cc with POSIX and glibc.  Code outside
// src/platform never tests which platform it is on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "platform/psstr.h"

// Sets the C locale from the user's environment, so that non-ASCII names
// typed at the console and stored in keys convert correctly.
void osSetUserLocale();

// Multibyte (current C locale) to UTF-16.  Writes at most maxUnits units,
// never splitting a surrogate pair, and no terminator.  Returns the units
// written, or SIZE_MAX when src holds an invalid sequence.
size_t osMbsToWide16(wchar16* dst, const char* src, size_t maxUnits);
// UTF-16 to multibyte.  Writes at most maxBytes bytes and no terminator.
// With substitute set, a character that cannot be represented (or an
// unpaired surrogate) is written as '?'; otherwise the conversion stops
// there.  Returns the bytes written.
size_t osWide16ToMbs(char* dst, const wchar16* src, size_t maxBytes, bool substitute);

// The operating system's wide upper-casing of one code unit (CharUpperW on
// Windows).
wchar16 osUpperWide16(wchar16 c);
// The C runtime's wide upper-casing (towupper) of one code unit.
wchar16 osTowupper16(wchar16 c);

// Wall-clock milliseconds from an arbitrary origin.  The Windows C
// runtime's clock() is wall time in milliseconds; on Linux clock() is
// processor time, so a monotonic clock stands in for it.
int32_t osClockMs();

// Size of a file by path (64-bit); false when its status cannot be read.
bool osFileSize(const char* path, uint64_t* size);

// The C runtime's ctime text of a stored time (64-bit seconds since 1970,
// shown in local time): 24 characters and a newline.  Returns false, with
// buf emptied, when the runtime cannot turn the time into a date (the
// Windows runtime refuses times before 1970, both refuse years it cannot
// represent).  size is at least 26.
bool osCtime64(int64_t seconds, char* buf, size_t size);

// The separator between directory and name in a path: '\\' on Windows, '/'
// on Linux.
char osPathSeparator();
// The current working directory into buf (size bytes, terminator included);
// false when it cannot be read or does not fit.
bool osCurrentDirectory(char* buf, size_t size);

// The wall-clock time now: seconds since 1970 and the milliseconds within
// that second, from one reading of the clock.
void osTimeNow(int64_t& seconds, uint32_t& millis);
// The local breakdown of seconds since 1970 (thread-safe); false when it
// fails.
bool osLocalTime(int64_t seconds, struct tm& out);

// The operating system's version, asked once by the caller: major, minor and
// whether it is of the NT family of Windows.
void osQueryVersion(uint16_t& major, uint16_t& minor, bool& ntFamily);

// Code-page conversions.  osCodePageToWide converts len bytes of src into
// at most cap units of dst; osWideToCodePage converts n units into at most
// cap bytes of dst (cut by whole characters), a character the page lacks
// becoming its look-alike in the page or the page's default character.
// Both write no terminator and return the count written, or SIZE_MAX when
// the page is not supported or the conversion fails.
size_t osCodePageToWide(int page, const char* src, size_t len, wchar16* dst, size_t cap);
size_t osWideToCodePage(int page, const wchar16* src, size_t n, char* dst, size_t cap);

// The code page of the bytes read from standard input when it is not the C
// locale's: the console's input page where standard input is a console
// whose page differs from the ANSI page (stdpage.h), else 0, the locale's
// conversions.  Always 0 on Linux, whose terminals work in the locale's
// encoding.  Decided once.
unsigned osStdinCodePage();
// Writes n bytes of text in the C locale's encoding to standard output;
// returns n, or -1 when the write failed.  A Windows console is written in
// wide characters, after what the stream holds, so the text shows right
// whatever the console's output page; files, pipes and Linux terminals get
// the bytes themselves.
int osWriteStdout(const char* text, size_t n);

// What the stream makes of a LF written to it: "\r\n" for a stream in the
// Windows runtime's text mode (standard output is, unless changed), "\n"
// for any other.
const char* osLineEndOf(FILE* stream);
// Writes n bytes to the stream as they are, line ends included, in large
// writes: the Windows C runtime translates text-mode output and writes it a
// few hundred bytes at a time.  What the stream held before goes first.
// Returns false when a write failed.
bool osWriteBytes(FILE* stream, const char* bytes, size_t n);

// Whether the stream is a terminal (a console on Windows).
bool osIsTerminal(FILE* stream);
// Whether someone may be reading the stream as it is written: a terminal,
// a console, a pipe or a socket, not a file or the null device.
bool osHasLiveReader(FILE* stream);

// The id of the running process (the trace lines' PID prefix).
uint32_t osProcessId();
