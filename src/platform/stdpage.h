// stdpage: the code page of the keys typed on standard input.
//
// The C locale converts in the user's ANSI code page (1252 in Western
// Europe), and so does every file and pipe a script hands the programs.  A
// console, though, hands over the bytes typed in a code page of its own
// (850 there by default), so keys typed at a console are converted in the
// console's page; keys from redirected input keep the locale's conversions
// byte for byte.  (Output to a console needs no page: it is written in wide
// characters, osWriteStdout in os.h.)  On Linux a terminal works in the
// locale's encoding, so nothing changes there.
#pragma once

#include "platform/psstr.h"

// The code page the bytes of a standard stream are in: the console's page
// when the stream is a console and that page is known (not 0), else the
// ANSI page.  isConsole is whether the stream is a console (GetConsoleMode
// accepts its handle); consolePage is the console's page (GetConsoleCP).
unsigned selectStreamCodePage(bool isConsole, unsigned consolePage, unsigned ansiPage);

// A key read from standard input, to wide: mbToWide, in the page of
// standard input.  dst holds kWideBufUnits units; an invalid sequence gives
// mbToWide's conversion error text.
wchar16* typedToWide(wchar16* dst, const char* src);
