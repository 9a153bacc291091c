// The rollback file on its own: what a commit writes and syncs, and how a
// rollback file found beside a database is judged and acted on.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "btree/rollback.h"
#include "crashstate.h"
#include "platform/osfile.h"
#include "platform/osfs.h"
#include "tree_fixture.h"

namespace {

using crashtest::Bytes;
using jbbrollback::Change;
using jbbrollback::CommitResult;
using jbbrollback::Pending;

// Writes through the file layer, failing from the `failAt`-th write on.
class CountingWriter : public jbbrollback::Writer {
 public:
  bool write(OsFile* db, int64_t pos, const uint8_t* bytes, size_t n) override {
    if (failAt != 0 && ++count >= failAt) {
      errno = EIO;
      return false;
    }
    return osFileWrite(db, bytes, n, pos) == n;
  }
  size_t failAt = 0, count = 0;
};

class RollbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = keytest::tempPath("db");
    side = jbbrollback::sideFileOf(path.c_str());
    original.resize(5000);
    for (size_t i = 0; i < original.size(); ++i) original[i] = uint8_t(i * 13 + 5);
    crashtest::putFiles({{path, original}}, {path, side});
  }
  void TearDown() override {
    closeDb();
    osFileTestRecord(nullptr);
    osFileTestClearFault();
    std::remove(path.c_str());
    std::remove(side.c_str());
  }
  OsFile* openDb() {
    db = osFileOpenLocked(path.c_str(), OsFileMode::kUpdate, OsLock::kExclusive);
    EXPECT_NE(db, nullptr);
    return db;
  }
  void closeDb() {
    osFileClose(db);
    db = nullptr;
  }
  // A change that rewrites bytes in the middle, appends, and rewrites the
  // start: three regions, one past the old end.
  static Change sampleChange() {
    Change c;
    c.write(1000, Bytes(700, 0xAA).data(), 700);
    c.write(5000, Bytes(300, 0xBB).data(), 300);
    c.write(0, Bytes(40, 0xCC).data(), 40);
    return c;
  }
  static Bytes applied(Bytes b, const Change& c) {
    for (const Change::Write& w : c.writes) {
      if (b.size() < w.pos + w.bytes.size()) b.resize(w.pos + w.bytes.size());
      std::copy(w.bytes.begin(), w.bytes.end(), b.begin() + w.pos);
    }
    if (c.cutTo >= 0) b.resize(size_t(c.cutTo));
    return b;
  }
  // Opens the database and commits c with every call recorded into *log.
  CommitResult recordedCommit(const Change& c, CountingWriter& w, std::vector<OsFileEvent>* log) {
    openDb();
    osFileTestRecord(log);
    CommitResult result = jbbrollback::commit(db, c, w);
    osFileTestRecord(nullptr);
    return result;
  }
  // Leaves a change cut off after its rollback file and `writes` of its
  // writes and cuts: the state a crash leaves.
  void leaveCutOff(const Change& c, size_t writes) {
    crashtest::Recording rec;
    rec.start({path, side});
    CountingWriter w;
    openDb();
    ASSERT_EQ(jbbrollback::commit(db, c, w), CommitResult::kDone);
    closeDb();
    rec.stop();
    size_t n = 0, seen = 0;
    for (; n < rec.size(); ++n) {
      const OsFileEvent& e = rec.events()[n];
      bool change = e.kind == OsFileEvent::kWrite || e.kind == OsFileEvent::kTruncate;
      if (change && e.path == path && seen++ == writes) break;
      if (e.kind == OsFileEvent::kRemove) break;  // every write made, the rollback file still there
    }
    crashtest::putFiles(rec.crashAfter(n), {path, side});
  }

  std::string path, side;
  Bytes original;
  OsFile* db = nullptr;
};

// A change makes its writes, syncs three times (the rollback file, its
// folder, the database) and removes its rollback file.
TEST_F(RollbackTest, CommitWritesSyncsAndRemovesItsRollbackFile) {
  Change c = sampleChange();
  std::vector<OsFileEvent> log;
  CountingWriter w;
  EXPECT_EQ(recordedCommit(c, w, &log), CommitResult::kDone);
  closeDb();
  EXPECT_EQ(crashtest::readWhole(path), applied(original, c));
  EXPECT_FALSE(std::filesystem::exists(side));
  std::vector<OsFileEvent::Kind> kinds;
  int syncs = 0;
  for (const OsFileEvent& e : log) {
    if (e.kind == OsFileEvent::kSync || e.kind == OsFileEvent::kSyncFolder) ++syncs;
    if (e.path != path || e.kind != OsFileEvent::kWrite) kinds.push_back(e.kind);
  }
  EXPECT_EQ(syncs, 3);
  std::vector<OsFileEvent::Kind> expected = {OsFileEvent::kCreate, OsFileEvent::kWrite, OsFileEvent::kSync,
                                             OsFileEvent::kSyncFolder, OsFileEvent::kSync, OsFileEvent::kRemove};
  EXPECT_EQ(kinds, expected);
  // The database is touched only after the rollback file's folder sync.
  size_t folderSync = 0, firstDbWrite = 0;
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].kind == OsFileEvent::kSyncFolder && folderSync == 0) folderSync = i;
    if (log[i].kind == OsFileEvent::kWrite && log[i].path == path && firstDbWrite == 0) firstDbWrite = i;
  }
  EXPECT_LT(folderSync, firstDbWrite);
}

// Writes that find their bytes already there are left out; a change left
// with nothing to do touches nothing at all.
TEST_F(RollbackTest, ChangeOfNothingTouchesNothing) {
  Change c;
  c.write(100, original.data() + 100, 900);
  c.write(0, original.data(), 2088);
  c.cut(int64_t(original.size()));
  std::vector<OsFileEvent> log;
  CountingWriter w;
  EXPECT_EQ(recordedCommit(c, w, &log), CommitResult::kDone);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(w.count, 0u);
}

// A write that fails takes the whole change back: the database is as it
// was and no rollback file is left.  When putting the old bytes back fails
// too, the rollback file stays, and recovery later puts them back.
TEST_F(RollbackTest, FailedWriteTakesTheChangeBack) {
  Change c = sampleChange();
  openDb();
  CountingWriter w;
  w.failAt = 2;
  EXPECT_EQ(jbbrollback::commit(db, c, w), CommitResult::kRestored);
  closeDb();
  EXPECT_EQ(crashtest::readWhole(path), original);
  EXPECT_FALSE(std::filesystem::exists(side));

  openDb();
  CountingWriter w2;
  w2.failAt = 3;
  osFileTestSetFault({OsFaultPoint::kWrite, 4, EIO, true});  // the side file and two writes, then nothing
  EXPECT_EQ(jbbrollback::commit(db, c, w2), CommitResult::kLeftPending);
  osFileTestClearFault();
  EXPECT_TRUE(std::filesystem::exists(side));
  Pending p = jbbrollback::inspect(db);
  EXPECT_EQ(p.state, Pending::kRollBack);
  EXPECT_TRUE(jbbrollback::recover(db, p));
  closeDb();
  EXPECT_EQ(crashtest::readWhole(path), original);
  EXPECT_FALSE(std::filesystem::exists(side));
}

// A change cut off part way is taken back; one whose writes all arrived is
// complete; either way the rollback file goes, and applyTo shows a reader
// the same database recovery makes.
TEST_F(RollbackTest, CutOffChangeIsTakenBackOrFoundComplete) {
  Change c = sampleChange();
  for (size_t writes = 0; writes <= c.writes.size(); ++writes) {
    SCOPED_TRACE(writes);
    crashtest::putFiles({{path, original}}, {path, side});
    leaveCutOff(c, writes);
    ASSERT_TRUE(std::filesystem::exists(side));
    Bytes onDisk = crashtest::readWhole(path);
    openDb();
    Pending p = jbbrollback::inspect(db);
    EXPECT_EQ(p.state, writes == c.writes.size() ? Pending::kComplete : Pending::kRollBack);
    Bytes shown = onDisk;
    jbbrollback::applyTo(p, &shown);
    EXPECT_TRUE(jbbrollback::recover(db, p));
    closeDb();
    Bytes now = crashtest::readWhole(path);
    EXPECT_EQ(now, writes == c.writes.size() ? applied(original, c) : original);
    EXPECT_EQ(now, shown);
    EXPECT_FALSE(std::filesystem::exists(side));
  }
}

// A sector that holds neither its old nor its new bytes was written by
// someone else since: recovery refuses and touches nothing.  So does a
// database grown past anything the change could have made.
TEST_F(RollbackTest, DatabaseChangedSinceIsAConflict) {
  Change c = sampleChange();
  leaveCutOff(c, 1);
  Bytes cut = crashtest::readWhole(path);
  Bytes sideBytes = crashtest::readWhole(side);
  Bytes other = cut;
  other[10] ^= 0xFF;  // inside the first region, which the change had not reached
  crashtest::putFiles({{path, other}, {side, sideBytes}}, {path, side});
  openDb();
  Pending p = jbbrollback::inspect(db);
  EXPECT_EQ(p.state, Pending::kConflict);
  EXPECT_NE(p.why.find("changed since"), std::string::npos) << p.why;
  errno = 0;
  EXPECT_FALSE(jbbrollback::recover(db, p));
  closeDb();
  EXPECT_EQ(crashtest::readWhole(path), other);
  EXPECT_EQ(crashtest::readWhole(side), sideBytes);

  Bytes longer = cut;
  longer.resize(cut.size() + 4096, 7);
  crashtest::putFiles({{path, longer}, {side, sideBytes}}, {path, side});
  openDb();
  EXPECT_EQ(jbbrollback::inspect(db).state, Pending::kConflict);
  closeDb();
}

// A rollback file cut short or torn was never used (the database is touched
// only after it is whole on the disk): it is only removed.
TEST_F(RollbackTest, IncompleteRollbackFileWasNeverUsed) {
  Change c = sampleChange();
  leaveCutOff(c, 0);
  Bytes sideBytes = crashtest::readWhole(side);
  for (size_t cutAt : {size_t(0), size_t(10), size_t(64), sideBytes.size() / 2, sideBytes.size() - 1}) {
    SCOPED_TRACE(cutAt);
    Bytes part(sideBytes.begin(), sideBytes.begin() + long(cutAt));
    crashtest::putFiles({{path, original}, {side, part}}, {path, side});
    openDb();
    Pending p = jbbrollback::inspect(db);
    EXPECT_EQ(p.state, Pending::kNone);
    EXPECT_TRUE(p.sideFile);
    EXPECT_TRUE(jbbrollback::recover(db, p));
    closeDb();
    EXPECT_FALSE(std::filesystem::exists(side));
    EXPECT_EQ(crashtest::readWhole(path), original);
  }
  Bytes torn = sideBytes;
  torn[700] ^= 1;
  crashtest::putFiles({{path, original}, {side, torn}}, {path, side});
  openDb();
  EXPECT_EQ(jbbrollback::inspect(db).state, Pending::kNone);
  closeDb();
}

// A change that cuts the file keeps the bytes it cuts off: taken back, the
// file has its length and its bytes again.
TEST_F(RollbackTest, CutFileIsPutBackWhole) {
  Change c;
  c.write(0, Bytes(100, 0x11).data(), 100);
  c.cut(2160);
  leaveCutOff(c, 1);  // the write made, the cut not yet
  ASSERT_TRUE(std::filesystem::exists(side));
  {
    Bytes now = crashtest::readWhole(path);
    now.resize(3000);  // as if the cut had reached the disk, half way
    crashtest::putFiles({{path, now}, {side, crashtest::readWhole(side)}}, {path, side});
  }
  openDb();
  Pending p = jbbrollback::inspect(db);
  ASSERT_EQ(p.state, Pending::kRollBack) << p.why;
  EXPECT_TRUE(jbbrollback::recover(db, p));
  closeDb();
  EXPECT_EQ(crashtest::readWhole(path), original);
}

}  // namespace
