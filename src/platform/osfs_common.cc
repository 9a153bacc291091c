// The host-independent half of osfs.h: the folder of a path, and the
// recording of every change for the tests.
#include <cerrno>
#include <cstring>

#include "platform/os.h"
#include "platform/osfile_impl.h"
#include "platform/osfs.h"

bool osFileExists(const char* path) { return osfsimpl::exists(path); }

bool osReplaceFile(const char* from, const char* to) {
  if (!osfsimpl::replace(from, to)) return false;
  osFileRecordEvent(OsFileEvent::kRename, from, to);
  return true;
}

bool osReplaceKeepingBackup(const char* from, const char* to, const char* backup) {
  if (!osfsimpl::replaceKeepingBackup(from, to, backup)) return false;
  osFileRecordEvent(OsFileEvent::kLink, to, backup);
  osFileRecordEvent(OsFileEvent::kRename, from, to);
  return true;
}

bool osRemoveFile(const char* path) {
  if (!osfsimpl::remove(path)) return false;
  osFileRecordEvent(OsFileEvent::kRemove, path);
  return true;
}

bool osSyncFolderOf(const char* path) {
  std::string folder = osFolderOf(path);
  if (!osfsimpl::syncFolder(folder)) return false;
  osFileRecordEvent(OsFileEvent::kSyncFolder, folder);
  return true;
}

std::string osFolderOf(const char* path) {
  // Both separators count on Windows; a Linux name may hold a backslash.
  const char* cut = std::strrchr(path, osPathSeparator());
  if (osPathSeparator() == '\\') {
    const char* slash = std::strrchr(path, '/');
    if (slash != nullptr && (cut == nullptr || slash > cut)) cut = slash;
  }
  if (cut == nullptr) return ".";
  if (cut == path) return std::string(path, 1);  // the root folder
  return std::string(path, size_t(cut - path));
}
