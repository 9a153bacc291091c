// The operating-system half of the mutex wrappers (psthread_win.cc,
// psthread_posix.cc).  Every function reports the operating system's error
// code, read right after the call, through `error`.
#pragma once

#include <cstdint>

#include "platform/psthread.h"

enum class MutexWait {
  Signalled,  // the calling thread holds the mutex
  TimedOut,   // the wait ended without it
  Abandoned,  // held now, but its previous owner ended without releasing it
  Failed,
};

bool osMutexCreate(psMutex& m, int& error);
MutexWait osMutexWait(psMutex m, uint32_t millis, int& error);
bool osMutexRelease(psMutex m, int& error);
// Closes the handle (the mutex object goes when its last handle does).
bool osMutexClose(psMutex m, int& error);
