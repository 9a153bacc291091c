// How jbbtool puts a new database in the place of a file: in one step,
// after the new file is on the disk, so that the name always names a whole
// database; the replaced file kept under a backup name no older backup
// has; and, when anything fails, the target as it was and no temporary
// file left.
#include <cerrno>
#include <map>

#include "platform/osfile.h"
#include "platform/osfs.h"
#include "tools/jbbtool/tool_fixture.h"

using namespace jbbbuilder;
using namespace tooltest;

namespace {

class Replace : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    db_ = path("a.jbbdb");
    buildUntidy();
  }

  // a.jbbdb with free slots and slack, which compact leaves out.
  void buildUntidy() {
    DbSpec spec;
    spec.layout.freeSlots = 6;
    spec.layout.slack = 12;
    build("a.jbbdb", pathEntries(250, 6), spec);
  }

  Outcome compact(const std::string& file, bool backup = true) {
    jbbtool::OutputOptions o;
    o.backup = backup;
    return run([&](const jbbtool::Streams& io) { return jbbtool::runCompact(file, o, io); });
  }

  std::string db_;
};

TEST_F(Replace, SuccessiveCompactsKeepEveryOriginal) {
  // Each round makes the file untidy again, so that each original differs.
  std::vector<Bytes> originals;
  const char* names[] = {"a.jbbdb.bak", "a.jbbdb.1.bak", "a.jbbdb.2.bak"};
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    DbSpec spec;
    spec.layout.freeSlots = 2 + round;
    build("a.jbbdb", pathEntries(100 + 50 * size_t(round), 6), spec);
    originals.push_back(fileBytes(db_));
    Outcome r = compact(db_);
    ASSERT_EQ(0, r.rc) << r.err;
    EXPECT_TRUE(has(r.out, "; the original is " + path(names[round]) + "\n")) << r.out;
  }
  for (int round = 0; round < 3; ++round) EXPECT_EQ(originals[size_t(round)], fileBytes(path(names[round])));
  EXPECT_EQ(200u, checkDatabase(db_).entryCount);
  EXPECT_FALSE(fileExists(path("a.jbbdb.3.bak")));
  // Without a backup, none is made and none is touched.
  Outcome r = compact(db_, false);
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_FALSE(has(r.out, "original")) << r.out;
  EXPECT_FALSE(fileExists(path("a.jbbdb.3.bak")));
  EXPECT_EQ(originals[2], fileBytes(path("a.jbbdb.2.bak")));
}

TEST_F(Replace, AGapInTheNumbersIsFilledFirst) {
  writeText("a.jbbdb.bak", "older");
  writeText("a.jbbdb.2.bak", "older still");
  Bytes original = fileBytes(db_);
  Outcome r = compact(db_);
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_EQ(original, fileBytes(path("a.jbbdb.1.bak")));
  EXPECT_EQ("older", slurp(path("a.jbbdb.bak")));
  EXPECT_EQ("older still", slurp(path("a.jbbdb.2.bak")));
}

TEST_F(Replace, LoadAndSalvageOverAnExistingFileKeepABackup) {
  writeText("a.txt", dump(db_).out);
  build("t.jbbdb", pathEntries(30, 1));
  Bytes first = fileBytes(path("t.jbbdb"));
  Outcome loaded = load(path("a.txt"), path("t.jbbdb"), true);
  ASSERT_EQ(0, loaded.rc) << loaded.err;
  EXPECT_TRUE(has(loaded.out, "250 entries loaded")) << loaded.out;
  EXPECT_TRUE(has(loaded.out, "; the replaced file is kept as " + path("t.jbbdb.bak") + "\n")) << loaded.out;
  EXPECT_EQ(first, fileBytes(path("t.jbbdb.bak")));
  Bytes second = fileBytes(path("t.jbbdb"));
  build("d.jbbdb", pathEntries(60, 3));
  Outcome salvaged = salvageOver(path("d.jbbdb"), path("t.jbbdb"));
  ASSERT_EQ(0, salvaged.rc) << salvaged.err;
  EXPECT_TRUE(has(salvaged.out, "; the replaced file is kept as " + path("t.jbbdb.1.bak") + "\n")) << salvaged.out;
  EXPECT_EQ(second, fileBytes(path("t.jbbdb.1.bak")));
  EXPECT_EQ(60u, checkDatabase(path("t.jbbdb")).entryCount);
  // A new file replaces nothing and says nothing of a backup.
  Outcome fresh = salvageOver(path("d.jbbdb"), path("n.jbbdb"));
  ASSERT_EQ(0, fresh.rc) << fresh.err;
  EXPECT_FALSE(has(fresh.out, "kept as")) << fresh.out;
  EXPECT_FALSE(fileExists(path("n.jbbdb.bak")));
}

TEST_F(Replace, SalvageNeverReplacesTheFileItReads) {
  Bytes before = fileBytes(db_);
  Outcome r = salvageOver(db_, db_);
  EXPECT_EQ(2, r.rc);
  EXPECT_TRUE(has(r.err, "is the file read")) << r.err;
  EXPECT_EQ(before, fileBytes(db_));
  EXPECT_FALSE(fileExists(path("a.jbbdb.bak")));
}

// --- What reaches the disk, and in which order ------------------------------

// The files a name stands for while a recorded run goes on, event by event.
class FileSystemModel {
 public:
  explicit FileSystemModel(const std::string& target, const Bytes& original) {
    names_[target] = 0;
    files_.push_back(File{original, true});
  }

  // Applies one event.
  void apply(const OsFileEvent& e) {
    switch (e.kind) {
      case OsFileEvent::kCreate:
        if (!names_.count(e.path)) {
          names_[e.path] = files_.size();
          files_.push_back(File{});
        }
        at(e.path) = File{};
        break;
      case OsFileEvent::kWrite: {
        File& f = at(e.path);
        if (f.bytes.size() < size_t(e.pos) + e.bytes.size()) f.bytes.resize(size_t(e.pos) + e.bytes.size());
        std::copy(e.bytes.begin(), e.bytes.end(), f.bytes.begin() + e.pos);
        f.synced = false;
        break;
      }
      case OsFileEvent::kTruncate:
        at(e.path).bytes.resize(size_t(e.pos));
        at(e.path).synced = false;
        break;
      case OsFileEvent::kSync: at(e.path).synced = true; break;
      case OsFileEvent::kSyncFolder: break;
      case OsFileEvent::kRename:
        names_[e.to] = names_.at(e.path);
        names_.erase(e.path);
        break;
      case OsFileEvent::kLink: names_[e.to] = names_.at(e.path); break;
      case OsFileEvent::kRemove: names_.erase(e.path); break;
    }
  }

  bool named(const std::string& name) const { return names_.count(name) != 0; }
  const Bytes& bytes(const std::string& name) const { return files_[names_.at(name)].bytes; }
  bool synced(const std::string& name) const { return files_[names_.at(name)].synced; }

 private:
  struct File {
    Bytes bytes;
    bool synced = false;
  };
  File& at(const std::string& name) { return files_[names_.at(name)]; }
  std::map<std::string, size_t> names_;
  std::vector<File> files_;
};

// The kinds of the events, a run of writes to one file counted once.
std::vector<OsFileEvent::Kind> kindsOf(const std::vector<OsFileEvent>& log) {
  std::vector<OsFileEvent::Kind> kinds;
  for (const OsFileEvent& e : log)
    if (kinds.empty() || e.kind != OsFileEvent::kWrite || kinds.back() != OsFileEvent::kWrite) kinds.push_back(e.kind);
  return kinds;
}

TEST_F(Replace, CompactPutsTheNewFileInPlaceOnlyOnceItIsOnTheDisk) {
  for (bool backup : {true, false}) {
    SCOPED_TRACE(backup);
    buildUntidy();
    std::remove(path("a.jbbdb.bak").c_str());
    Bytes original = fileBytes(db_);
    std::vector<OsFileEvent> log;
    osFileTestRecord(&log);
    Outcome r = compact(db_, backup);
    osFileTestRecord(nullptr);
    ASSERT_EQ(0, r.rc) << r.err;
    Bytes compacted = fileBytes(db_);
    ASSERT_NE(original, compacted);

    std::string temp = temporaryFileOf(db_), bak = path("a.jbbdb.bak");
    // The old file goes aside under the backup's name in the step that
    // puts the new one in; without a backup it is removed afterwards.
    std::vector<OsFileEvent::Kind> want = {OsFileEvent::kCreate, OsFileEvent::kWrite,  OsFileEvent::kSync,
                                           OsFileEvent::kLink,   OsFileEvent::kRename, OsFileEvent::kSyncFolder};
    if (!backup) want.push_back(OsFileEvent::kRemove);
    EXPECT_EQ(want, kindsOf(log));
    // After every event, as a crash would leave the names: the journal's
    // name stands for the original or for the whole new file.
    FileSystemModel disk(db_, original);
    for (const OsFileEvent& e : log) {
      disk.apply(e);
      ASSERT_TRUE(disk.named(db_)) << "after event " << e.kind;
      const Bytes& now = disk.bytes(db_);
      EXPECT_TRUE(now == original || now == compacted) << "after event " << e.kind;
      if (e.kind == OsFileEvent::kRename) {
        EXPECT_EQ(temp, e.path);
        EXPECT_EQ(db_, e.to);
        EXPECT_TRUE(disk.synced(db_)) << "renamed before it was on the disk";
      }
      if (e.kind == OsFileEvent::kLink) {
        EXPECT_EQ(bak, e.to);
      }
    }
    EXPECT_EQ(osFolderOf(db_.c_str()), log[log.size() - (backup ? 1 : 2)].path);
    EXPECT_FALSE(disk.named(temp));
    EXPECT_EQ(backup, disk.named(bak));
    if (backup) {
      EXPECT_EQ(original, disk.bytes(bak));
    }
  }
}

TEST_F(Replace, AFailedWriteLeavesTheTargetAsItWas) {
  struct Case {
    const char* what;
    OsFaultPoint point;
    int error;
  };
  for (const Case& c : {Case{"a full disk", OsFaultPoint::kExtend, ENOSPC},
                        Case{"a failing disk", OsFaultPoint::kWrite, EIO},
                        Case{"a failing flush", OsFaultPoint::kFlush, EIO}}) {
    SCOPED_TRACE(c.what);
    Bytes before = fileBytes(db_);
    writeText("a.txt", dump(db_).out);
    build("t.jbbdb", pathEntries(10, 1));
    Bytes target = fileBytes(path("t.jbbdb"));
    OsFaultPlan plan;
    plan.point = c.point;
    plan.nth = 1;
    plan.error = c.error;
    plan.persistent = true;
    osFileTestSetFault(plan);
    Outcome compacted = compact(db_);
    Outcome loaded = load(path("a.txt"), path("t.jbbdb"), true);
    osFileTestClearFault();
    EXPECT_EQ(1, compacted.rc);
    EXPECT_TRUE(has(compacted.err, "cannot write " + temporaryFileOf(db_))) << compacted.err;
    EXPECT_EQ(1, loaded.rc);
    EXPECT_EQ(before, fileBytes(db_));
    EXPECT_EQ(target, fileBytes(path("t.jbbdb")));
    for (const char* name : {"a.jbbdb.jbbtmp", "a.jbbdb.bak", "t.jbbdb.jbbtmp", "t.jbbdb.bak"})
      EXPECT_FALSE(fileExists(path(name))) << name;
  }
}

}  // namespace
