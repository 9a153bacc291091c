// Mutexes on Linux: a robust recursive thread mutex behaves as a kernel
// mutex does.  The owning thread may lock again; when an owner thread ends
// without releasing, the next wait gets EOWNERDEAD, which is the abandoned
// case: the mutex is then marked consistent again and held by the waiter.
// The mutex lives in a block of the debug allocator; the handle points at it.
#include <pthread.h>

#include <cerrno>
#include <ctime>

#include "platform/kxmem.h"
#include "platform/mutex_os.h"

namespace {
constexpr char kSourceName[] = "psthread";

pthread_mutex_t* mutexOf(psMutex m) { return static_cast<pthread_mutex_t*>(m); }

timespec deadlineAfter(uint32_t millis) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  ts.tv_sec += millis / 1000;
  ts.tv_nsec += long(millis % 1000) * 1000000L;
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  return ts;
}
}  // namespace

bool osMutexCreate(psMutex& m, int& error) {
  auto* mutex = static_cast<pthread_mutex_t*>(KX_MALLOC(sizeof(pthread_mutex_t)));
  if (mutex == nullptr) {
    error = ENOMEM;
    return false;
  }
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  error = pthread_mutex_init(mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  if (error != 0) {
    KX_FREE(mutex);
    return false;
  }
  m = mutex;
  return true;
}

MutexWait osMutexWait(psMutex m, uint32_t millis, int& error) {
  if (m == nullptr) {
    error = EINVAL;
    return MutexWait::Failed;
  }
  timespec deadline = deadlineAfter(millis);
  error = pthread_mutex_timedlock(mutexOf(m), &deadline);
  switch (error) {
    case 0:
      return MutexWait::Signalled;
    case ETIMEDOUT:
      return MutexWait::TimedOut;
    case EOWNERDEAD:
      pthread_mutex_consistent(mutexOf(m));
      return MutexWait::Abandoned;
    default:
      return MutexWait::Failed;
  }
}

bool osMutexRelease(psMutex m, int& error) {
  error = m == nullptr ? EINVAL : pthread_mutex_unlock(mutexOf(m));
  return error == 0;
}

bool osMutexClose(psMutex m, int& error) {
  if (m == nullptr) {
    error = EINVAL;
    return false;
  }
  error = pthread_mutex_destroy(mutexOf(m));
  if (error != 0) return false;
  KX_FREE(m);
  return true;
}
