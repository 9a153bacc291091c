// Mutexes on Windows: kernel mutex objects.
#include <windows.h>

#include "platform/mutex_os.h"

bool osMutexCreate(psMutex& m, int& error) {
  HANDLE h = CreateMutexW(nullptr, FALSE, nullptr);
  error = h == nullptr ? int(GetLastError()) : 0;
  m = h;
  return h != nullptr;
}

MutexWait osMutexWait(psMutex m, uint32_t millis, int& error) {
  DWORD r = WaitForSingleObject(static_cast<HANDLE>(m), millis);
  error = int(GetLastError());
  switch (r) {
    case WAIT_OBJECT_0:
      return MutexWait::Signalled;
    case WAIT_TIMEOUT:
      return MutexWait::TimedOut;
    case WAIT_ABANDONED:
      return MutexWait::Abandoned;
    default:
      return MutexWait::Failed;
  }
}

bool osMutexRelease(psMutex m, int& error) {
  BOOL ok = ReleaseMutex(static_cast<HANDLE>(m));
  error = ok ? 0 : int(GetLastError());
  return ok != FALSE;
}

bool osMutexClose(psMutex m, int& error) {
  BOOL ok = CloseHandle(static_cast<HANDLE>(m));
  error = ok ? 0 : int(GetLastError());
  return ok != FALSE;
}
