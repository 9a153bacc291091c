#include "harness.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "builder/checker.h"
#include "builder/keys.h"
#include "btree/format.h"
#include "btree/rollback.h"
#include "platform/osfile.h"
#include "platform/osfs.h"
#include "platform/psstr.h"
#include "viewer/driver.h"
#include "viewer/journalinfo.h"
#include "viewer/requests.h"
#include "viewer/tooldb.h"

using jbbbuilder::Key;

namespace jbbfuzz {
namespace {

constexpr size_t kMaxCollected = 256;
constexpr size_t kFindKeys = 6;
constexpr size_t kMaxDeletions = 8;

// The viewer's database object, noting the first keys the walk hands it.
class KeyCollector : public toolDB {
 public:
  explicit KeyCollector(uint16_t dataSize) : toolDB(dataSize) {}
  int32_t walkCallback(const wchar16* key, const uint8_t* data) override {
    if (collecting && keys.size() < kMaxCollected) keys.emplace_back(key);
    return toolDB::walkCallback(key, data);
  }
  bool collecting = false;
  std::vector<Key> keys;
};

bool writeImage(const std::string& path, const uint8_t* data, size_t size) {
  // A rollback file of an earlier input's database would be taken for this
  // one's.
  osRemoveFile(jbbrollback::sideFileOf(path.c_str()).c_str());
  OsFile* f = osFileOpen(path.c_str(), OsFileMode::kCreate);
  if (f == nullptr) return false;
  bool ok = size == 0 || osFileWrite(f, data, size, 0) == size;
  osFileClose(f);
  return ok;
}

bool readFile(const std::string& path, std::vector<uint8_t>* bytes) {
  OsFile* f = osFileOpen(path.c_str(), OsFileMode::kRead);
  if (f == nullptr) return false;
  uint64_t size = 0;
  bool ok = osFileSizeOf(f, &size);
  if (ok) {
    bytes->resize(size_t(size));
    ok = size == 0 || osFileRead(f, bytes->data(), size_t(size), 0) == size;
  }
  osFileClose(f);
  return ok;
}

// Whether this input's results are checked (see harness.h): FNV-1a of the
// input.
bool checked(const uint8_t* data, size_t size, unsigned checkOneIn) {
  if (checkOneIn <= 1) return true;
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
  return h % checkOneIn == 0;
}

// What the checker says about a well-formed image; `sound` false for any
// other (and for an image not checked).
struct Reading {
  bool sound = false;
  size_t entries = 0;
  std::vector<Key> keys;  // in key order
};

Reading readImage(const uint8_t* data, size_t size, bool withKeys) {
  Reading r;
  jbbbuilder::CheckOptions options;
  options.collect = false;
  if (withKeys) options.onEntry = [&r](const jbbbuilder::EntryRef& e) { r.keys.push_back(e.toKey()); };
  jbbbuilder::CheckResult c = jbbbuilder::checkImage(data, size, options);
  r.sound = c.ok();
  r.entries = c.entryCount;
  return r;
}

bool holds(const Reading& r, const Key& key) {
  return std::binary_search(r.keys.begin(), r.keys.end(), key,
                            [](const Key& a, const Key& b) { return jbbbuilder::compareKeys(a, b) < 0; });
}

// The end of the viewer's process: the system closes the file, nothing is
// flushed (the object is never destroyed there).  The destructor that
// follows here then only frees memory, as it writes nothing without a file.
void endProcess(toolDB& db) {
  if (db.dbHandle == nullptr) return;
  osFileClose(db.dbHandle);
  db.dbHandle = nullptr;
}

// The viewer's steps up to the report: the control-record check, the open
// and the counting walk.  False where the viewer would stop (having
// printed why); its process then ends.
bool openAndCount(KeyCollector& db, const std::string& path) {
  if (db.openBtDb(path.c_str(), false) != 0) {
    endProcess(db);
    return false;
  }
  db.journalInfo = db.cr.journalInfoArea;
  db.countingMode = true;
  db.collecting = true;
  db.entryCount = 0;
  int rc = db.walkTree();
  db.collecting = false;
  db.countingMode = false;
  if (rc != 0) {
    endProcess(db);
    return false;
  }
  return true;
}

bool precheck(const std::string& path, uint16_t* dataSize) {
  uint8_t ctrl[jbbformat::kCtrlRecSize];
  if (!precheckControlRecord(path.c_str(), ctrl)) return false;
  *dataSize = jbbformat::getU16(ctrl + jbbformat::kCrDataSize);
  return true;
}

// The keys as the request line carries them: the current code page's text.
std::string requestText(const Key& key) {
  std::vector<wchar16> units(key.begin(), key.end());
  units.resize(std::min<size_t>(units.size(), MAX_CONV / 4));
  units.push_back(0);
  std::vector<char> text(MAX_CONV + 1);
  wideToMb(text.data(), units.data());
  std::string s(text.data());
  // A line break inside would end the request early.
  std::replace(s.begin(), s.end(), '\n', '?');
  std::replace(s.begin(), s.end(), '\r', '?');
  return s;
}

// The request loop, fed from a file next to the database that is kept
// open for the process (one file per path).
void runRequests(toolDB& db, const std::string& path, const std::string& script) {
  static std::string openFor;
  static FILE* in = nullptr;
  if (in == nullptr || openFor != path) {
    if (in != nullptr) std::fclose(in);
    openFor = path;
    in = std::fopen((path + ".in").c_str(), "w+b");
    if (in == nullptr) return;
  }
  std::rewind(in);
  // Whatever an earlier, longer script left after this one is never read.
  std::string text = script + "quit\n";
  std::fwrite(text.data(), 1, text.size(), in);
  std::fflush(in);
  std::rewind(in);
  runRequestLoop(db, in);
}

Key absentVariant(const Key& key) { return key + u'\x7f'; }

}  // namespace

std::string runView(const uint8_t* data, size_t size, const std::string& path, unsigned checkOneIn) {
  if (!writeImage(path, data, size)) return "";
  uint16_t dataSize = 0;
  if (!precheck(path, &dataSize)) return "";
  bool check = checked(data, size, checkOneIn);
  KeyCollector db(dataSize);
  if (!openAndCount(db, path))
    return check && readImage(data, size, false).sound ? "a well-formed database failed to open or count" : "";
  Reading reading = check ? readImage(data, size, false) : Reading{};
  std::string failure;
  if (reading.sound && db.entryCount != reading.entries)
    failure = "count " + std::to_string(db.entryCount) + ", checker " + std::to_string(reading.entries);
  for (size_t i = 0; i < db.keys.size() && i < kFindKeys; ++i) {
    std::vector<wchar16> key(db.keys[i].begin(), db.keys[i].end());
    key.push_back(0);
    // The empty key is never looked up (Search answers "not found" to it).
    bool searchable = !db.keys[i].empty();
    if (db.Search(key.data()) == nullptr && searchable && reading.sound && failure.empty())
      failure = "Find misses key " + std::to_string(i) + " of the walk";
    Key other = absentVariant(db.keys[i]);
    std::vector<wchar16> otherUnits(other.begin(), other.end());
    otherUnits.push_back(0);
    db.Search(otherUnits.data());
  }
  if (journalTypeOf(db.journalInfo) == kJournalUnformatted) {
    // The just-created prompt closes the database first.
    db.closeBtDb();
    return failure;
  }
  std::string script = "find " + (db.keys.empty() ? std::string("x") : requestText(db.keys[0])) + "\n";
  script += "find \\no\\such\\key\nlist\n";
  runRequests(db, path, script);
  endProcess(db);
  return failure;
}

std::string deleteHeader(const uint8_t* selectors, size_t n) {
  n = std::min(n, kMaxDeletions);
  std::string h(1, char(n));
  h.append(reinterpret_cast<const char*>(selectors), n);
  return h;
}

std::string runDelete(const uint8_t* data, size_t size, const std::string& path, unsigned checkOneIn) {
  if (size < 1) return "";
  size_t n = data[0] % (kMaxDeletions + 1);
  if (size < 1 + n) return "";
  const uint8_t* selectors = data + 1;
  const uint8_t* image = data + 1 + n;
  size_t imageSize = size - 1 - n;
  if (!writeImage(path, image, imageSize)) return "";
  uint16_t dataSize = 0;
  if (!precheck(path, &dataSize)) return "";
  Reading before = checked(data, size, checkOneIn) ? readImage(image, imageSize, true) : Reading{};
  std::string failure;
  size_t deleted = 0;
  {
    KeyCollector db(dataSize);
    if (!openAndCount(db, path)) return before.sound ? "a well-formed database failed to open or count" : "";
    // The viewer runs requests only on a formatted journal.
    if (journalTypeOf(db.journalInfo) == kJournalUnformatted || db.keys.empty()) n = 0;
    std::vector<Key> gone;
    for (size_t i = 0; i < n; ++i) {
      Key key = db.keys[selectors[i] % db.keys.size()];
      if (selectors[i] >= 0x80) key = absentVariant(key);
      std::vector<wchar16> units(key.begin(), key.end());
      units.push_back(0);
      // As the Del request does it.
      if (db.reloadIfStale() != 0 || db.beginUpdate() != 0) continue;
      int rc = db.Delete(units.data());
      if (rc == 0 && db.syncToDisk() != 0) rc = -1;
      db.endUpdate();
      if (!before.sound || !failure.empty()) continue;
      bool present = holds(before, key) && std::find(gone.begin(), gone.end(), key) == gone.end();
      if (rc != (present ? 0 : 1)) {
        failure = "Del of request " + std::to_string(i) + " returned " + std::to_string(rc) +
                  (present ? " for a key in the tree" : " for a key not in the tree");
      } else if (db.Search(units.data()) != nullptr) {
        failure = "a deleted key is still found";
      }
      if (rc == 0) {
        gone.push_back(key);
        ++deleted;
      }
    }
    endProcess(db);
  }
  // The file as the deletions left it: opened and walked again.
  KeyCollector again(dataSize);
  bool reopened = precheck(path, &dataSize) && openAndCount(again, path);
  if (reopened) endProcess(again);
  if (!before.sound || !failure.empty()) return failure;
  std::vector<uint8_t> after;
  if (!readFile(path, &after)) return "the file cannot be read after the deletions";
  Reading now = readImage(after.data(), after.size(), false);
  if (!now.sound) return "the deletions left a file the checker refuses";
  if (now.entries + deleted != before.entries)
    return "after " + std::to_string(deleted) + " deletions " + std::to_string(now.entries) + " of " +
           std::to_string(before.entries) + " entries are left";
  if (!reopened) return "the file does not open again after the deletions";
  return "";
}

}  // namespace jbbfuzz
