// The journal information area and the change-journal record, byte for byte.
#include <gtest/gtest.h>

#include <cstring>

#include "btree/format.h"
#include "builder/builder.h"

using namespace jbbbuilder;
using namespace jbbformat;

namespace {

TEST(JournalInfo, FieldsAtTheirOffsets) {
  JournalInfo info;
  info.journalType = 1;
  info.activationTime = 0x0102030405060708;
  info.validationTime = -2;
  info.journalState = 2;
  info.maxJournalSize = 5ull << 30;
  info.server = "SERVER";
  info.node = "NODE1";
  info.fsName = u"/home";
  uint8_t area[2048];
  std::string error;
  ASSERT_TRUE(encodeJournalInfo(info, area, &error)) << error;
  EXPECT_EQ(1, getI32(area + 0));
  EXPECT_EQ(0x0102030405060708, getI64(area + 8));
  EXPECT_EQ(0x08, area[8]);
  EXPECT_EQ(-2, getI64(area + 16));
  EXPECT_EQ(2, getI32(area + 24));
  EXPECT_EQ(5ull << 30, getU64(area + 32));
  EXPECT_EQ(6, area[40]);
  EXPECT_EQ(0, std::memcmp(area + 41, "SERVERNODE1\0", 12));
  EXPECT_EQ(u'/', getU16(area + 170));
  EXPECT_EQ(u'e', getU16(area + 178));
  EXPECT_EQ(0, getU16(area + 180));
  EXPECT_EQ(0, getU32(area + 4));
  EXPECT_EQ(0, getU32(area + 28));
}

TEST(JournalInfo, UnsetServerAndOverriddenLength) {
  JournalInfo info;
  uint8_t area[2048];
  std::string error;
  ASSERT_TRUE(encodeJournalInfo(info, area, &error));
  EXPECT_EQ(0, area[40]);
  EXPECT_EQ(0, area[41]);
  info.server = "SRV";
  info.node = "N";
  info.serverNameLen = 10;  // longer than the server text, kept as given
  ASSERT_TRUE(encodeJournalInfo(info, area, &error));
  EXPECT_EQ(10, area[40]);
}

TEST(JournalInfo, RefusesFieldsThatDoNotFit) {
  JournalInfo info;
  uint8_t area[2048];
  std::string error;
  info.server = std::string(64, 'S');
  info.node = std::string(64, 'N');  // 128 + terminator = 129: fits
  EXPECT_TRUE(encodeJournalInfo(info, area, &error));
  info.node += 'N';
  EXPECT_FALSE(encodeJournalInfo(info, area, &error));
  info = JournalInfo();
  info.fsName = Key(938, u'x');
  EXPECT_TRUE(encodeJournalInfo(info, area, &error));
  EXPECT_EQ(0, getU16(area + 2046));
  info.fsName += u'x';
  EXPECT_FALSE(encodeJournalInfo(info, area, &error));
}

TEST(JournalEntry, EncodedCutAndPadded) {
  JournalEntry e;
  e.action = 11;
  e.objectType = 2;
  e.insertedTime = 1600000000;
  e.objectTime = -1;
  e.extra = {1, 2, 3, 4, 5, 6, 7, 8};
  Bytes full = encodeJournalEntry(e, 32);
  EXPECT_EQ(11, getI32(full.data()));
  EXPECT_EQ(2, getI32(full.data() + 4));
  EXPECT_EQ(1600000000, getI64(full.data() + 8));
  EXPECT_EQ(-1, getI64(full.data() + 16));
  EXPECT_EQ(8, full[31]);
  Bytes cut = encodeJournalEntry(e, 12);
  EXPECT_EQ(Bytes(full.begin(), full.begin() + 12), cut);
  Bytes padded = encodeJournalEntry(e, 40);
  EXPECT_EQ(Bytes(8, 0), Bytes(padded.begin() + 32, padded.end()));
}

TEST(Database, ControlRecordCarriesEveryField) {
  DbSpec spec;
  spec.dataSize = 20;  // below 32
  spec.keyLength = 512;
  spec.info.server = "SERVER";
  spec.info.node = "NODE1";
  spec.ctrl.minorVersion = 0;
  spec.ctrl.majorVersion = 1;
  TreeNode root;
  std::string error;
  ASSERT_TRUE(parseShape("[a b c]", spec.dataSize, &root, &error));
  BuiltImage image;
  ASSERT_TRUE(buildImage(root, spec, &image, &error)) << error;
  CheckResult r = checkImage(image.bytes, CheckOptions{20});
  EXPECT_TRUE(r.ok()) << r.report();
  EXPECT_EQ(20, r.ctrl.dataSize);
  EXPECT_EQ(512, r.ctrl.keyLength);
  EXPECT_EQ(1, r.ctrl.majorVersion);
  EXPECT_EQ(0, r.ctrl.minorVersion);
  EXPECT_EQ(0, std::memcmp(r.ctrl.journalInfoArea.data() + 41, "SERVERNODE1", 11));
  ASSERT_EQ(3u, r.entries.size());
  EXPECT_EQ(keyData(K("b"), 20), r.entries[1].data);
  // Entry layout: nkl, dataOffset, key, terminator, data right after it.
  const uint8_t* e = image.bytes.data() + 2088 + 72;
  EXPECT_EQ(4 + 4 + 20, getU16(e));
  EXPECT_EQ(6, getU16(e + 2));
}

}  // namespace

namespace {

uint64_t fnv1a(const Bytes& b) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (uint8_t c : b) h = (h ^ c) * 0x100000001B3ull;
  return h;
}

// The same inputs give the same file on every host: the Linux and the
// Windows build both hold the image to this digest.
TEST(Database, SameBytesOnEveryHost) {
  std::vector<Key> keys = syntheticPaths(300, 3, u"/home", true);
  std::string error;
  ASSERT_TRUE(sortKeys(&keys, false, &error));
  BulkOptions bulk;
  bulk.fill = 6;
  TreeNode root;
  ASSERT_TRUE(bulkLoad(entriesFor(keys, 32, 3), bulk, &root, &error));
  DbSpec spec;
  spec.info.server = "SERVER";
  spec.info.node = "NODE1";
  spec.info.fsName = u"/home";
  spec.info.activationTime = 1700000000;
  spec.layout.freeSlots = 4;
  spec.layout.slack = 8;
  spec.layout.shuffle = true;
  spec.layout.shuffleSeed = 7;
  BuiltImage image;
  ASSERT_TRUE(buildImage(root, spec, &image, &error)) << error;
  EXPECT_EQ(15093084676402831007ull, fnv1a(image.bytes));
}

}  // namespace
