// The "Journal Database Information" report printed after the count.
#pragma once

#include <cstdint>

// Prints the report to standard output.  area is the 2048-byte journal
// information area; keyLength is the stored key length (not halved); path
// is the database path as the user gave it, without ".jbbdb".
void printDbInformation(uint8_t majorVersion, uint8_t minorVersion, const uint8_t* area, uint32_t entryCount,
                        uint16_t keyLength, uint16_t dataLength, const char* path, uint64_t fileSize);

// "Variable Length" for 0, otherwise the size text of length followed by
// " Characters".  buf holds at least kSizeTextSize bytes.
char* keyLengthText(uint16_t length, char* buf);

// The texts of the report for a stored journal type and state.
const char* journalTypeText(int32_t type);
const char* journalStateText(int32_t state);
