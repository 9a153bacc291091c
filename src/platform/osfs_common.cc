// The host-independent half of osfs.h: the folder of a path, and the
// recording of every change for the tests.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/os.h"
#include "platform/osfile.h"
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

// ---------------------------------------------------------------------------
// Putting a new file in place.

namespace {

// errno as text after a colon, or nothing when there is none.
std::string because(int err) { return err != 0 ? std::string(": ") + std::strerror(err) : std::string(); }

// TARGET.bak, then TARGET.1.bak, TARGET.2.bak, ...
std::string backupName(const std::string& target, int n) {
  return n == 0 ? target + ".bak" : target + "." + std::to_string(n) + ".bak";
}
constexpr int kMaxBackups = 1000;

// Puts temp in the place of target in one step, keeping target's file under
// the first backup name that is free.  The replacement refuses a name that
// exists (EEXIST, nothing changed), so no backup is ever replaced.
bool replaceKeepingNextBackup(const std::string& temp, const std::string& target, std::string* backup) {
  for (int n = 0; n < kMaxBackups; ++n) {
    std::string name = backupName(target, n);
    if (osReplaceKeepingBackup(temp.c_str(), target.c_str(), name.c_str())) {
      *backup = name;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

}  // namespace

std::string osTemporaryNameOf(const std::string& target) { return target + ".jbbtmp"; }

bool osInstallFile(const std::string& temp, const std::string& target, const OsInstallOptions& options,
                   std::string* backup, std::string* error) {
  if (backup) backup->clear();
  std::string kept;
  bool keep = options.keepBackup && osFileExists(target.c_str());
  if (!(keep ? replaceKeepingNextBackup(temp, target, &kept) : osReplaceFile(temp.c_str(), target.c_str()))) {
    int err = errno;
    osRemoveFile(temp.c_str());
    *error = (keep ? "cannot put " + temp + " in the place of " + target + " keeping a backup"
                   : "cannot rename " + temp + " to " + target) +
             because(err);
    return false;
  }
  if (backup) *backup = kept;
  if (options.syncFolder && !osSyncFolderOf(target.c_str())) {
    int err = errno;
    *error = "the new " + target + " is in place" + (kept.empty() ? "" : " (the old one is " + kept + ")") +
             ", but its folder cannot be synced to the disk" + because(err);
    return false;
  }
  return true;
}

namespace {

// Copies all of `from` into `to`, a file opened for writing, and syncs it.
bool copyWhole(OsFile* from, OsFile* to) {
  uint64_t size = 0;
  if (!osFileSizeOf(from, &size)) return false;
  std::vector<uint8_t> buffer(size_t(1) << 20);
  for (uint64_t pos = 0; pos < size;) {
    size_t n = size_t(std::min<uint64_t>(buffer.size(), size - pos));
    errno = 0;
    if (osFileRead(from, buffer.data(), n, int64_t(pos)) != n) {
      if (errno == 0) errno = EIO;  // the file ended early: it changed under the copy
      return false;
    }
    if (osFileWrite(to, buffer.data(), n, int64_t(pos)) != n) {
      if (errno == 0) errno = ENOSPC;
      return false;
    }
    pos += n;
  }
  return osFileFlush(to) && osFileSyncToDisk(to);
}

}  // namespace

bool osKeepCopy(OsFile* f, const std::string& target, std::string* backup, std::string* error) {
  backup->clear();
  const std::string temp = osTemporaryNameOf(target);
  OsFile* copy = osFileOpen(temp.c_str(), OsFileMode::kCreate);
  if (copy == nullptr) {
    *error = "cannot create " + temp + because(errno);
    return false;
  }
  bool copied = copyWhole(f, copy);
  int err = errno;
  osFileClose(copy);
  if (!copied) {
    osRemoveFile(temp.c_str());
    *error = "cannot copy " + target + " to " + temp + because(err);
    return false;
  }
  for (int n = 0; n < kMaxBackups; ++n) {
    std::string name = backupName(target, n);
    if (osfsimpl::renameNew(temp.c_str(), name.c_str())) {
      osFileRecordEvent(OsFileEvent::kRename, temp, name);
      if (!osSyncFolderOf(name.c_str())) {
        err = errno;
        // A copy whose name may not survive a power loss is no backup.
        osRemoveFile(name.c_str());
        *error = "cannot sync the folder of " + name + because(err);
        return false;
      }
      *backup = name;
      return true;
    }
    if (errno != EEXIST) break;
  }
  err = errno;
  osRemoveFile(temp.c_str());
  *error = "cannot name the copy of " + target + " " + backupName(target, 0) + " or a later free backup name" +
           because(err);
  return false;
}
