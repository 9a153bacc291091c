// Round trips through jbbtool: dump, load and dump again give the same
// text; compact keeps the entries, the control-record fields and the
// journal information area byte for byte.  Databases have free slots,
// slack, shuffled nodes and keys of mixed scripts.
#include <cstring>

#include "btree/format.h"
#include "tools/jbbtool/tool_fixture.h"

using namespace jbbbuilder;
using namespace tooltest;

namespace {

// A layout with everything a file can carry besides its entries.
DbSpec untidySpec(uint16_t dataSize = 32) {
  DbSpec spec;
  spec.dataSize = dataSize;
  spec.keyLength = 7;
  spec.layout.freeSlots = 9;
  spec.layout.slack = 13;
  spec.layout.shuffle = true;
  spec.layout.shuffleSeed = 4;
  std::array<uint8_t, 2048> area{};
  JournalInfo info;
  info.activationTime = -86400;
  info.validationTime = 1700086400;
  info.server = "SERVER\x80";
  info.node = "NODE\"1";
  info.fsName = K("/d\u00e9p\U0001D11E");
  std::string error;
  EXPECT_TRUE(encodeJournalInfo(info, area.data(), &error)) << error;
  area[5] = 0x11;     // reserved bytes
  area[2047] = 0x22;  // past the file-system name
  spec.rawInfoArea = area;
  spec.ctrl.pad1 = {1, 2, 3, 4};
  spec.ctrl.pad2 = {5, 6, 7, 8};
  spec.ctrl.minorVersion = 0;
  return spec;
}

class RoundTrip : public ToolTest {};

TEST_F(RoundTrip, DumpLoadDumpIsIdentical) {
  for (uint16_t dataSize : {32, 40, 20, 0}) {
    SCOPED_TRACE(dataSize);
    std::vector<Entry> entries = pathEntries(700, 3, true, dataSize);
    entries.push_back(Entry{Key(u"/odd\xD834 \"quoted\"\\\t"), keyData(u"x", dataSize)});
    std::string error;
    ASSERT_TRUE(sortEntries(&entries, false, &error));
    build("a.jbbdb", entries, untidySpec(dataSize));
    Outcome first = dump(path("a.jbbdb"));
    ASSERT_EQ(0, first.rc) << first.err;
    writeText("a.txt", first.out);
    std::remove(path("b.jbbdb").c_str());
    Outcome loaded = load(path("a.txt"), path("b.jbbdb"));
    ASSERT_EQ(0, loaded.rc) << loaded.err;
    EXPECT_EQ(0, verify(path("b.jbbdb")).rc);
    Outcome second = dump(path("b.jbbdb"));
    ASSERT_EQ(0, second.rc);
    EXPECT_EQ(first.out, second.out);
    // The loaded file is compact and holds the same entries with their data.
    CheckResult r = checkDatabase(path("b.jbbdb"));
    ASSERT_EQ(entries.size(), r.entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(entries[i].key, r.entries[i].key);
      EXPECT_EQ(entries[i].data, r.entries[i].data);
    }
    for (const SlotInfo& s : r.slots) EXPECT_FALSE(s.free());
  }
}

TEST_F(RoundTrip, LoadRefusesToReplaceUnlessForced) {
  build("a.jbbdb", pathEntries(50, 1));
  writeText("a.txt", dump(path("a.jbbdb")).out);
  Bytes before = fileBytes(path("a.jbbdb"));
  Outcome refused = load(path("a.txt"), path("a.jbbdb"));
  EXPECT_EQ(2, refused.rc);
  EXPECT_NE(std::string::npos, refused.err.find("--force"));
  EXPECT_EQ(before, fileBytes(path("a.jbbdb")));
  EXPECT_EQ(0, load(path("a.txt"), path("a.jbbdb"), true).rc);
  EXPECT_EQ(0, verify(path("a.jbbdb")).rc);
}

TEST_F(RoundTrip, LoadRefusesADumpWithTwoEqualKeys) {
  build("a.jbbdb", pathEntries(20, 1));
  std::string text = dump(path("a.jbbdb")).out;
  size_t first = text.find("\n\"") + 1;
  std::string row = text.substr(first, text.find('\n', first) + 1 - first);
  text.insert(first, row);
  text.replace(text.rfind("end 20"), 6, "end 21");
  writeText("a.txt", text);
  Outcome r = load(path("a.txt"), path("b.jbbdb"));
  EXPECT_EQ(1, r.rc);
  EXPECT_NE(std::string::npos, r.err.find("duplicate key"));
  EXPECT_FALSE(fileExists(path("b.jbbdb")));
}

TEST_F(RoundTrip, CompactKeepsEntriesAndControlRecordFields) {
  std::vector<Entry> entries = pathEntries(900, 8, true);
  build("a.jbbdb", entries, untidySpec());
  Bytes before = fileBytes(path("a.jbbdb"));
  jbbtool::OutputOptions o;
  o.out = path("c.jbbdb");
  Outcome r = run([&](const jbbtool::Streams& io) { return jbbtool::runCompact(path("a.jbbdb"), o, io); });
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_EQ(before, fileBytes(path("a.jbbdb")));
  Bytes after = fileBytes(path("c.jbbdb"));
  ASSERT_GE(after.size(), jbbformat::kCtrlRecSize);
  EXPECT_LT(after.size(), before.size());
  // Versions, key length, data size, the area and the padding are kept.
  EXPECT_EQ(before[jbbformat::kCrMajor], after[jbbformat::kCrMajor]);
  EXPECT_EQ(before[jbbformat::kCrMinor], after[jbbformat::kCrMinor]);
  EXPECT_EQ(0, std::memcmp(before.data() + jbbformat::kCrPad1, after.data() + jbbformat::kCrPad1, 4));
  EXPECT_EQ(0, std::memcmp(before.data() + jbbformat::kCrKeyLength, after.data() + jbbformat::kCrKeyLength,
                           jbbformat::kCtrlRecSize - jbbformat::kCrKeyLength));
  CheckResult c = checkImage(after);
  EXPECT_TRUE(c.ok()) << c.report();
  ASSERT_EQ(entries.size(), c.entries.size());
  for (size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(entries[i].data, c.entries[i].data);
  for (const SlotInfo& s : c.slots) EXPECT_EQ(s.slotLength, s.nodeSize);
  EXPECT_GE(double(c.entryCount) / double(c.nodes.size()), 9.0) << "fill 10 by default";
}

TEST_F(RoundTrip, CompactInPlaceKeepsABackupOrNone) {
  build("a.jbbdb", pathEntries(300, 2), untidySpec());
  Bytes original = fileBytes(path("a.jbbdb"));
  jbbtool::OutputOptions o;
  // The path without its extension names the file too.
  Outcome r = run([&](const jbbtool::Streams& io) { return jbbtool::runCompact(path("a"), o, io); });
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_EQ(original, fileBytes(path("a.jbbdb.bak")));
  Bytes compacted = fileBytes(path("a.jbbdb"));
  EXPECT_TRUE(checkImage(compacted).ok());
  EXPECT_FALSE(fileExists(path("a.jbbdb.jbbtmp")));
  o.backup = false;
  std::remove(path("a.jbbdb.bak").c_str());
  r = run([&](const jbbtool::Streams& io) { return jbbtool::runCompact(path("a.jbbdb"), o, io); });
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_EQ(compacted, fileBytes(path("a.jbbdb")));  // already compact: the same bytes again
  EXPECT_FALSE(fileExists(path("a.jbbdb.bak")));
}

TEST_F(RoundTrip, CompactRefusesADamagedFileAndPointsToSalvage) {
  DbSpec spec;
  spec.damage = Damage::KeysOutOfOrder;
  spec.damageTarget = 2;
  build("a.jbbdb", pathEntries(100, 2), spec);
  Bytes before = fileBytes(path("a.jbbdb"));
  jbbtool::OutputOptions o;
  Outcome r = run([&](const jbbtool::Streams& io) { return jbbtool::runCompact(path("a.jbbdb"), o, io); });
  EXPECT_EQ(1, r.rc);
  EXPECT_NE(std::string::npos, r.err.find("salvage"));
  EXPECT_EQ(before, fileBytes(path("a.jbbdb")));
  EXPECT_FALSE(fileExists(path("a.jbbdb.bak")));
}

TEST_F(RoundTrip, AnEmptyDatabase) {
  for (bool root : {true, false}) {
    DbSpec spec;
    spec.layout.writeEmptyRoot = root;
    build("e.jbbdb", {}, spec);
    Outcome d = dump(path("e.jbbdb"));
    ASSERT_EQ(0, d.rc) << d.err;
    EXPECT_NE(std::string::npos, d.out.find("entries\nend 0\n"));
    writeText("e.txt", d.out);
    std::remove(path("f.jbbdb").c_str());
    ASSERT_EQ(0, load(path("e.txt"), path("f.jbbdb")).rc);
    EXPECT_EQ(2160u, fileBytes(path("f.jbbdb")).size());
  }
}

}  // namespace
