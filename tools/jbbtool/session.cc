// Finding and reading the database, holding a file to be replaced,
// messages, progress, safe writes.
#include "jbbtool/session.h"

#include <cerrno>
#include <cstring>

#include "btree/format.h"
#include "btree/rollback.h"
#include "platform/osfs.h"

namespace jbbtool {

bool resolveDatabase(const std::string& given, const Streams& io, std::string* path) {
  int err = 0;  // why the name as given is not there
  for (const std::string& candidate : {given, given + ".jbbdb"}) {
    errno = 0;
    if (osFileExists(candidate.c_str())) {
      *path = candidate;
      return true;
    }
    if (err == 0) err = errno != 0 ? errno : ENOENT;
  }
  message(io, kExitUsage, "cannot open " + given + because(err));
  return false;
}

namespace {

using jbbrollback::Pending;

// A change that a crash cut off is the next writer's to recover; a reader
// only says so and reads the file as that writer will leave it, so that
// what it reports is what the journal holds.
void tellPending(const std::string& path, const Pending& p, const Streams& io) {
  const std::string pending = path + ": an interrupted change is pending";
  const std::string atNextChange = " the next time the journal is opened for a change";
  switch (p.state) {
    case Pending::kNone:
      return;
    case Pending::kComplete:
      message(io, kExitOk, pending + " and is completed" + atNextChange + "; the file holds all of it already");
      return;
    case Pending::kRollBack:
      message(io, kExitOk, pending + " and is taken back" + atNextChange + "; the file is read as it will be then");
      return;
    case Pending::kConflict:
      message(io, kExitOk,
              pending + " that cannot be taken back because the file was changed since (" + p.why +
                  "); the file is read as it is");
      return;
  }
}

}  // namespace

ReadDatabase::~ReadDatabase() {
  source_.reset();
  osFileClose(file_);
}

int ReadDatabase::open(const std::string& given, const Streams& io) {
  if (!resolveDatabase(given, io, &path_)) return kExitUsage;
  file_ = osFileOpenLocked(path_.c_str(), OsFileMode::kRead, OsLock::kShared);
  if (file_ == nullptr) {
    int err = errno;
    if (err == EAGAIN) return message(io, kExitProblems, path_ + " is in use by another program");
    return message(io, kExitUsage, "cannot open " + path_ + because(err));
  }
  pending_ = jbbrollback::inspect(file_);
  tellPending(path_, pending_, io);
  errno = 0;
  source_ = std::make_unique<jbbcheck::FileSource>(file_, &pending_);
  if (!source_->ok()) return message(io, kExitUsage, "cannot read " + path_ + because(errno));
  return kExitOk;
}

const uint8_t* ReadDatabase::ctrlRec() {
  if (source_->size() < jbbformat::kCtrlRecSize) return nullptr;
  const uint8_t* bytes = source_->bytes(0, jbbformat::kCtrlRecSize);
  ctrl_.assign(bytes, bytes + jbbformat::kCtrlRecSize);
  return ctrl_.data();
}

HeldDatabase::~HeldDatabase() { release(); }

void HeldDatabase::release() {
  osFileClose(file_);
  file_ = nullptr;
}

int HeldDatabase::hold(const std::string& path, const Streams& io) {
  release();
  // Replaceable: the new file is renamed over the name while this handle
  // still has the old one, which then carries the backup's name.
  file_ = osFileOpenLocked(path.c_str(), OsFileMode::kUpdateReplaceable, OsLock::kExclusive);
  if (file_ == nullptr) {
    int err = errno;
    if (err == EAGAIN) return message(io, kExitProblems, path + " is in use by another program");
    return message(io, kExitProblems, "cannot open " + path + " to replace it" + because(err));
  }
  return recoverPending(path, io);
}

int HeldDatabase::recoverPending(const std::string& path, const Streams& io) {
  Pending p = jbbrollback::inspect(file_);
  if (p.state == Pending::kConflict)
    return message(io, kExitProblems,
                   path + " holds an interrupted change that cannot be taken back because the file was changed since (" +
                       p.why + "); it is left as it is, and jbbtool salvage " + path +
                       " --out NEW recovers its entries into a new file");
  if (!p.sideFile) return kExitOk;
  if (!jbbrollback::recover(file_, p)) {
    int err = errno;
    return message(io, kExitProblems, "cannot recover the interrupted change of " + path + because(err));
  }
  if (p.state == Pending::kRollBack) message(io, kExitOk, path + ": an interrupted change was taken back");
  if (p.state == Pending::kComplete) message(io, kExitOk, path + ": an interrupted change was completed");
  return kExitOk;
}

int prepareOutput(const OutputOptions& options, OsFile* source, const Streams& io, HeldDatabase* held) {
  const std::string& out = options.out;
  if (!osFileExists(out.c_str())) {
    std::string side = jbbrollback::sideFileOf(out.c_str());
    if (osFileExists(side.c_str()))
      return message(io, kExitProblems,
                     side + " is left from an earlier database of that name, and the next open would take it for the "
                            "new one's: remove it first");
    return kExitOk;
  }
  if (!options.force) return message(io, kExitUsage, out + " exists; --force replaces it, keeping a backup");
  if (source != nullptr && osFileIsAt(source, out.c_str()))
    return message(io, kExitUsage, out + " is the file read; --out must name another");
  return held->hold(out, io);
}

std::string because(int err) { return err != 0 ? std::string(": ") + std::strerror(err) : std::string(); }

namespace {
std::string lastMessageText;
}

std::string becauseEngine(int dbErrno) {
  if (dbErrno == 13) return ": the file holds fewer bytes than its records claim, or a write was cut short";
  return because(dbErrno);
}

int message(const Streams& io, int code, const std::string& text) {
  std::fprintf(io.err, "jbbtool: %s\n", text.c_str());
  lastMessageText = text;
  return code;
}

const std::string& lastMessage() { return lastMessageText; }

int outputWritten(const Streams& io) {
  errno = 0;
  if (std::fflush(io.out) == 0 && !std::ferror(io.out)) return kExitOk;
  int err = errno;
  return message(io, kExitProblems, "cannot write the output" + because(err));
}

void Progress::show(bool withCount) {
  if (!withCount) done();
  if (withCount)
    std::fprintf(io_.err, "\r%s: %llu", what_, static_cast<unsigned long long>(count_));
  else
    std::fprintf(io_.err, "\r%s", what_);
  std::fflush(io_.err);
  shown_ = true;
}

void Progress::done() {
  if (!shown_) return;
  std::fprintf(io_.err, "\r%*s\r", int(std::strlen(what_)) + 24, "");
  std::fflush(io_.err);
  shown_ = false;
}

NewDatabase::NewDatabase(const OutputOptions& options, const std::string& replacing, const Streams& io)
    : options_(options), io_(io), target_(options.out.empty() ? replacing : options.out),
      temp_(osTemporaryNameOf(target_)) {}

NewDatabase::~NewDatabase() {
  if (pending_) osRemoveFile(temp_.c_str());
}

int NewDatabase::write(uint64_t count, const EntryFeed& feed, jbbbulk::BulkSpec spec) {
  Progress progress(io_, "");
  progress.stage("writing the new database");
  spec.fill.fill = options_.fill;
  spec.toDisk = true;
  jbbbulk::BulkWriter writer;
  bool ok = writer.begin(temp_, count, spec) && feed(&writer) && writer.finish(&written_);
  if (!ok) {
    progress.done();
    writer.abandon();
    // A feed that stopped on its own has said why.
    return writer.error().empty() ? kExitProblems : message(io_, kExitProblems, writer.error());
  }
  pending_ = true;
  // What was written is checked as verify would, before it takes a name.
  progress.stage("checking the new database");
  std::string problem = checkWritten(spec.dataSize);
  progress.done();
  if (!problem.empty()) return message(io_, kExitProblems, "the new database fails its check: " + problem);
  return kExitOk;
}

std::string NewDatabase::checkWritten(uint16_t dataSize) {
  OsFile* f = osFileOpen(temp_.c_str(), OsFileMode::kRead);
  if (f == nullptr) return "it cannot be read" + because(errno);
  ProblemCount problems;
  {
    jbbcheck::FileSource source(f);
    jbbcheck::Options options;
    options.expectedDataSize = dataSize;
    jbbcheck::check(source, options, problems);
    if (!source.ok() && problems.first.empty()) problems.first = "it cannot be read" + because(errno);
  }
  osFileClose(f);
  return problems.first;
}

void EntryFeeder::entry(const jbbcheck::Entry& e) {
  if (!ok_) return;
  key_.resize(e.keyUnits);
  jbbformat::getU16s(e.key, key_.data(), e.keyUnits);
  ok_ = sink_->put(jbbbulk::EntryView{key_.data(), e.keyUnits, e.data, e.data != nullptr ? e.dataSize : 0});
}

int NewDatabase::install(std::string* backup) {
  OsInstallOptions install;
  install.syncFolder = true;
  // Always through a backup: Windows renames no file over one that is open,
  // not even over the replaceable handle this program holds, but it does
  // move that file aside to a backup name and the new one in, in one step.
  install.keepBackup = true;
  std::string error;
  pending_ = false;  // osInstallFile removes it when it fails
  if (!osInstallFile(temp_, target_, install, backup, &error)) return message(io_, kExitProblems, error);
  return kExitOk;
}

jbbbulk::SortOptions sortOptions(const OutputOptions& options, bool removeDuplicates) {
  jbbbulk::SortOptions sort;
  sort.removeDuplicates = removeDuplicates;
  if (options.sortRunBytes != 0) sort.runBytes = options.sortRunBytes;
  return sort;
}

EntryFeed sortedFeed(jbbbulk::EntrySorter* sorter, const Streams& io) {
  return [sorter, &io](jbbbulk::EntrySink* sink) {
    if (sorter->feed(sink)) return true;
    if (sink->error().empty()) message(io, kExitProblems, sorter->error());  // the sorter's own failure
    return false;
  };
}

std::string keptAs(const std::string& backup) {
  return backup.empty() ? std::string() : "; the replaced file is kept as " + backup;
}

}  // namespace jbbtool
