// The database file on Linux: a file descriptor with pread and pwrite.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/osfile_impl.h"

namespace osfileimpl {

bool open(const char* path, OsFileMode mode, intptr_t* native) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case OsFileMode::kUpdate: flags |= O_RDWR; break;
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

size_t read(intptr_t native, void* buf, size_t n, int64_t pos) {
  auto* out = static_cast<char*>(buf);
  size_t done = 0;
  errno = 0;
  while (done < n) {
    ssize_t got = ::pread(int(native), out + done, n - done, off_t(pos + int64_t(done)));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return done;
    if (got == 0) {
      errno = 0;  // the end of the file
      return done;
    }
    done += size_t(got);
  }
  return done;
}

size_t write(intptr_t native, const void* buf, size_t n, int64_t pos) {
  auto* in = static_cast<const char*>(buf);
  size_t done = 0;
  errno = 0;
  while (done < n) {
    ssize_t put = ::pwrite(int(native), in + done, n - done, off_t(pos + int64_t(done)));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return done;
    if (put == 0) {
      errno = 0;
      return done;
    }
    done += size_t(put);
  }
  return done;
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

}  // namespace osfileimpl
