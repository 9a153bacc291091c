// jbbtool's commands that read part of a database through the cursor (get,
// a dump of a range) or its control record (info), and load from standard
// input: each against a model of the builder's entries, and each on a
// damaged file.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <set>

#include "jbbtool/textdump.h"
#include "tools/jbbtool/tool_fixture.h"

using namespace jbbbuilder;
using namespace tooltest;
using jbbtool::DumpFormat;

namespace {

class ReadTest : public ToolTest {
 protected:
  // Synthetic paths of mixed scripts, and keys at the edges of the order:
  // non-BMP characters, one key the prefix of others, the units around
  // the surrogates.
  void buildModel(size_t n = 1500, const DbSpec& spec = DbSpec()) {
    std::vector<Key> keys = syntheticPaths(n, 7, u"/home", true);
    for (const Key& k : {Key(u"/home/a"), Key(u"/home/a/b"), Key(u"/home/a/b/c"), Key(u"/home/\U0001D11E/x"),
                         Key(u"/home/\U0001D11E"), Key(u"/home/\uFFEE"), Key(u"/home/\u00E9t\u00E9"), Key(u"/zz")})
      keys.push_back(k);
    std::string error;
    ASSERT_TRUE(sortKeys(&keys, true, &error)) << error;
    entries_ = entriesFor(keys, 32, 3);
    model_.clear();
    for (const Entry& e : entries_) model_[e.key] = e.data;
    image_ = build("r.jbbdb", entries_, spec, 6);
  }

  Outcome get(const std::vector<std::string>& keys, DumpFormat format = DumpFormat::Text) {
    return run([&](const jbbtool::Streams& io) { return jbbtool::runGet(path("r.jbbdb"), keys, format, io); });
  }
  Outcome dumpWith(const jbbtool::DumpOptions& o, const std::string& file = "r.jbbdb") {
    return run([&](const jbbtool::Streams& io) { return jbbtool::runDump(path(file), o, io); });
  }
  Outcome info(bool json, const std::string& file = "r.jbbdb") {
    return run([&](const jbbtool::Streams& io) { return jbbtool::runInfo(path(file), json, io); });
  }

  // The entries of a text dump, in its order.
  std::vector<std::pair<Key, Bytes>> entriesOf(const std::string& text) {
    jbbtool::TextDump d;
    std::string error;
    EXPECT_TRUE(jbbtool::parseTextDump(text, &d, &error)) << error << "\n" << text;
    std::vector<std::pair<Key, Bytes>> out;
    for (const auto& e : d.entries) out.emplace_back(e.key, Bytes(e.data.begin(), e.data.end()));
    return out;
  }
  // The model's entries in [from, to) that start with prefix.
  std::vector<std::pair<Key, Bytes>> modelRange(const std::optional<Key>& from, const std::optional<Key>& to,
                                                const std::optional<Key>& prefix) {
    std::vector<std::pair<Key, Bytes>> out;
    for (const auto& [k, d] : model_)
      if ((!from || k >= *from) && (!to || k < *to) && (!prefix || k.compare(0, prefix->size(), *prefix) == 0))
        out.emplace_back(k, d);
    return out;
  }
  // The dump line of each key (text), by key.
  std::map<Key, std::string> dumpLines(DumpFormat format) {
    std::string text = dump(path("r.jbbdb"), format).out;
    std::map<Key, std::string> lines;
    size_t at = text.find('\n') + 1;  // past the CSV header or the JSON head
    if (format == DumpFormat::Text) at = text.find("\nentries\n") + 9;
    auto it = model_.begin();
    for (size_t eol; it != model_.end() && (eol = text.find('\n', at)) != std::string::npos; at = eol + 1, ++it)
      lines[it->first] = text.substr(at, eol + 1 - at);
    return lines;
  }

  std::vector<Entry> entries_;
  std::map<Key, Bytes> model_;
  BuiltImage image_;
};

std::optional<Key> opt(const Key& k) { return k; }

// get writes for each key the very row the dump writes for it, in the
// order asked, whatever the format.
TEST_F(ReadTest, GetRowsAreTheDumpsRows) {
  buildModel();
  std::vector<Key> asked = {model_.rbegin()->first, model_.begin()->first, u"/home/\U0001D11E", u"/home/a",
                            u"/home/\u00E9t\u00E9"};
  Rng rng(4);
  for (int i = 0; i < 20; ++i) asked.push_back(entries_[rng.below(entries_.size())].key);
  std::vector<std::string> args;
  for (const Key& k : asked) args.push_back(keyToUtf8(k));
  for (DumpFormat format : {DumpFormat::Text, DumpFormat::Csv}) {
    std::map<Key, std::string> lines = dumpLines(format);
    Outcome r = get(args, format);
    ASSERT_EQ(0, r.rc) << r.err;
    EXPECT_EQ("", r.err);
    std::string want = format == DumpFormat::Csv ? dump(path("r.jbbdb"), format).out.substr(0, r.out.find('\n') + 1)
                                                 : std::string();
    for (const Key& k : asked) want += lines[k];
    EXPECT_EQ(want, r.out);
  }
  Outcome j = get(args, DumpFormat::Json);
  ASSERT_EQ(0, j.rc) << j.err;
  nlohmann::json got = nlohmann::json::parse(j.out), whole = nlohmann::json::parse(dump(path("r.jbbdb"), DumpFormat::Json).out);
  std::map<std::string, nlohmann::json> byKey;
  for (const auto& e : whole["entries"]) byKey[e["key"].get<std::string>()] = e;
  ASSERT_EQ(asked.size(), got["entries"].size());
  for (size_t i = 0; i < asked.size(); ++i) EXPECT_EQ(byKey[args[i]], got["entries"][i]) << args[i];
  EXPECT_EQ(whole["journal"], got["journal"]);
  EXPECT_FALSE(got.contains("missing"));
}

TEST_F(ReadTest, GetNamesEveryMissingKey) {
  buildModel(300);
  std::string present = keyToUtf8(model_.begin()->first);
  // Keys just beside present ones: a prefix, one unit more, another case.
  std::vector<std::string> args = {"/home/a/", present, "/home/A", "/home/a/b/c/d", "\"quoted\""};
  Outcome r = get(args);
  EXPECT_EQ(1, r.rc);
  EXPECT_EQ(1u, std::count(r.out.begin(), r.out.end(), '\n')) << r.out;
  EXPECT_EQ(0u, r.out.find("\"" + present + "\"\t"));
  EXPECT_EQ("jbbtool: key not found: \"/home/a/\"\njbbtool: key not found: \"/home/A\"\n"
            "jbbtool: key not found: \"/home/a/b/c/d\"\njbbtool: key not found: \"\\\"quoted\\\"\"\n",
            r.err);
  Outcome j = get({"/nothing", "/home/a"}, DumpFormat::Json);
  EXPECT_EQ(1, j.rc);
  nlohmann::json doc = nlohmann::json::parse(j.out);
  EXPECT_EQ(1u, doc["entries"].size());
  EXPECT_EQ(nlohmann::json::array({"/nothing"}), doc["missing"]);
  Outcome none = get({"/nothing"}, DumpFormat::Json);
  EXPECT_EQ(1, none.rc);
  EXPECT_TRUE(nlohmann::json::parse(none.out)["entries"].empty());
}

TEST_F(ReadTest, GetRefusesKeysThatAreNoText) {
  buildModel(50);
  for (const std::string& bad : {std::string("/home/\xC3\x28"), std::string("/a\0b", 4), std::string(),
                                 std::string("/\xED\xA0\x80")}) {
    Outcome r = get({"/home/a", bad});
    EXPECT_EQ(2, r.rc) << bad;
    EXPECT_EQ("", r.out);
    EXPECT_TRUE(has(r.err, "key")) << r.err;
  }
  Outcome missing = run([&](const jbbtool::Streams& io) { return jbbtool::runGet(path("no.jbbdb"), {"/a"}, DumpFormat::Text, io); });
  EXPECT_EQ(2, missing.rc);
  EXPECT_TRUE(has(missing.err, "cannot open")) << missing.err;
}

// Ranges of every kind give the model's entries in order, as a text dump
// that load reads; an empty range is an empty dump.
TEST_F(ReadTest, RangesFollowTheModel) {
  buildModel();
  const Key first = model_.begin()->first, last = model_.rbegin()->first;
  struct Case {
    std::optional<Key> from, to, prefix;
  };
  std::vector<Case> cases = {
      {opt(u""), std::nullopt, std::nullopt},                   // everything
      {std::nullopt, opt(first), std::nullopt},                 // empty: before the first
      {opt(last), std::nullopt, std::nullopt},                  // the last alone
      {opt(last + u"\u0001"), std::nullopt, std::nullopt},      // empty: past the end
      {opt(u"/home/a"), opt(u"/home/a"), std::nullopt},         // empty: from == to
      {opt(u"/home/b"), opt(u"/home/a"), std::nullopt},         // empty: from > to
      {std::nullopt, std::nullopt, opt(u"/home/a")},            // a prefix that is a whole key
      {std::nullopt, std::nullopt, opt(u"/home/a/b/c")},        // ... and the only one
      {std::nullopt, std::nullopt, opt(u"/home/\U0001D11E")},   // non-BMP
      {opt(u"/home/\u00E9"), opt(u"/home/\U0001D11E"), std::nullopt},  // non-ASCII and non-BMP bounds
      {opt(u"/home/\uE000"), opt(u"/home/\uFFFF"), std::nullopt},      // units order: no non-BMP key
      {std::nullopt, std::nullopt, opt(u"/nothing")},
      {opt(u"/home/a/b"), std::nullopt, opt(u"/home/a")},       // prefix and bounds: the keys in both
      {std::nullopt, opt(u"/home/a/b"), opt(u"/home/a")},
      {opt(u"/home/b"), std::nullopt, opt(u"/home/a")},
  };
  Rng rng(9);
  for (int i = 0; i < 25; ++i) {
    Key a = entries_[rng.below(entries_.size())].key, b = entries_[rng.below(entries_.size())].key;
    if (b < a) std::swap(a, b);
    cases.push_back({opt(a), opt(b), std::nullopt});
    cases.push_back({opt(a.substr(0, a.size() - 1)), opt(b + u"\u0001"), std::nullopt});
    cases.push_back({std::nullopt, std::nullopt, opt(a.substr(0, 5 + rng.below(a.size() - 5)))});
  }
  for (const Case& c : cases) {
    jbbtool::DumpOptions o;
    if (c.from) o.from = keyToUtf8(*c.from);
    if (c.to) o.to = keyToUtf8(*c.to);
    if (c.prefix) o.prefix = keyToUtf8(*c.prefix);
    SCOPED_TRACE(o.from.value_or("-") + " .. " + o.to.value_or("-") + " prefix " + o.prefix.value_or("-"));
    Outcome r = dumpWith(o);
    ASSERT_EQ(0, r.rc) << r.err;
    std::vector<std::pair<Key, Bytes>> want = modelRange(c.from, c.to, c.prefix);
    EXPECT_EQ(want, entriesOf(r.out));
    EXPECT_TRUE(has(r.out, "\nend " + std::to_string(want.size()) + "\n"));
  }
  // The whole range is the whole dump, byte for byte, in every format.
  for (DumpFormat format : {DumpFormat::Text, DumpFormat::Csv, DumpFormat::Json}) {
    jbbtool::DumpOptions o;
    o.format = format;
    o.from = "";
    EXPECT_EQ(dump(path("r.jbbdb"), format).out, dumpWith(o).out);
  }
}

// A range reads the nodes on its way: damage elsewhere goes unseen, damage
// on the way stops it with exit 1, and the JSON document still ends well.
TEST_F(ReadTest, RangeMeetsDamageOnlyOnItsWay) {
  std::vector<Key> keys = syntheticPaths(400, 21, u"/home", false);
  std::string error;
  ASSERT_TRUE(sortKeys(&keys, false, &error));
  entries_ = entriesFor(keys, 32, 1);
  // A leaf in the middle of the file: its keys are the damaged range.
  BuiltImage clean = build("r.jbbdb", entries_, DbSpec(), 5);
  const Placement* leaf = nullptr;
  for (const Placement& p : clean.slots)
    if (p.node && p.node->isLeaf() && !leaf && &p > &clean.slots[clean.slots.size() / 2]) leaf = &p;
  ASSERT_NE(nullptr, leaf);
  Key inside = leaf->node->entries.front().key;
  int32_t target = leaf->subscript;
  DbSpec spec;
  spec.damage = Damage::NklBeyondNode;
  spec.damageTarget = target;
  build("r.jbbdb", entries_, spec, 5);
  jbbtool::DumpOptions away;
  away.prefix = keyToUtf8(entries_.front().key);
  Outcome ok = dumpWith(away);
  EXPECT_EQ(0, ok.rc) << ok.err;
  EXPECT_EQ(1u, entriesOf(ok.out).size());
  for (DumpFormat format : {DumpFormat::Text, DumpFormat::Json}) {
    jbbtool::DumpOptions through;
    through.format = format;
    through.from = keyToUtf8(inside);
    Outcome r = dumpWith(through);
    EXPECT_EQ(1, r.rc);
    EXPECT_TRUE(has(r.err, "the dump is incomplete")) << r.err;
    if (format == DumpFormat::Json) {
      nlohmann::json doc = nlohmann::json::parse(r.out);
      EXPECT_FALSE(doc["problems"].empty());
    }
  }
  Outcome g = get({keyToUtf8(inside)});
  EXPECT_EQ(1, g.rc);
  EXPECT_TRUE(has(g.err, "damaged")) << g.err;
}

// The dump of a damaged file in JSON is a whole document that lists the
// problems; text and CSV stay as they were.
TEST_F(ReadTest, JsonDumpOfADamagedFileEndsWell) {
  DbSpec spec;
  spec.damage = Damage::KeysOutOfOrder;
  entries_ = pathEntries(400, 21, true);
  build("d.jbbdb", entries_, spec, 5);
  Outcome r = dump(path("d.jbbdb"), DumpFormat::Json);
  EXPECT_EQ(1, r.rc);
  nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(400u, doc["entries"].size());
  ASSERT_FALSE(doc["problems"].empty());
  EXPECT_TRUE(doc["problems"][0].contains("offset"));
  EXPECT_EQ(doc["problems"].size(), doc["problemCount"].get<size_t>());
  Outcome text = dump(path("d.jbbdb"));
  EXPECT_EQ(std::string::npos, text.out.find("\nend ")) << "a damaged text dump must not read as whole";
}

TEST_F(ReadTest, DumpOutWritesAFileButNeverTheDatabase) {
  buildModel(200);
  Bytes db = fileBytes(path("r.jbbdb"));
  for (bool ranged : {false, true}) {
    jbbtool::DumpOptions o;
    if (ranged) o.from = "";
    o.out = path("out.txt");
    Outcome r = dumpWith(o);
    ASSERT_EQ(0, r.rc) << r.err;
    EXPECT_EQ("", r.out);
    EXPECT_EQ(dump(path("r.jbbdb")).out, slurp(path("out.txt")));
    o.out = path("r.jbbdb");
    EXPECT_EQ(2, dumpWith(o).rc);
    EXPECT_EQ(db, fileBytes(path("r.jbbdb")));
    o.out = path("no/such/folder/out.txt");
    Outcome bad = dumpWith(o);
    EXPECT_EQ(2, bad.rc);
    EXPECT_TRUE(has(bad.err, "cannot create " + o.out + ": ")) << bad.err;
  }
}

TEST_F(ReadTest, InfoShowsTheControlRecordAndTheCounts) {
  DbSpec spec;
  spec.info.activationTime = 1700000000;
  spec.info.validationTime = 1700086400;
  spec.info.maxJournalSize = 5368709120ull;
  spec.info.server = "SERVER";
  spec.info.node = "NODE1";
  spec.info.fsName = u"/home";
  spec.layout.freeSlots = 7;
  spec.layout.slack = 16;
  buildModel(900, spec);
  Bytes before = fileBytes(path("r.jbbdb"));
  Outcome t = info(false);
  ASSERT_EQ(0, t.rc) << t.err;
  for (const char* line : {"version          2.1\n", "journal type     1 (Change Journal)\n",
                           "journal state    2 (Valid)\n", "activation time  1700000000 2023-11-14T22:13:20Z\n",
                           "max journal size 5368709120 bytes\n", "server           SERVER\n",
                           "node             NODE1\n", "file system      /home\n", "pending change   none\n"})
    EXPECT_TRUE(has(t.out, line)) << line << t.out;
  EXPECT_TRUE(has(t.out, "entries          " + std::to_string(model_.size()) + "\n")) << t.out;
  // The counts are those stat finds.
  Outcome j = info(true);
  ASSERT_EQ(0, j.rc) << j.err;
  nlohmann::json doc = nlohmann::json::parse(j.out);
  Outcome s = run([&](const jbbtool::Streams& io) { return jbbtool::runStat(path("r.jbbdb"), true, io); });
  nlohmann::json stat = nlohmann::json::parse(s.out);
  for (const char* field : {"fileSize", "entries", "liveSlots", "freeSlots", "freeBytes", "staleBytes"})
    EXPECT_EQ(stat[field], doc[field]) << field;
  EXPECT_EQ(nlohmann::json::parse(dump(path("r.jbbdb"), DumpFormat::Json).out)["journal"]["server"],
            doc["journal"]["server"]);
  EXPECT_EQ("Change Journal", doc["journal"]["typeText"]);
  EXPECT_EQ(before, fileBytes(path("r.jbbdb")));
}

TEST_F(ReadTest, InfoOfADamagedFileShowsWhatItCan) {
  entries_ = pathEntries(400, 21, true);
  DbSpec spec;
  spec.info.server = "SERVER";
  spec.damage = Damage::RootMissing;
  build("d.jbbdb", entries_, spec, 5);
  Outcome r = info(false, "d.jbbdb");
  EXPECT_EQ(1, r.rc);
  EXPECT_TRUE(has(r.out, "server           SERVER\n")) << r.out;
  EXPECT_FALSE(has(r.out, "entries ")) << r.out;
  EXPECT_TRUE(has(r.err, "the counts are left out")) << r.err;
  Outcome j = info(true, "d.jbbdb");
  EXPECT_EQ(1, j.rc);
  EXPECT_TRUE(nlohmann::json::parse(j.out).contains("problem"));
  spec.damage = Damage::BadMagic;
  build("m.jbbdb", entries_, spec, 5);
  Outcome m = info(false, "m.jbbdb");
  EXPECT_EQ(2, m.rc);
  EXPECT_TRUE(has(m.err, "is no journal database")) << m.err;
  writeText("t.jbbdb", "too short");
  EXPECT_EQ(2, info(false, "t.jbbdb").rc);
}

TEST_F(ReadTest, LoadReadsStandardInput) {
  buildModel(700);
  std::string text = dump(path("r.jbbdb")).out;
  writeText("in.txt", text);
  auto loadStdin = [&](const std::string& input, const std::string& out) {
    return run([&](const jbbtool::Streams& streams) {
      jbbtool::Streams io = streams;
      io.in = std::fopen(path(input).c_str(), "rb");
      jbbtool::OutputOptions o;
      o.out = path(out);
      int rc = jbbtool::runLoad("-", o, io);
      std::fclose(io.in);
      return rc;
    });
  };
  Outcome r = loadStdin("in.txt", "c.jbbdb");
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_EQ(text, dump(path("c.jbbdb")).out);
  writeText("bad.txt", "jbbdump 1\nnonsense\n");
  Outcome bad = loadStdin("bad.txt", "d.jbbdb");
  EXPECT_EQ(1, bad.rc);
  EXPECT_TRUE(has(bad.err, "standard input: line 2")) << bad.err;
  // Nothing is left beside the new file but the file itself.
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir_)) names.insert(e.path().filename().string());
  EXPECT_EQ((std::set<std::string>{"r.jbbdb", "c.jbbdb", "in.txt", "bad.txt", "stdout.txt", "stderr.txt"}), names);
}

// A message about a call that failed says why.
// Where no tree can be read at all (its root is gone, the file is shorter
// than a control record), JSON is still one whole document, its problem
// the message said; text and CSV print nothing.
TEST_F(ReadTest, JsonIsAWholeDocumentWhenNothingCanBeRead) {
  DbSpec spec;
  spec.damage = Damage::RootMissing;
  entries_ = pathEntries(300, 5, true);
  build("d.jbbdb", entries_, spec, 5);
  writeText("short.jbbdb", "hello");
  jbbtool::DumpOptions range;
  range.format = DumpFormat::Json;
  range.prefix = "/";
  struct Case {
    const char* what;
    Outcome r;
  };
  for (const Case& c : {Case{"get", run([&](const jbbtool::Streams& io) {
                           return jbbtool::runGet(path("d.jbbdb"), {"/x"}, DumpFormat::Json, io);
                         })},
                         Case{"range", dumpWith(range, "d.jbbdb")},
                         Case{"short file", dump(path("short.jbbdb"), DumpFormat::Json)}}) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(1, c.r.rc);
    nlohmann::json doc = nlohmann::json::parse(c.r.out);
    EXPECT_TRUE(doc["entries"].empty());
    ASSERT_EQ(1u, doc["problems"].size());
    EXPECT_TRUE(has(c.r.err, doc["problems"][0]["text"].get<std::string>())) << c.r.err;
  }
  EXPECT_EQ("", dump(path("short.jbbdb"), DumpFormat::Csv).out);
}

// A node the file ends before is said to be so, not a refused permission
// (the engine's code for a short read is the number EACCES has).
TEST_F(ReadTest, ANodeBeyondTheEndIsSaidToBeSo) {
  DbSpec spec;
  spec.damage = Damage::TruncatedFile;
  entries_ = pathEntries(300, 5, true);
  build("t.jbbdb", entries_, spec, 5);
  jbbtool::DumpOptions range;
  range.from = "/";
  Outcome r = dumpWith(range, "t.jbbdb");
  EXPECT_EQ(1, r.rc);
  EXPECT_TRUE(has(r.err, "the file ends before it")) << r.err;
  EXPECT_FALSE(has(r.err, std::strerror(EACCES))) << r.err;
}

// Output that cannot be written (a full disk) is a failure, never a
// success.
TEST_F(ReadTest, OutputThatCannotBeWrittenIsAFailure) {
  FILE* full = std::fopen("/dev/full", "wb");
  if (full == nullptr) GTEST_SKIP() << "this host has no /dev/full to stand for a full disk";
  buildModel(200);
  jbbtool::DeleteOptions dry;
  dry.byPrefix = true;
  dry.prefix = "/home";
  dry.dryRun = true;
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    Outcome r = run([&](const jbbtool::Streams& caught) {
      jbbtool::Streams io = caught;
      io.out = full;
      if (i == 2) return jbbtool::runDelete(path("r.jbbdb"), dry, io);
      return jbbtool::runInfo(path("r.jbbdb"), i == 1, io);
    });
    EXPECT_EQ(1, r.rc);
    // The reason is the C runtime's errno, which the Windows runtime under
    // wine leaves unset for a failed flush; the failure itself is said.
    EXPECT_TRUE(has(r.err, "jbbtool: cannot write the output")) << r.err;
  }
  std::fclose(full);
  EXPECT_EQ(image_.bytes, fileBytes(path("r.jbbdb")));
}

TEST_F(ReadTest, FailedCallsCarryTheSystemsReason) {
  for (Outcome r : {verify(path("missing.jbbdb")), dump(path("missing.jbbdb")), load(path("missing.txt"), path("n.jbbdb"))}) {
    EXPECT_EQ(2, r.rc);
    EXPECT_TRUE(has(r.err, "missing")) << r.err;
    EXPECT_TRUE(has(r.err, ": " + std::string(std::strerror(ENOENT)))) << r.err;
  }
}

}  // namespace
