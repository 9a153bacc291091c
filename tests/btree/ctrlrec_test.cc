// dbReadCtrlRec: the control record of a file by path, before any open.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "btree/jbbtreev.h"
#include "platform/psstr.h"

namespace {

class CtrlRecTest : public testing::Test {
 protected:
  void SetUp() override {
    const testing::TestInfo* t = testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::string("ctrlrec_") + t->name() + ".jbbdb";
    std::remove(path_.c_str());
  }
  void TearDown() override { std::remove(path_.c_str()); }

  void writeFile(const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) {
      ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    std::fclose(f);
  }
  int read(uint8_t* buffer) {
    wchar16 wide[kWideBufUnits];
    return dbReadCtrlRec(mbToWide(wide, path_.c_str()), buffer);
  }
  static std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 7 + 3);
    return b;
  }

  std::string path_;
};

TEST_F(CtrlRecTest, ReadsTheFirst2088BytesWhateverTheyHold) {
  std::vector<uint8_t> bytes = pattern(5000);
  writeFile(bytes);
  std::vector<uint8_t> buffer(jbbformat::kCtrlRecSize + 16, 0xEE);
  ASSERT_EQ(read(buffer.data()), 1);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + jbbformat::kCtrlRecSize, bytes.begin()));
  EXPECT_EQ(buffer[jbbformat::kCtrlRecSize], 0xEE);  // nothing past the record
}

TEST_F(CtrlRecTest, ExactlyOneRecordIsEnoughAndOneByteLessIsNot) {
  writeFile(pattern(jbbformat::kCtrlRecSize));
  uint8_t buffer[jbbformat::kCtrlRecSize];
  EXPECT_EQ(read(buffer), 1);
  writeFile(pattern(jbbformat::kCtrlRecSize - 1));
  EXPECT_EQ(read(buffer), 0);
  writeFile({});
  EXPECT_EQ(read(buffer), 0);
}

TEST_F(CtrlRecTest, MissingFileFails) {
  uint8_t buffer[jbbformat::kCtrlRecSize];
  EXPECT_EQ(read(buffer), 0);
}

TEST_F(CtrlRecTest, NeverWritesTheFile) {
  std::vector<uint8_t> bytes = pattern(3000);
  writeFile(bytes);
  uint8_t buffer[jbbformat::kCtrlRecSize];
  ASSERT_EQ(read(buffer), 1);
  FILE* f = std::fopen(path_.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> after(4000);
  after.resize(std::fread(after.data(), 1, after.size(), f));
  std::fclose(f);
  EXPECT_EQ(after, bytes);
}

TEST_F(CtrlRecTest, FileThatCannotBeWrittenFails) {
  writeFile(pattern(jbbformat::kCtrlRecSize));
  // Root may open any file for update; an immutable file it may not.
  std::string lock = "chattr +i " + path_ + " 2>/dev/null";
  if (std::system(lock.c_str()) != 0) GTEST_SKIP() << "chattr +i is not available on this file system";
  uint8_t buffer[jbbformat::kCtrlRecSize];
  int result = read(buffer);
  std::system(("chattr -i " + path_).c_str());
  EXPECT_EQ(result, 0);
}

TEST_F(CtrlRecTest, PathTooLongForItsBufferFails) {
  std::u16string longPath(9000, u'a');
  uint8_t buffer[jbbformat::kCtrlRecSize];
  EXPECT_EQ(dbReadCtrlRec(longPath.c_str(), buffer), 0);
}

}  // namespace
