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

namespace jbbtool {

namespace {

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
  HeldDatabase held;  // FILE when it is replaced, else an existing --out; outlives what reads it
  ReadDatabase db;    // FILE when only read
  std::unique_ptr<jbbcheck::FileSource> heldSource;
  jbbcheck::Source* source = nullptr;
  if (options.out.empty()) {
    // Read through the held handle: a second handle of this process would
    // find the exclusive lock in its way.
    if (!resolveDatabase(file, io, &path)) return kExitUsage;
    if (int rc = held.hold(path, io)) return rc;
    heldSource = std::make_unique<jbbcheck::FileSource>(held.file());
    source = heldSource.get();
  } else {
    if (int rc = db.open(file, io)) return rc;
    path = db.path();
    if (int rc = prepareOutput(options, db.file(), io, &held)) return rc;
    source = &db.source();
  }
  ProblemCount problems;
  jbbcheck::Summary r = jbbcheck::check(*source, jbbcheck::Options(), problems);
  if (!r.ok())
    return message(io, kExitProblems, path + " has problems (verify lists them); salvage --out NEW recovers what can be recovered");
  uint64_t before = source->size(), count = r.entries;
  jbbbulk::BulkSpec spec;
  jbbbulk::keepControlFields(source->bytes(0, jbbformat::kCtrlRecSize), &spec);
  NewDatabase target(options, path, io);
  // The entries go to the new file in key order as a second walk of the
  // checked file reaches them.
  auto feed = [&](jbbbulk::EntrySink* sink) {
    EntryFeeder feeder(sink);
    jbbcheck::check(*source, jbbcheck::Options(), feeder);
    return feeder.ok();
  };
  if (int rc = target.write(count, feed, spec)) return rc;
  heldSource.reset();
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
