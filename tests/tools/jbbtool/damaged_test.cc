// jbbtool on damaged files: verify finds every damage kind of the builder
// and says where; salvage recovers every entry of every undamaged node from
// each of them into a file that verifies; neither writes the damaged file.
#include <map>
#include <set>

#include "btree/format.h"
#include "tools/jbbtool/tool_fixture.h"

using namespace jbbbuilder;
using namespace tooltest;

namespace {

class Damaged : public ToolTest {
 protected:
  // Three levels at fill 5, three free slots, so that every kind applies.
  BuiltImage buildDamaged(Damage kind, int32_t target = 0, bool shuffle = false) {
    DbSpec spec;
    spec.layout.freeSlots = 3;
    spec.layout.shuffle = shuffle;
    spec.damage = kind;
    spec.damageTarget = target;
    entries_ = pathEntries(400, 21, true);
    return build("d.jbbdb", entries_, spec, 5);
  }

  // The entries of nodes the damage leaves whole: all but those of the
  // record a record-level kind changes (or the cut last record); none when
  // the file is cut inside the control record.
  std::set<Key> undamagedKeys(Damage kind, const BuiltImage& image, int32_t target) {
    if (kind == Damage::ShortControlRecord) return {};
    static const std::set<Damage> kNodeKinds = {Damage::NklBeyondNode, Damage::NklZero, Damage::KeyUnterminated};
    const TreeNode* damaged = nullptr;
    if (kind == Damage::TruncatedFile) damaged = image.slots.back().node;
    if (kNodeKinds.count(kind))
      for (const Placement& p : image.slots)
        if (p.subscript == (target ? target : image.rootSubscript)) damaged = p.node;
    std::set<Key> keys;
    for (const Entry& e : entries_) keys.insert(e.key);
    if (damaged)
      for (const Entry& e : damaged->entries) keys.erase(e.key);
    return keys;
  }

  std::vector<Entry> entries_;
};

TEST_F(Damaged, VerifyFindsEveryKindWithItsOffset) {
  for (Damage kind : allDamageKinds()) {
    // A last slot claimed a little past the end of the file is a state the
    // engine leaves itself (a last record that shrank after it claimed
    // more), and verify finds it sound (the next test).
    if (kind == Damage::LastSlotBeyondFile) continue;
    SCOPED_TRACE(damageName(kind));
    buildDamaged(kind);
    Bytes before = fileBytes(path("d.jbbdb"));
    Outcome r = verify(path("d.jbbdb"));
    // A file that does not start as a journal database is unusable (2),
    // every other damage a problem (1).
    bool noDatabase = kind == Damage::BadMagic || kind == Damage::SwappedMagic || kind == Damage::ShortControlRecord;
    EXPECT_EQ(noDatabase ? 2 : 1, r.rc);
    EXPECT_EQ(0u, r.out.find("offset ")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("problem")) << r.out;
    EXPECT_EQ(before, fileBytes(path("d.jbbdb")));
  }
}

// The engine opens a file whose last slot is claimed past its end by at
// most one node image, and appends after the claim; verify agrees.  A
// claim beyond that is damage for both.
TEST_F(Damaged, LastSlotClaimedPastTheEndIsSoundWithinANodeImage) {
  buildDamaged(Damage::LastSlotBeyondFile);
  Outcome r = verify(path("d.jbbdb"));
  EXPECT_EQ(0, r.rc) << r.out;
  Bytes b = fileBytes(path("d.jbbdb"));
  int64_t last = jbbformat::getI64(b.data() + jbbformat::kCrLastNDRec);
  uint64_t slot = jbbformat::getU64(b.data() + last + jbbformat::kNodeSlotLength);
  jbbformat::putU64(b.data() + last + jbbformat::kNodeSlotLength, slot + 72 + 10 * 32767);
  writeBytes("d.jbbdb", b);
  r = verify(path("d.jbbdb"));
  EXPECT_EQ(1, r.rc);
  EXPECT_NE(std::string::npos, r.out.find("runs past the end of the file")) << r.out;
}

TEST_F(Damaged, OffsetsPointAtTheDamagedBytes) {
  struct Case {
    Damage kind;
    int64_t offsetInRecord;  // -1: in the control record at `absolute`
    int64_t absolute;
  } cases[] = {
      {Damage::BadMagic, -1, 0},
      {Damage::OtherDataSize, -1, -1},  // found at an entry: only checked for being inside the file
      {Damage::CountTooLarge, jbbformat::kNodeCount, 0},
      {Damage::SlotZero, jbbformat::kNodeSlotLength, 0},
      {Damage::DiskLocZero, jbbformat::kNodeDiskLoc, 0},
      {Damage::NklZero, jbbformat::kNodeEntries, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(damageName(c.kind));
    BuiltImage image = buildDamaged(c.kind, 5);
    int64_t at = c.absolute;
    for (const Placement& p : image.slots)
      if (p.subscript == 5 && c.offsetInRecord >= 0) at = p.position + c.offsetInRecord;
    Outcome r = verify(path("d.jbbdb"));
    if (at >= 0) {
      EXPECT_NE(std::string::npos, r.out.find("offset " + std::to_string(at) + ": ")) << r.out;
    } else {
      EXPECT_EQ(0u, r.out.find("offset ")) << r.out;
    }
  }
}

TEST_F(Damaged, SalvageRecoversEveryUndamagedNode) {
  for (bool shuffle : {false, true}) {
    for (Damage kind : allDamageKinds()) {
      SCOPED_TRACE(std::string(damageName(kind)) + (shuffle ? " shuffled" : ""));
      // Record-level kinds hit an interior node in the middle of the file.
      int32_t target = 3;
      BuiltImage image = buildDamaged(kind, target, shuffle);
      Bytes before = fileBytes(path("d.jbbdb"));
      std::remove(path("s.jbbdb").c_str());
      Outcome r = salvage(path("d.jbbdb"), path("s.jbbdb"));
      // 1 when anything was lost, with a line that says what.
      ASSERT_TRUE(r.rc == 0 || r.rc == 1) << r.out << r.err;
      EXPECT_EQ(r.rc == 1, has(r.err, "not everything could be recovered")) << r.err;
      EXPECT_EQ(before, fileBytes(path("d.jbbdb")));
      CheckResult c = checkDatabase(path("s.jbbdb"));
      ASSERT_TRUE(c.ok()) << c.report();
      std::map<Key, Bytes> want;
      for (const Entry& e : entries_) want[e.key] = e.data;
      std::set<Key> got;
      for (const CheckEntry& e : c.entries) {
        got.insert(e.key);
        EXPECT_EQ(want[e.key], e.data) << keyToUtf8(e.key);  // nothing invented, data with its key
      }
      for (const Key& k : undamagedKeys(kind, image, target)) EXPECT_TRUE(got.count(k)) << keyToUtf8(k);
      if (got.size() < entries_.size()) {
        EXPECT_EQ(1, r.rc) << "entries were lost: " << r.out;
      }
      EXPECT_NE(std::string::npos, r.out.find(" entries recovered from "));
    }
  }
}

TEST_F(Damaged, SalvageResynchronisesOverGarbage) {
  BuiltImage image = buildDamaged(Damage::None);
  Bytes b = fileBytes(path("d.jbbdb"));
  // Wipe the headers and the first entry of three records in a row.
  std::set<Key> lost;
  for (size_t i = 10; i < 13; ++i) {
    const Placement& p = image.slots[i];
    for (size_t k = 0; k < 90; ++k) b[size_t(p.position) + k] = uint8_t(0xA5 + k);
    if (p.node)
      for (const Entry& e : p.node->entries) lost.insert(e.key);
  }
  std::string error;
  ASSERT_TRUE(writeFile(path("d.jbbdb"), b, &error));
  Outcome r = salvage(path("d.jbbdb"), path("s.jbbdb"));
  ASSERT_EQ(1, r.rc) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("without a record header skipped")) << r.out;
  EXPECT_TRUE(has(r.err, "not everything could be recovered: ")) << r.err;
  EXPECT_TRUE(has(r.err, "bytes that hold no readable record")) << r.err;
  CheckResult c = checkDatabase(path("s.jbbdb"));
  ASSERT_TRUE(c.ok()) << c.report();
  EXPECT_EQ(entries_.size() - lost.size(), c.entries.size()) << r.out;
}

// A salvage that loses nothing says so by its exit code: a file whose
// tree alone is damaged gives every entry back.
TEST_F(Damaged, SalvageOfEverythingSucceeds) {
  buildDamaged(Damage::ChildCycle);
  Outcome r = salvage(path("d.jbbdb"), path("s.jbbdb"));
  EXPECT_EQ(0, r.rc) << r.out << r.err;
  EXPECT_EQ(entries_.size(), checkDatabase(path("s.jbbdb")).entries.size());
  EXPECT_EQ("", r.err);
}

TEST_F(Damaged, SalvageWritesOnlyANewFile) {
  buildDamaged(Damage::ChildCycle);
  Bytes before = fileBytes(path("d.jbbdb"));
  Outcome same = salvage(path("d.jbbdb"), path("d.jbbdb"));
  EXPECT_EQ(2, same.rc);
  build("other.jbbdb", pathEntries(10, 1));
  Bytes other = fileBytes(path("other.jbbdb"));
  EXPECT_EQ(2, salvage(path("d.jbbdb"), path("other.jbbdb")).rc);
  EXPECT_EQ(before, fileBytes(path("d.jbbdb")));
  EXPECT_EQ(other, fileBytes(path("other.jbbdb")));
  EXPECT_EQ(2, salvage(path("missing.jbbdb"), path("new.jbbdb")).rc);
}

TEST_F(Damaged, ReadOnlySubcommandsLeaveTheFileAlone) {
  buildDamaged(Damage::KeysOutOfOrder);
  Bytes before = fileBytes(path("d.jbbdb"));
  EXPECT_EQ(1, verify(path("d.jbbdb")).rc);
  for (auto format : {jbbtool::DumpFormat::Text, jbbtool::DumpFormat::Csv, jbbtool::DumpFormat::Json}) {
    Outcome d = dump(path("d.jbbdb"), format);
    EXPECT_EQ(1, d.rc);
    EXPECT_NE(std::string::npos, d.err.find("incomplete")) << d.err;
  }
  Outcome s = run([&](const jbbtool::Streams& io) { return jbbtool::runStat(path("d.jbbdb"), false, io); });
  EXPECT_EQ(1, s.rc);
  EXPECT_NE(std::string::npos, s.out.find("entries          400"));
  EXPECT_EQ(before, fileBytes(path("d.jbbdb")));
}

}  // namespace
