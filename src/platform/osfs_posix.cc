// Names in a folder on Linux.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/osfile_impl.h"

namespace osfsimpl {

bool exists(const char* path) {
  struct stat st {};
  return ::stat(path, &st) == 0;
}

bool replace(const char* from, const char* to) { return std::rename(from, to) == 0; }

// The old file gets its second name first: at every moment `to` names a
// whole database, and the backup never replaces anything (link refuses an
// existing name).
bool replaceKeepingBackup(const char* from, const char* to, const char* backup) {
  if (::link(to, backup) != 0) return false;
  if (std::rename(from, to) == 0) return true;
  int err = errno;
  ::unlink(backup);
  errno = err;
  return false;
}

// link refuses an existing name, where rename would replace it.
bool renameNew(const char* from, const char* to) {
  if (::link(from, to) != 0) return false;
  ::unlink(from);
  return true;
}

bool remove(const char* path) { return ::unlink(path) == 0; }

bool syncFolder(const std::string& folder) {
  int fd;
  do fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  int err = errno;
  ::close(fd);
  errno = err;
  return ok;
}

}  // namespace osfsimpl
