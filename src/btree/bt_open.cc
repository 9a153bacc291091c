// Binding a bTree to its file: openBtDb (open, create, or recreate a
// downlevel or corrupt database), makeEmpty, closeBtDb, ExitCleanup and
// dbFileSize.
//
// The open rebuilds the index array from the record chain (bt_chain.cc),
// because the control record on disk may lag behind the records.  A damaged
// chain fails the open with 942 and dbErrno 22 and leaves the file as it
// was.  A control record that says the tree is empty (both counts 0) while
// records follow it fails the same way: a new root placed at 2088 would
// overwrite the first record.
#include <cerrno>
#include <cstring>

#include "btree/bt_storage.h"
#include "btree/jbbtreev.h"
#include "btree/rollback.h"
#include "platform/os.h"
#include "platform/osfile.h"
#include "platform/osfs.h"
#include "platform/kxmem.h"
#include "trace/trace.h"

using namespace jbbformat;
using jbbstorage::entryAt;

namespace {
constexpr char kSourceName[] = "jbbtreev";

// Where phase 2 leads.
enum class Next { kLoad, kCreate, kFail };

const char* allocFailure(int32_t dbErrno) { return dbErrno == 12 ? "Memory Allocation" : "Disk Access"; }

void traceCriticalValues(const bTree& t, const char* who) {
  trPrint(TR_SITE, trClass.BTREEDB,
          "\nCritical values after %s:\nrootP: %p\nrootP->diskLoc: %d\nactList: %p\navlList: %p\nnewNDLast: %lld\n"
          "indexArray: %p\ncr.rootOffset: %d\ncr.lastIndex: %d\ncr.indexArraySize: %d\ncr.currentIXCount: %d\n"
          "cr.lastNDRec: %lld\n",
          who, static_cast<void*>(t.rootP), isRealNode(t.rootP) ? int(diskLocOf(t.rootP)) : 0,
          static_cast<void*>(t.actList), static_cast<void*>(t.avlList), static_cast<long long>(t.newNDLast),
          static_cast<void*>(t.indexArray), int(t.cr.rootOffset), int(t.cr.lastIndex), int(t.cr.indexArraySize),
          int(t.cr.currentIXCount), static_cast<long long>(t.cr.lastNDRec));
}

// Makes the new root the modified last record at position pos, as its
// entry s describes it.  The root is written at the first flush or before
// anything is appended after it.
void placeNewRoot(bTree& t, int32_t s, int64_t pos) {
  indexNode& e = t.indexArray[s];
  t.cr.lastIndex = s;
  e.node = t.rootP;
  e.state = kStateModified;
  e.nodePos = pos;
  e.nodeSize = kDiskNodeBaseSize;
  setNodeSize(t.rootP, uint32_t(kDiskNodeBaseSize));
  t.cr.lastNDRec = pos;
  t.newNDLast = pos + int64_t(kDiskNodeBaseSize);
}

// Frees a new root that never made it into the index.
void discardRoot(bTree& t) {
  KX_FREE(t.rootP);
  t.rootP = nullptr;
}

// Frees the buffer of every node cached for the tree about to be thrown
// away; a subscript may stand on actList more than once.
void dropCachedNodes(bTree& t) {
  for (listCell* c = t.actList; c != nullptr; c = c->next) {
    indexNode* e = entryAt(t, c->subscript);
    if (e == nullptr || e->node == nullptr) continue;
    KX_FREE(e->node);
    e->node = nullptr;
    e->state = kStateOnDisk;
  }
  t.rootP = nullptr;
}
}  // namespace

// ---------------------------------------------------------------------------
// openBtDb, phase by phase.

namespace {
// A phase that hands over to the end of the open, which fails it when
// dbErrno is set.
constexpr int kToEnd = -2;

// A reader never recovers a change that a crash cut off: it reads the file
// as recovery will leave it.  A change in conflict is read as the file is.
void lookAtInterruptedChange(bTree& t) {
  jbbrollback::Pending p = jbbrollback::inspect(t.dbHandle);
  t.pendingFound = p.state;
  if (p.state == jbbrollback::Pending::kRollBack) t.overlay = new jbbrollback::Pending(std::move(p));
  else if (p.state == jbbrollback::Pending::kConflict)
    std::snprintf(t.pendingConflict, sizeof t.pendingConflict, "%s", p.why.c_str());
}

// Phase 2: reads the control record of an existing file into cr, under
// the shared lock that the object holds for as long as the file is open,
// after a change that a crash cut off has been taken back.
Next readControlRecord(bTree& t, bool* reset) {
  errno = 0;
  t.dbHandle = osFileOpenLocked(t.path, t.readOnly ? OsFileMode::kRead : OsFileMode::kUpdate, OsLock::kShared);
  if (t.dbHandle == nullptr) {
    int err = errno;
    trPrint(TR_SITE, trClass.BTREEDB, "openBtDb(): fopen(%s): error %d (%s).\n", t.path, err, std::strerror(err));
    // Only a file that is not there is created; one that exists but cannot
    // be opened for update is never truncated.
    if (err == ENOENT && !t.readOnly) return Next::kCreate;
    t.dbErrno = err == EAGAIN ? kErrnoInUse : (err != 0 ? err : 13);
    return Next::kFail;
  }
  if (t.readOnly) {
    lookAtInterruptedChange(t);
  } else if (jbbstorage::recoverInterruptedChange(t) != 0) {
    return Next::kFail;
  }
  trPrint(TR_SITE, trClass.BTREEDB, "openBtDb(): Reading %d byte cntrl-record ....\n", int(kCtrlRecSize));
  // Bytes the file does not have keep the values cr had.
  uint8_t bytes[kCtrlRecSize];
  encodeCtrlRec(t.cr, bytes);
  size_t got = jbbstorage::readFile(t, bytes, kCtrlRecSize, 0);
  if (got == 0) {
    int err = errno;
    if (err == 0) {
      trError(kSourceName, __LINE__, trClass.BTREEDB, "openBtDb(): Expected to fread %d bytes, only read %d.\n",
              int(kCtrlRecSize), 0);
      t.dbErrno = 13;
    } else {
      t.dbErrno = err;
      trError(kSourceName, __LINE__, trClass.BTREEDB, "openBtDb(): fread: errno %d: \"%s\". \n", err,
              std::strerror(err));
    }
    return Next::kFail;
  }
  decodeCtrlRec(bytes, &t.cr);
  trPrint(TR_SITE, trClass.BTREEDB, "openBtDb(): Read %d byte ctrl-record.\n", int(got));
  if (got != kCtrlRecSize || t.cr.magic != kMagic || t.cr.dataSize != t.dataSize) {
    if (t.readOnly) {
      t.dbErrno = 22;  // a reader never recreates
      return Next::kFail;
    }
    trPrint(TR_SITE, trClass.BTREEDB, "openBtDb(): Downlevel or corrupt db, db will be reset.\n");
    *reset = true;
    return Next::kCreate;
  }
  std::memcpy(t.pending.fileCtrl, bytes, kCtrlRecSize);
  t.pending.fileCtrlKnown = true;
  return Next::kLoad;
}

// What a failed root allocation reports; each place that makes a root has
// its own texts.
struct RootFailureTexts {
  const char* noBuffer;    // takes "Memory Allocation" or "Disk Access"
  const char* noSubscript;
};

// A new empty root buffer whose diskLoc and cr.rootOffset hold a fresh
// subscript.  Returns 0; kToEnd when no buffer can be had; kResultMemory
// when no subscript can be had (the buffer is then freed again).
int allocateRoot(bTree& t, const RootFailureTexts& texts) {
  t.rootP = t.dbCalloc(kSourceName, __LINE__);
  if (t.rootP == nullptr) {
    trError(kSourceName, __LINE__, trClass.BTREEDB, texts.noBuffer, allocFailure(t.dbErrno));
    return kToEnd;
  }
  int32_t s = t.addIndexEntry();
  if (s == 0) {
    trError(kSourceName, __LINE__, trClass.BTREEDB, "%s", texts.noSubscript);
    discardRoot(t);
    return kResultMemory;
  }
  setDiskLoc(t.rootP, s);
  t.cr.rootOffset = s;
  return 0;
}

// Phase 3, step 6: a new, empty root at the end of data.
int makeNewRoot(bTree& t, int64_t endOfData) {
  int rc = allocateRoot(t, {"openBtDb(): myCalloc() returned NULL:  %s .\n",
                            "openBtDb(): addIndexEntry() failed on memory allocation.\n"});
  if (rc != 0) return rc;
  placeNewRoot(t, t.cr.rootOffset, endOfData);
  return 0;
}

// The index array's size for a file of fileSize bytes whose control record
// stores `stored`.  Every record takes at least its 24-byte header, so the
// file holds no more records, and no more subscripts, than its length
// allows; a stored size beyond that (some damage, a stray write) must not
// size an allocation.  The bound keeps room for the subscripts of a new
// root and of a few moved nodes and is a whole number of growth steps, so
// a sound file, whose stored size never comes near it, gets its stored size.
uint32_t indexCapacityFor(uint32_t stored, uint64_t fileSize) {
  uint64_t records = fileSize > kCtrlRecSize ? (fileSize - kCtrlRecSize) / kRecordHeaderSize : 0;
  uint64_t bound = (records + 2 + kIndexGrowth - 1) / kIndexGrowth * kIndexGrowth;
  return bound < stored ? uint32_t(bound) : stored;
}

// A root record marked free is an empty tree only when no live record
// holds an entry: otherwise the entries would be lost to a new empty root
// at the first write.  That is damage, and the open fails (dbErrno 22)
// with the file untouched.
bool liveNodesHoldEntries(bTree& t) {
  for (uint32_t s = 1; s < t.indexCapacity; ++s) {
    const indexNode& e = t.indexArray[s];
    uint8_t count[2] = {0, 0};
    if (e.state != kStateOnDisk || jbbstorage::readFile(t, count, 2, e.nodePos + int64_t(kNodeCount)) != 2) continue;
    if (getU16(count) == 0) continue;
    trError(kSourceName, __LINE__, trClass.BTREEDB,
            "openBtDb(): the root record %d is free, but the record at %lld holds entries.\n", int(t.cr.rootOffset),
            static_cast<long long>(e.nodePos));
    t.dbErrno = 22;
    return true;
  }
  return false;
}

// Phase 3: builds the index array of an existing database and takes its
// root into memory.  The records start right after the control record.
int loadDatabase(bTree& t) {
  int64_t scanPos = int64_t(kCtrlRecSize);
  uint64_t fileSize = 0;
  if (!jbbstorage::sizeOfFile(t, &fileSize)) {
    int err = errno;
    trError(kSourceName, __LINE__, trClass.BTREEDB,
            "openBtDb(): fgetpos attempt to access db cntrl record: errno %d: \"%s\".\n", err, std::strerror(err));
    t.dbErrno = err != 0 ? err : 13;
    return kResultOpenFailed;
  }
  bool newRoot = false;
  int64_t endOfData = scanPos;
  if (t.cr.indexArraySize == 0 && t.cr.currentIXCount == 0 && fileSize >= kCtrlRecSize + kRecordHeaderSize) {
    trError(kSourceName, __LINE__, trClass.BTREEDB,
            "openBtDb(): control record lists no nodes, but %llu bytes of records follow it.\n",
            static_cast<unsigned long long>(fileSize - kCtrlRecSize));
    t.dbErrno = 22;
    return kToEnd;
  }
  if (fileSize == kCtrlRecSize || (t.cr.indexArraySize == 0 && t.cr.currentIXCount == 0)) {
    t.cr.indexArraySize = 0;
    t.cr.currentIXCount = 0;
    t.indexCapacity = 0;
    newRoot = true;
  } else {
    t.indexCapacity = indexCapacityFor(t.cr.indexArraySize, fileSize);
    t.indexArray = static_cast<indexNode*>(KX_CALLOC(1, uint64_t(t.indexCapacity) * sizeof(indexNode)));
    if (t.indexArray == nullptr) {
      t.dbErrno = 12;
      return -1;
    }
    t.newNDLast = int64_t(fileSize);
    int rc = jbbstorage::loadRecordChain(t, scanPos, &newRoot, &endOfData);
    // A damaged chain closes the file untouched; a failing stream stays
    // open for closeBtDb.
    if (rc != 0) return t.dbErrno == 22 ? kToEnd : rc;
    if (newRoot && liveNodesHoldEntries(t)) return kToEnd;
    // The last slot may be claimed longer than what was written: the end
    // of data is where the chain ends, so nothing is appended inside it.
    t.newNDLast = endOfData;
  }
  if (newRoot) {
    int rc = makeNewRoot(t, endOfData);
    if (rc != 0) return rc;
    t.freshRoot = true;
  } else {
    NodeP root = t.fetchPage(t.cr.rootOffset);
    if (!isRealNode(root)) {
      if (t.dbErrno == 0) t.dbErrno = 22;  // the root's subscript names no node
      trError(kSourceName, __LINE__, trClass.BTREEDB, "openBtDb(): unable to load root page.\n");
      return kResultOpenFailed;
    }
    t.rootP = root;
  }
  if (t.addToList(&t.actList, t.cr.rootOffset) != 0) {
    // A fetched root keeps the cell fetchPage gave it; a new one has none.
    if (newRoot) {
      t.indexArray[t.cr.rootOffset] = indexNode{};
      discardRoot(t);
    }
    return -1;
  }
  int rc = t.purgecache();
  return rc != 0 ? rc : kToEnd;
}

// The file emptied under the exclusive lock: a file that exists (a reset,
// or a new database asked for over an old one) is opened and locked before
// it is cut, so that no program that has it open sees it vanish; a rollback
// file beside it belonged to the old content and goes.  Null with errno
// set when that cannot be done.
OsFile* emptiedFile(bTree& t, OsFile* held) {
  OsFile* f = held;
  if (f == nullptr && osFileExists(t.path)) f = osFileOpenLocked(t.path, OsFileMode::kUpdate, OsLock::kExclusive);
  else if (f == nullptr) f = osFileOpen(t.path, OsFileMode::kCreate);
  if (f == nullptr) return nullptr;
  bool ok = osFileLock(f, OsLock::kExclusive) && osFileTruncate(f, 0);
  std::string side = jbbrollback::sideFileOf(t.path);
  if (ok && osFileExists(side.c_str())) ok = osRemoveFile(side.c_str()) && osSyncFolderOf(side.c_str());
  if (ok) return f;
  int err = errno;
  osFileClose(f);
  errno = err;
  return nullptr;
}

// Phase 4: creates the file anew with an empty tree.  Returns kToEnd, or
// 102 when no subscript could be had for the root.
int createDatabase(bTree& t) {
  errno = 0;
  OsFile* held = t.dbHandle;
  t.dbHandle = nullptr;
  t.dbHandle = emptiedFile(t, held);
  if (t.dbHandle == nullptr) {
    int err = errno;
    t.dbErrno = err == EAGAIN ? kErrnoInUse : (err != 0 ? err : 13);
    trError(kSourceName, __LINE__, trClass.BTREEDB, "openBtDb(): fopen: errno %d: \"%s\".\n", err,
            std::strerror(err));
    return kToEnd;
  }
  trPrint(TR_SITE, trClass.BTREEDB, "openBtDb(): Opened db file '%s' in wb+ mode, handle=%p.\n", t.path,
          static_cast<void*>(t.dbHandle));
  if (t.indexArray != nullptr) KX_FREE(t.indexArray);
  t.indexArray = nullptr;
  t.indexCapacity = 0;
  t.cr.magic = kMagic;
  t.cr.currentIXCount = 0;
  t.cr.indexArraySize = 0;
  t.cr.majorVersion = kMajorVersion;
  t.cr.dataSize = t.dataSize;
  t.cr.minorVersion = kMinorVersion;
  std::memset(t.cr.journalInfoArea, 0, sizeof t.cr.journalInfoArea);
  if (t.WriteCtrlRec() != 0) return kToEnd;
  int rc = allocateRoot(t, {"openBtDb(): myCalloc returned NULL: %s .\n",
                            "openBtDb(): addIndexEntry() failed on memory allocation.\n"});
  if (rc != 0) return rc;
  int32_t s = t.cr.rootOffset;
  if (t.addToList(&t.actList, s) != 0) {
    discardRoot(t);
    return kToEnd;
  }
  placeNewRoot(t, s, int64_t(kCtrlRecSize));
  t.WriteCtrlRec();
  // The new database is on the disk, its name too, before others see it.
  if (t.dbErrno == 0 && !(osFileSyncToDisk(t.dbHandle) && osSyncFolderOf(t.path))) t.dbErrno = errno != 0 ? errno : 13;
  osFileLock(t.dbHandle, OsLock::kShared);
  return kToEnd;
}

// Phase 5: the end of every open that did not return early.
int finishOpen(bTree& t, bool reset) {
  if (t.dbErrno != 0) {
    if (t.dbHandle != nullptr) osFileClose(t.dbHandle);
    t.dbHandle = nullptr;
    delete t.overlay;
    t.overlay = nullptr;
    if (t.rootP != nullptr) t.dbFree(t.rootP, kSourceName, __LINE__);
    t.rootP = nullptr;
    trError(kSourceName, __LINE__, trClass.BTREEDB, "openBtDb(): Unable to open db file '%s'.\n", t.path);
    return kResultOpenFailed;
  }
  if (reset) t.dbErrno = kErrnoRecreated;
  trPrint(TR_SITE, trClass.BTREEDB, "openBtDb(): Successfully opened db file '%s' .\n", t.path);
  traceCriticalValues(t, "openBtDb()");
  return 0;
}
}  // namespace

int bTree::openReadOnly(const char* dbPath) { return openFile(dbPath, false, true); }

int bTree::openBtDb(const char* dbPath, bool deleteOnCreate) { return openFile(dbPath, deleteOnCreate, false); }

int bTree::openFile(const char* dbPath, bool deleteOnCreate, bool forReading) {
  dbErrno = 0;
  rootP = nullptr;
  trPrint(TR_SITE, trClass.BTREEDB, "openBtDb(): Opening btree db file '%s', delete on create = %s...\n", dbPath,
          deleteOnCreate ? "Yes" : "No");
  readOnly = forReading;
  dropOverlay();
  size_t length = std::strlen(dbPath);
  if (path != nullptr) KX_FREE(path);
  path = static_cast<char*>(KX_MALLOC(length + 1));
  if (path == nullptr) {
    dbErrno = 12;
    return kResultOpenFailed;
  }
  std::memcpy(path, dbPath, length + 1);
  freeList(&actList);
  freeList(&avlList);
  pending.clear();
  pending.fileCtrlKnown = false;
  mustReload = false;
  freshRoot = false;
  unsettled = false;
  pendingConflict[0] = '\0';
  bool reset = false;
  Next next = deleteOnCreate ? Next::kCreate : readControlRecord(*this, &reset);
  if (next == Next::kLoad) {
    int rc = loadDatabase(*this);
    if (rc != kToEnd) return rc;
  } else if (next == Next::kCreate) {
    int rc = createDatabase(*this);
    if (rc != kToEnd) return rc;
  }
  return finishOpen(*this, reset);
}

// ---------------------------------------------------------------------------

namespace {
// makeEmpty's new tree: lists emptied, a new modified root at 2088.
void emptyTreeInMemory(bTree& t) {
  t.newNDLast = int64_t(kCtrlRecSize);
  t.freeList(&t.actList);
  t.freeList(&t.avlList);
  if (allocateRoot(t, {"makeEmpty(): myCalloc() returned NULL: %s .\n",
                       "makeEmpty(): addIndexEntry() failed on memory allocation.\n"}) != 0)
    return;
  int32_t s = t.cr.rootOffset;
  if (t.addToList(&t.actList, s) != 0) {
    discardRoot(t);
    return;
  }
  placeNewRoot(t, s, int64_t(kCtrlRecSize));
}
}  // namespace

int bTree::makeEmpty() {
  errno = 0;
  dbErrno = 0;
  trPrint(TR_SITE, trClass.BTREEDB, "makeEmpty() entry\n");
  if (dbHandle == nullptr || path == nullptr) {
    dbErrno = 22;
    traceCriticalValues(*this, "makeEmpty()");
    return 0;
  }
  // The writes still pending belong to the tree that goes now.  The file
  // is re-initialised by the next flush: the new root and control record
  // written over the start of the file, then the file cut after them, so
  // that a failure on the way can be taken back and the file never passes
  // through a state without the last entry and without the empty tree.
  pending.clear();
  pending.reinitialise = true;
  // The buffers of the old tree go with the array that finds them.
  dropCachedNodes(*this);
  cr.rootOffset = 1;
  cr.lastIndex = 1;
  cr.lastNDRec = int64_t(kCtrlRecSize);
  cr.indexArraySize = 0;
  cr.currentIXCount = 0;
  if (indexArray != nullptr) KX_FREE(indexArray);
  indexArray = nullptr;
  indexCapacity = 0;
  emptyTreeInMemory(*this);
  traceCriticalValues(*this, "makeEmpty()");
  return dbErrno == 0 ? 1 : 0;
}

void bTree::closeBtDb() {
  trPrint(TR_SITE, trClass.BTREEDB, "closeBtDb(): Closing db handle %p .\n", static_cast<void*>(dbHandle));
  if (dbHandle == nullptr) return;
  if (path != nullptr) KX_FREE(path);
  path = nullptr;
  FlushMemNodes();
  settleChanges();
  osFileClose(dbHandle);
  dbHandle = nullptr;
  dropOverlay();
}

void bTree::dropOverlay() {
  delete overlay;
  overlay = nullptr;
  pendingFound = jbbrollback::Pending::kNone;
}

void bTree::ExitCleanup() {
  trPrint(TR_SITE, trClass.BTREEDB, "ExitCleanup() entry. actList = %p\n", static_cast<void*>(actList));
  int visited = 0;
  listCell** link = &actList;
  while (*link != nullptr) {
    ++visited;
    listCell* cell = *link;
    int32_t s = cell->subscript;
    indexNode* e = entryAt(*this, s);
    if (e == nullptr || (rootP != nullptr && e->node == rootP)) {
      link = &cell->next;
      continue;
    }
    if (e->state == kStateOnDisk) {
      trPrint(TR_SITE, trClass.BTREEDB, "ExitCleanup() found empty indexNode[%d]\n", int(s));
      *link = cell->next;
      KX_FREE(cell);
      continue;
    }
    if (e->node != nullptr && KX_CHECK(e->node) != 0)
      trPrint(TR_SITE, trClass.BTREEDB, "ExitCleanup() bad memory check for indexArray[%d], node: %p\n", int(s),
              static_cast<void*>(e->node));
    if (e->state == kStateOccupied) e->state = kStateClean;
    else if (e->state == kStateModHold) e->state = kStateModified;
    link = &cell->next;
  }
  trPrint(TR_SITE, trClass.BTREEDB, "ExitCleanup() actlist size: %d\n", visited);
}

uint64_t bTree::dbFileSize() {
  uint64_t size = 0;
  if (path == nullptr || path[0] == '\0') return 0;
  if (!osFileSize(path, &size)) return 0;
  return size;
}

// ---------------------------------------------------------------------------
// Reading the tree again after a failure.

namespace {
// Drops the tree in memory without writing anything.
void dropTree(bTree& t) {
  dropCachedNodes(t);
  t.freeList(&t.actList);
  t.freeList(&t.avlList);
  t.pending.clear();
  if (t.indexArray != nullptr) KX_FREE(t.indexArray);
  t.indexArray = nullptr;
  t.indexCapacity = 0;
}

// Reads the control record and the tree from the open file, as the open
// does, but never recreates the file: a record that fails the identity test
// now was damaged by the failure, and the file stays as it is.
int reloadFromFile(bTree& t) {
  dropTree(t);
  t.dbErrno = 0;
  // A change whose writes failed, and whose old bytes could not be put
  // back either, left its rollback file: it is taken back first.
  if (!t.readOnly && jbbstorage::recoverInterruptedChange(t) != 0) return -1;
  uint8_t bytes[kCtrlRecSize];
  size_t got = jbbstorage::readFile(t, bytes, kCtrlRecSize, 0);
  if (got != kCtrlRecSize) {
    t.dbErrno = errno != 0 ? errno : 13;
    return -1;
  }
  CtrlRec cr;
  decodeCtrlRec(bytes, &cr);
  if (cr.magic != kMagic || cr.dataSize != t.dataSize) {
    t.dbErrno = 22;
    return -1;
  }
  t.cr = cr;
  std::memcpy(t.pending.fileCtrl, bytes, kCtrlRecSize);
  t.pending.fileCtrlKnown = true;
  int rc = loadDatabase(t);
  if (rc != kToEnd || t.dbErrno != 0) {
    if (t.dbErrno == 0) t.dbErrno = 22;
    dropTree(t);
    return -1;
  }
  return 0;
}
}  // namespace

int bTree::reloadIfStale() {
  if (!mustReload) return 0;
  trPrint(TR_SITE, trClass.BTREEDB, "reloadIfStale(): reading the tree again from '%s'\n",
          path != nullptr ? path : "");
  if (dbHandle == nullptr) {
    dropTree(*this);
    dbErrno = EBADF;
    return -1;
  }
  if (reloadFromFile(*this) != 0) return -1;
  mustReload = false;
  return 0;
}
