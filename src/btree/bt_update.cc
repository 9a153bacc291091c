// Locks and updates: the exclusive lock around a change, and what the open
// does with a change that a crash or a power loss cut off.
#include <cstring>

#include "btree/bt_storage.h"
#include "btree/jbbtreev.h"
#include "btree/rollback.h"
#include "platform/osfile.h"
#include "platform/osfs.h"
#include "trace/trace.h"

namespace {
constexpr char kSourceName[] = "jbbtreev";

const char* stateText(jbbrollback::Pending::State s) {
  switch (s) {
    case jbbrollback::Pending::kNone: return "never used";
    case jbbrollback::Pending::kComplete: return "complete";
    case jbbrollback::Pending::kRollBack: return "to be taken back";
    case jbbrollback::Pending::kConflict: return "in conflict";
  }
  return "";
}
}  // namespace

int bTree::beginUpdate() {
  if (dbHandle == nullptr || readOnly) {
    dbErrno = dbHandle == nullptr ? EBADF : EROFS;
    return -1;
  }
  if (osFileLock(dbHandle, OsLock::kExclusive)) return 0;
  dbErrno = errno == EAGAIN ? kErrnoInUse : (errno != 0 ? errno : 13);
  return -1;
}

void bTree::endUpdate() {
  if (dbHandle != nullptr) osFileLock(dbHandle, OsLock::kShared);
}

int bTree::settleChanges() {
  if (!unsettled || dbHandle == nullptr) return 0;
  if (!osSyncFolderOf(osFilePath(dbHandle))) return -1;
  unsettled = false;
  return 0;
}

int jbbstorage::recoverInterruptedChange(bTree& t) {
  jbbrollback::Pending p = jbbrollback::inspect(t.dbHandle);
  if (!p.sideFile) return 0;
  bool lockedHere = osFileLockHeld(t.dbHandle) != OsLock::kExclusive;
  if (lockedHere && !osFileLock(t.dbHandle, OsLock::kExclusive)) {
    // Others have the file open.  A rollback file that was never used can
    // wait for the next writer; one that matters cannot be acted on now.
    if (p.state == jbbrollback::Pending::kNone) return 0;
    trError(kSourceName, __LINE__, trClass.BTREEDB,
            "openBtDb(): '%s' has an interrupted change, and another program has it open.\n", t.path);
    t.dbErrno = kErrnoInUse;
    return kResultOpenFailed;
  }
  // Judged again now that nobody else can act on it.
  p = jbbrollback::inspect(t.dbHandle);
  trPrint(TR_SITE, trClass.BTREEDB, "openBtDb(): rollback file of '%s' found, the change is %s\n", t.path,
          stateText(p.state));
  int rc = 0;
  if (p.state == jbbrollback::Pending::kConflict) {
    trError(kSourceName, __LINE__, trClass.BTREEDB,
            "openBtDb(): the interrupted change of '%s' cannot be taken back: %s.\n", t.path, p.why.c_str());
    std::snprintf(t.pendingConflict, sizeof t.pendingConflict, "%s", p.why.c_str());
    t.dbErrno = kErrnoPendingConflict;
    rc = kResultOpenFailed;
  } else if (!jbbrollback::recover(t.dbHandle, p)) {
    int err = errno != 0 ? errno : 13;
    trError(kSourceName, __LINE__, trClass.BTREEDB, "openBtDb(): recovering '%s' failed: errno %d: \"%s\".\n",
            t.path, err, std::strerror(err));
    t.dbErrno = err;
    rc = kResultOpenFailed;
  }
  if (lockedHere) osFileLock(t.dbHandle, OsLock::kShared);
  return rc;
}
