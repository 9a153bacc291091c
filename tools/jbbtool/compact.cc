// compact: the same entries and control-record fields in a fresh file
// without free slots or stale bytes.  Without --out the new file replaces
// the original, which stays as FILE.bak unless --no-backup.
#include "jbbtool/session.h"

using namespace jbbbuilder;

namespace jbbtool {

int runCompact(const std::string& file, const OutputOptions& options, const Streams& io) {
  std::string path;
  FileImage db;
  if (!readDatabase(file, io, &path, &db)) return kExitUsage;
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
  int rc = writeNewDatabase(std::move(entries), spec, options, path, io, &image);
  if (rc != kExitOk) return rc;
  const std::string& target = options.out.empty() ? path : options.out;
  std::fprintf(io.out, "%s: %zu entries, %zu nodes, %llu bytes (was %llu)%s\n", target.c_str(), image.entryCount,
               image.slots.size(), static_cast<unsigned long long>(image.bytes.size()),
               static_cast<unsigned long long>(before),
               options.out.empty() && options.backup ? ("; the original is " + path + ".bak").c_str() : "");
  return kExitOk;
}

}  // namespace jbbtool
