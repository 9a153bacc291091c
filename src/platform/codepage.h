// psstr: code-page conversion of message texts.
#pragma once

// Converts text in place from the source code page (850, or the value of
// the test flag OEMNLSREPOS when it is set and not 0) to the target code page
// (1252, or the value of ANSINLSREPOS).  Nothing happens when the two are
// the same, when a page is not supported, or when the heap is exhausted.  The
// result never grows past the text's length; when it is shorter, it is
// terminated where it ends.
void convertCodePage(char* text);
