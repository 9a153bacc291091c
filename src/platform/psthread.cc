// The mutex wrappers: the bypass, the polls and the reports.  The waits
// themselves are the operating system's (mutex_os.h).
#include "platform/psthread.h"

#include "platform/mutex_os.h"
#include "platform/tracechannel.h"

namespace {
constexpr char kSourceName[] = "psthread";
// Each wait lasts this long; psMutexLock simply waits again.
constexpr uint32_t kWaitMillis = 1000;
}  // namespace

int32_t mutexBypass = 1;

int psMutexCreate(psMutex& m) {
  m = nullptr;
  int error = 0;
  if (osMutexCreate(m, error)) return 0;
  psMutexTrace.error(kSourceName, __LINE__, "Create mutex failed; reason %d.\n", error);
  m = nullptr;
  return -1;
}

// An abandoned wait still hands the mutex to the caller, as a kernel mutex
// does: psMutexLock reports it and returns -1 with the mutex held, so that a
// caller that releases after its lock, whatever the result, stays balanced.
int psMutexLock(psMutex& m) {
  if (mutexBypass != 0) return 0;
  for (;;) {
    int error = 0;
    switch (osMutexWait(m, kWaitMillis, error)) {
      case MutexWait::Signalled:
        return 0;
      case MutexWait::TimedOut:
        continue;
      case MutexWait::Abandoned:
        psMutexTrace.error(kSourceName, __LINE__, "Mutex lock failed (abandoned): %d.\n", error);
        return -1;
      case MutexWait::Failed:
        break;
    }
    psMutexTrace.error(kSourceName, __LINE__, "Mutex lock failed: %d.\n", error);
    return -1;
  }
}

// After an abandoned wait the mutex is already held; waiting again would
// take it a second time, and the caller's single release would then leave it
// held for good.  So the abandoned hold is given back before the next wait.
int psMutexLockTries(psMutex& m, uint16_t tries) {
  if (mutexBypass != 0) return 0;
  const int given = tries < 1 ? 1 : tries;
  int left = given;
  for (;;) {
    int error = 0;
    switch (osMutexWait(m, kWaitMillis, error)) {
      case MutexWait::Signalled:
        return 0;
      case MutexWait::TimedOut:
        if (--left == 0) return kMutexTimedOut;
        continue;
      case MutexWait::Abandoned: {
        psMutexTrace.error(kSourceName, __LINE__,
                       "Mutex lock failed (abandoned): %d., attempting to reacquire mutex.\n", error);
        int releaseError = 0;
        osMutexRelease(m, releaseError);
        left = given;
        continue;
      }
      case MutexWait::Failed:
        break;
    }
    psMutexTrace.error(kSourceName, __LINE__, "Mutex lock failed: %d.\n", error);
    return -1;
  }
}

int psMutexLockN(psMutex& m, uint16_t n) { return n < 2 ? psMutexLock(m) : psMutexLockTries(m, n); }

int psMutexRelease(psMutex& m) {
  if (mutexBypass != 0) return 0;
  int error = 0;
  if (osMutexRelease(m, error)) return 0;
  psMutexTrace.error(kSourceName, __LINE__, "Release mutex failed; reason %d.\n", error);
  return -1;
}

// The handle is cleared once closed, so a second destroy reports a failure
// instead of closing whatever the old value names by then.
int psMutexDestroy(psMutex& m) {
  if (mutexBypass != 0) return 0;
  int error = 0;
  if (osMutexClose(m, error)) {
    m = nullptr;
    return 0;
  }
  psMutexTrace.error(kSourceName, __LINE__, "Destroy mutex failed; reason %d.\n", error);
  return -1;
}

// Filled when the program starts (psthread.h).
TraceChannel psMutexTrace = {};
