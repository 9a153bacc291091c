// The host-independent half of osfile.h: the size a file is known to have,
// the locks a handle holds, the counts of writes, flushes and extensions,
// and the fault plan and the recording of the tests.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/osfile_impl.h"

namespace {
OsFaultPlan plan;
OsFileCounts counts;
std::vector<OsFileEvent>* recording = nullptr;

// True when this call, the count-th of its kind, is to fail.
bool faultDue(OsFaultPoint point, uint64_t count) {
  if (plan.nth == 0 || plan.point != point) return false;
  return count == plan.nth || (plan.persistent && count > plan.nth);
}

// What a faulty write does: half of the bytes and a short count (error 0),
// or nothing and the error.
size_t faultyWrite(OsFile* f, const void* buf, size_t n, int64_t pos) {
  ++counts.faults;
  if (plan.error != 0) {
    errno = plan.error;
    return 0;
  }
  size_t part = osfileimpl::write(f->native, buf, n / 2, pos);
  if (part > 0 && uint64_t(pos) + part > f->size) f->size = uint64_t(pos) + part;
  if (part > 0) osFileRecordEvent(OsFileEvent::kWrite, f->path, std::string(), pos, buf, part);
  errno = 0;
  return part;
}
// Drops the view, before the file shrinks (a view past the end of a file
// faults on Linux, and Windows refuses to cut a file under a view).
void dropView(OsFile* f) {
  if (f->map != nullptr) osfileimpl::unmap(f->map, f->mapLength);
  f->map = nullptr;
  f->mapLength = 0;
}

// Makes the view cover the file as far as this process knows it, when a
// read reaches past it.  Without a view, reads go to the system.
void coverWithView(OsFile* f, uint64_t end) {
  if (end <= f->mapLength || f->size < end) return;
  dropView(f);
  f->map = osfileimpl::map(f->native, f->size);
  if (f->map != nullptr) f->mapLength = f->size;
}
}  // namespace

OsFile* osFileOpen(const char* path, OsFileMode mode) {
  intptr_t native = 0;
  if (!osfileimpl::open(path, mode, &native)) return nullptr;
  auto* f = new (std::nothrow) OsFile{native, 0, nullptr, 0, OsLock::kNone, std::string()};
  if (f == nullptr) {
    osfileimpl::close(native);
    errno = ENOMEM;
    return nullptr;
  }
  f->path = path;
  if (!osfileimpl::size(native, &f->size)) f->size = 0;
  if (mode == OsFileMode::kCreate) osFileRecordEvent(OsFileEvent::kCreate, f->path);
  errno = 0;
  return f;
}

void osFileClose(OsFile* f) {
  if (f == nullptr) return;
  dropView(f);
  osfileimpl::close(f->native);
  delete f;
}

const uint8_t* osFileView(OsFile* f, int64_t pos, size_t n) {
  if (f == nullptr || pos < 0) return nullptr;
  uint64_t end = uint64_t(pos) + n;
  coverWithView(f, end);
  return end <= f->mapLength ? f->map + pos : nullptr;
}

size_t osFileRead(OsFile* f, void* buf, size_t n, int64_t pos) {
  if (f == nullptr || pos < 0) {
    errno = f == nullptr ? EBADF : EINVAL;
    return 0;
  }
  if (const uint8_t* view = osFileView(f, pos, n)) {
    std::memcpy(buf, view, n);
    errno = 0;
    return n;
  }
  return osfileimpl::read(f->native, buf, n, pos);
}

size_t osFileWrite(OsFile* f, const void* buf, size_t n, int64_t pos) {
  if (f == nullptr || pos < 0) {
    errno = f == nullptr ? EBADF : EINVAL;
    return 0;
  }
  bool extends = uint64_t(pos) + n > f->size;
  bool fail = faultDue(OsFaultPoint::kWrite, ++counts.writes);
  if (extends && faultDue(OsFaultPoint::kExtend, ++counts.extensions)) fail = true;
  if (fail) return faultyWrite(f, buf, n, pos);
  size_t done = osfileimpl::write(f->native, buf, n, pos);
  if (done > 0 && uint64_t(pos) + done > f->size) f->size = uint64_t(pos) + done;
  if (done > 0) {
    int err = errno;
    osFileRecordEvent(OsFileEvent::kWrite, f->path, std::string(), pos, buf, done);
    errno = err;
  }
  return done;
}

bool osFileTruncate(OsFile* f, int64_t size) {
  if (f == nullptr || size < 0) {
    errno = f == nullptr ? EBADF : EINVAL;
    return false;
  }
  dropView(f);
  if (!osfileimpl::truncate(f->native, size)) return false;
  f->size = uint64_t(size);
  osFileRecordEvent(OsFileEvent::kTruncate, f->path, std::string(), size);
  return true;
}

bool osFileFlush(OsFile* f) {
  if (f == nullptr) {
    errno = EBADF;
    return false;
  }
  if (faultDue(OsFaultPoint::kFlush, ++counts.flushes)) {
    ++counts.faults;
    errno = plan.error != 0 ? plan.error : EIO;
    return false;
  }
  return true;
}

bool osFileSizeOf(OsFile* f, uint64_t* size) {
  if (f == nullptr) {
    errno = EBADF;
    return false;
  }
  if (!osfileimpl::size(f->native, size)) return false;
  // Another writer may have cut the file: keep no view past its end.
  if (*size < f->mapLength) dropView(f);
  f->size = *size;
  return true;
}

void osFilePrefetch(OsFile* f, int64_t pos, size_t n) {
  constexpr size_t kCacheLine = 64;
  if (f == nullptr || pos < 0 || uint64_t(pos) + n > f->mapLength) return;
  for (size_t off = 0; off < n; off += kCacheLine) __builtin_prefetch(f->map + pos + off);
}

bool osFileSyncToDisk(OsFile* f) {
  if (f == nullptr) {
    errno = EBADF;
    return false;
  }
  if (!osfileimpl::syncToDisk(f->native)) return false;
  osFileRecordEvent(OsFileEvent::kSync, f->path);
  return true;
}

const char* osFilePath(const OsFile* f) { return f != nullptr ? f->path.c_str() : ""; }

bool osFileIsAt(OsFile* f, const char* path) { return f != nullptr && osfileimpl::isAt(f->native, path); }

bool osFileLock(OsFile* f, OsLock level) {
  if (f == nullptr) {
    errno = EBADF;
    return false;
  }
  if (f->lock == level) return true;
  if (!osfileimpl::lock(f->native, f->lock, level)) return false;
  f->lock = level;
  return true;
}

OsLock osFileLockHeld(const OsFile* f) { return f != nullptr ? f->lock : OsLock::kNone; }

OsFile* osFileOpenLocked(const char* path, OsFileMode mode, OsLock level) {
  // A program that replaces the file renames a new one over the name while
  // it holds the exclusive lock on the old one; whoever opened the old one
  // just before gets its lock only afterwards, on a file that has no name
  // any more (or is the backup).  It then opens the name again.  Each
  // round needs another replacement in that gap, so a few rounds suffice.
  constexpr int kRounds = 8;
  for (int round = 0; round < kRounds; ++round) {
    OsFile* f = osFileOpen(path, mode);
    if (f == nullptr) return nullptr;
    if (!osFileLock(f, level)) {
      int err = errno;
      osFileClose(f);
      errno = err;
      return nullptr;
    }
    if (osFileIsAt(f, path)) {
      errno = 0;
      return f;
    }
    osFileClose(f);
  }
  errno = EAGAIN;
  return nullptr;
}

void osFileTestSetFault(const OsFaultPlan& p) {
  plan = p;
  counts = OsFileCounts{};
}

void osFileTestClearFault() { osFileTestSetFault(OsFaultPlan{}); }

OsFileCounts osFileTestCounts() { return counts; }

void osFileTestRecord(std::vector<OsFileEvent>* log) { recording = log; }

void osFileRecordEvent(OsFileEvent::Kind kind, const std::string& path, const std::string& to, int64_t pos,
                       const void* bytes, size_t n) {
  if (recording == nullptr) return;
  OsFileEvent e{kind, path, to, pos, {}};
  if (n > 0) e.bytes.assign(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + n);
  recording->push_back(std::move(e));
}
