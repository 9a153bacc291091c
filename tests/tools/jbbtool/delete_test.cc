// jbbtool delete: the tree it leaves is the one the viewer's Del requests
// leave for the same keys in the same order; what a dry run lists and that
// it changes nothing; what it refuses (usage errors, a damaged file, a
// journal another program has open) without changing a byte; its backup;
// and that a crash or a failed write mid-run leaves the journal as it was
// before or after one of its transactions.
#include <cerrno>
#include <filesystem>

#include "btree/jbbtreev.h"
#include "btree/rollback.h"
#include "crashstate.h"
#include "platform/osfile.h"
#include "tools/jbbtool/tool_fixture.h"

using namespace jbbbuilder;
using namespace tooltest;

namespace {

class Delete : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    db_ = path("j.jbbdb");
    entries_ = pathEntries(400, 11);
    DbSpec spec;
    spec.layout.freeSlots = 4;
    spec.layout.slack = 6;
    build("j.jbbdb", entries_, spec, 6);
    original_ = fileBytes(db_);
    for (const Entry& e : entries_) keys_.push_back(e.key);
  }

  static std::string utf8(const Key& k) { return keyToUtf8(k); }

  // Every seventh key from `start`, in an order that is not the key order.
  std::vector<Key> someKeys(size_t start, size_t n) const {
    std::vector<Key> out;
    for (size_t i = 0; i < n; ++i) out.push_back(keys_[(start + i * 37) % keys_.size()]);
    return out;
  }

  // The viewer's way: one Del request a key, each its own change.
  Bytes viewerDeletes(const std::vector<Key>& keys, const Bytes& from) {
    std::string ref = path("viewer.jbbdb");
    writeBytes("viewer.jbbdb", from);
    bTree t(32);
    EXPECT_EQ(0, t.openBtDb(ref.c_str(), false));
    for (const Key& k : keys) {
      EXPECT_EQ(0, t.beginUpdate());
      if (t.Delete(k.c_str()) == 0) {
        EXPECT_EQ(0, t.syncToDisk());
      }
      t.endUpdate();
    }
    t.settleChanges();
    t.closeBtDb();
    return fileBytes(ref);
  }

  Outcome del(jbbtool::DeleteOptions o, const std::string& file = "") {
    return run([&](const jbbtool::Streams& io) { return jbbtool::runDelete(file.empty() ? db_ : file, o, io); });
  }
  static jbbtool::DeleteOptions keyArgs(const std::vector<Key>& keys, size_t batch = 1000) {
    jbbtool::DeleteOptions o;
    for (const Key& k : keys) o.keys.push_back(utf8(k));
    o.batch = batch;
    return o;
  }

  // Node for node: the same subscripts, each with the same keys and
  // children, and the same entries with their data.
  static void expectSameTree(const Bytes& want, const Bytes& got) {
    CheckResult a = checkImage(want, CheckOptions(32)), b = checkImage(got, CheckOptions(32));
    ASSERT_TRUE(a.ok()) << a.report();
    ASSERT_TRUE(b.ok()) << b.report();
    EXPECT_EQ(a.dump, b.dump);
    ASSERT_EQ(a.nodes.size(), b.nodes.size());
    for (size_t i = 0; i < a.nodes.size(); ++i) {
      EXPECT_EQ(a.nodes[i].subscript, b.nodes[i].subscript) << "node " << i;
      EXPECT_EQ(a.nodes[i].keys, b.nodes[i].keys) << "node " << i;
      EXPECT_EQ(a.nodes[i].children, b.nodes[i].children) << "node " << i;
    }
    ASSERT_EQ(a.entries.size(), b.entries.size());
    for (size_t i = 0; i < a.entries.size(); ++i) {
      EXPECT_EQ(a.entries[i].key, b.entries[i].key);
      EXPECT_EQ(a.entries[i].data, b.entries[i].data);
    }
  }

  std::string side() const { return jbbrollback::sideFileOf(db_.c_str()); }

  std::string db_;
  std::vector<Entry> entries_;
  std::vector<Key> keys_;
  Bytes original_;
};

// --- The same tree as the viewer's -------------------------------------------

TEST_F(Delete, OneKeyATransactionGivesTheViewersFileByteForByte) {
  std::vector<Key> keys = someKeys(3, 60);
  Bytes want = viewerDeletes(keys, original_);
  Outcome r = del(keyArgs(keys, 1));
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_EQ(db_ + ": 60 deleted, 0 not found, 0 failed\n", r.out);
  EXPECT_EQ("", r.err);
  EXPECT_EQ(want, fileBytes(db_));
  EXPECT_FALSE(fileExists(side()));
}

TEST_F(Delete, BatchesLeaveTheViewersTreeNodeForNode) {
  // Enough keys that nodes merge and the root's children change.
  std::vector<Key> keys = someKeys(5, 250);
  Bytes want = viewerDeletes(keys, original_);
  for (size_t batch : {size_t(1000), size_t(7)}) {
    SCOPED_TRACE(batch);
    writeBytes("j.jbbdb", original_);
    Outcome r = del(keyArgs(keys, batch));
    ASSERT_EQ(0, r.rc) << r.err;
    expectSameTree(want, fileBytes(db_));
    EXPECT_EQ(0, verify(db_).rc);
  }
}

TEST_F(Delete, KeysFromAListOrStandardInputWithEitherLineEnd) {
  std::vector<Key> keys = someKeys(9, 40);
  Bytes want = viewerDeletes(keys, original_);
  std::string lf, crlf;
  for (const Key& k : keys) {
    lf += utf8(k) + "\n";
    crlf += utf8(k) + "\r\n";
  }
  lf.pop_back();  // the last line may lack its end
  crlf.insert(0, "\r\n");  // blank lines are no keys, and are passed over
  crlf += "\r\n\n";
  writeText("lf.txt", lf);
  writeText("crlf.txt", "\xEF\xBB\xBF" + crlf);
  for (const char* list : {"lf.txt", "crlf.txt", "-"}) {
    SCOPED_TRACE(list);
    writeBytes("j.jbbdb", original_);
    jbbtool::DeleteOptions o;
    o.batch = 9;
    o.keysFrom = list[0] == '-' ? "-" : path(list);
    FILE* in = std::fopen(path("crlf.txt").c_str(), "rb");
    o.input = in;
    Outcome r = del(o);
    std::fclose(in);
    ASSERT_EQ(0, r.rc) << r.err;
    EXPECT_EQ(db_ + ": 40 deleted, 0 not found, 0 failed\n", r.out);
    expectSameTree(want, fileBytes(db_));
  }
}

TEST_F(Delete, PrefixDeletesEveryKeyThatStartsWithItInKeyOrder) {
  // Keys run in key order in entries_; those below one folder are a range.
  const Key prefix = keys_[120].substr(0, keys_[120].find(u'/', 7) + 1);
  std::vector<Key> matching;
  for (const Key& k : keys_)
    if (k.compare(0, prefix.size(), prefix) == 0) matching.push_back(k);
  ASSERT_GT(matching.size(), 20u);
  ASSERT_LT(matching.size(), keys_.size());
  Bytes want = viewerDeletes(matching, original_);

  jbbtool::DeleteOptions o;
  o.byPrefix = true;
  o.prefix = utf8(prefix);
  o.batch = 6;
  o.dryRun = true;
  Outcome dry = del(o);
  ASSERT_EQ(0, dry.rc) << dry.err;
  std::string listed;
  for (const Key& k : matching) listed += "\"" + utf8(k) + "\"\n";
  EXPECT_EQ(listed + db_ + ": " + std::to_string(matching.size()) +
                " would be deleted, 0 not found, 0 failed (dry run: nothing was changed)\n",
            dry.out);
  EXPECT_EQ(original_, fileBytes(db_));

  o.dryRun = false;
  Outcome r = del(o);
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_EQ(db_ + ": " + std::to_string(matching.size()) + " deleted, 0 not found, 0 failed\n", r.out);
  expectSameTree(want, fileBytes(db_));
  // Nothing is left to match.
  Outcome again = del(o);
  EXPECT_EQ(0, again.rc);
  EXPECT_EQ(db_ + ": 0 deleted, 0 not found, 0 failed\n", again.out);
}

TEST_F(Delete, EveryKeyDeletedLeavesAnEmptySoundJournal) {
  jbbtool::DeleteOptions o;
  o.byPrefix = true;
  o.prefix = "/";
  o.batch = 150;
  Outcome r = del(o);
  ASSERT_EQ(0, r.rc) << r.err;
  expectSameTree(viewerDeletes(keys_, original_), fileBytes(db_));
  EXPECT_TRUE(has(verify(db_).out, "sound, 0 entries"));
}

// --- Keys not found ---------------------------------------------------------

TEST_F(Delete, KeysNotFoundAndRepeatedAreNamedAndGiveExitOne) {
  std::vector<Key> keys = {keys_[10], u"/nowhere/\u00e9t\u00e9\"x\"", keys_[20], keys_[10]};
  Bytes want = viewerDeletes(keys, original_);
  jbbtool::DeleteOptions o = keyArgs(keys);
  o.dryRun = true;
  Outcome dry = del(o);
  EXPECT_EQ(1, dry.rc);
  EXPECT_EQ("\"" + utf8(keys_[10]) + "\"\n\"" + utf8(keys_[20]) + "\"\n" + db_ +
                ": 2 would be deleted, 2 not found, 0 failed (dry run: nothing was changed)\n",
            dry.out);
  const std::string notFound = "jbbtool: key not found: \"/nowhere/\u00e9t\u00e9\\\"x\\\"\"\njbbtool: key not found: \"" +
                               utf8(keys_[10]) + "\"\n";
  EXPECT_EQ(notFound, dry.err);

  Outcome r = del(keyArgs(keys));
  EXPECT_EQ(1, r.rc);
  EXPECT_EQ(db_ + ": 2 deleted, 2 not found, 0 failed\n", r.out);
  EXPECT_EQ(notFound, r.err);
  EXPECT_EQ(want, fileBytes(db_)) << "one transaction of two deletions writes what two Del requests write";
}

// --- Changing nothing -------------------------------------------------------

TEST_F(Delete, DryRunChangesNeitherBytesNorTime) {
  auto before = std::filesystem::last_write_time(db_);
  jbbtool::DeleteOptions o = keyArgs(someKeys(0, 30));
  o.dryRun = true;
  // A dry run only reads: it runs beside a viewer that has the journal open.
  bTree viewer(32);
  ASSERT_EQ(0, viewer.openBtDb(db_.c_str(), false));
  Outcome r = del(o);
  viewer.closeBtDb();
  EXPECT_EQ(0, r.rc) << r.err;
  EXPECT_TRUE(has(r.out, ": 30 would be deleted, 0 not found, 0 failed (dry run: nothing was changed)\n"));
  EXPECT_EQ(original_, fileBytes(db_));
  EXPECT_EQ(before, std::filesystem::last_write_time(db_));
  EXPECT_FALSE(fileExists(side()));
}

TEST_F(Delete, UsageErrorsChangeNothing) {
  struct Case {
    const char* what;
    jbbtool::DeleteOptions options;
    std::string list;  // written to list.txt and named by keysFrom when set
    std::string said;
  };
  std::vector<Case> cases(7);
  cases[0] = {"no keys", {}, "", "give the keys to delete one way"};
  cases[1].what = "keys and a prefix";
  cases[1].options = keyArgs({keys_[0]});
  cases[1].options.byPrefix = true;
  cases[1].options.prefix = "/home";
  cases[1].said = "give the keys to delete one way";
  cases[2] = {"an empty key", keyArgs({keys_[0], u""}), "", "KEY 2: an empty key"};
  cases[3] = {"invalid UTF-8", {}, "", "KEY 1: "};
  cases[3].options.keys = {"/home/\xC3("};
  cases[4] = {"a line not UTF-8", {}, utf8(keys_[0]) + "\r\n\r\n/\xC3(\n", "list.txt, line 3: "};
  cases[5] = {"a zero character", {}, utf8(keys_[0]) + "\n/a" + std::string(1, '\0') + "b\n", "list.txt, line 2: "};
  cases[6] = {"an empty prefix", {}, "", "--prefix: an empty key"};
  cases[6].options.byPrefix = true;
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.list.empty()) {
      writeText("list.txt", c.list);
      c.options.keysFrom = path("list.txt");
    }
    Outcome r = del(c.options);
    EXPECT_EQ(2, r.rc);
    EXPECT_TRUE(has(r.err, c.said)) << r.err;
    EXPECT_EQ("", r.out);
    EXPECT_EQ(original_, fileBytes(db_));
  }
}

TEST_F(Delete, ADamagedJournalIsRefusedAsItIs) {
  for (Damage kind : allDamageKinds()) {
    if (kind == Damage::LastSlotBeyondFile) continue;  // sound to the engine and to verify
    SCOPED_TRACE(damageName(kind));
    DbSpec spec;
    spec.damage = kind;
    build("bad.jbbdb", pathEntries(400, 3), spec, 5);
    Bytes before = fileBytes(path("bad.jbbdb"));
    jbbtool::DeleteOptions o = keyArgs({keys_[1]});
    o.backup = true;
    Outcome r = del(o, path("bad.jbbdb"));
    EXPECT_EQ(1, r.rc) << r.err;
    EXPECT_TRUE(has(r.err, "has problems (verify lists them); nothing was deleted")) << r.err;
    EXPECT_EQ(before, fileBytes(path("bad.jbbdb")));
    EXPECT_FALSE(fileExists(path("bad.jbbdb.bak")));
    EXPECT_FALSE(fileExists(path("bad.jbbdb-rollback")));
  }
}

TEST_F(Delete, RefusedAtOnceWhileAnotherProgramHasTheJournalOpen) {
  jbbtool::DeleteOptions o = keyArgs(someKeys(1, 5));
  o.backup = true;
  auto expectRefused = [&] {
    Outcome r = del(o);
    EXPECT_EQ(1, r.rc);
    EXPECT_EQ("jbbtool: " + db_ + " is in use by another program\n", r.err);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(original_, fileBytes(db_));
    EXPECT_FALSE(fileExists(db_ + ".bak"));
  };
  {
    SCOPED_TRACE("a viewer session");
    bTree viewer(32);
    ASSERT_EQ(0, viewer.openBtDb(db_.c_str(), false));
    expectRefused();
    viewer.closeBtDb();
  }
  {
    SCOPED_TRACE("a change in progress");
    bTree viewer(32);
    ASSERT_EQ(0, viewer.openBtDb(db_.c_str(), false));
    ASSERT_EQ(0, viewer.beginUpdate());
    expectRefused();
    o.dryRun = true;
    EXPECT_EQ(1, del(o).rc) << "not even read while it changes";
    o.dryRun = false;
    viewer.endUpdate();
    viewer.closeBtDb();
  }
  EXPECT_EQ(0, del(o).rc) << "once alone";
}

// --- Backup -----------------------------------------------------------------

TEST_F(Delete, BackupKeepsTheFileAsItWasUnderTheFirstFreeName) {
  jbbtool::DeleteOptions o = keyArgs(someKeys(2, 10));
  o.backup = true;
  Outcome r = del(o);
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_EQ(db_ + ": a copy is kept as " + db_ + ".bak\n" + db_ + ": 10 deleted, 0 not found, 0 failed\n", r.out);
  EXPECT_EQ(original_, fileBytes(db_ + ".bak"));
  Bytes once = fileBytes(db_);
  r = del(keyArgs(someKeys(100, 10)), "");
  ASSERT_EQ(0, r.rc);
  o = keyArgs(someKeys(200, 3));
  o.backup = true;
  Bytes twice = fileBytes(db_);
  r = del(o);
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_TRUE(has(r.out, "a copy is kept as " + db_ + ".1.bak\n"));
  EXPECT_EQ(original_, fileBytes(db_ + ".bak")) << "an older backup is never replaced";
  EXPECT_EQ(twice, fileBytes(db_ + ".1.bak"));
  EXPECT_NE(once, twice);
  EXPECT_FALSE(fileExists(db_ + ".jbbtmp"));
}

// --- Transactions -----------------------------------------------------------

class DeleteTransactions : public Delete {
 protected:
  // The file after the first `batches` transactions of 4 keys each.
  Bytes afterBatches(const std::vector<Key>& keys, size_t batches) {
    if (batches == 0) return original_;
    std::vector<Key> first(keys.begin(), keys.begin() + std::min(keys.size(), 4 * batches));
    writeBytes("j.jbbdb", original_);
    EXPECT_EQ(0, del(keyArgs(first, 4)).rc);
    Bytes b = fileBytes(db_);
    writeBytes("j.jbbdb", original_);
    return b;
  }
};

TEST_F(DeleteTransactions, AFailedWriteKeepsTheTransactionsBeforeIt) {
  std::vector<Key> keys = someKeys(4, 12);
  Bytes one = afterBatches(keys, 1);
  // The writes of the first transaction, counted.
  osFileTestSetFault(OsFaultPlan());
  afterBatches(keys, 1);
  uint64_t firstWrites = osFileTestCounts().writes;
  writeBytes("j.jbbdb", original_);
  ASSERT_GT(firstWrites, 0u);

  OsFaultPlan plan;
  plan.point = OsFaultPoint::kWrite;
  plan.nth = firstWrites + 2;  // inside the second transaction
  plan.error = ENOSPC;
  osFileTestSetFault(plan);
  Outcome r = del(keyArgs(keys, 4));
  osFileTestClearFault();
  EXPECT_EQ(1, r.rc);
  EXPECT_EQ(db_ + ": 4 deleted, 0 not found, 8 failed\n", r.out);
  EXPECT_TRUE(has(r.err, "writing the change failed")) << r.err;
  EXPECT_EQ(one, fileBytes(db_));
  EXPECT_FALSE(fileExists(side()));
}

TEST_F(DeleteTransactions, ACrashLeavesTheJournalBeforeOrAfterATransaction) {
  std::vector<Key> keys = someKeys(6, 12);
  std::vector<Bytes> states;
  for (size_t b = 0; b <= 3; ++b) states.push_back(afterBatches(keys, b));
  crashtest::Recording rec;
  const std::vector<std::string> names = {db_, side()};
  rec.start(names);
  Outcome r = del(keyArgs(keys, 4));
  rec.stop();
  ASSERT_EQ(0, r.rc) << r.err;
  ASSERT_EQ(states.back(), fileBytes(db_));

  size_t checked = 0, failures = 0;
  auto check = [&](const crashtest::Files& files, size_t n, const char* what) {
    crashtest::putFiles(files, names);
    {
      bTree t(32);
      ASSERT_EQ(0, t.openBtDb(db_.c_str(), false)) << what << " after call " << n;
      t.closeBtDb();
    }
    Bytes now = fileBytes(db_);
    bool known = false;
    for (const Bytes& s : states) known = known || s == now;
    EXPECT_TRUE(known) << what << " after call " << n << ": not the state before or after a transaction";
    EXPECT_FALSE(fileExists(side()));
    if (!known) ++failures;
    ++checked;
  };
  for (size_t n = 0; n <= rec.size() && failures < 3; ++n) {
    check(rec.crashAfter(n), n, "crash");
    for (const crashtest::Files& f : rec.tornAt(n)) check(f, n, "torn write");
  }
  for (size_t n : rec.syncEpochEnds())
    for (const crashtest::Files& f : rec.powerLossesAfter(n, 7)) check(f, n, "power loss");
  EXPECT_GT(checked, 3 * 3u);
}

}  // namespace
