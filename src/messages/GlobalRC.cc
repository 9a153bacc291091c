// The process-wide return code; see GlobalRC.h.
#include "messages/GlobalRC.h"

#include <algorithm>
#include <iterator>

#include "messages/kvenls.h"
#include "trace/trace.h"

GlobalrC* globalRC = nullptr;
int32_t rcOverride2046On = 0;
int32_t rcOverride2046Value = 0;

namespace {
constexpr char kSourceName[] = "GlobalRC";
constexpr uint16_t kLockFailureMessage = 9999;
constexpr uint16_t kOverridable = 2046;

// Messages that end a run with a warning, whatever their severity.
constexpr uint16_t kWarningMessages[] = {326,   1086,  1115,  1136,  1147,  1154,  1159,  1228,  1242,
                                         1243,  1269,  1413,  1469,  1753,  1754,  1802,  1803,  1804,
                                         1946,  1947,  3008,  5154,  5823,  14005, 14007, 14008, 14017,
                                         14018, 14025, 14037, 14042, 14044, 14045, 14973, 14987};

// Set while a lock failure is being displayed: that display raises the
// return code through message 9999 again, and a lock that keeps failing
// would otherwise recurse without end.
bool reportingLockFailure = false;

void reportLockFailure(int line, const char* what) {
  if (trClass.EXTRC) trPrintf(kSourceName, line, "%s", what);
  reportingLockFailure = true;
  nlsDisplayMessage(kLockFailureMessage, kSourceName, line, what);
  reportingLockFailure = false;
}

void traceValues(const char* format, const GlobalrC& g) {
  if (trClass.EXTRC_DETAIL) trPrintf(kSourceName, __LINE__, format, g.rc, g.rcMacroMax, g.rcMax);
}

// The return code that the number alone decides, or -1.
int32_t numberReturnCode(uint16_t msgNum) {
  if (std::find(std::begin(kWarningMessages), std::end(kWarningMessages), msgNum) != std::end(kWarningMessages))
    return 4;
  if (msgNum == kLockFailureMessage) return 12;
  if (msgNum == kOverridable) {
    if (!rcOverride2046On) return 12;
    return rcOverride2046Value > 0 ? rcOverride2046Value : 8;
  }
  return -1;
}
}  // namespace

int32_t messageReturnCode(uint16_t msgNum, int severity) {
  int32_t byNumber = numberReturnCode(msgNum);
  if (byNumber >= 0) return byNumber;
  switch (severity) {
    case 3:
    case 6:
    case 7: return 12;
    case 5: return 8;
    default: return 0;
  }
}

bool GlobalrC::set(uint16_t msgNum) {
  if (reportingLockFailure) return false;
  if (trClass.EXTRC_DETAIL) {
    trPrintf(kSourceName, __LINE__, "GlobalrC::set() entry.\n");
    trPrintf(kSourceName, __LINE__, "msgNum = %d.\n", int(msgNum));
  }
  if (psMutexLock(lock) != 0) {
    reportLockFailure(__LINE__, "Unable to acquire global rc mutex\n");
    return false;
  }
  traceValues("Before processing, rc = %d, rcMacroMax = %d, rcMax = %d.\n", *this);
  // The severity is looked up only when the number alone does not decide.
  int32_t msgRC = numberReturnCode(msgNum);
  if (msgRC < 0) msgRC = messageReturnCode(msgNum, nlsMessageSeverity(msgNum));
  if (trClass.EXTRC_DETAIL) trPrintf(kSourceName, __LINE__, "msgRC = %d.\n", int(msgRC));
  bool raised = false;
  if (rc < msgRC) {
    if (trClass.EXTRC) {
      trPrintf(kSourceName, __LINE__, "msgNum = %d changed the Global RC.\n", int(msgNum));
      trPrintf(kSourceName, __LINE__, "Old values: rc = %d, rcMacroMax = %d, rcMax = %d.\n", rc, rcMacroMax, rcMax);
    }
    rc = msgRC;
    rcMacroMax = std::max(rcMacroMax, msgRC);
    rcMax = std::max(rcMax, msgRC);
    if (trClass.EXTRC)
      trPrintf(kSourceName, __LINE__, "New values: rc = %d, rcMacroMax = %d, rcMax = %d.\n", rc, rcMacroMax, rcMax);
    raised = true;
  }
  if (psMutexRelease(lock) != 0) {
    reportLockFailure(__LINE__, "Unable to release global rc mutex\n");
    raised = false;
  }
  traceValues("After processing, rc = %d, rcMacroMax = %d, rcMax = %d.\n", *this);
  if (trClass.EXTRC_DETAIL) trPrintf(kSourceName, __LINE__, "GlobalrC::set() exit.\n");
  return raised;
}

void globalRcRaise(uint16_t msgNum) {
  if (globalRC != nullptr) globalRC->set(msgNum);
}
