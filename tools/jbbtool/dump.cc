// dump: the entries in key order with their data records decoded, as a
// text dump (textdump.h), CSV or JSON (dumprows.h).
//
// The whole tree: the file is only read, in one pass: the checker walks
// the tree and hands each entry to the row writer, so that the dump is
// whole only when the file is sound.
//
// A range (--prefix, --from, --to): the engine's read-only open and its
// cursor, which seeks to the range's first key and steps to its end,
// reading the nodes on that way and no others; the rest of the file is not
// checked.  --prefix with --from or --to writes the keys that are in both.
#include <cerrno>
#include <cstdio>

#include "btree/format.h"
#include "jbbtool/dumprows.h"
#include "jbbtool/session.h"
#include "jbbtool/treeread.h"
#include "platform/osfile.h"

namespace jbbtool {

namespace {

// Each entry the check reaches in key order becomes a row; each problem
// goes to the JSON document's list.
class Rows : public jbbcheck::Reporter {
 public:
  Rows(DumpWriter& rows, Progress& progress) : rows_(rows), progress_(progress) {}
  void problem(int64_t offset, const std::string& text) override { rows_.problem(offset, text); }
  void entry(const jbbcheck::Entry& e) override {
    rows_.row(e);
    progress_.tick();
  }

 private:
  DumpWriter& rows_;
  Progress& progress_;
};

// The keys of a range, as the tree's units.
struct Range {
  std::u16string from, to, prefix;
  bool hasTo = false, hasPrefix = false;

  // The first key at or after which the range starts.
  const std::u16string& start() const { return hasPrefix && prefix > from ? prefix : from; }
  // Whether the stored key (at or after start()) is past the range; every
  // key after it is too.
  bool past(const uint8_t* le, size_t n) const {
    if (hasTo && compareStored(le, n, to) >= 0) return true;
    return hasPrefix && (n < prefix.size() || compareStored(le, prefix.size(), prefix) != 0);
  }
};

bool rangeOf(const DumpOptions& o, Range* r, std::string* error) {
  auto take = [&](const std::optional<std::string>& text, const char* option, std::u16string* key) {
    if (!text) return true;
    if (keyArgument(*text, key, error)) return true;
    *error = std::string(option) + ": " + *error;
    return false;
  };
  r->hasTo = o.to.has_value();
  r->hasPrefix = o.prefix.has_value();
  return take(o.from, "--from", &r->from) && take(o.to, "--to", &r->to) && take(o.prefix, "--prefix", &r->prefix);
}

// Where the dump goes: the caller's stream, or --out.  The file is never
// the database itself.
class Destination {
 public:
  ~Destination() {
    if (file_ != nullptr) std::fclose(file_);
  }
  int open(const DumpOptions& o, OsFile* database, const Streams& io) {
    if (o.out.empty()) {
      stream_ = io.out;
      return kExitOk;
    }
    if (osFileIsAt(database, o.out.c_str()))
      return message(io, kExitUsage, o.out + " is the database read; --out must name another file");
    errno = 0;
    file_ = std::fopen(o.out.c_str(), "wb");
    if (file_ == nullptr) return message(io, kExitUsage, "cannot create " + o.out + because(errno));
    stream_ = file_;
    return kExitOk;
  }
  // Closes --out; false (errno set) when that fails.
  bool close() {
    FILE* f = file_;
    file_ = nullptr;
    return f == nullptr || std::fclose(f) == 0;
  }
  FILE* stream() const { return stream_; }
  std::string name(const DumpOptions& o) const { return o.out.empty() ? "the dump" : o.out; }

 private:
  FILE* stream_ = nullptr;
  FILE* file_ = nullptr;
};

// The end of a dump: the output flushed (and --out closed); an exit code.
int finish(DumpWriter& rows, Destination& to, const DumpOptions& o, int rc, const Streams& io) {
  int err = 0;
  bool written = rows.flush(&err);
  errno = 0;
  if (!to.close() && written) {
    written = false;
    err = errno;
  }
  if (!written) return message(io, kExitProblems, "cannot write " + to.name(o) + because(err));
  return rc;
}

int dumpWhole(const std::string& file, const DumpOptions& o, const Streams& io) {
  ReadDatabase db;
  if (int rc = db.open(file, io)) return o.out.empty() ? failedDocument(o.format, io.out, file, lastMessage(), rc) : rc;
  const std::string& path = db.path();
  const uint8_t* ctrlRec = db.ctrlRec();
  if (ctrlRec == nullptr) {
    int rc = message(io, kExitProblems, path + " is shorter than a control record; verify tells more");
    return o.out.empty() ? failedDocument(o.format, io.out, path, lastMessage(), rc) : rc;
  }
  Destination to;
  if (int rc = to.open(o, db.file(), io)) return rc;
  DumpWriter rows(o.format, to.stream());
  rows.begin(path, ctrlRec);
  Progress progress(io, "dump: entries");
  Rows reporter(rows, progress);
  jbbcheck::Summary r = jbbcheck::check(db.source(), jbbcheck::Options(), reporter);
  progress.done();
  if (!db.source().ok()) {
    int err = errno;
    rows.problem(-1, "cannot read " + path + because(err));
    rows.end(false);
    finish(rows, to, o, kExitUsage, io);
    return message(io, kExitUsage, "cannot read " + path + because(err));
  }
  if (!r.ok()) {
    rows.end(false);
    finish(rows, to, o, kExitProblems, io);
    return message(io, kExitProblems, path + " has problems, the dump is incomplete: verify lists them, salvage recovers what can be recovered");
  }
  rows.end();
  return finish(rows, to, o, kExitOk, io);
}

int dumpRange(const std::string& file, const DumpOptions& o, const Streams& io) {
  Range range;
  std::string error;
  if (!rangeOf(o, &range, &error)) return message(io, kExitUsage, error);
  TreeReader reader;
  if (int rc = reader.open(file, io)) return o.out.empty() ? failedDocument(o.format, io.out, file, lastMessage(), rc) : rc;
  const std::string& path = reader.path();
  Destination to;
  if (int rc = to.open(o, reader.db().file(), io)) return rc;
  DumpWriter rows(o.format, to.stream());
  rows.begin(path, reader.ctrlRec());
  bTree& tree = *reader.tree();
  bTreeCursor cursor(tree);
  for (bool at = cursor.seek(range.start().c_str()); at; at = cursor.next()) {
    if (range.past(cursor.keyBytes(), cursor.keyUnits())) break;
    rows.row(entryAt(cursor));
  }
  if (tree.dbErrno != 0) {
    std::string why = cursorFailure(tree);
    rows.problem(-1, why);
    rows.end(false);
    finish(rows, to, o, kExitProblems, io);
    return message(io, kExitProblems, path + ": " + why + ", the dump is incomplete: verify lists the problems");
  }
  cursor.close();
  rows.end();
  return finish(rows, to, o, kExitOk, io);
}

}  // namespace

int runDump(const std::string& file, const DumpOptions& options, const Streams& io) {
  if (options.prefix || options.from || options.to) return dumpRange(file, options, io);
  return dumpWhole(file, options, io);
}

int runDump(const std::string& file, DumpFormat format, const Streams& io) {
  DumpOptions options;
  options.format = format;
  return runDump(file, options, io);
}

}  // namespace jbbtool
