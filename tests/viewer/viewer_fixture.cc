// Makes the database files of the viewer's end-to-end cases, and checks
// files afterwards.
//
//   viewer_fixture short FILE      2087 bytes of a control record
//   viewer_fixture swapped FILE    a control record whose magic bytes are AB CD
//   viewer_fixture same FILE COPY  exit 0 when both files are byte-identical
//   viewer_fixture db FILE OPTION...     a database made by the builder
//   viewer_fixture check FILE OPTION...  exit 0 when the file is well-formed
//                                        and matches the options
// Options of db: n=N (N synthetic keys) or keys=K1|K2|... where a key may
// carry its change record as KEY=action:objectType:inserted:objectTime;
// type= state= act= val= max= server= node= namelen= fs= (the journal
// information), data= keylen= major= minor= (the control record),
// damage=NAME, emptyroot=0 (a just-created file of 2088 bytes).
// Options of check: count=N type=T present=K1|K2 absent=K1|K2.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "btree/format.h"
#include "builder/checker.h"
#include "builder/writer.h"
#include "messages/services.h"

namespace {

std::vector<uint8_t> controlRecord(uint16_t dataSize) {
  CtrlRec cr{};
  cr.magic = jbbformat::kMagic;
  cr.majorVersion = jbbformat::kMajorVersion;
  cr.minorVersion = jbbformat::kMinorVersion;
  cr.rootOffset = 1;
  cr.indexArraySize = jbbformat::kIndexGrowth;
  cr.currentIXCount = 2;
  cr.lastIndex = 1;
  cr.lastNDRec = int64_t(jbbformat::kCtrlRecSize);
  cr.dataSize = dataSize;
  std::vector<uint8_t> bytes(jbbformat::kCtrlRecSize);
  encodeCtrlRec(cr, bytes.data());
  return bytes;
}

bool writeFile(const char* name, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(name, "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

bool readFile(const char* name, std::vector<uint8_t>* bytes) {
  FILE* f = std::fopen(name, "rb");
  if (f == nullptr) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes->insert(bytes->end(), buf, buf + n);
  std::fclose(f);
  return true;
}

using namespace jbbbuilder;

int usage() {
  std::fprintf(stderr, "usage: viewer_fixture short|swapped|db|check FILE [OPTION...] | same FILE COPY\n");
  return 2;
}

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (;;) {
    size_t next = text.find(sep, at);
    parts.push_back(text.substr(at, next - at));
    if (next == std::string::npos) return parts;
    at = next + 1;
  }
}

// KEY or KEY=action:objectType:inserted:objectTime.
Entry entryOf(const std::string& item, size_t dataSize) {
  size_t eq = item.rfind('=');
  Entry e;
  e.key = K(item.substr(0, eq).c_str());
  if (eq == std::string::npos) {
    e.data = keyData(e.key, dataSize);
    return e;
  }
  std::vector<std::string> f = split(item.substr(eq + 1), ':');
  JournalEntry r;
  r.action = std::stoi(f.at(0));
  r.objectType = std::stoi(f.at(1));
  r.insertedTime = std::stoll(f.at(2));
  r.objectTime = std::stoll(f.at(3));
  e.data = encodeJournalEntry(r, dataSize);
  return e;
}

int makeDatabase(const char* path, int argc, char** argv) {
  DbSpec spec;
  spec.info.activationTime = 1245326400;  // Thu Jun 18 12:00:00 2009 UTC
  spec.info.validationTime = 1245412800;
  std::vector<std::string> items;
  size_t n = 0;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    size_t eq = a.find('=');
    std::string name = a.substr(0, eq), value = eq == std::string::npos ? "" : a.substr(eq + 1);
    if (name == "n") n = std::stoul(value);
    else if (name == "keys") items = split(value, '|');
    else if (name == "type") spec.info.journalType = std::stoi(value);
    else if (name == "state") spec.info.journalState = std::stoi(value);
    else if (name == "act") spec.info.activationTime = std::stoll(value);
    else if (name == "val") spec.info.validationTime = std::stoll(value);
    else if (name == "max") spec.info.maxJournalSize = std::stoull(value);
    else if (name == "server") spec.info.server = value;
    else if (name == "node") spec.info.node = value;
    else if (name == "namelen") spec.info.serverNameLen = std::stoi(value);
    else if (name == "fs") spec.info.fsName = K(value.c_str());
    else if (name == "data") spec.dataSize = uint16_t(std::stoi(value));
    else if (name == "keylen") spec.keyLength = uint16_t(std::stoi(value));
    else if (name == "major") spec.ctrl.majorVersion = uint8_t(std::stoi(value));
    else if (name == "minor") spec.ctrl.minorVersion = uint8_t(std::stoi(value));
    else if (name == "emptyroot") spec.layout.writeEmptyRoot = value != "0";
    else if (name == "damage") {
      if (!damageFromName(value, &spec.damage)) return usage();
    } else {
      return usage();
    }
  }
  std::vector<Entry> entries;
  if (!items.empty()) {
    for (const std::string& item : items) entries.push_back(entryOf(item, spec.dataSize));
  } else {
    entries = entriesFor(syntheticPaths(n, 1), spec.dataSize);
  }
  std::string error;
  TreeNode root;
  if (!sortEntries(&entries, false, &error) || !bulkLoad(entries, BulkOptions(), &root, &error) ||
      !writeDatabase(path, root, spec, &error)) {
    std::fprintf(stderr, "viewer_fixture: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

int checkFile(const char* path, int argc, char** argv) {
  CheckResult r = checkDatabase(path);
  std::string problems = r.report();
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    size_t eq = a.find('=');
    std::string name = a.substr(0, eq), value = eq == std::string::npos ? "" : a.substr(eq + 1);
    if (name == "count" && r.entries.size() != std::stoul(value)) {
      problems += "entry count " + std::to_string(r.entries.size()) + ", expected " + value + "\n";
    } else if (name == "type" && r.ctrl.journalInfoArea.size() >= 4 &&
               jbbformat::getI32(r.ctrl.journalInfoArea.data()) != std::stoi(value)) {
      problems += "journal type changed\n";
    } else if (name == "present" || name == "absent") {
      for (const std::string& k : split(value, '|')) {
        bool found = false;
        for (const CheckEntry& e : r.entries) found = found || e.key == K(k.c_str());
        if (found != (name == "present")) problems += "key " + k + (found ? " still there\n" : " missing\n");
      }
    }
  }
  if (!problems.empty()) std::fprintf(stderr, "%s", problems.c_str());
  return problems.empty() ? 0 : 1;
}


}  // namespace

int main(int argc, char** argv) {
  startServices();
  if (argc < 3) return usage();
  std::string kind = argv[1];
  if (kind == "short") {
    std::vector<uint8_t> bytes = controlRecord(32);
    bytes.pop_back();
    return writeFile(argv[2], bytes) ? 0 : 1;
  }
  if (kind == "swapped") {
    std::vector<uint8_t> bytes = controlRecord(32);
    bytes[0] = 0xAB;
    bytes[1] = 0xCD;
    return writeFile(argv[2], bytes) ? 0 : 1;
  }
  if (kind == "db") return makeDatabase(argv[2], argc - 3, argv + 3);
  if (kind == "check") return checkFile(argv[2], argc - 3, argv + 3);
  if (kind == "same" && argc >= 4) {
    std::vector<uint8_t> a, b;
    if (!readFile(argv[2], &a) || !readFile(argv[3], &b)) return 1;
    return a == b ? 0 : 1;
  }
  return usage();
}
