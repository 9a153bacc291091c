// GlobalRC: the process-wide return code, raised by displayed messages.
//
// One holder per process through globalRC (absent in the utility).  The
// three values start at 0 and only rise: rc <= rcMacroMax and rc <= rcMax
// after every raise.
#pragma once

#include <cstdint>

#include "platform/psthread.h"

class GlobalrC {
 public:
  int32_t rc = 0;
  int32_t rcMacroMax = 0;
  int32_t rcMax = 0;
  psMutex lock = {};

  // Raises rc to the return code of message msgNum; true when it rose,
  // false otherwise or when the lock failed.
  bool set(uint16_t msgNum);
};

extern GlobalrC* globalRC;

// The holder of the message-2046 override: when on, 2046 gives the value
// (when above 0) or 8 instead of 12.
extern int32_t rcOverride2046On;
extern int32_t rcOverride2046Value;

// The return code a message gives: 4 for the listed warnings, 12 for 9999,
// 2046 by its override, otherwise by the severity code (3, 6, 7: 12; 5: 8;
// anything else, 255 for an unknown message included: 0).
int32_t messageReturnCode(uint16_t msgNum, int severity);

// GlobalrC::set when a holder exists.
void globalRcRaise(uint16_t msgNum);
