// load: a fresh, sound database from a text dump (textdump.h).  An
// existing --out is replaced only with --force, held under the exclusive
// lock meanwhile, and kept under a backup name.
//
// The dump is read twice, never held: first to check it whole, count its
// entries and see whether they are in key order (a dump that jbbtool wrote
// is), then to hand the entries to the new file, straight or through the
// entry sorter when they are not in order.  A dump from standard input
// ("-") is copied first to a temporary file beside --out (NEW.jbbtmp.stdin),
// which goes when the command ends.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "jbbtool/session.h"
#include "jbbtool/textdump.h"
#include "platform/osfs.h"

namespace jbbtool {

namespace {

jbbbulk::EntryView viewOf(const DumpEntry& e) {
  return jbbbulk::EntryView{reinterpret_cast<const uint16_t*>(e.key.data()), e.key.size(), e.data.data(),
                            e.data.size()};
}

// The first pass: the dump is sound, holds *count entries, and *ordered
// tells whether their keys ascend strictly.
bool survey(DumpFile* dump, uint8_t* ctrlRec, uint64_t* count, bool* ordered, std::string* error) {
  std::u16string last;
  *count = 0;
  *ordered = true;
  std::function<bool(DumpEntry&)> look = [&](DumpEntry& e) {
    if (*count > 0 && *ordered && !(last < e.key)) *ordered = false;
    if (*ordered) last.swap(e.key);
    ++*count;
    return true;
  };
  return parseTextDump(dump, ctrlRec, look, error);
}

// The second pass: every entry to sink.  The dump was read whole once, so
// only a failing sink, or a read that fails now, stops it.
bool feedEntries(DumpFile* dump, jbbbulk::EntrySink* sink, const Streams& io) {
  uint8_t ctrlRec[2088];
  std::function<bool(DumpEntry&)> put = [sink](DumpEntry& e) { return sink->put(viewOf(e)); };
  std::string error;
  if (parseTextDump(dump, ctrlRec, put, &error)) return true;
  if (!error.empty()) message(io, kExitUsage, error);
  return false;
}

// Standard input copied to a file, removed with this object.
class StdinCopy {
 public:
  ~StdinCopy() {
    if (!path_.empty()) osRemoveFile(path_.c_str());
  }
  int make(const std::string& path, const Streams& io) {
    errno = 0;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return message(io, kExitProblems, "cannot create " + path + because(errno));
    path_ = path;
    std::vector<char> buffer(1 << 20);
    int readErr = 0, writeErr = 0;
    for (;;) {
      errno = 0;
      size_t got = std::fread(buffer.data(), 1, buffer.size(), io.in);
      if (got < buffer.size() && std::ferror(io.in)) readErr = errno != 0 ? errno : EIO;
      errno = 0;
      if (got > 0 && std::fwrite(buffer.data(), 1, got, f) != got) writeErr = errno != 0 ? errno : EIO;
      if (got < buffer.size() || readErr || writeErr) break;
    }
    errno = 0;
    if (std::fclose(f) != 0 && writeErr == 0) writeErr = errno != 0 ? errno : EIO;
    if (readErr) return message(io, kExitUsage, "cannot read standard input" + because(readErr));
    if (writeErr) return message(io, kExitProblems, "cannot write " + path + because(writeErr));
    return kExitOk;
  }

 private:
  std::string path_;
};

}  // namespace

int runLoad(const std::string& dumpFile, const OutputOptions& options, const Streams& io) {
  if (options.out.empty()) return message(io, kExitUsage, "load needs --out FILE");
  const bool fromStdin = dumpFile == "-";
  const std::string dumpName = fromStdin ? std::string("standard input") : dumpFile;
  StdinCopy copy;
  DumpFile dump;
  std::string error;
  if (!fromStdin && !dump.open(dumpFile, &error)) return message(io, kExitUsage, error);
  HeldDatabase held;
  if (int rc = prepareOutput(options, nullptr, io, &held)) return rc;
  if (fromStdin) {
    std::string copied = osTemporaryNameOf(options.out) + ".stdin";
    if (int rc = copy.make(copied, io)) return rc;
    if (!dump.open(copied, &error)) return message(io, kExitProblems, error);
  }
  uint8_t ctrlRec[2088];
  uint64_t count = 0;
  bool ordered = true;
  if (!survey(&dump, ctrlRec, &count, &ordered, &error))
    return dump.readFailed() ? message(io, kExitUsage, error) : message(io, kExitProblems, dumpName + ": " + error);
  jbbbulk::BulkSpec spec;
  jbbbulk::keepControlFields(ctrlRec, &spec);
  NewDatabase target(options, "", io);
  EntryFeed feed = [&](jbbbulk::EntrySink* sink) { return feedEntries(&dump, sink, io); };
  std::unique_ptr<jbbbulk::EntrySorter> sorter;
  if (!ordered) {
    sorter.reset(new jbbbulk::EntrySorter(target.temporary(), sortOptions(options, false)));
    if (!feedEntries(&dump, sorter.get(), io))
      return sorter->error().empty() ? kExitUsage : message(io, kExitProblems, sorter->error());
    if (!sorter->finish())
      return message(io, kExitProblems, (sorter->foundDuplicate() ? dumpName + ": " : "") + sorter->error());
    feed = sortedFeed(sorter.get(), io);
  }
  if (int rc = target.write(count, feed, spec)) return rc;
  std::string backup;
  if (int rc = target.install(&backup)) return rc;
  const jbbbulk::BulkResult& w = target.written();
  std::fprintf(io.out, "%s: %llu entries loaded, %llu nodes, %llu bytes%s\n", options.out.c_str(),
               static_cast<unsigned long long>(count), static_cast<unsigned long long>(w.nodes),
               static_cast<unsigned long long>(w.bytes), keptAs(backup).c_str());
  return kExitOk;
}

}  // namespace jbbtool
