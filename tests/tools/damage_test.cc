// The checker catches every damage kind the builder makes, names the broken
// invariant, and survives arbitrary corruption without a crash.
#include <gtest/gtest.h>

#include "builder/builder.h"

using namespace jbbbuilder;

namespace {

// Three levels (80 entries at fill 5 are enough for three).
TreeNode threeLevels(size_t n = 400) {
  std::vector<Key> keys = syntheticPaths(n, 21);
  std::string error;
  EXPECT_TRUE(sortKeys(&keys, false, &error));
  TreeNode root;
  BulkOptions options;
  options.fill = 5;
  EXPECT_TRUE(bulkLoad(entriesFor(keys, 32), options, &root, &error)) << error;
  return root;
}

struct Case {
  Damage kind;
  const char* finding;  // a text the checker's report must contain
};

const Case kCases[] = {
    {Damage::TruncatedFile, "runs past the end of the file"},
    {Damage::ShortControlRecord, "shorter than the control record"},
    {Damage::BadMagic, "magic is 0x1234"},
    {Damage::SwappedMagic, "magic is 0xcdab"},
    {Damage::OtherDataSize, "lies outside its entry"},
    {Damage::SlotTooShort, "shorter than a record header"},
    {Damage::SlotZero, "0 bytes long, shorter than a record header"},
    {Damage::DiskLocZero, "diskLoc 0 outside"},
    {Damage::DiskLocTooLarge, "diskLoc 500 outside"},
    {Damage::DuplicateDiskLoc, "also carried by"},
    {Damage::ChildCycle, "a second time"},
    {Damage::ChildZero, "interior node without branch["},
    {Damage::NodeSizeTooSmall, "nodeSize 71 below 72"},
    {Damage::NodeSizeBeyondSlot, "beyond its slot"},
    {Damage::CountTooLarge, "count 11 above 10"},
    {Damage::NklBeyondNode, "runs past the node"},
    {Damage::NklZero, "cannot hold a key"},
    {Damage::KeyUnterminated, "no terminator"},
    {Damage::KeysOutOfOrder, "does not follow"},
    {Damage::CountsZero, "are 0 while records follow"},
    {Damage::LastSlotBeyondFile, ""},  // a claim the engine writes itself: no problem
    {Damage::CountsTooSmall, "not below currentIXCount"},
    {Damage::RootFree, "names no live record"},
    {Damage::RootMissing, "names no live record"},
    {Damage::TrailingBytes, "10 bytes after the last slot"},
};

TEST(Damage, EveryKindIsCaughtByTheChecker) {
  TreeNode root = threeLevels();
  ASSERT_EQ(std::size(kCases), allDamageKinds().size());
  for (const Case& c : kCases) {
    SCOPED_TRACE(damageName(c.kind));
    DbSpec spec;
    spec.layout.freeSlots = 3;
    spec.damage = c.kind;
    BuiltImage image;
    std::string error;
    ASSERT_TRUE(buildImage(root, spec, &image, &error)) << error;
    CheckResult r = checkImage(image.bytes);
    if (c.finding[0] == '\0') {
      EXPECT_TRUE(r.ok()) << r.report();
    } else {
      EXPECT_NE(std::string::npos, r.report().find(c.finding)) << r.report();
    }
  }
}

TEST(Damage, WellFormedBaseHasNoProblems) {
  DbSpec spec;
  spec.layout.freeSlots = 3;
  BuiltImage image;
  std::string error;
  ASSERT_TRUE(buildImage(threeLevels(), spec, &image, &error)) << error;
  EXPECT_TRUE(checkImage(image.bytes).ok());
}

TEST(Damage, OneChangeOnlyAndNamesRoundTrip) {
  TreeNode root = threeLevels();
  BuiltImage good, bad;
  std::string error;
  ASSERT_TRUE(buildImage(root, DbSpec(), &good, &error));
  DbSpec spec;
  spec.damage = Damage::BadMagic;
  ASSERT_TRUE(buildImage(root, spec, &bad, &error));
  ASSERT_EQ(good.bytes.size(), bad.bytes.size());
  size_t differ = 0;
  for (size_t i = 0; i < good.bytes.size(); ++i) differ += good.bytes[i] != bad.bytes[i];
  EXPECT_EQ(2u, differ);
  for (Damage d : allDamageKinds()) {
    Damage back;
    ASSERT_TRUE(damageFromName(damageName(d), &back));
    EXPECT_EQ(d, back);
  }
  Damage none;
  EXPECT_FALSE(damageFromName("no-such-damage", &none));
}

TEST(Damage, TargetSelectsTheRecord) {
  TreeNode root = threeLevels();
  BuiltImage image;
  std::string error;
  ASSERT_TRUE(buildImage(root, DbSpec(), &image, &error));
  int32_t leaf = image.slots.back().subscript;  // breadth first: a leaf
  DbSpec spec;
  spec.damage = Damage::CountTooLarge;
  spec.damageTarget = leaf;
  ASSERT_TRUE(buildImage(root, spec, &image, &error)) << error;
  CheckResult r = checkImage(image.bytes);
  ASSERT_FALSE(r.ok());
  EXPECT_NE(std::string::npos, r.problems[0].text.find("node " + std::to_string(leaf) + ": count 11"))
      << r.report();
  spec.damageTarget = 100000;
  EXPECT_FALSE(buildImage(root, spec, &image, &error));
}

TEST(Damage, KindsThatDoNotFitTheTreeFail) {
  TreeNode leafRoot;
  std::string error;
  ASSERT_TRUE(parseShape("[a]", 32, &leafRoot, &error));
  BuiltImage image;
  for (Damage d : {Damage::ChildCycle, Damage::ChildZero, Damage::DuplicateDiskLoc,
                   Damage::KeysOutOfOrder}) {
    DbSpec spec;
    spec.damage = d;
    EXPECT_FALSE(buildImage(leafRoot, spec, &image, &error)) << damageName(d);
    EXPECT_FALSE(error.empty());
  }
}

TEST(Checker, SurvivesRandomCorruption) {
  BuiltImage image;
  std::string error;
  DbSpec spec;
  spec.layout.freeSlots = 2;
  ASSERT_TRUE(buildImage(threeLevels(80), spec, &image, &error));
  ASSERT_EQ(3, checkImage(image.bytes).height);
  Rng rng(2024);
  size_t caught = 0;
  for (int round = 0; round < 1500; ++round) {
    Bytes bytes = image.bytes;
    // Corrupt the header region of records and the control record mostly,
    // where one byte changes the structure.
    for (int k = 0; k < 1 + int(rng.below(3)); ++k) {
      size_t at = rng.below(4) == 0 ? rng.below(40) : rng.below(bytes.size());
      bytes[at] = uint8_t(rng.next());
    }
    if (rng.below(10) == 0) bytes.resize(rng.below(bytes.size()));
    caught += !checkImage(bytes).ok();
  }
  EXPECT_GT(caught, 300u);  // many flips land in data records, which no check sees
}

}  // namespace
