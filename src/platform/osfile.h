// osfile: the database file, read and written at explicit 64-bit positions.
//
// This is the one place where the B-tree and the programs built on its file
// format reach a database file.  Every transfer names its own position, so
// no operation depends on where another one left a file pointer.  Reads
// come from a read-only shared mapping of the file where there is one (both
// hosts keep it coherent with writes through the handle, and its pages are
// the page cache's, not the process's), else from one system call; the
// mapping follows the file as it grows and is dropped before it shrinks.
// Nothing is buffered: a write that returns has handed its bytes to the
// operating system, and osFileFlush has nothing left to do (it stays a
// named point, where a failure would be reported and where the tests
// inject one).
//
// Errors follow the C runtime's convention: a call that fails leaves an
// errno value (on Windows the system error translated as the Microsoft C
// runtime translates it), so callers report and store errno as they would
// after a stdio call.  osfile_posix.cc and osfile_win.cc hold the two
// implementations, osfile_common.cc the counting and the test hook.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct OsFile;

enum class OsFileMode {
  kUpdate,  // an existing file, for reading and writing
  kCreate,  // created, or truncated to nothing, for reading and writing
  kRead,    // an existing file, for reading only
  // An existing file, for reading and writing, held by a program that
  // replaces it by name while it has it open.  Windows keeps any other
  // handle's file from being renamed or removed; this one allows it.
  kUpdateReplaceable,
};

// Opens path (a multibyte name in the current code page).  Returns null with
// errno set when it cannot.
OsFile* osFileOpen(const char* path, OsFileMode mode);
void osFileClose(OsFile* f);

// Reads up to n bytes at pos into buf and returns how many arrived.  Fewer
// than n: errno 0 when the file simply ended, else the error.
size_t osFileRead(OsFile* f, void* buf, size_t n, int64_t pos);
// The n bytes at pos in place, where the file is mapped and they lie
// inside the mapping; else null, and osFileRead is the way to them.  The
// pointer is good until the next write, truncation or close of f.
const uint8_t* osFileView(OsFile* f, int64_t pos, size_t n);
// Writes n bytes of buf at pos and returns how many were written.  Fewer
// than n: errno says why (0 when the system accepted no more bytes without
// naming an error).  Bytes before the failure may have reached the file.
size_t osFileWrite(OsFile* f, const void* buf, size_t n, int64_t pos);
// Cuts the file to size bytes (truncating needs no space on any file
// system).  False with errno set when it fails.
bool osFileTruncate(OsFile* f, int64_t size);
// False with errno set when data handed over earlier failed to reach the
// file.
bool osFileFlush(OsFile* f);
// The file's current size in bytes.
bool osFileSizeOf(OsFile* f, uint64_t* size);
// A hint: bytes [pos, pos + n) will be read soon.  Where the file is mapped
// they are asked into the processor's cache, so that a read of a record
// that lies elsewhere in the file need not wait for memory; else nothing.
void osFilePrefetch(OsFile* f, int64_t pos, size_t n);
// Asks the system to put the file's data on the disk (not only in its
// cache) before returning; false with errno set when it cannot.
bool osFileSyncToDisk(OsFile* f);
// The name f was opened by.
const char* osFilePath(const OsFile* f);
// True when path still names the file f has open: nobody has renamed
// another file over the name, or removed it, since f was opened.
bool osFileIsAt(OsFile* f, const char* path);

// --- Locks between programs ------------------------------------------------
//
// A program holds a shared lock on a file for as long as it has it open and
// changes the file only under the exclusive lock, which no other program's
// lock of either kind may stand beside.  The locks lie on bytes far past
// any data a file can hold (2^62), so they never keep anyone from reading:
// Windows locks are mandatory for the bytes they cover.  They belong to the
// open file, not to the process: two handles of one process exclude each
// other as two programs do, and closing a handle drops its locks.
enum class OsLock { kNone, kShared, kExclusive };
// Moves f's lock to `level` without waiting.  False, with errno EAGAIN,
// when another handle's lock stands in the way (f keeps the lock it held),
// or with another errno when the system refuses.  Going down (exclusive to
// shared or none, shared to none) always succeeds.
bool osFileLock(OsFile* f, OsLock level);
OsLock osFileLockHeld(const OsFile* f);
// Opens path and takes `level` at once.  A file found renamed over or
// removed after it was opened and before the lock was had (a program that
// replaced it) is let go and the name opened again.  Null with errno set
// when the file cannot be opened, or with EAGAIN when it is in use.
OsFile* osFileOpenLocked(const char* path, OsFileMode mode, OsLock level);

// --- Test hook: failing writes on purpose ----------------------------------
//
// Counts every write, every flush, and every write that extends the file
// (ends past its size), for all files of the process.  A planned fault
// makes the nth call of its kind (1-based, counted from the moment the plan
// is set) fail with `error`, or, when `error` is 0, write only the first
// half of its bytes and then report a short write with errno 0.  A
// persistent fault also fails every later call of its kind, as a full disk
// does.  The program itself never sets a plan.
enum class OsFaultPoint { kWrite, kFlush, kExtend };
struct OsFaultPlan {
  OsFaultPoint point = OsFaultPoint::kWrite;
  uint64_t nth = 0;  // 0: no fault
  int error = 0;
  bool persistent = false;
};
struct OsFileCounts {
  uint64_t writes = 0;
  uint64_t flushes = 0;
  uint64_t extensions = 0;
  uint64_t faults = 0;  // calls that were made to fail
};
// Sets a plan (replacing any earlier one) and restarts the counts.
void osFileTestSetFault(const OsFaultPlan& plan);
void osFileTestClearFault();
OsFileCounts osFileTestCounts();

// --- Test hook: recording what reaches the file system --------------------
//
// While a log is set, every call that changes a file or a folder appends
// one event to it, after the call succeeded: what a crash at that moment
// could have left on the disk is then a function of the events so far
// (tests/support/crashstate.h).  Paths are as the caller named them; a
// folder is named by the path of a file in it with the name cut off.
struct OsFileEvent {
  enum Kind {
    kCreate,      // path made anew, empty (an existing file is emptied)
    kWrite,       // bytes at pos
    kTruncate,    // cut or extended to pos bytes
    kSync,        // the file's data is on the disk
    kSyncFolder,  // the names in the folder `path` are on the disk
    kRename,      // the file named path is now named `to`
    kLink,        // `to` names the file path names, as a second name
    kRemove,      // the name path is gone
  };
  Kind kind;
  std::string path;
  std::string to;  // kRename: the new name (a file there is replaced); kLink: the new name
  int64_t pos = 0;
  std::vector<uint8_t> bytes;
};
// Starts recording into *log (null stops).
void osFileTestRecord(std::vector<OsFileEvent>* log);
