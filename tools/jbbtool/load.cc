// load: a fresh, sound database from a text dump (textdump.h).  An
// existing --out is replaced only with --force, held under the exclusive
// lock meanwhile, and kept under a backup name.
#include "jbbtool/session.h"
#include "jbbtool/textdump.h"

using namespace jbbbuilder;

namespace jbbtool {

int runLoad(const std::string& dumpFile, const OutputOptions& options, const Streams& io) {
  if (options.out.empty()) return message(io, kExitUsage, "load needs --out FILE");
  Bytes bytes;
  std::string error;
  if (!readFile(dumpFile, &bytes, &error)) return message(io, kExitUsage, error);
  HeldDatabase held;
  if (int rc = prepareOutput(options, nullptr, io, &held)) return rc;
  TextDump dump;
  if (!parseTextDump(std::string(bytes.begin(), bytes.end()), &dump, &error))
    return message(io, kExitProblems, dumpFile + ": " + error);
  bytes = Bytes();
  size_t count = dump.entries.size();
  if (!sortEntries(&dump.entries, false, &error)) return message(io, kExitProblems, dumpFile + ": " + error);
  BuiltImage image;
  std::string backup;
  int rc = writeNewDatabase(std::move(dump.entries), specKeeping(dump.ctrlRec), options, "", io, &image, &backup);
  if (rc != kExitOk) return rc;
  std::fprintf(io.out, "%s: %zu entries loaded, %zu nodes, %zu bytes%s\n", options.out.c_str(), count,
               image.slots.size(), image.bytes.size(), keptAs(backup).c_str());
  return kExitOk;
}

}  // namespace jbbtool
