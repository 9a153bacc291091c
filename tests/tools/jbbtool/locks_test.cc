// jbbtool beside other programs: every command is refused, changing
// nothing, while another program has the journal in a way that excludes it
// (a viewer's open, a change or a compact in progress); and a change that a
// crash cut off is only reported by the commands that read, which judge the
// file as it will be once recovered, while compact recovers it first.
#include <cerrno>
#include <functional>
#include <map>

#include "btree/format.h"
#include "btree/jbbtreev.h"
#include "btree/rollback.h"
#include "platform/osfile.h"
#include "tools/jbbtool/tool_fixture.h"

using namespace jbbbuilder;
using namespace tooltest;

namespace {

class Locks : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    db_ = path("a.jbbdb");
    build("a.jbbdb", pathEntries(300, 4), untidy());
    original_ = fileBytes(db_);
    writeText("a.txt", dump(db_).out);
    build("other.jbbdb", pathEntries(20, 9));
  }

  static DbSpec untidy() {
    DbSpec spec;
    spec.layout.freeSlots = 5;
    spec.layout.slack = 8;
    return spec;
  }

  Outcome stat(const std::string& file) {
    return run([&](const jbbtool::Streams& io) { return jbbtool::runStat(file, false, io); });
  }
  Outcome compact(const std::string& file, const std::string& out = "", bool force = false) {
    jbbtool::OutputOptions o;
    o.out = out;
    o.force = force;
    return run([&](const jbbtool::Streams& io) { return jbbtool::runCompact(file, o, io); });
  }

  // Runs the commands, and checks that each was refused as in use and
  // that the journal and its folder are as they were.
  void expectRefused(const std::vector<std::string>& which) {
    std::map<std::string, std::function<Outcome()>> commands = {
        {"verify", [&] { return verify(db_); }},
        {"stat", [&] { return stat(db_); }},
        {"dump", [&] { return dump(db_, jbbtool::DumpFormat::Csv); }},
        {"compact", [&] { return compact(db_); }},
        {"compact --out", [&] { return compact(db_, path("c.jbbdb")); }},
        {"salvage", [&] { return salvage(db_, path("s.jbbdb")); }},
        {"load --force", [&] { return load(path("a.txt"), db_, true); }},
        {"salvage --force", [&] { return salvageOver(path("other.jbbdb"), db_); }},
    };
    Bytes before = fileBytes(db_);
    for (const std::string& what : which) {
      SCOPED_TRACE(what);
      Outcome r = commands.at(what)();
      EXPECT_EQ(1, r.rc);
      EXPECT_EQ("jbbtool: " + db_ + " is in use by another program\n", r.err);
      EXPECT_EQ("", r.out);
    }
    EXPECT_EQ(before, fileBytes(db_));
    for (const char* name : {"a.jbbdb.bak", "a.jbbdb.jbbtmp", "c.jbbdb", "s.jbbdb", "a.jbbdb-rollback"})
      EXPECT_FALSE(fileExists(path(name))) << name;
  }

  std::string db_;
  Bytes original_;
};

const std::vector<std::string> kWriters = {"compact", "load --force", "salvage --force"};
const std::vector<std::string> kEveryCommand = {"verify",  "stat",         "dump",        "compact",
                                                "compact --out", "salvage", "load --force", "salvage --force"};

TEST_F(Locks, WritersRefuseAJournalAViewerHasOpenWhileReadersShareIt) {
  bTree viewer(32);
  ASSERT_EQ(0, viewer.openBtDb(db_.c_str(), false));
  expectRefused(kWriters);
  EXPECT_EQ(0, verify(db_).rc);
  EXPECT_EQ(0, dump(db_).rc);
  EXPECT_EQ(0, compact(db_, path("c.jbbdb")).rc) << "compact --out only reads FILE";
  viewer.closeBtDb();
  // Once the viewer is gone, the journal is anyone's again.
  Bytes closed = fileBytes(db_);
  Outcome r = compact(db_);
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_EQ(closed, fileBytes(path("a.jbbdb.bak")));
  EXPECT_EQ(0, verify(db_).rc);
}

TEST_F(Locks, EveryCommandRefusesAJournalBeingChanged) {
  {
    SCOPED_TRACE("a deletion in progress");
    bTree viewer(32);
    ASSERT_EQ(0, viewer.openBtDb(db_.c_str(), false));
    ASSERT_EQ(0, viewer.beginUpdate());
    expectRefused(kEveryCommand);
    viewer.endUpdate();
    viewer.closeBtDb();
  }
  {
    SCOPED_TRACE("a compact in progress");
    OsFile* compacting = osFileOpenLocked(db_.c_str(), OsFileMode::kUpdateReplaceable, OsLock::kExclusive);
    ASSERT_NE(nullptr, compacting);
    expectRefused(kEveryCommand);
    osFileClose(compacting);
  }
  EXPECT_EQ(0, verify(db_).rc);
}

// --- A change that a crash cut off -----------------------------------------

// Makes the first write of a change, then fails the second and, as a
// failing disk would, the writes that put the old bytes back: the rollback
// file stays beside the database with the change half made.
class CutOffWriter : public jbbrollback::Writer {
 public:
  bool write(OsFile* db, int64_t pos, const uint8_t* bytes, size_t n) override {
    if (calls_++ == 0) return osFileWrite(db, bytes, n, pos) == n;
    OsFaultPlan plan;
    plan.point = OsFaultPoint::kWrite;
    plan.nth = 1;
    plan.error = EIO;
    plan.persistent = true;
    osFileTestSetFault(plan);
    errno = EIO;
    return false;
  }

 private:
  int calls_ = 0;
};

class Pending : public Locks {
 protected:
  // A change that breaks the magic number and rewrites bytes of the first
  // record, cut off after its first write.
  void cutOffChange() {
    jbbrollback::Change change;
    const uint8_t magic[2] = {0x34, 0x12};
    change.write(jbbformat::kCrMagic, magic, 2);
    second_.assign(700, 0x5A);
    change.write(int64_t(jbbformat::kCtrlRecSize) + 100, second_.data(), second_.size());
    OsFile* f = osFileOpenLocked(db_.c_str(), OsFileMode::kUpdate, OsLock::kExclusive);
    ASSERT_NE(nullptr, f);
    CutOffWriter writer;
    jbbrollback::CommitResult result = jbbrollback::commit(f, change, writer);
    osFileTestClearFault();
    osFileClose(f);
    ASSERT_EQ(jbbrollback::CommitResult::kLeftPending, result);
    ASSERT_TRUE(fileExists(side()));
    ASSERT_NE(original_, fileBytes(db_));
  }
  // The rest of the change, as if only the removal of the rollback file
  // had been lost.
  void completeIt() { overwrite(int64_t(jbbformat::kCtrlRecSize) + 100, second_); }
  // Bytes that are neither the old nor the new ones, where the change wrote.
  void changeItSince() { overwrite(jbbformat::kCrMagic, {0x77, 0x77}); }

  void overwrite(int64_t pos, const Bytes& bytes) {
    OsFile* f = osFileOpen(db_.c_str(), OsFileMode::kUpdate);
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(bytes.size(), osFileWrite(f, bytes.data(), bytes.size(), pos));
    osFileClose(f);
  }

  std::string side() const { return jbbrollback::sideFileOf(db_.c_str()); }

  // Every read-only command: each says `note` once on standard error and
  // leaves the database and its rollback file byte for byte as they were.
  void expectReadersReport(const std::string& note) {
    Bytes db = fileBytes(db_), rollback = fileBytes(side());
    std::vector<std::pair<std::string, Outcome>> runs;
    runs.emplace_back("verify", verify(db_));
    runs.emplace_back("stat", stat(db_));
    runs.emplace_back("dump", dump(db_));
    runs.emplace_back("salvage", salvage(db_, path("s.jbbdb")));
    runs.emplace_back("compact --out", compact(db_, path("c.jbbdb")));
    for (auto& [what, r] : runs) {
      SCOPED_TRACE(what);
      const std::string said = "jbbtool: " + db_ + ": " + note;
      size_t at = r.err.find(said);
      EXPECT_NE(std::string::npos, at) << r.err;
      EXPECT_EQ(std::string::npos, r.err.find("interrupted change", at + said.size())) << "said once";
      outcomes_[what] = r;
    }
    EXPECT_EQ(db, fileBytes(db_));
    EXPECT_EQ(rollback, fileBytes(side()));
  }

  Bytes second_;
  std::map<std::string, Outcome> outcomes_;
};

TEST_F(Pending, ReadersSeeTheJournalAsItWillBeOnceTakenBack) {
  Outcome sound = dump(db_);
  cutOffChange();
  expectReadersReport(
      "an interrupted change is pending and is taken back the next time the journal is opened for a change; "
      "the file is read as it will be then\n");
  EXPECT_EQ(0, outcomes_["verify"].rc);
  EXPECT_TRUE(has(outcomes_["verify"].out, "a.jbbdb: sound, 300 entries")) << outcomes_["verify"].out;
  EXPECT_EQ(sound.out, outcomes_["dump"].out);
  EXPECT_EQ(0, outcomes_["salvage"].rc);
  EXPECT_EQ(300u, checkDatabase(path("s.jbbdb")).entryCount);
  EXPECT_EQ(0, outcomes_["compact --out"].rc);
  EXPECT_TRUE(checkDatabase(path("c.jbbdb")).ok());
  EXPECT_FALSE(fileExists(path("c.jbbdb-rollback")));
}

TEST_F(Pending, ReadersSeeACompleteChangeAsTheFileHoldsIt) {
  cutOffChange();
  completeIt();
  expectReadersReport(
      "an interrupted change is pending and is completed the next time the journal is opened for a change; "
      "the file holds all of it already\n");
  EXPECT_EQ(2, outcomes_["verify"].rc);  // the marked magic makes it no database
  EXPECT_TRUE(has(outcomes_["verify"].out, "magic is 0x1234")) << outcomes_["verify"].out;
}

TEST_F(Pending, ReadersSeeAJournalChangedSinceAsItIs) {
  cutOffChange();
  changeItSince();
  expectReadersReport(
      "an interrupted change is pending that cannot be taken back because the file was changed since (");
  EXPECT_EQ(2, outcomes_["verify"].rc);  // the marked magic makes it no database
  EXPECT_TRUE(has(outcomes_["verify"].out, "magic is 0x7777")) << outcomes_["verify"].out;
}

TEST_F(Pending, CompactTakesTheChangeBackFirst) {
  cutOffChange();
  Outcome r = compact(db_);
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_EQ("jbbtool: " + db_ + ": an interrupted change was taken back\n", r.err);
  EXPECT_FALSE(fileExists(side()));
  EXPECT_EQ(original_, fileBytes(path("a.jbbdb.bak")));
  CheckResult c = checkDatabase(db_);
  EXPECT_TRUE(c.ok()) << c.report();
  EXPECT_EQ(300u, c.entryCount);
}

TEST_F(Pending, CompactCompletesACompleteChangeFirst) {
  cutOffChange();
  completeIt();
  Bytes complete = fileBytes(db_);
  Outcome r = compact(db_);
  EXPECT_EQ(1, r.rc) << "the completed change broke the magic number";
  EXPECT_TRUE(has(r.err, "an interrupted change was completed")) << r.err;
  EXPECT_FALSE(fileExists(side()));
  EXPECT_EQ(complete, fileBytes(db_));
}

TEST_F(Pending, CompactRefusesAChangeThatCannotBeTakenBack) {
  cutOffChange();
  changeItSince();
  Bytes db = fileBytes(db_), rollback = fileBytes(side());
  Outcome r = compact(db_);
  EXPECT_EQ(1, r.rc);
  EXPECT_TRUE(has(r.err, "cannot be taken back")) << r.err;
  EXPECT_TRUE(has(r.err, "jbbtool salvage " + db_ + " --out NEW")) << r.err;
  EXPECT_EQ(db, fileBytes(db_));
  EXPECT_EQ(rollback, fileBytes(side()));
  EXPECT_FALSE(fileExists(path("a.jbbdb.bak")));
}

TEST_F(Pending, ReplacingATargetTakesItsChangeBackFirst) {
  build("t.jbbdb", pathEntries(40, 2));
  db_ = path("t.jbbdb");  // the pending change is the target's
  original_ = fileBytes(db_);
  cutOffChange();
  Outcome r = load(path("a.txt"), db_, true);
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_TRUE(has(r.err, "an interrupted change was taken back")) << r.err;
  EXPECT_TRUE(has(r.out, "; the replaced file is kept as " + db_ + ".bak\n")) << r.out;
  EXPECT_FALSE(fileExists(side()));
  EXPECT_EQ(original_, fileBytes(path("t.jbbdb.bak")));
  EXPECT_EQ(300u, checkDatabase(db_).entryCount);
}

TEST_F(Pending, ANewDatabaseIsNotPutBesideALeftoverRollbackFile) {
  writeText("n.jbbdb-rollback", "left from an earlier n.jbbdb");
  std::vector<Outcome> runs = {compact(db_, path("n.jbbdb")), load(path("a.txt"), path("n.jbbdb")),
                               salvage(db_, path("n.jbbdb"))};
  for (const Outcome& r : runs) {
    EXPECT_EQ(1, r.rc);
    EXPECT_TRUE(has(r.err, "n.jbbdb-rollback is left from an earlier database of that name")) << r.err;
  }
  EXPECT_FALSE(fileExists(path("n.jbbdb")));
  EXPECT_FALSE(fileExists(path("n.jbbdb.jbbtmp")));
  EXPECT_EQ("left from an earlier n.jbbdb", slurp(path("n.jbbdb-rollback")));
}

}  // namespace
