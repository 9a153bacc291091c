// Control record encoding; the layout is stated in format.h.
#include "btree/format.h"

#include <cstring>

using namespace jbbformat;

void decodeCtrlRec(const uint8_t* b, CtrlRec* cr) {
  cr->magic = getU16(b + kCrMagic);
  cr->majorVersion = b[kCrMajor];
  cr->minorVersion = b[kCrMinor];
  cr->rootOffset = getI32(b + kCrRootOffset);
  cr->indexArraySize = getU32(b + kCrIndexArraySize);
  cr->currentIXCount = getU32(b + kCrCurrentIXCount);
  cr->lastIndex = getI32(b + kCrLastIndex);
  std::memcpy(cr->pad1, b + kCrPad1, sizeof cr->pad1);
  cr->lastNDRec = getI64(b + kCrLastNDRec);
  cr->keyLength = getU16(b + kCrKeyLength);
  cr->dataSize = getU16(b + kCrDataSize);
  std::memcpy(cr->journalInfoArea, b + kJournalInfoOffset, kJournalInfoSize);
  std::memcpy(cr->pad2, b + kCrPad2, sizeof cr->pad2);
}

void encodeCtrlRec(const CtrlRec& cr, uint8_t* b) {
  putU16(b + kCrMagic, cr.magic);
  b[kCrMajor] = cr.majorVersion;
  b[kCrMinor] = cr.minorVersion;
  putI32(b + kCrRootOffset, cr.rootOffset);
  putU32(b + kCrIndexArraySize, cr.indexArraySize);
  putU32(b + kCrCurrentIXCount, cr.currentIXCount);
  putI32(b + kCrLastIndex, cr.lastIndex);
  std::memcpy(b + kCrPad1, cr.pad1, sizeof cr.pad1);
  putI64(b + kCrLastNDRec, cr.lastNDRec);
  putU16(b + kCrKeyLength, cr.keyLength);
  putU16(b + kCrDataSize, cr.dataSize);
  std::memcpy(b + kJournalInfoOffset, cr.journalInfoArea, kJournalInfoSize);
  std::memcpy(b + kCrPad2, cr.pad2, sizeof cr.pad2);
}
