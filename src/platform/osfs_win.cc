// Names in a folder on Windows.  Names are in the ANSI code page, as the C
// runtime takes them.
#include <windows.h>

#include <cerrno>

#include "platform/osfile_impl.h"

namespace osfsimpl {

namespace {
// The C runtime's errno for the failures met here.
void setErrno(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
    case ERROR_DISK_FULL: errno = ENOSPC; break;
    default: errno = EACCES; break;
  }
}
}  // namespace

bool exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// The C runtime's rename refuses an existing target, so it is MoveFileEx's,
// written through so that the move is on the disk when it returns.
bool replace(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  setErrno(GetLastError());
  return false;
}

// One call swaps the files and keeps the old one as the backup.  It fails
// while another program has `to` open (no handle but a replacing one lets
// the file be renamed), which leaves both files as they were.
bool replaceKeepingBackup(const char* from, const char* to, const char* backup) {
  if (GetFileAttributesA(backup) != INVALID_FILE_ATTRIBUTES) {
    errno = EEXIST;
    return false;
  }
  if (ReplaceFileA(to, from, backup, REPLACEFILE_WRITE_THROUGH, nullptr, nullptr)) return true;
  setErrno(GetLastError());
  return false;
}

// Without MOVEFILE_REPLACE_EXISTING the move refuses an existing name.
bool renameNew(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH)) return true;
  setErrno(GetLastError());
  return false;
}

bool remove(const char* path) {
  if (DeleteFileA(path)) return true;
  setErrno(GetLastError());
  return false;
}

bool syncFolder(const std::string&) { return true; }

}  // namespace osfsimpl
