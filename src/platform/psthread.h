// psthread: the mutex wrappers.
//
// A psMutex is a handle of an operating-system mutex: a kernel mutex on
// Windows, a robust recursive thread mutex on Linux.  Both behave alike: the
// owning thread may lock again (each lock needs its release), a wait lasts
// 1000 ms per try, and a mutex whose owner ended without releasing it is
// reported as abandoned.
//
// While mutexBypass is non-zero (its value from the start, and the utility
// never changes it) every operation returns 0 at once and touches neither the
// handle nor the operating system, so a handle that was never created is
// fine.  Failures are reported through psMutexTrace (class GENERAL) with the
// operating system's error code.
#pragma once

#include <cstdint>

#include "platform/tracechannel.h"

typedef void* psMutex;

// Where the failures are reported; the trace facility fills it when the
// program starts (trStart).  A report takes no heap memory.
extern TraceChannel psMutexTrace;

// Result of psMutexLockTries when every try timed out.
constexpr int kMutexTimedOut = 964;

// Process-wide switch, initially 1.  Embedders and tests that run on several
// threads create their mutexes and set it to 0.
extern int32_t mutexBypass;

// Creates an unowned mutex into m: 0, or -1 (m is then null).  The utility
// itself never creates one; embedders and tests do.
int psMutexCreate(psMutex& m);

// Waits until the mutex is held: 0.  Timeouts are retried without limit.
// -1 on a failure, and -1 for an abandoned mutex (reported), which the
// caller holds all the same and releases as after a success.
int psMutexLock(psMutex& m);
// Waits at most `tries` times 1000 ms (at least one try): 0 when held,
// kMutexTimedOut (964) when every try timed out, -1 on a failure.  An
// abandoned mutex is reported, given back, and the count of tries starts
// again.
int psMutexLockTries(psMutex& m, uint16_t tries);
// n below 2: psMutexLock; otherwise psMutexLockTries with n tries.
int psMutexLockN(psMutex& m, uint16_t n);
// 0; -1 when the calling thread does not hold it (reported).
int psMutexRelease(psMutex& m);
// Closes the handle and sets m to null: 0; -1 for a null or invalid handle
// (reported).
int psMutexDestroy(psMutex& m);
