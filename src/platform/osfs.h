// osfs: names in a folder, for programs that put a new file in place of an
// old one and for side files that live beside a database (osfs_common.cc;
// each host's primitives in osfs_posix.cc and osfs_win.cc).
//
// A created, renamed or removed name is on the disk only once its folder
// is: osSyncFolderOf says so.  Every call here is seen by the recording test
// hook of osfile.h.  Errors leave errno as the C runtime would.
#pragma once

#include <string>

struct OsFile;

// True when a file of that name exists.
bool osFileExists(const char* path);

// Renames from to to; a file that stands at to is replaced.  Both names are
// in one folder, and the replacement is atomic: after a crash to names the
// old file or the new one.  Windows writes the move through to the disk.
bool osReplaceFile(const char* from, const char* to);

// Puts the file `from` in the place of the file `to`, in one step, and keeps
// the file that stood there under the name `backup`, which must not exist.
// After a crash, `to` names either file.  Linux links `to` to `backup`
// and renames `from` over `to`; Windows replaces the file keeping a backup.
// False with errno set (EEXIST when `backup` exists) and nothing changed
// when it cannot; the caller syncs the folder afterwards.
bool osReplaceKeepingBackup(const char* from, const char* to, const char* backup);

// Removes the file; false with errno set (ENOENT when there is none).
bool osRemoveFile(const char* path);

// Puts the names in the folder that holds `path` on the disk: creations,
// renames and removals made before it survive a power loss.  Windows has
// no such call and needs none (its file system writes names through its own
// log, and osReplaceFile writes through); there it succeeds at once.
bool osSyncFolderOf(const char* path);

// The folder part of path, up to and without its last separator ("." when
// there is none).
std::string osFolderOf(const char* path);

// --- Putting a new file in the place of an old one ---------------------------
//
// A program writes the whole new file under a temporary name beside its
// target, then puts it in place in one step: at every moment the target's
// name names either the old file or all of the new one, never a part of it,
// and never nothing.

// The temporary name a new file for `target` is written under.
std::string osTemporaryNameOf(const std::string& target);

struct OsInstallOptions {
  // Sync the target's folder after the new file took its name, so that a
  // power loss keeps it there (the caller syncs the new file itself).
  bool syncFolder = false;
  // Keep the file that is replaced, under the first free name of
  // TARGET.bak, TARGET.1.bak, TARGET.2.bak, ...: an older backup is never
  // replaced, not even one made meanwhile by another program.
  bool keepBackup = false;
};

// Puts the file `temp` in the place of `target`.  *backup is the backup's
// name when one was kept, else empty.  False with *error saying why: then
// the target is as it was and temp is gone, except when only the folder's
// sync failed (the new file is in place, and *error says so).
bool osInstallFile(const std::string& temp, const std::string& target, const OsInstallOptions& options,
                   std::string* backup, std::string* error);

// Keeps a copy of the file f has open, beside `target` (f's own name as a
// rule), under the first free name of TARGET.bak, TARGET.1.bak, ... as
// osInstallFile names its backups: the copy is written under the temporary
// name, synced, given the backup name (which never replaces a file), and
// the folder is synced.  *backup is the name.  False with *error saying
// why; then neither the temporary file nor a part of a copy is left.
bool osKeepCopy(OsFile* f, const std::string& target, std::string* backup, std::string* error);
