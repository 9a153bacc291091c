// info: what the control record and the journal information area hold,
// with the texts the viewer's report gives them, and the tree's counts.
// The file is read through the engine's read-only open and never written.
//
// The counts: nodes, free slots and stale bytes come from the open, which
// reads every record header; the entries are counted by stepping through
// the whole tree with the cursor, as the viewer counts them.  A tree that
// cannot be opened or stepped through leaves the counts out (exit 1); the
// control record is shown all the same.
#include <nlohmann/json.hpp>

#include <cstdio>

#include "btree/format.h"
#include "jbbtool/dumprows.h"
#include "jbbtool/session.h"
#include "jbbtool/treeread.h"
#include "platform/psstr.h"
#include "platform/utf8.h"
#include "viewer/journalinfo.h"
#include "viewer/report.h"

namespace jbbtool {

namespace {

struct Counts {
  bool known = false;
  uint64_t entries = 0, liveNodes = 0, freeSlots = 0, freeBytes = 0, staleBytes = 0;
};

// The slots by state as the open found them, then the entries.  Empty
// *problem: every count is known.
Counts countTree(bTree& tree, std::string* problem) {
  Counts c;
  for (uint32_t s = 1; s < tree.cr.currentIXCount && s < tree.indexCapacity; ++s) {
    const indexNode& e = tree.indexArray[s];
    if (e.state == kStateAvailable) {
      ++c.freeSlots;
      c.freeBytes += e.slotLength;
    } else if (e.nodePos != 0) {
      ++c.liveNodes;
      if (e.slotLength > e.nodeSize) c.staleBytes += e.slotLength - e.nodeSize;
    }
  }
  bTreeCursor cursor(tree);
  for (bool at = cursor.seek(u""); at; at = cursor.next()) ++c.entries;
  if (tree.dbErrno != 0) {
    *problem = cursorFailure(tree) + "; verify lists the problems";
    return c;
  }
  c.known = true;
  return c;
}

const char* pendingText(jbbrollback::Pending::State state) {
  switch (state) {
    case jbbrollback::Pending::kComplete: return "completed at the next change (the file holds it already)";
    case jbbrollback::Pending::kRollBack: return "taken back at the next change";
    case jbbrollback::Pending::kConflict: return "cannot be taken back (the file was changed since)";
    default: return "none";
  }
}

struct Fields {
  CtrlRec cr;
  ::JournalInfo info;
  char server[jinfo::kServerNodeSize + 1], node[jinfo::kServerNodeSize + 1];
  std::string fsName;
};

void decode(const uint8_t* ctrlRec, Fields* f) {
  decodeCtrlRec(ctrlRec, &f->cr);
  decodeJournalInfo(ctrlRec + jbbformat::kJournalInfoOffset, &f->info);
  serverAndNode(f->info, f->server, f->node);
  appendUtf16AsUtf8(&f->fsName, f->info.fsName, wideLen(f->info.fsName));
}

void printText(const std::string& path, uint64_t fileSize, const Fields& f, const char* pending, const Counts& c,
               FILE* out) {
  const CtrlRec& cr = f.cr;
  const ::JournalInfo& ji = f.info;
  char activation[32], validation[32];
  formatUtc(ji.activationTime, activation);
  formatUtc(ji.validationTime, validation);
  std::fprintf(out, "file             %s\n", path.c_str());
  std::fprintf(out, "file size        %llu bytes\n", static_cast<unsigned long long>(fileSize));
  std::fprintf(out, "version          %d.%d\n", cr.majorVersion, cr.minorVersion);
  std::fprintf(out, "key length       %u%s\n", unsigned(cr.keyLength), cr.keyLength == 0 ? " (variable)" : "");
  std::fprintf(out, "data size        %u bytes\n", unsigned(cr.dataSize));
  std::fprintf(out, "root offset      %ld\n", long(cr.rootOffset));
  std::fprintf(out, "index size       %lu\n", static_cast<unsigned long>(cr.indexArraySize));
  std::fprintf(out, "index count      %lu\n", static_cast<unsigned long>(cr.currentIXCount));
  std::fprintf(out, "last index       %ld\n", long(cr.lastIndex));
  std::fprintf(out, "last record      %lld\n", static_cast<long long>(cr.lastNDRec));
  std::fprintf(out, "journal type     %ld (%s)\n", long(ji.journalType), journalTypeText(ji.journalType));
  std::fprintf(out, "journal state    %ld (%s)\n", long(ji.journalState), journalStateText(ji.journalState));
  std::fprintf(out, "activation time  %lld %s\n", static_cast<long long>(ji.activationTime), activation);
  std::fprintf(out, "validation time  %lld %s\n", static_cast<long long>(ji.validationTime), validation);
  if (ji.maxJournalSize == 0)
    std::fprintf(out, "max journal size 0 (unlimited)\n");
  else
    std::fprintf(out, "max journal size %llu bytes\n", static_cast<unsigned long long>(ji.maxJournalSize));
  std::fprintf(out, "server           %s\n", f.server);
  std::fprintf(out, "node             %s\n", f.node);
  std::fprintf(out, "file system      %s\n", f.fsName.c_str());
  std::fprintf(out, "pending change   %s\n", pending);
  if (!c.known) return;
  std::fprintf(out, "entries          %llu\n", static_cast<unsigned long long>(c.entries));
  std::fprintf(out, "live slots       %llu\n", static_cast<unsigned long long>(c.liveNodes));
  std::fprintf(out, "free slots       %llu (%llu bytes)\n", static_cast<unsigned long long>(c.freeSlots),
               static_cast<unsigned long long>(c.freeBytes));
  std::fprintf(out, "stale bytes      %llu\n", static_cast<unsigned long long>(c.staleBytes));
}

void printJson(const std::string& path, uint64_t fileSize, const uint8_t* ctrlRec, const Fields& f,
               const char* pending, const Counts& c, const std::string& problem, FILE* out) {
  const CtrlRec& cr = f.cr;
  nlohmann::ordered_json j;
  j["file"] = path;
  j["fileSize"] = fileSize;
  j["version"] = std::to_string(cr.majorVersion) + "." + std::to_string(cr.minorVersion);
  j["keyLength"] = cr.keyLength;
  j["dataSize"] = cr.dataSize;
  nlohmann::ordered_json& control = j["control"];
  control["rootOffset"] = cr.rootOffset;
  control["indexArraySize"] = cr.indexArraySize;
  control["currentIXCount"] = cr.currentIXCount;
  control["lastIndex"] = cr.lastIndex;
  control["lastNDRec"] = cr.lastNDRec;
  nlohmann::ordered_json journal = journalJson(ctrlRec);
  journal["typeText"] = journalTypeText(f.info.journalType);
  journal["stateText"] = journalStateText(f.info.journalState);
  j["journal"] = journal;
  j["pending"] = pending;
  if (c.known) {
    j["entries"] = c.entries;
    j["liveSlots"] = c.liveNodes;
    j["freeSlots"] = c.freeSlots;
    j["freeBytes"] = c.freeBytes;
    j["staleBytes"] = c.staleBytes;
  }
  if (!problem.empty()) j["problem"] = problem;
  std::string text = j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  std::fprintf(out, "%s\n", text.c_str());
}

}  // namespace

int runInfo(const std::string& file, bool json, const Streams& io) {
  TreeReader reader;
  if (int rc = reader.open(file, io, true)) return rc;
  const std::string& path = reader.path();
  Fields f;
  decode(reader.ctrlRec(), &f);
  std::string problem = reader.treeProblem();
  Counts counts;
  if (reader.tree() != nullptr) counts = countTree(*reader.tree(), &problem);
  const char* pending = pendingText(reader.db().pendingState());
  uint64_t fileSize = reader.db().source().size();
  if (json)
    printJson(path, fileSize, reader.ctrlRec(), f, pending, counts, problem, io.out);
  else
    printText(path, fileSize, f, pending, counts, io.out);
  if (int rc = outputWritten(io)) return rc;
  if (!problem.empty()) return message(io, kExitProblems, path + ": the counts are left out: " + problem);
  return kExitOk;
}

}  // namespace jbbtool
