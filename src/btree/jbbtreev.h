// jbbtreev: the disk-resident B-tree of a journal database.
//
// One bTree object binds one database file.  Its work is split by layer:
//   storage  bt_object.cc  construction, destruction, default callback
//            bt_open.cc    openBtDb, makeEmpty, closeBtDb, ExitCleanup,
//                          dbFileSize, reloadIfStale
//            bt_chain.cc   the open's load of the index from the records
//            bt_cache.cc   index array, node states, the two lists,
//                          addIndexEntry, dbFree, purgecache, FlushMemNodes
//            bt_pageio.cc  node buffers, fetchPage, writePage, findFit,
//                          extendNode, releaseDiskNode, RealWriteEx,
//                          WriteCtrlRec
//            bt_flush.cc   FlushMemNodes and RealWrite: the ordered write of
//                          every change a flush carries, and what a failed
//                          write leaves behind
//            bt_image.cc   the check of a node image read from the file
//            bt_ctrlrec.cc dbReadCtrlRec
//            bt_update.cc  locks, updates, and the recovery of an
//                          interrupted change at the open
//            rollback*.cc  the rollback file that makes a change all or
//                          nothing (rollback.h)
//   keys     bt_node.cc    SearchNode, InsertDatum, RemoveDatum
//            bt_search.cc  Search, walkTree
//            bt_delete.cc  Delete and its rebalancing
//            bt_keys.h     entries inside a node, the guarded descent
// The key operations reach nodes only through fetchPage, dbFree, writePage,
// ExitCleanup, FlushMemNodes and makeEmpty.  The file layout is format.h, the
// node buffer nodebuf.h.
//
// Result codes: 0 success; -1 failure with the cause in dbErrno; 1 key not
// found (Delete); 102 memory exhausted; 109 missing child in a walk; 164 a
// node cannot be read in a walk; 165 a node write failed; 942 opening the
// database failed.  makeEmpty alone returns 1 for success, 0 for failure.
// dbErrno holds a C runtime errno value or 12 (memory), 13 (short transfer
// without errno), 22 (invalid subscript, state or node image), 224 (the
// open recreated a downlevel or corrupt database and succeeded), EAGAIN
// (kErrnoInUse: another program's lock stands in the way), 225
// (kErrnoPendingConflict: an interrupted change cannot be taken back).
//
// Every open object holds a shared lock on its file, so no other program
// changes the file while it is open; a change is made under the exclusive
// lock, which no other program may hold beside it (platform/osfile.h).
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "btree/format.h"
#include "btree/nodebuf.h"
#include "btree/bt_pending.h"
#include "btree/rollback.h"
#include "platform/osfile.h"
#include "platform/psstr.h"

// Node states of an index entry.
enum : int32_t {
  kStateUnassigned = 0,  // handed out or never used; no record known
  kStateAvailable = 1,   // describes a free slot; subscript on avlList
  kStateOnDisk = 2,      // live record at nodePos, not in memory
  kStateOccupied = 3,    // in memory, unchanged, held by an operation
  kStateClean = 4,       // in memory, unchanged, released
  kStateModified = 5,    // in memory, changed, released; write before drop
  kStateModHold = 6,     // in memory, changed, still held
};

// Maps a subscript to its record in the file and its buffer in memory.
// Invariant: node is non-null exactly in states 3 to 6, and then
// diskLocOf(node) is the entry's own subscript.
struct indexNode {
  int64_t nodePos;      // file position of the record, 0 while no slot
  uint64_t nodeSize;    // length of the node image (a 32-bit value)
  uint64_t slotLength;  // length of the slot at nodePos, 0 while no slot
  int32_t state;
  NodeP node;
};

// A cell of actList or avlList: singly linked stacks, newest at the head.
struct listCell {
  listCell* next;
  int32_t subscript;
};

constexpr int kResultMemory = 102;
constexpr int kResultNullBranch = 109;
constexpr int kResultWalkRead = 164;
constexpr int kResultWriteFailed = 165;
constexpr int kResultOpenFailed = 942;
constexpr int32_t kErrnoRecreated = 224;
// Another program has the database open (or is changing it), and the
// operation would have to wait for it.
constexpr int32_t kErrnoInUse = EAGAIN;
// The open found a change that was cut off (a crash, a power loss), but the
// file was changed by someone else since: taking the change back could
// lose their work, so the file is left as it is and the open refuses it.
constexpr int32_t kErrnoPendingConflict = 225;

class bTree {
 public:
  explicit bTree(uint16_t dataSize);
  // Slot 0: called by walkTree once per entry, in ascending key order.  key
  // and data point into memory valid only during the call; a non-zero
  // result stops the walk and becomes its result.
  virtual int32_t walkCallback(const wchar16* key, const uint8_t* data);
  // Slot 1.
  virtual ~bTree();

  bTree(const bTree&) = delete;
  bTree& operator=(const bTree&) = delete;

  // --- opening, creating and closing (bt_open.cc) ---
  int openBtDb(const char* path, bool deleteOnCreate);
  // Opens an existing database for reading only, under the shared lock: it
  // never writes, never recreates, works on a file that may not be written,
  // and never recovers a change that a crash cut off: it reads the file as
  // that change's recovery will leave it (pendingState() says which
  // change is pending).  Returns 0, or 942 with dbErrno set: kErrnoInUse,
  // 22 for a file that is no database or a damaged chain, an errno.
  int openReadOnly(const char* path);
  // Of a read-only object: what a rollback file beside it holds.
  jbbrollback::Pending::State pendingState() const { return pendingFound; }
  int makeEmpty();
  void closeBtDb();
  void ExitCleanup();
  uint64_t dbFileSize();

  // --- search and walk (bt_search.cc) ---
  uint8_t* Search(const wchar16* target);
  int walkTree();

  // --- deletion (bt_delete.cc) ---
  int Delete(const wchar16* target);
  // Writes every changed node and the control record, then takes the root
  // back into memory (as a walk does at its start), so that a completed
  // change is on disk before the program waits for its next request.
  // Returns 0, or the failing write's or fetch's result code.
  int syncToDisk();

  // --- updates (bt_update.cc) ---
  // An update holds the exclusive lock from before the first change in
  // memory to after its flush, so that one Del request, or a batch of
  // deletions, is one change that no other program sees half made.
  // beginUpdate returns 0, or -1 with dbErrno kErrnoInUse (nothing held)
  // when another program has the database open; endUpdate goes back to
  // the shared lock.  A flush outside an update takes the exclusive lock
  // for its own writes.
  int beginUpdate();
  void endUpdate();
  // A change removes its rollback file without syncing the folder (a file
  // that a power loss brings back finds the change complete, and goes).
  // settleChanges syncs the folder once, so that none can come back at all:
  // the end of a session calls it, and closeBtDb.  Returns 0 or -1.
  int settleChanges();
  // Why the last open failed, when it was not the file's content: the
  // file is in use (kErrnoInUse), or an interrupted change cannot be taken
  // back (kErrnoPendingConflict, with `pendingWhy` saying what differs).
  const char* pendingWhy() const { return pendingConflict; }

  // --- fault safety (bt_flush.cc, bt_open.cc) ---
  // After a failed write, or a failed deletion, memory may differ from the
  // file.  The tree is then dropped without writing and read again from
  // the file before the next operation uses it; Search, walkTree and Delete
  // do so themselves.  Returns 0 when the tree in memory is the file's (or
  // was made so), -1 with the cause in dbErrno when it could not be read.
  int reloadIfStale();
  bool isStale() const { return mustReload; }

  // --- the storage layer's interface to the key operations ---
  // Index array and cache (bt_cache.cc).
  int32_t addIndexEntry();
  void dbFree(NodeP p, const char* source, int32_t line);
  int purgecache();
  int FlushMemNodes();
  int addToList(listCell** list, int32_t subscript);
  void removeFromList(listCell** list, int32_t subscript);
  void freeList(listCell** list);

  // Page input and output (bt_pageio.cc).
  NodeP dbCalloc(const char* source, int32_t line);
  NodeP fetchPage(int32_t subscript);
  // A hint that node s will be fetched soon (a walk's next child): its
  // record starts on its way from memory while other work goes on.
  void prefetchPage(int32_t subscript);
  int writePage(NodeP* pp);
  int RealWrite(indexNode* e);
  int RealWriteEx(OsFile* stream, const void* bytes, size_t length, int64_t position);
  int32_t findFit(NodeP p);
  int extendNode(NodeP* pp);
  int releaseDiskNode(NodeP* pp);
  int WriteCtrlRec();

  // --- keys in a node (bt_node.cc) ---
  int SearchNode(const wchar16* target, NodeP p, int* k);
  int InsertDatum(NodeP* pp, int k, const uint8_t* entry);
  void RemoveDatum(NodeP* pp, int k);

  // --- deletion steps (bt_delete.cc) ---
  int RecDelete(const wchar16* target, NodeP* pp);
  int Remove(NodeP p, int k);
  int Successor(NodeP* pp, int k);
  int Restore(NodeP* pp, int k);
  int MoveRight(NodeP* pp, int k, NodeP* lt, NodeP* rt);
  int MoveLeft(NodeP* pp, int k, NodeP* lt, NodeP* rt);
  int Combine(NodeP* pp, int k, NodeP* lt, NodeP* rt);

  // Fields, in this order.
  NodeP rootP;
  indexNode* indexArray;
  listCell* actList;
  listCell* avlList;
  int64_t newNDLast;
  OsFile* dbHandle;
  uint16_t dataSize;
  uint64_t diskNodeBaseSize;
  int32_t freeOnRelease;
  int32_t dbErrno;
  CtrlRec cr;
  char* path;
  uint8_t* resultBuffer;

  // Beyond the fields above: what the next flush must carry besides the
  // changed nodes (bt_flush.cc), and whether memory may differ from the
  // file.
  PendingWrites pending;
  bool mustReload;
  // The root is one the open made for an empty tree and nothing has
  // changed since: there is nothing to write, and a walk leaves it unwritten
  // (closeBtDb writes it).
  bool freshRoot = false;
  // A change was made since the folder was last synced (settleChanges).
  bool unsettled = false;
  // What differs, after an open refused for kErrnoPendingConflict.
  char pendingConflict[160] = {};
  // Opened by openReadOnly: nothing is written, and a change asked for
  // fails with EROFS.
  bool readOnly = false;
  // The old bytes a read-only object lays over the file (null: none).
  jbbrollback::Pending* overlay = nullptr;
  jbbrollback::Pending::State pendingFound = jbbrollback::Pending::kNone;
  // Entries the index array has room for.  Equal to cr.indexArraySize,
  // except after opening a file whose stored size claims more subscripts
  // than its length could hold records for: the array is then sized by the
  // file (bt_open.cc) and cr keeps the stored value, which is written back
  // as it was.  Every subscript in use is below it.
  uint32_t indexCapacity;
  // Node buffers handed back and kept for the next read (bt_cache.cc).
  struct SpareBuffers {
    static constexpr int kMax = 8;
    NodeP block[kMax];
    int count = 0;
  } spare;

 private:
  int openFile(const char* path, bool deleteOnCreate, bool readOnly);
  void dropOverlay();
  NodeP Search(const wchar16* target, NodeP node, int* targetPos, int depth);
  int WalkTree(NodeP p, int depth);
  // RecDelete at `depth` levels below the root (the public form starts at
  // 0); the depth bounds the descent in a file whose children point back up.
  int RecDelete(const wchar16* target, NodeP* pp, int depth);
};

// Reads the 2088-byte control record of the file at path into buffer.
// Returns 1 when the whole record was read, 0 otherwise.  Opens "rb+", so a
// file that may not be written fails.  Keeps no state.
int dbReadCtrlRec(const wchar16* path, uint8_t* buffer);
