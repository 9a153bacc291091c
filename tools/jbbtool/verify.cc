// verify: every file and tree invariant, each problem with its file offset,
// through the engine's check as it reads the file.  The file is only read.
#include <cerrno>

#include "btree/format.h"
#include "jbbtool/session.h"

namespace jbbtool {

namespace {

// Problems are printed as the check finds them, the first 200 of them.
class Printer : public jbbcheck::Reporter {
 public:
  Printer(const Streams& io, Progress& progress) : io_(io), progress_(progress) {}
  void problem(int64_t offset, const std::string& text) override {
    if (++count_ > kShown) return;
    progress_.done();
    if (offset >= 0)
      std::fprintf(io_.out, "offset %lld: %s\n", static_cast<long long>(offset), text.c_str());
    else
      std::fprintf(io_.out, "%s\n", text.c_str());
  }
  void entry(const jbbcheck::Entry&) override { progress_.tick(); }
  void finish() const {
    if (count_ > kShown) std::fprintf(io_.out, "... and %zu more\n", count_ - kShown);
  }

 private:
  static constexpr size_t kShown = 200;
  const Streams& io_;
  Progress& progress_;
  size_t count_ = 0;
};

}  // namespace

int runVerify(const std::string& file, const Streams& io) {
  ReadDatabase db;
  if (int rc = db.open(file, io)) return rc;
  Progress progress(io, "verify: entries");
  Printer printer(io, progress);
  jbbcheck::Summary r = jbbcheck::check(db.source(), jbbcheck::Options(), printer);
  progress.done();
  printer.finish();
  if (!db.source().ok()) return message(io, kExitUsage, "cannot read " + db.path() + because(errno));
  const std::string& path = db.path();
  if (!r.ok()) {
    std::fprintf(io.out, "%s: %zu problem%s found\n", path.c_str(), r.problems, r.problems == 1 ? "" : "s");
    // A file that is no journal database at all is unusable, not damaged.
    bool database = r.ctrlRead && r.ctrl.magic == jbbformat::kMagic;
    return database ? kExitProblems : kExitUsage;
  }
  std::fprintf(io.out, "%s: sound, %zu entries, %zu nodes, height %d\n", path.c_str(), r.entries, r.nodes, r.height);
  return kExitOk;
}

}  // namespace jbbtool
