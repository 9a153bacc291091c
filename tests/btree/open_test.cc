// Opening, creating and closing a database: the bytes of a new database,
// the recreate paths, the load of an existing one, makeEmpty and close.
#include <cstring>

#include "storage_fixture.h"

using namespace storagetest;
using namespace jbbformat;

namespace {

using OpenTest = StorageTest;

// A root with three keys and nothing else.
Image oneLeaf() {
  Image img;
  img.live(node(1, {u"a", u"b", u"c"}));
  return img;
}

TEST_F(OpenTest, MissingFileIsCreatedByteExact) {
  ASSERT_EQ(make().openBtDb(path.c_str(), false), 0);
  EXPECT_EQ(db->dbErrno, 0);
  Bytes file = readFile(path);
  ASSERT_EQ(file.size(), 2088u);
  CtrlRec cr = ctrlOf(file);
  EXPECT_EQ(cr.magic, 0xABCD);
  EXPECT_EQ(cr.majorVersion, 2);
  EXPECT_EQ(cr.minorVersion, 1);
  EXPECT_EQ(cr.rootOffset, 1);
  EXPECT_EQ(cr.indexArraySize, 500u);
  EXPECT_EQ(cr.currentIXCount, 2u);
  EXPECT_EQ(cr.lastIndex, 1);
  EXPECT_EQ(cr.lastNDRec, 2088);
  EXPECT_EQ(cr.keyLength, 0);
  EXPECT_EQ(cr.dataSize, kDataSize);
  for (uint8_t b : cr.journalInfoArea) ASSERT_EQ(b, 0);
  EXPECT_EQ(db->newNDLast, 2160);
  EXPECT_EQ(listOf(db->actList), std::vector<int32_t>{1});
  EXPECT_EQ(entryOf(1).state, kStateModified);

  db->closeBtDb();
  EXPECT_EQ(db->dbHandle, nullptr);
  file = readFile(path);
  ASSERT_EQ(file.size(), 2160u);
  EXPECT_EQ(u32At(file, 2088), 72u);      // nodeSize
  EXPECT_EQ(u32At(file, 2092), 0u);       // reserved
  EXPECT_EQ(u64At(file, 2096), 72u);      // slotLength
  EXPECT_EQ(u32At(file, 2104), 0u);       // recordState
  EXPECT_EQ(i32At(file, 2108), 1);        // diskLoc
  for (size_t i = 2112; i < 2160; ++i) ASSERT_EQ(file[i], 0) << i;
  EXPECT_EQ(ctrlOf(file).currentIXCount, 2u);
}

TEST_F(OpenTest, DeleteOnCreateTruncatesWithoutTheRecreatedCode) {
  writeFile(path, oneLeaf().bytes());
  ASSERT_EQ(make().openBtDb(path.c_str(), true), 0);
  EXPECT_EQ(db->dbErrno, 0);
  EXPECT_EQ(readFile(path).size(), 2088u);
}

TEST_F(OpenTest, DownlevelOrCorruptFilesAreRecreated) {
  struct Case {
    const char* what;
    Bytes bytes;
  };
  Image otherSize = oneLeaf();
  otherSize.cr.dataSize = kDataSize + 4;
  Bytes swapped = oneLeaf().bytes();
  swapped[0] = 0xAB;
  swapped[1] = 0xCD;
  Bytes partial = oneLeaf().bytes();
  partial.resize(2087);
  for (const Case& c : {Case{"other data size", otherSize.bytes()}, Case{"magic byte-swapped", swapped},
                        Case{"2087 bytes", partial}}) {
    SCOPED_TRACE(c.what);
    release();
    writeFile(path, c.bytes);
    ASSERT_EQ(make().openBtDb(path.c_str(), false), 0);
    EXPECT_EQ(db->dbErrno, kErrnoRecreated);
    Bytes file = readFile(path);
    ASSERT_EQ(file.size(), 2088u);
    CtrlRec cr = ctrlOf(file);
    EXPECT_EQ(cr.magic, 0xABCD);
    EXPECT_EQ(cr.dataSize, kDataSize);
    EXPECT_EQ(cr.currentIXCount, 2u);
    for (uint8_t b : cr.journalInfoArea) ASSERT_EQ(b, 0);
  }
}

TEST_F(OpenTest, OldVersionBytesOpenAsCurrent) {
  Image img = oneLeaf();
  img.cr.majorVersion = 1;
  img.cr.minorVersion = 0;
  ASSERT_EQ(open(img), 0);
  EXPECT_EQ(db->dbErrno, 0);
  EXPECT_EQ(countOf(db->rootP), 3);
}

TEST_F(OpenTest, EmptyFileFailsAndStaysEmpty) {
  writeFile(path, {});
  EXPECT_EQ(make().openBtDb(path.c_str(), false), kResultOpenFailed);
  EXPECT_EQ(db->dbErrno, 13);
  EXPECT_EQ(db->dbHandle, nullptr);
  EXPECT_TRUE(fileExists(path));
  EXPECT_EQ(readFile(path).size(), 0u);
}

TEST_F(OpenTest, ControlRecordOnlyGetsANewRootAtItsEnd) {
  Image img;
  Bytes bytes = img.bytes();
  ASSERT_EQ(bytes.size(), 2088u);
  ASSERT_EQ(open(img), 0);
  EXPECT_EQ(db->dbErrno, 0);
  ASSERT_NE(db->rootP, nullptr);
  EXPECT_EQ(db->cr.rootOffset, 1);
  EXPECT_EQ(entryOf(1).state, kStateModified);
  EXPECT_EQ(entryOf(1).nodePos, 2088);
  EXPECT_EQ(listLength(db->actList), 1);
  EXPECT_EQ(readFile(path).size(), 2088u);
  db->closeBtDb();
  Bytes file = readFile(path);
  ASSERT_EQ(file.size(), 2160u);
  EXPECT_EQ(i32At(file, 2108), 1);
  // The journal information area travels untouched.
  EXPECT_EQ(0, std::memcmp(file.data() + kJournalInfoOffset, bytes.data() + kJournalInfoOffset, kJournalInfoSize));
}

TEST_F(OpenTest, ExistingDatabaseLoadsItsIndex) {
  Image img;
  img.freeSlot(4, 100);
  img.live(node(2, {u"k"}));
  img.freeSlot(5, 200);
  img.cr.rootOffset = 2;
  ASSERT_EQ(open(img), 0);
  EXPECT_EQ(db->dbErrno, 0);
  // Free slots are stacked in file order, so the last one is at the head.
  EXPECT_EQ(listOf(db->avlList), (std::vector<int32_t>{5, 4}));
  EXPECT_EQ(entryOf(4).state, kStateAvailable);
  EXPECT_EQ(entryOf(4).nodePos, 2088);
  EXPECT_EQ(entryOf(4).slotLength, 100u);
  EXPECT_EQ(entryOf(5).nodePos, 2088 + 100 + int64_t(node(2, {u"k"}).size()));
  // The root read from the file stands twice on the active list.
  EXPECT_EQ(listOf(db->actList), (std::vector<int32_t>{2, 2}));
  EXPECT_EQ(entryOf(2).state, kStateOccupied);
  EXPECT_EQ(db->rootP, entryOf(2).node);
  EXPECT_EQ(db->newNDLast, int64_t(img.bytes().size()));
}

TEST_F(OpenTest, FreedRootGetsANewRootAtTheEndOfData) {
  Image img;
  img.freeSlot(1, 90);
  ASSERT_EQ(open(img), 0);
  EXPECT_EQ(db->cr.rootOffset, 2);
  EXPECT_EQ(entryOf(2).nodePos, 2088 + 90);
  EXPECT_EQ(entryOf(2).state, kStateModified);
  db->closeBtDb();
  Bytes file = readFile(path);
  ASSERT_EQ(file.size(), 2088u + 90 + 72);
  EXPECT_EQ(i32At(file, 2088 + 90 + 20), 2);
  EXPECT_EQ(u32At(file, 2088 + 16), 1u);  // the free slot is still free
  EXPECT_EQ(ctrlOf(file).rootOffset, 2);
}

TEST_F(OpenTest, ReadingRunLeavesTheFileAsItWas) {
  Image img;
  img.live(node(1, {u"m"}, {2, 3}));
  img.live(node(2, {u"a", u"b"}));
  img.freeSlot(4, 150);
  img.live(node(3, {u"x", u"y"}));
  img.cr.currentIXCount = 5;
  Bytes before = img.bytes();
  ASSERT_EQ(open(img), 0);
  NodeP child = db->fetchPage(2);
  ASSERT_TRUE(isRealNode(child));
  db->dbFree(child, "test", __LINE__);
  db->ExitCleanup();
  EXPECT_EQ(db->FlushMemNodes(), 0);
  db->closeBtDb();
  EXPECT_EQ(readFile(path), before);
}

TEST_F(OpenTest, MakeEmptyKeepsTheJournalArea) {
  Image img = oneLeaf();
  img.cr.keyLength = 6;
  Bytes before = img.bytes();
  ASSERT_EQ(open(img), 0);
  EXPECT_EQ(db->makeEmpty(), 1);
  EXPECT_EQ(db->dbErrno, 0);
  EXPECT_EQ(listOf(db->actList), std::vector<int32_t>{1});
  EXPECT_EQ(db->avlList, nullptr);
  // The file changes at the flush: the new root and control record over
  // the start of the file, and nothing after them.
  EXPECT_EQ(readFile(path), before);
  ASSERT_EQ(db->FlushMemNodes(), 0);
  Bytes file = readFile(path);
  ASSERT_EQ(file.size(), 2160u);
  CtrlRec cr = ctrlOf(file);
  EXPECT_EQ(cr.rootOffset, 1);
  EXPECT_EQ(cr.lastIndex, 1);
  EXPECT_EQ(cr.lastNDRec, 2088);
  EXPECT_EQ(cr.currentIXCount, 2u);
  EXPECT_EQ(cr.indexArraySize, 500u);
  EXPECT_EQ(cr.keyLength, 6);
  EXPECT_EQ(cr.dataSize, kDataSize);
  EXPECT_EQ(0, std::memcmp(file.data() + kJournalInfoOffset, before.data() + kJournalInfoOffset, kJournalInfoSize));
  db->closeBtDb();
  file = readFile(path);
  ASSERT_EQ(file.size(), 2160u);
  EXPECT_EQ(u32At(file, 2088), 72u);
  EXPECT_EQ(u64At(file, 2088 + kNodeSlotLength), 72u);
  EXPECT_EQ(i32At(file, 2088 + kNodeDiskLoc), 1);
  EXPECT_EQ(u16At(file, 2088 + kNodeCount), 0);
}

TEST_F(OpenTest, CloseIsHarmlessWhenNothingIsOpen) {
  make().closeBtDb();
  EXPECT_EQ(db->dbHandle, nullptr);
  ASSERT_EQ(db->openBtDb(path.c_str(), false), 0);
  db->closeBtDb();
  db->closeBtDb();
  EXPECT_EQ(readFile(path).size(), 2160u);
}

TEST_F(OpenTest, FileSizeComesFromTheKeptPath) {
  EXPECT_EQ(make().dbFileSize(), 0u);
  ASSERT_EQ(open(oneLeaf()), 0);
  EXPECT_EQ(db->dbFileSize(), oneLeaf().bytes().size());
  db->closeBtDb();
  EXPECT_EQ(db->dbFileSize(), 0u);
}

TEST_F(OpenTest, FileThatCannotBeOpenedForUpdateIsNeverRecreated) {
  Bytes before = oneLeaf().bytes();
  writeFile(path, before);
  std::string lock = "chattr +i '" + path + "' 2>/dev/null";
  if (std::system(lock.c_str()) != 0) GTEST_SKIP() << "needs chattr +i to make a file root cannot write";
  int rc = make().openBtDb(path.c_str(), false);
  std::system(("chattr -i '" + path + "'").c_str());
  EXPECT_EQ(rc, kResultOpenFailed);
  EXPECT_NE(db->dbErrno, 0);
  EXPECT_EQ(readFile(path), before);
}

}  // namespace
