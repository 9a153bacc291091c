// The database file on Linux: a file descriptor with pread and pwrite.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/osfile_impl.h"

namespace osfileimpl {

bool open(const char* path, OsFileMode mode, intptr_t* native) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case OsFileMode::kUpdate:
    case OsFileMode::kUpdateReplaceable: flags |= O_RDWR; break;
    case OsFileMode::kCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case OsFileMode::kRead: flags |= O_RDONLY; break;
  }
  int fd;
  do fd = ::open(path, flags, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  *native = fd;
  return true;
}

void close(intptr_t native) { ::close(int(native)); }

namespace {
// Repeats a positioned transfer until n bytes moved, the call moved nothing
// (the end of the file, errno 0) or failed (errno set).
template <class Transfer>
size_t repeat(size_t n, Transfer transfer) {
  size_t done = 0;
  errno = 0;
  while (done < n) {
    ssize_t moved = transfer(done);
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0) return done;
    if (moved == 0) {
      errno = 0;
      return done;
    }
    done += size_t(moved);
  }
  return done;
}
}  // namespace

size_t read(intptr_t native, void* buf, size_t n, int64_t pos) {
  auto* out = static_cast<char*>(buf);
  return repeat(n, [&](size_t done) { return ::pread(int(native), out + done, n - done, off_t(pos + int64_t(done))); });
}

size_t write(intptr_t native, const void* buf, size_t n, int64_t pos) {
  auto* in = static_cast<const char*>(buf);
  return repeat(n, [&](size_t done) { return ::pwrite(int(native), in + done, n - done, off_t(pos + int64_t(done))); });
}

bool truncate(intptr_t native, int64_t size) {
  int rc;
  do rc = ::ftruncate(int(native), off_t(size));
  while (rc != 0 && errno == EINTR);
  return rc == 0;
}

bool size(intptr_t native, uint64_t* size) {
  struct stat st {};
  if (::fstat(int(native), &st) != 0) return false;
  *size = uint64_t(st.st_size);
  return true;
}

bool syncToDisk(intptr_t native) { return ::fsync(int(native)) == 0; }

const uint8_t* map(intptr_t native, uint64_t length) {
  void* view = ::mmap(nullptr, size_t(length), PROT_READ, MAP_SHARED, int(native), 0);
  return view == MAP_FAILED ? nullptr : static_cast<const uint8_t*>(view);
}

void unmap(const uint8_t* view, uint64_t length) { ::munmap(const_cast<uint8_t*>(view), size_t(length)); }

// Open-file-description locks: they belong to the open file, so closing
// another descriptor of the same file in this process keeps them (classic
// record locks would go), and two descriptions exclude each other even in
// one process.  One byte at 2^62 carries them; a shared lock becomes the
// exclusive one in a single step, or stays shared.
bool lock(intptr_t native, OsLock held, OsLock want) {
  constexpr off_t kLockByte = off_t(1) << 62;
  struct flock fl {};
  fl.l_type = want == OsLock::kNone ? F_UNLCK : want == OsLock::kShared ? F_RDLCK : F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kLockByte;
  fl.l_len = 1;
  int rc;
  do rc = ::fcntl(int(native), F_OFD_SETLK, &fl);
  while (rc != 0 && errno == EINTR);
  if (rc != 0 && errno == EACCES) errno = EAGAIN;
  return rc == 0;
}

bool isAt(intptr_t native, const char* path) {
  struct stat open {}, named {};
  if (::fstat(int(native), &open) != 0 || ::stat(path, &named) != 0) return false;
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

}  // namespace osfileimpl
