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
  CheckOptions check;
  check.collect = false;
  CheckResult r = checkImage(db.data(), db.size(), check);
  if (!r.ok())
    return message(io, kExitProblems, path + " has problems (verify lists them); salvage --out NEW recovers what can be recovered");
  uint64_t before = db.size(), count = r.entryCount;
  r = CheckResult();
  jbbbulk::BulkSpec spec;
  jbbbulk::keepControlFields(db.data(), &spec);
  NewDatabase target(options, path, io);
  // The entries go to the new file in key order as a second walk of the
  // checked file reaches them.
  auto feed = [&](jbbbulk::EntrySink* sink) {
    bool ok = true;
    std::vector<uint16_t> key;
    check.onEntry = [&](const EntryRef& e) {
      if (!ok) return;
      key.resize(e.keyUnits);
      jbbformat::getU16s(e.key, key.data(), e.keyUnits);
      ok = sink->put(jbbbulk::EntryView{key.data(), e.keyUnits, e.data, e.dataSize});
    };
    checkImage(db.data(), db.size(), check);
    return ok;
  };
  if (int rc = target.write(count, feed, spec)) return rc;
  db.release();
  std::string backup;
  if (int rc = target.install(&backup)) return rc;
  if (options.out.empty() && !options.backup && !backup.empty()) dropBackup(io, &held, &backup);
  const std::string& written = options.out.empty() ? path : options.out;
  const jbbbulk::BulkResult& w = target.written();
  std::fprintf(io.out, "%s: %llu entries, %llu nodes, %llu bytes (was %llu)%s\n", written.c_str(),
               static_cast<unsigned long long>(w.entries), static_cast<unsigned long long>(w.nodes),
               static_cast<unsigned long long>(w.bytes), static_cast<unsigned long long>(before),
               originalKeptAs(options, backup).c_str());
  return kExitOk;
}

}  // namespace jbbtool
