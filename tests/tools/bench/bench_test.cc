// The benchmark runner: plans, the starting and measuring of commands
// (exit status, standard input and output, anonymous memory apart from
// mapped files), rounds and medians, and the inputs it makes for the viewer.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "bench/inputs.h"
#include "bench/plan.h"
#include "builder/builder.h"

using namespace jbbbench;

namespace {

Command shell(const std::string& script, int expectedExit = 0, const std::string& in = "") {
  Command c;
  c.name = "sh";
  c.expectedExit = expectedExit;
  c.stdinPath = in;
  c.argv = {"sh", "-c", script};
  return c;
}

Sample run(const Command& c) {
  Sample s;
  std::string error;
  EXPECT_TRUE(runCommand(c, 1000, &s, &error)) << error;
  return s;
}

std::string tempPath(const std::string& name) {
  return ::testing::TempDir() + "bench_test_" + name;
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// --- plans -----------------------------------------------------------------

TEST(BenchPlan, ParsesFieldsAndSkipsCommentsAndBlankLines) {
  std::vector<Command> plan;
  std::string error;
  ASSERT_TRUE(parsePlan("# cases\n\ncat.1\t0\t-\tcat\tgen1.jbbdb\r\nlist\t255\tlist.txt\tjbbview\tgen1\ti\n", &plan,
                        &error))
      << error;
  ASSERT_EQ(2u, plan.size());
  EXPECT_EQ("cat.1", plan[0].name);
  EXPECT_EQ("", plan[0].stdinPath);  // "-" is /dev/null
  EXPECT_EQ((std::vector<std::string>{"cat", "gen1.jbbdb"}), plan[0].argv);
  EXPECT_EQ(255, plan[1].expectedExit);
  EXPECT_EQ("list.txt", plan[1].stdinPath);
  EXPECT_EQ((std::vector<std::string>{"jbbview", "gen1", "i"}), plan[1].argv);
}

TEST(BenchPlan, RefusesMalformedLinesNamingThem) {
  std::vector<Command> plan;
  std::string error;
  EXPECT_FALSE(parsePlan("a\t0\t-\tcat\nb\t0\t-\n", &plan, &error));
  EXPECT_NE(std::string::npos, error.find("line 2")) << error;
  for (const char* bad : {"a\tx\t-\tcat\n", "a\t256\t-\tcat\n", "a\t-1\t-\tcat\n", "\t0\t-\tcat\n", "a\t0\t-\t\n"}) {
    plan.clear();
    EXPECT_FALSE(parsePlan(bad, &plan, &error)) << bad;
  }
  plan.clear();
  EXPECT_FALSE(parsePlan("# only a comment\n", &plan, &error));
}

// --- one command -------------------------------------------------------------

TEST(BenchRun, ReportsExitStatusAndSignal) {
  EXPECT_EQ(0, run(shell("exit 0")).exitStatus);
  EXPECT_EQ(3, run(shell("exit 3")).exitStatus);
  EXPECT_EQ(128 + 9, run(shell("kill -9 $$")).exitStatus);
}

TEST(BenchRun, FeedsStandardInputAndDiscardsOutput) {
  std::string in = tempPath("stdin.txt");
  writeFile(in, "hello\n");
  EXPECT_EQ(0, run(shell("read l && [ \"$l\" = hello ]", 0, in)).exitStatus);
  // No file: standard input is /dev/null, at its end at once.
  EXPECT_EQ(0, run(shell("! read l")).exitStatus);
  EXPECT_EQ(0, run(shell("[ \"$(readlink /proc/$$/fd/1)\" = /dev/null ] && "
                         "[ \"$(readlink /proc/$$/fd/2)\" = /dev/null ]"))
                   .exitStatus);
  std::remove(in.c_str());
}

TEST(BenchRun, FailsForAProgramThatCannotStart) {
  Command c = shell("");
  c.argv = {"/nonexistent/program"};
  Sample s;
  std::string error;
  EXPECT_FALSE(runCommand(c, 1000, &s, &error));
  EXPECT_NE(std::string::npos, error.find("/nonexistent/program")) << error;
}

TEST(BenchRun, MeasuresWallAndProcessorTime) {
  Sample idle = run(shell("sleep 0.2"));
  EXPECT_GE(idle.wallMs, 195.0);
  EXPECT_LT(idle.wallMs, 5000.0);
  EXPECT_LT(idle.cpuMs, 100.0);
  Sample busy = run(shell("i=0; while [ $i -lt 300000 ]; do i=$((i+1)); done"));
  EXPECT_GT(busy.cpuMs, 20.0);
  EXPECT_LE(busy.cpuMs, busy.wallMs * 1.1);  // one thread
}

// --- memory ------------------------------------------------------------------

Command child(const std::string& mode, const std::string& arg) {
  Command c;
  c.name = "child";
  c.argv = {BENCH_CHILD, mode, arg};
  return c;
}

// The child's own start (its run-time, under a sanitizer much more) is
// measured once and the cases compared with it.
long baselineAnonKb() {
  static const long kb = run(child("alloc", "0")).anonPeakKb;
  return kb;
}

TEST(BenchMemory, AnonymousPeakSeesTheHeap) {
  Sample s = run(child("alloc", "64"));
  ASSERT_EQ(0, s.exitStatus);
  EXPECT_GE(s.anonPeakKb - baselineAnonKb(), 60 * 1024);
  EXPECT_LT(s.anonPeakKb - baselineAnonKb(), 100 * 1024);
  EXPECT_GE(s.maxRssKb, 60 * 1024);
}

TEST(BenchMemory, MappedFilePagesCountInMaxRssOnly) {
  std::string path = tempPath("mapped.bin");
  writeFile(path, std::string(64 << 20, 'x'));
  Sample s = run(child("map", path));
  ASSERT_EQ(0, s.exitStatus);
  EXPECT_GE(s.maxRssKb, 60 * 1024);
  EXPECT_GT(s.anonPeakKb, 0);
  EXPECT_LT(s.anonPeakKb - baselineAnonKb(), 8 * 1024);
  std::remove(path.c_str());
}

TEST(BenchMemory, RssAnonFieldParsed) {
  EXPECT_EQ(1234, rssAnonKb("Name:\tx\nVmRSS:\t  9999 kB\nRssAnon:\t    1234 kB\nRssFile:\t 5 kB\n"));
  EXPECT_EQ(-1, rssAnonKb("Name:\tx\nState:\tZ (zombie)\n"));
}

// --- rounds and medians ------------------------------------------------------

TEST(BenchRounds, EveryCommandOncePerRoundAfterTheWarmUp) {
  std::string counter = tempPath("counter.txt");
  std::remove(counter.c_str());
  std::vector<Command> plan = {shell("echo a >> " + counter), shell("echo b >> " + counter)};
  plan[1].name = "other";
  RunOptions options;
  options.rounds = 3;
  options.warmupRounds = 1;
  std::vector<Measured> measured;
  std::string error;
  ASSERT_TRUE(runPlan(plan, options, &measured, &error, nullptr)) << error;
  std::ifstream in(counter);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ("a\nb\na\nb\na\nb\na\nb\n", text.str());  // interleaved, warm-up included
  ASSERT_EQ(6u, measured.size());
  EXPECT_EQ(0, measured[0].round);
  EXPECT_EQ("other", measured[5].command->name);
  std::vector<CaseSummary> cases = summarize(measured);
  ASSERT_EQ(2u, cases.size());
  EXPECT_EQ("sh", cases[0].name);
  EXPECT_EQ(3, cases[0].samples);
  EXPECT_LE(cases[0].minMs, cases[0].medianMs);
  EXPECT_LE(cases[0].medianMs, cases[0].maxMs);
  std::remove(counter.c_str());
}

TEST(BenchRounds, UnexpectedExitStatusStopsTheRun) {
  std::vector<Command> plan = {shell("exit 0"), shell("exit 1")};
  plan[1].name = "failing";
  std::vector<Measured> measured;
  std::string error;
  EXPECT_FALSE(runPlan(plan, RunOptions(), &measured, &error, nullptr));
  EXPECT_NE(std::string::npos, error.find("failing")) << error;
  EXPECT_NE(std::string::npos, error.find("status 1")) << error;
  // An expected failure is a result like any other.
  plan[1].expectedExit = 1;
  EXPECT_TRUE(runPlan(plan, RunOptions(), &measured, &error, nullptr)) << error;
}

TEST(BenchRounds, Median) {
  EXPECT_EQ(0.0, median({}));
  EXPECT_EQ(5.0, median({5}));
  EXPECT_EQ(2.0, median({9, 1, 2}));
  EXPECT_EQ(2.5, median({4, 1, 3, 2}));
}

// --- inputs ------------------------------------------------------------------

// A database as `jbbbuild --generate n --seed seed` makes it.
std::string buildGenerated(size_t n, uint64_t seed, const std::string& path) {
  using namespace jbbbuilder;
  std::vector<Key> keys = syntheticPaths(n, seed);
  std::string error;
  EXPECT_TRUE(sortKeys(&keys, true, &error)) << error;
  TreeNode root;
  EXPECT_TRUE(bulkLoad(entriesFor(keys, 32, seed), BulkOptions(), &root, &error)) << error;
  EXPECT_TRUE(writeDatabase(path, root, DbSpec(), &error)) << error;
  return path;
}

TEST(BenchInputs, RandomKeysAreKeysOfTheGeneratedDatabase) {
  std::string path = buildGenerated(3000, 4, tempPath("keys.jbbdb"));
  jbbbuilder::CheckResult r = jbbbuilder::checkDatabase(path);
  ASSERT_TRUE(r.ok()) << r.report();
  std::set<std::string> stored;
  for (const auto& e : r.entries) stored.insert(jbbbuilder::keyToUtf8(e.key));
  std::vector<std::string> picked = randomKeys(3000, 4, 500, 7);
  ASSERT_EQ(500u, picked.size());
  std::set<std::string> distinct;
  for (const std::string& k : picked) {
    EXPECT_EQ(1u, stored.count(k)) << k;
    distinct.insert(k);
  }
  EXPECT_GT(distinct.size(), 400u);  // spread over the database, not one key
  EXPECT_EQ(picked, randomKeys(3000, 4, 500, 7));
  // The first pick does not depend on how many are drawn.
  EXPECT_EQ(picked[0], randomKeys(3000, 4, 1, 7)[0]);
  std::remove(path.c_str());
}

TEST(BenchInputs, FindSessionEndsWithQuit) {
  EXPECT_EQ("find /a b\nfind /c\nquit\n", findSession({"/a b", "/c"}));
  EXPECT_EQ("quit\n", findSession({}));
}

TEST(BenchInputs, IndexArraySizeFromTheControlRecord) {
  std::string path = buildGenerated(3000, 4, tempPath("index.jbbdb"));
  jbbbuilder::CheckResult r = jbbbuilder::checkDatabase(path);
  uint32_t entries = 0;
  uint64_t bytes = 0;
  std::string error;
  ASSERT_TRUE(indexArraySize(path, &entries, &bytes, &error)) << error;
  EXPECT_EQ(0u, entries % 500);
  EXPECT_GT(entries, r.nodes.size());
  EXPECT_EQ(uint64_t(entries) * 40, bytes);  // one index entry is 40 bytes on every 64-bit host
  writeFile(path, std::string(3000, 'x'));
  EXPECT_FALSE(indexArraySize(path, &entries, &bytes, &error));
  EXPECT_FALSE(indexArraySize(tempPath("missing.jbbdb"), &entries, &bytes, &error));
  std::remove(path.c_str());
}

}  // namespace
