// Single-byte code pages as tables, for hosts without the Windows code-page
// conversions.
#pragma once

#include <cstdint>

// A character the page lacks and the byte of its look-alike in the page.
struct BestFit {
  uint16_t unit;
  char byte;
};

// A single-byte code page: the character of each byte value from 0x80 up
// (the bytes below are ASCII), the byte that stands for a character the page
// lacks, and the look-alikes it has for characters of the other pages.
struct SingleBytePage {
  int number;
  uint16_t high[128];
  char defaultChar;
  const BestFit* bestFit;
  int bestFitCount;
};

// The table of a supported page (437, 850, 1252, 28591), or null.
const SingleBytePage* findSingleBytePage(int number);

// The byte of the look-alike a page has for a character it lacks; 0 when
// there is none.
char bestFitByte(const SingleBytePage& page, uint16_t unit);
