// stdpage: the code page of the text on the standard streams.
//
// The C locale converts in the user's ANSI code page (1252 in Western
// Europe), and so does every file and pipe a script hands the programs.  A
// console, though, reads and shows bytes in a code page of its own (850
// there by default), set apart for input and for output.  Keys typed at a
// console and keys shown on it are converted in the console's page; keys on
// redirected streams keep the locale's conversions byte for byte.  On Linux
// a terminal works in the locale's encoding, so nothing changes there.
#pragma once

#include <cstddef>

#include "platform/psstr.h"

// The code page the bytes of a standard stream are in: the console's page
// when the stream is a console and that page is known (not 0), else the
// ANSI page.  isConsole is whether the stream is a console (GetConsoleMode
// accepts its handle); consolePage is the console's input or output page.
unsigned selectStreamCodePage(bool isConsole, unsigned consolePage, unsigned ansiPage);

// A key read from standard input, to wide: mbToWide, in the page of
// standard input.  dst holds kWideBufUnits units; an invalid sequence gives
// mbToWide's conversion error text.
wchar16* typedToWide(wchar16* dst, const char* src);
// Text for standard output: wideToDisplay, in the page of standard output
// (a character the page lacks shows as its look-alike or as '?').  dst holds
// dstSize bytes, terminator included.
char* wideToShown(char* dst, size_t dstSize, const wchar16* src);
