// psstr: code-page conversion of message texts.
#pragma once

// Converts text in place from the source code page (850, or the page a test
// names through codePageTestPage) to the target code page (1252, or the page
// named for it).  Nothing happens when the two are the same, when a page is
// not supported, or when the heap is exhausted.  The result never grows past
// the text's length; when it is shorter, it is terminated where it ends.
void convertCodePage(char* text);

// The page a test names for the source page (sourcePage true) or for the
// target page, 0 for none; null names none.  The trace facility connects it
// to its test flags OEMNLSREPOS and ANSINLSREPOS (a flag names its value
// while it is set) when the program starts (trStart).
extern int (*codePageTestPage)(bool sourcePage);
