// Single-byte code pages as tables, for hosts without the Windows code-page
// conversions.
#pragma once

#include <cstdint>

// A single-byte code page: the character of each byte value from 0x80 up
// (the bytes below are ASCII), and the byte that stands for a character the
// page lacks.
struct SingleBytePage {
  int number;
  uint16_t high[128];
  char defaultChar;
};

// The table of a supported page (437, 850, 1252, 28591), or null.
const SingleBytePage* findSingleBytePage(int number);

// The byte that stands in a page for a character it lacks, where the page
// has a close look-alike (so far for 1252: the box drawings and blocks of
// the PC pages); 0 when there is none.
char bestFitByte(const SingleBytePage& page, uint16_t unit);
