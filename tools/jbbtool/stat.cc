// stat: how full and fragmented a database is.  The file is only read.
#include <nlohmann/json.hpp>

#include <cerrno>

#include "btree/format.h"
#include "jbbtool/session.h"

namespace jbbtool {

namespace {

struct Stats {
  uint64_t fileSize = 0;
  size_t entries = 0;
  int height = 0;
  std::vector<size_t> nodesPerLevel;             // [0] = the root's level
  size_t entriesPerNode[jbbformat::kMaxEntries + 1] = {};  // nodes by entry count
  size_t liveSlots = 0, freeSlots = 0;
  uint64_t freeBytes = 0, staleBytes = 0;
  size_t problems = 0;
};

// Counts what the check reads: nodes by level and by entry count, slots
// by state.
class Measure : public jbbcheck::Reporter {
 public:
  void problem(int64_t, const std::string&) override {}
  void node(const jbbcheck::Node& n) override {
    if (size_t(n.depth) >= s.nodesPerLevel.size()) s.nodesPerLevel.resize(size_t(n.depth) + 1);
    ++s.nodesPerLevel[size_t(n.depth)];
    ++s.entriesPerNode[n.framed->framed];
  }
  bool wantsSlots() const override { return true; }
  void slot(const jbbcheck::Slot& slot) override {
    if (slot.free()) {
      ++s.freeSlots;
      s.freeBytes += slot.slotLength;
    } else {
      ++s.liveSlots;
      if (slot.slotLength > slot.nodeSize) s.staleBytes += slot.slotLength - slot.nodeSize;
    }
  }
  Stats s;
};

double perEntry(const Stats& s) { return s.entries ? double(s.fileSize) / double(s.entries) : 0.0; }

void printText(const std::string& path, const Stats& s, FILE* out) {
  std::fprintf(out, "file             %s\n", path.c_str());
  std::fprintf(out, "file size        %llu bytes\n", static_cast<unsigned long long>(s.fileSize));
  std::fprintf(out, "entries          %zu\n", s.entries);
  std::fprintf(out, "height           %d\n", s.height);
  size_t nodes = 0;
  for (size_t n : s.nodesPerLevel) nodes += n;
  std::fprintf(out, "nodes            %zu\n", nodes);
  for (size_t level = 0; level < s.nodesPerLevel.size(); ++level)
    std::fprintf(out, "  level %-8zu %zu%s\n", level + 1, s.nodesPerLevel[level], level == 0 ? " (root)" : "");
  std::fprintf(out, "entries per node\n");
  for (int k = 0; k <= jbbformat::kMaxEntries; ++k)
    if (s.entriesPerNode[k]) std::fprintf(out, "  %-14d %zu\n", k, s.entriesPerNode[k]);
  std::fprintf(out, "live slots       %zu\n", s.liveSlots);
  std::fprintf(out, "free slots       %zu (%llu bytes)\n", s.freeSlots, static_cast<unsigned long long>(s.freeBytes));
  std::fprintf(out, "stale bytes      %llu (in live slots, past their nodes)\n",
               static_cast<unsigned long long>(s.staleBytes));
  std::fprintf(out, "bytes per entry  %.2f\n", perEntry(s));
  if (s.problems) std::fprintf(out, "problems         %zu (verify lists them)\n", s.problems);
}

void printJson(const std::string& path, const Stats& s, FILE* out) {
  nlohmann::ordered_json j;
  j["file"] = path;
  j["fileSize"] = s.fileSize;
  j["entries"] = s.entries;
  j["height"] = s.height;
  j["nodesPerLevel"] = s.nodesPerLevel;
  j["entriesPerNode"] = std::vector<size_t>(std::begin(s.entriesPerNode), std::end(s.entriesPerNode));
  j["liveSlots"] = s.liveSlots;
  j["freeSlots"] = s.freeSlots;
  j["freeBytes"] = s.freeBytes;
  j["staleBytes"] = s.staleBytes;
  j["bytesPerEntry"] = perEntry(s);
  j["problems"] = s.problems;
  std::string text = j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  std::fprintf(out, "%s\n", text.c_str());
}

}  // namespace

int runStat(const std::string& file, bool json, const Streams& io) {
  ReadDatabase db;
  if (int rc = db.open(file, io)) return rc;
  const std::string& path = db.path();
  Measure m;
  jbbcheck::Summary r = jbbcheck::check(db.source(), jbbcheck::Options(), m);
  if (!db.source().ok()) return message(io, kExitUsage, "cannot read " + path + because(errno));
  Stats& s = m.s;
  s.fileSize = r.fileSize;
  s.entries = r.entries;
  s.height = r.height;
  s.problems = r.problems;
  if (json)
    printJson(path, s, io.out);
  else
    printText(path, s, io.out);
  if (s.problems) return message(io, kExitProblems, path + " has problems; the figures cover what could be read");
  return kExitOk;
}

}  // namespace jbbtool
