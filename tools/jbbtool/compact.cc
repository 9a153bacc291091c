// compact: the same entries and control-record fields in a fresh file
// without free slots or stale bytes.  Without --out the new file takes the
// original's name in one step, and the original stays under a backup name
// that no older backup has (FILE.bak, FILE.1.bak, ...) unless --no-backup.
// Replacing FILE, compact is a writer: it holds FILE under the exclusive
// lock from before it reads it until the new file has its name, and
// recovers a change that a crash cut off first.  With --out it only reads
// FILE, as verify does.
#include <cerrno>

#include "jbbtool/session.h"
#include "platform/osfs.h"

using namespace jbbbuilder;

namespace jbbtool {

namespace {

// FILE held for replacing it, and read through the held handle: a second
// handle of this process would find the exclusive lock in its way.
int readHeld(const std::string& file, const Streams& io, std::string* path, HeldDatabase* held, FileImage* db) {
  if (!resolveDatabase(file, io, path)) return kExitUsage;
  if (int rc = held->hold(*path, io)) return rc;
  std::string error;
  return db->read(held->file(), &error) ? kExitOk : message(io, kExitUsage, error);
}

// --no-backup: the original, moved aside to a backup name by the
// replacement, is removed once the held handle has let it go (Windows
// removes no file that this program still has mapped).  A removal that
// fails leaves it there, and the summary names it.
void dropBackup(const Streams& io, HeldDatabase* held, std::string* backup) {
  held->release();
  if (osRemoveFile(backup->c_str()) || errno == ENOENT) {
    backup->clear();
    return;
  }
  int err = errno;
  message(io, kExitOk, "cannot remove the original, " + *backup + ", as --no-backup asks" + because(err));
}

// What the original became, after the summary line.
std::string originalKeptAs(const OutputOptions& options, const std::string& backup) {
  if (!options.out.empty()) return keptAs(backup);
  return backup.empty() ? "" : "; the original is " + backup;
}

}  // namespace

int runCompact(const std::string& file, const OutputOptions& options, const Streams& io) {
  std::string path;
  HeldDatabase held;  // FILE when it is replaced, else an existing --out; outlives db
  FileImage db;
  if (options.out.empty()) {
    if (int rc = readHeld(file, io, &path, &held, &db)) return rc;
  } else {
    if (int rc = readDatabase(file, io, &path, &db)) return rc;
    if (int rc = prepareOutput(options, db.file(), io, &held)) return rc;
  }
  CheckResult r = checkImage(db.data(), db.size());
  if (!r.ok())
    return message(io, kExitProblems, path + " has problems (verify lists them); salvage --out NEW recovers what can be recovered");
  DbSpec spec = specKeeping(db.data());
  uint64_t before = db.size();
  db.release();
  std::vector<Entry> entries;
  entries.reserve(r.entries.size());
  for (CheckEntry& e : r.entries) entries.push_back(Entry{std::move(e.key), std::move(e.data)});
  r = CheckResult();
  BuiltImage image;
  std::string backup;
  int rc = writeNewDatabase(std::move(entries), spec, options, path, io, &image, &backup);
  if (rc != kExitOk) return rc;
  if (options.out.empty() && !options.backup && !backup.empty()) dropBackup(io, &held, &backup);
  const std::string& target = options.out.empty() ? path : options.out;
  std::fprintf(io.out, "%s: %zu entries, %zu nodes, %llu bytes (was %llu)%s\n", target.c_str(), image.entryCount,
               image.slots.size(), static_cast<unsigned long long>(image.bytes.size()),
               static_cast<unsigned long long>(before), originalKeptAs(options, backup).c_str());
  return kExitOk;
}

}  // namespace jbbtool
