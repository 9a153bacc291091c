// load and salvage sort what they read in bounded memory: through many
// small runs they write the same files and say the same as through one,
// fail on equal keys as before, and leave no run or temporary file behind,
// also when a run file cannot be written.
#include <algorithm>
#include <cerrno>
#include <set>

#include "jbbtool/textdump.h"
#include "platform/osfile.h"
#include "tools/jbbtool/tool_fixture.h"

using namespace jbbbuilder;
using namespace tooltest;

namespace {

constexpr size_t kSmallRuns = 4096;  // some 25 entries a run

class Streaming : public ToolTest {
 protected:
  Outcome loadWith(const std::string& dumpFile, const std::string& out, size_t runBytes, bool force = false) {
    jbbtool::OutputOptions o;
    o.out = out;
    o.force = force;
    o.sortRunBytes = runBytes;
    return run([&](const jbbtool::Streams& io) { return jbbtool::runLoad(dumpFile, o, io); });
  }
  Outcome salvageWith(const std::string& file, const std::string& out, size_t runBytes) {
    jbbtool::OutputOptions o;
    o.out = out;
    o.sortRunBytes = runBytes;
    return run([&](const jbbtool::Streams& io) { return jbbtool::runSalvage(file, o, io); });
  }

  // The folder's files but the captured output.
  std::set<std::string> files() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) names.insert(e.path().filename().string());
    names.erase("stdout.txt");
    names.erase("stderr.txt");
    return names;
  }

  // The dump of a.jbbdb with its entry lines shuffled (and `extra` lines
  // added), written to name.
  std::string shuffledDump(const std::string& name, const std::vector<std::string>& extra = {}) {
    std::string text = dump(path("a.jbbdb")).out;
    size_t start = text.find("\nentries\n") + 9, end = text.rfind("end ");
    std::vector<std::string> rows;
    for (size_t at = start; at < end;) {
      size_t eol = text.find('\n', at) + 1;
      rows.push_back(text.substr(at, eol - at));
      at = eol;
    }
    rows.insert(rows.end(), extra.begin(), extra.end());
    Rng rng(17);
    for (size_t i = rows.size(); i > 1; --i) std::swap(rows[i - 1], rows[rng.below(i)]);
    std::string shuffled = text.substr(0, start);
    for (const std::string& r : rows) shuffled += r;
    shuffled += "end " + std::to_string(rows.size()) + "\n";
    writeText(name, shuffled);
    return text;
  }
};

TEST_F(Streaming, AnUnorderedDumpLoadsThroughManyRunsAsThroughOne) {
  build("a.jbbdb", pathEntries(3000, 5, true));
  std::string original = shuffledDump("u.txt");
  Outcome many = loadWith(path("u.txt"), path("b.jbbdb"), kSmallRuns);
  ASSERT_EQ(0, many.rc) << many.err;
  Outcome one = loadWith(path("u.txt"), path("c.jbbdb"), 0);
  ASSERT_EQ(0, one.rc) << one.err;
  EXPECT_EQ(fileBytes(path("b.jbbdb")), fileBytes(path("c.jbbdb")));
  EXPECT_EQ(original, dump(path("b.jbbdb")).out);
  EXPECT_TRUE(has(many.out, "3000 entries loaded")) << many.out;
  EXPECT_EQ((std::set<std::string>{"a.jbbdb", "b.jbbdb", "c.jbbdb", "u.txt"}), files());
}

TEST_F(Streaming, EqualKeysInAnUnorderedDumpFailNamingTheSmallest) {
  std::vector<Entry> entries = pathEntries(2000, 6);
  build("a.jbbdb", entries);
  std::string text = dump(path("a.jbbdb")).out;
  auto rowOf = [&](const Key& k) {
    size_t at = text.find("\n\"" + keyToUtf8(k) + "\"") + 1;
    return text.substr(at, text.find('\n', at) + 1 - at);
  };
  shuffledDump("u.txt", {rowOf(entries[1700].key), rowOf(entries[300].key)});
  for (size_t runBytes : {kSmallRuns, size_t(0)}) {
    Outcome r = loadWith(path("u.txt"), path("b.jbbdb"), runBytes);
    EXPECT_EQ(1, r.rc);
    EXPECT_EQ("jbbtool: " + path("u.txt") + ": duplicate key \"" + keyToUtf8(entries[300].key) + "\"\n", r.err);
    EXPECT_EQ((std::set<std::string>{"a.jbbdb", "u.txt"}), files());
  }
}

TEST_F(Streaming, SalvageDropsEqualKeysAlikeThroughManyRuns) {
  // A tree whose leaves repeat keys of other leaves: the first found is kept.
  TreeNode root;
  std::string error;
  BulkOptions bulk;
  bulk.fill = 6;
  ASSERT_TRUE(bulkLoad(pathEntries(1500, 2), bulk, &root, &error)) << error;
  for (size_t i = 1; i < root.children.size(); i += 2)
    for (TreeNode& leaf : root.children[i].children)
      leaf.entries[0].key = root.children[i - 1].children[0].entries[1].key;
  ASSERT_TRUE(writeDatabase(path("a.jbbdb"), root, DbSpec(), &error)) << error;
  Outcome many = salvageWith(path("a.jbbdb"), path("b.jbbdb"), kSmallRuns);
  Outcome one = salvageWith(path("a.jbbdb"), path("c.jbbdb"), 0);
  ASSERT_EQ(0, many.rc) << many.err;
  EXPECT_TRUE(has(many.out, "duplicate keys dropped (the first found kept)")) << many.out;
  std::string manyOut = many.out, oneOut = one.out;
  manyOut.replace(manyOut.find("b.jbbdb"), 7, "X");
  oneOut.replace(oneOut.find("c.jbbdb"), 7, "X");
  EXPECT_EQ(oneOut, manyOut);
  EXPECT_EQ(fileBytes(path("b.jbbdb")), fileBytes(path("c.jbbdb")));
  EXPECT_EQ(0, verify(path("b.jbbdb")).rc);
  EXPECT_EQ((std::set<std::string>{"a.jbbdb", "b.jbbdb", "c.jbbdb"}), files());
}

TEST_F(Streaming, ARunFileThatCannotBeWrittenLeavesNothing) {
  build("a.jbbdb", pathEntries(3000, 7));
  shuffledDump("u.txt");
  build("t.jbbdb", pathEntries(10, 1));
  Bytes target = fileBytes(path("t.jbbdb"));
  // The writes of a whole load, counted: runs, then the new file.
  osFileTestSetFault(OsFaultPlan());
  ASSERT_EQ(0, loadWith(path("u.txt"), path("n.jbbdb"), kSmallRuns).rc);
  uint64_t writes = osFileTestCounts().writes;
  std::remove(path("n.jbbdb").c_str());
  for (uint64_t nth : {uint64_t(1), writes / 3, writes / 2, writes - 1}) {
    OsFaultPlan plan;
    plan.point = OsFaultPoint::kWrite;
    plan.nth = nth;
    plan.error = EIO;
    plan.persistent = true;
    osFileTestSetFault(plan);
    Outcome r = loadWith(path("u.txt"), path("t.jbbdb"), kSmallRuns, true);
    osFileTestClearFault();
    EXPECT_EQ(1, r.rc) << "write " << nth;
    EXPECT_TRUE(has(r.err, "cannot write")) << r.err;
    EXPECT_EQ(target, fileBytes(path("t.jbbdb")));
    EXPECT_EQ((std::set<std::string>{"a.jbbdb", "t.jbbdb", "u.txt"}), files()) << "write " << nth;
  }
}

}  // namespace
