// The mutex wrappers: the bypass, waits, timeouts and abandoned mutexes.
#include "platform/psthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/os.h"

namespace {

TEST(MutexBypass, EveryOperationSucceedsWithoutAHandle) {
  ASSERT_NE(mutexBypass, 0) << "the bypass is on from the start";
  psMutex never = nullptr;
  psMutex garbage = reinterpret_cast<psMutex>(uintptr_t(0x1234));
  for (psMutex* m : {&never, &garbage}) {
    EXPECT_EQ(psMutexLock(*m), 0);
    EXPECT_EQ(psMutexLockTries(*m, 3), 0);
    EXPECT_EQ(psMutexLockN(*m, 0), 0);
    EXPECT_EQ(psMutexLockN(*m, 5), 0);
    EXPECT_EQ(psMutexRelease(*m), 0);
    EXPECT_EQ(psMutexDestroy(*m), 0);
  }
  EXPECT_EQ(garbage, reinterpret_cast<psMutex>(uintptr_t(0x1234))) << "the handle is not touched";
}

// Real locking: the bypass is turned off for the test and on again after.
class RealMutex : public ::testing::Test {
 protected:
  void SetUp() override {
    mutexBypass = 0;
    ASSERT_EQ(psMutexCreate(m), 0);
    ASSERT_NE(m, nullptr);
  }
  void TearDown() override {
    if (m != nullptr) {
      EXPECT_EQ(psMutexDestroy(m), 0);
    }
    mutexBypass = 1;
  }

  // Runs body on another thread and waits for it to end.
  template <typename F>
  static void onOtherThread(F body) {
    std::thread t(body);
    t.join();
  }

  psMutex m = nullptr;
};

TEST_F(RealMutex, LockReleaseAndReenter) {
  EXPECT_EQ(psMutexLock(m), 0);
  EXPECT_EQ(psMutexLockTries(m, 1), 0) << "the owner may wait again";
  EXPECT_EQ(psMutexRelease(m), 0);
  EXPECT_EQ(psMutexRelease(m), 0);
  int other = -2;
  onOtherThread([&] {
    other = psMutexLockTries(m, 1);
    if (other == 0) psMutexRelease(m);
  });
  EXPECT_EQ(other, 0) << "two releases end two locks";
}

TEST_F(RealMutex, ReleaseByAThreadThatDoesNotHoldItFails) {
  EXPECT_EQ(psMutexRelease(m), -1);
  ASSERT_EQ(psMutexLock(m), 0);
  int other = 0;
  onOtherThread([&] { other = psMutexRelease(m); });
  EXPECT_EQ(other, -1);
  EXPECT_EQ(psMutexRelease(m), 0);
}

TEST_F(RealMutex, TriesRunOutWhileHeldElsewhere) {
  ASSERT_EQ(psMutexLock(m), 0);
  int result = 0;
  int32_t elapsed = 0;
  onOtherThread([&] {
    int32_t start = osClockMs();
    result = psMutexLockN(m, 3);
    elapsed = osClockMs() - start;
  });
  EXPECT_EQ(result, kMutexTimedOut);
  EXPECT_GE(elapsed, 2900) << "three waits of 1000 ms";
  EXPECT_LT(elapsed, 6000);
  EXPECT_EQ(psMutexRelease(m), 0);
}

TEST_F(RealMutex, LockWithoutLimitOutlastsATimeout) {
  std::atomic<bool> held{false};
  std::thread holder([&] {
    psMutexLock(m);
    held = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    psMutexRelease(m);
  });
  while (!held) std::this_thread::yield();
  EXPECT_EQ(psMutexLockN(m, 1), 0) << "n below 2 waits again after each timeout";
  EXPECT_EQ(psMutexRelease(m), 0);
  holder.join();
}

TEST_F(RealMutex, AbandonedLockFailsButHoldsTheMutex) {
  onOtherThread([&] { ASSERT_EQ(psMutexLock(m), 0); });  // ends without releasing
  EXPECT_EQ(psMutexLock(m), -1);
  int other = -2;
  onOtherThread([&] { other = psMutexLockTries(m, 1); });
  EXPECT_EQ(other, kMutexTimedOut) << "the abandoned wait handed the mutex over";
  EXPECT_EQ(psMutexRelease(m), 0);
  onOtherThread([&] {
    other = psMutexLockTries(m, 1);
    if (other == 0) psMutexRelease(m);
  });
  EXPECT_EQ(other, 0) << "one release frees it";
}

TEST_F(RealMutex, TriesReacquireAnAbandonedMutexOnce) {
  onOtherThread([&] { ASSERT_EQ(psMutexLock(m), 0); });
  EXPECT_EQ(psMutexLockTries(m, 2), 0);
  EXPECT_EQ(psMutexRelease(m), 0);
  int other = -2;
  onOtherThread([&] {
    other = psMutexLockTries(m, 1);
    if (other == 0) psMutexRelease(m);
  });
  EXPECT_EQ(other, 0) << "the single release balances the reacquired lock";
}

TEST_F(RealMutex, DestroyClearsTheHandle) {
  EXPECT_EQ(psMutexDestroy(m), 0);
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(psMutexDestroy(m), -1) << "a cleared handle is no mutex";
  EXPECT_EQ(psMutexLock(m), -1);
}

}  // namespace
