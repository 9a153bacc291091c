// What the subcommands share: finding the database file, reading it under
// a lock, holding a file to be replaced, messages, progress, and writing a
// new database safely.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <memory>
#include <vector>

#include "btree/bulkwriter.h"
#include "btree/check.h"
#include "btree/entrysort.h"
#include "btree/rollback.h"
#include "platform/osfile.h"
#include "jbbtool/jbbtool.h"

namespace jbbtool {

// The database's own path: `given` when such a file exists, else given +
// ".jbbdb" when that exists.  False (with a message on io.err) otherwise.
bool resolveDatabase(const std::string& given, const Streams& io, std::string* path);

// A database that a command only reads, through the engine's check
// (btree/check.h): held under a shared lock for as long as this object
// lives, so that no other program changes it meanwhile and none that is
// changing it is waited for.  A change a crash cut off is judged (a line on
// io.err says what becomes of it) and read as it will be once recovered;
// nothing is written.  The file is read in place where it is mapped, never
// copied whole.
class ReadDatabase {
 public:
  ReadDatabase() = default;
  ~ReadDatabase();
  ReadDatabase(const ReadDatabase&) = delete;
  ReadDatabase& operator=(const ReadDatabase&) = delete;

  // resolveDatabase, then the lock and the judgement.  Returns kExitOk, or
  // an exit code after a message (kExitProblems when another program has
  // the file).
  int open(const std::string& given, const Streams& io);
  const std::string& path() const { return path_; }
  jbbcheck::FileSource& source() { return *source_; }
  // The control record, or null when the file is shorter than one.
  const uint8_t* ctrlRec();
  OsFile* file() const { return file_; }
  // What a rollback file beside the database holds (open() told it).
  jbbrollback::Pending::State pendingState() const { return pending_.state; }

 private:
  std::string path_;
  OsFile* file_ = nullptr;
  jbbrollback::Pending pending_;
  std::unique_ptr<jbbcheck::FileSource> source_;
  std::vector<uint8_t> ctrl_;
};

// A database file that a command replaces, held under the exclusive lock
// from before it is read until after the new file has taken its name: no
// other program has it open meanwhile.  Being a writer, it first recovers
// a change that a crash cut off, so that the file (and its backup) are as
// the next open would find them and no rollback file outlives it.
class HeldDatabase {
 public:
  HeldDatabase() = default;
  ~HeldDatabase();
  HeldDatabase(const HeldDatabase&) = delete;
  HeldDatabase& operator=(const HeldDatabase&) = delete;

  // Returns kExitOk, or kExitProblems after a message: the file is in use,
  // cannot be opened for writing, or holds a change that cannot be taken
  // back (it is then left as it is).
  int hold(const std::string& path, const Streams& io);
  // Lets the file go (and with it the lock), if it was held.
  void release();
  OsFile* file() const { return file_; }

 private:
  int recoverPending(const std::string& path, const Streams& io);
  OsFile* file_ = nullptr;
};

// Gets options.out ready to be written: an existing file is refused unless
// options.force, refused when it is `source` (the file the command reads;
// may be null), and else held (*held).  A new name beside which a rollback
// file lies is refused: the next open would take that file for the new
// database's.  Returns kExitOk or an exit code after a message.
int prepareOutput(const OutputOptions& options, OsFile* source, const Streams& io, HeldDatabase* held);

// ": <what errno err means>", or nothing when err is 0, to follow a message.
std::string because(int err);
// The same for a bTree's dbErrno, where 13 is the engine's own code for a
// read or write that was cut short, not a refused permission.
std::string becauseEngine(int dbErrno);
// "jbbtool: <text>\n" on io.err; returns code.
int message(const Streams& io, int code, const std::string& text);
// The text of the last message, for a document that must carry it too.
const std::string& lastMessage();
// kExitOk when everything written to io.out reached it; else kExitProblems
// after a message with the reason (a full disk, a closed pipe).
int outputWritten(const Streams& io);

// A count of things done, shown on io.err every so often when io.progress
// is set, and cleared at the end.
class Progress {
 public:
  Progress(const Streams& io, const char* what) : io_(io), what_(what) {}
  ~Progress() { done(); }
  void tick() {
    if (io_.progress && (++count_ & 0xFFFF) == 0) show();
  }
  // n more done at once (a batch), shown at once.
  void add(uint64_t n) {
    count_ += n;
    if (io_.progress) show();
  }
  // A step of a long run without a count ("writing ...").
  void stage(const char* what) {
    what_ = what;
    count_ = 0;
    if (io_.progress) show(false);
  }
  void done();

 private:
  void show(bool withCount = true);
  const Streams& io_;
  const char* what_;
  uint64_t count_ = 0;
  bool shown_ = false;
};

// Hands every entry of a new database to the sink, in key order; false
// when the sink failed (the sink says why) or after a message of its own.
typedef std::function<bool(jbbbulk::EntrySink* sink)> EntryFeed;

// A new database: written through the bulk writer to a temporary file
// beside its target (options.out, or when that is empty `replacing`),
// synced to the disk, then put in the target's place in one step
// (platform/osfs.h).  The file it replaces is kept under a backup name
// that no older backup has, even when options.backup says to keep none
// (compact removes it then, once it has let the file go).  The caller
// holds an existing target (HeldDatabase).  Whatever fails, neither the
// temporary file nor a part of the new database is left.
class NewDatabase {
 public:
  NewDatabase(const OutputOptions& options, const std::string& replacing, const Streams& io);
  ~NewDatabase();
  NewDatabase(const NewDatabase&) = delete;
  NewDatabase& operator=(const NewDatabase&) = delete;

  // Writes `count` entries, handed over by feed in strictly ascending key
  // order, to the temporary file; spec.fill is taken from the options.
  // Returns an exit code, after a message when it is not kExitOk.
  int write(uint64_t count, const EntryFeed& feed, jbbbulk::BulkSpec spec);
  // Puts the written file in place; *backup names the file replaced.
  int install(std::string* backup);
  // What write() wrote.
  const jbbbulk::BulkResult& written() const { return written_; }
  // The sorter's run files go beside the new file too.
  const std::string& temporary() const { return temp_; }

 private:
  // The first problem the engine's check finds in the written file.
  std::string checkWritten(uint16_t dataSize);

  const OutputOptions& options_;
  const Streams& io_;
  std::string target_, temp_;
  bool pending_ = false;  // a written temporary file not yet in place
  jbbbulk::BulkResult written_;
};

// Feeds a sink the entries the engine's check reaches, in key order.
class EntryFeeder : public jbbcheck::Reporter {
 public:
  explicit EntryFeeder(jbbbulk::EntrySink* sink) : sink_(sink) {}
  void problem(int64_t, const std::string&) override { ok_ = false; }
  void entry(const jbbcheck::Entry& e) override;
  bool ok() const { return ok_; }

 private:
  jbbbulk::EntrySink* sink_;
  std::vector<uint16_t> key_;
  bool ok_ = true;
};

// Counts the problems the check finds and keeps the first.
class ProblemCount : public jbbcheck::Reporter {
 public:
  void problem(int64_t, const std::string& text) override {
    if (first.empty()) first = text;
  }
  std::string first;
};

// The sorter's options for a new database.
jbbbulk::SortOptions sortOptions(const OutputOptions& options, bool removeDuplicates);
// The feed of what the sorter holds, after its finish().
EntryFeed sortedFeed(jbbbulk::EntrySorter* sorter, const Streams& io);

// "; the replaced file is kept as BACKUP" after a summary line, or nothing
// when no file was replaced.
std::string keptAs(const std::string& backup);

}  // namespace jbbtool
