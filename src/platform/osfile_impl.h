// The platform half of osfile.h and osfs.h: each host's primitives, which
// osfile_common.cc and osfs_common.cc wrap with the counting, the fault
// plan and the recording of the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/osfile.h"

struct OsFile {
  intptr_t native;  // a file descriptor on Linux, a HANDLE on Windows
  uint64_t size;    // as this process last made or saw it
  // A read-only view of the file's first mapLength bytes (null: none).
  // Both hosts keep a shared mapping of a local file coherent with writes
  // through the handle, so reads come from it without a system call.
  const uint8_t* map;
  uint64_t mapLength;
  OsLock lock;
  std::string path;
};

namespace osfileimpl {
// Opens path; false with errno set.  On success *native holds the handle.
bool open(const char* path, OsFileMode mode, intptr_t* native);
void close(intptr_t native);
size_t read(intptr_t native, void* buf, size_t n, int64_t pos);
size_t write(intptr_t native, const void* buf, size_t n, int64_t pos);
bool truncate(intptr_t native, int64_t size);
bool size(intptr_t native, uint64_t* size);
bool syncToDisk(intptr_t native);
// Maps the first length bytes for reading; null when it cannot.
const uint8_t* map(intptr_t native, uint64_t length);
void unmap(const uint8_t* view, uint64_t length);
// Moves the handle's lock from `held` to `want` without waiting; false with
// errno EAGAIN when another handle's lock conflicts (the handle then still
// holds `held`).
bool lock(intptr_t native, OsLock held, OsLock want);
// Whether path names the file the handle has open.
bool isAt(intptr_t native, const char* path);
}  // namespace osfileimpl

namespace osfsimpl {
bool exists(const char* path);
bool replace(const char* from, const char* to);
bool replaceKeepingBackup(const char* from, const char* to, const char* backup);
// Renames from to to, refusing (EEXIST) a name that exists.
bool renameNew(const char* from, const char* to);
bool remove(const char* path);
bool syncFolder(const std::string& folder);
}  // namespace osfsimpl

// Hands an event to the test's log, when one is set.
void osFileRecordEvent(OsFileEvent::Kind kind, const std::string& path, const std::string& to = std::string(),
                       int64_t pos = 0, const void* bytes = nullptr, size_t n = 0);
