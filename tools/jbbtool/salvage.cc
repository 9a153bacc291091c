// salvage: recovers every entry it can from a damaged database into a new,
// sound one.  The damaged file is only read (under a shared lock, as verify
// reads it), and --out names a new file, or with --force an existing one
// other than the damaged file, which is then held under the exclusive lock
// and kept under a backup name.
//
// How entries are found: the engine's salvage (btree/salvage.h), in two
// passes, so that a file of any size is salvaged in bounded memory; what
// it finds is sorted (the first found of equal keys kept) and written as a
// new database.
#include <cstdio>

#include "btree/salvage.h"
#include "jbbtool/session.h"

namespace jbbtool {

namespace {

constexpr size_t kMaxListed = 1000;  // report lines before "... and N more"

// The report: one line a note, the first thousand of them.
class Report : public jbbsalvage::Notes {
 public:
  explicit Report(FILE* out) : out_(out) {}
  void note(int64_t offset, const std::string& text) override {
    if (++notes_ > kMaxListed) return;
    if (offset >= 0)
      std::fprintf(out_, "offset %lld: %s\n", static_cast<long long>(offset), text.c_str());
    else
      std::fprintf(out_, "%s\n", text.c_str());
  }
  // "... and N more" once the list is long.
  void finish() {
    if (notes_ > kMaxListed) std::fprintf(out_, "... and %zu more\n", notes_ - kMaxListed);
  }

 private:
  FILE* out_;
  size_t notes_ = 0;
};

// Exit 1 with a line on what was lost, when anything was; else 0.
int lostLine(const std::string& path, const jbbsalvage::Counts& c, const Streams& io) {
  if (!c.lost()) return kExitOk;
  std::string what;
  auto add = [&](uint64_t n, const char* one, const char* many) {
    if (n == 0) return;
    what += (what.empty() ? "" : ", ") + std::to_string(n) + " " + (n == 1 ? one : many);
  };
  if (c.ctrlRecShort) what = "the control record is cut short";
  add(c.nodesSkipped, "live record skipped whole", "live records skipped whole");
  add(c.nodesBroken, "node image broken part way (the entries after the break)",
      "node images broken part way (the entries after each break)");
  add(c.entriesSkipped, "damaged entry", "damaged entries");
  add(c.bytesSkipped, "byte that holds no readable record", "bytes that hold no readable record");
  return message(io, kExitProblems, path + ": not everything could be recovered: " + what + "; the report above says where");
}

}  // namespace

int runSalvage(const std::string& file, const OutputOptions& options, const Streams& io) {
  if (options.out.empty()) return message(io, kExitUsage, "salvage needs --out NEW");
  ReadDatabase db;
  if (int rc = db.open(file, io)) return rc;
  const std::string& path = db.path();
  HeldDatabase held;
  if (int rc = prepareOutput(options, db.file(), io, &held)) return rc;
  Report report(io.out);
  jbbsalvage::Salvager s(db.source(), report);
  s.scan();
  NewDatabase target(options, "", io);
  jbbbulk::EntrySorter sorter(target.temporary(), sortOptions(options, true));
  if (!s.feed(&sorter) || !sorter.finish()) return message(io, kExitProblems, sorter.error());
  if (sorter.dropped() > 0)
    report.note(-1, std::to_string(sorter.dropped()) + " duplicate keys dropped (the first found kept)");
  report.finish();
  jbbbulk::BulkSpec spec;
  jbbbulk::keepControlFields(s.ctrlRec(), &spec);
  spec.dataSize = s.dataSize();
  if (int rc = target.write(sorter.count(), sortedFeed(&sorter, io), spec)) return rc;
  std::string backup;
  if (int rc = target.install(&backup)) return rc;
  std::fprintf(io.out,
               "%s: %zu entries recovered from %zu nodes into %s; %zu live records skipped, %zu free slots skipped%s\n",
               path.c_str(), size_t(target.written().entries), s.counts().nodesTaken, options.out.c_str(),
               s.counts().nodesSkipped, s.counts().freeSkipped, keptAs(backup).c_str());
  return lostLine(path, s.counts(), io);
}

}  // namespace jbbtool
