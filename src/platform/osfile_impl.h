// The platform half of osfile.h: each host's file primitives, which
// osfile_common.cc wraps with the counting and the test hook.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/osfile.h"

struct OsFile {
  intptr_t native;  // a file descriptor on Linux, a HANDLE on Windows
  uint64_t size;    // as this process last made or saw it
  // A read-only view of the file's first mapLength bytes (null: none).
  // Both hosts keep a shared mapping of a local file coherent with writes
  // through the handle, so reads come from it without a system call.
  const uint8_t* map;
  uint64_t mapLength;
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
}  // namespace osfileimpl
