// verify: every file and tree invariant, each problem with its file offset.
// The file is only read.
#include "jbbtool/session.h"

using namespace jbbbuilder;

namespace jbbtool {

int runVerify(const std::string& file, const Streams& io) {
  std::string path;
  FileImage db;
  if (int rc = readDatabase(file, io, &path, &db)) return rc;
  Progress progress(io, "verify: entries");
  CheckOptions options;
  options.collect = false;
  if (io.progress) options.onEntry = [&](const EntryRef&) { progress.tick(); };
  CheckResult r = checkImage(db.data(), db.size(), options);
  progress.done();
  for (const Problem& p : r.problems) {
    if (p.offset >= 0)
      std::fprintf(io.out, "offset %lld: %s\n", static_cast<long long>(p.offset), p.text.c_str());
    else
      std::fprintf(io.out, "%s\n", p.text.c_str());
  }
  if (!r.ok()) {
    std::fprintf(io.out, "%s: %zu problem%s found\n", path.c_str(), r.problemCount, r.problemCount == 1 ? "" : "s");
    return kExitProblems;
  }
  std::fprintf(io.out, "%s: sound, %zu entries, %zu nodes, height %d\n", path.c_str(), r.entryCount, r.nodes.size(),
               r.height);
  return kExitOk;
}

}  // namespace jbbtool
