// Completing a bare file name with the current directory.
#include "platform/path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/os.h"

namespace {

std::string currentDirectory() {
  char dir[kFullPathSize + 1];
  EXPECT_TRUE(osCurrentDirectory(dir, sizeof dir));
  return dir;
}

std::string sep() { return std::string(1, osPathSeparator()); }

TEST(MakeFullPath, BareNameGoesIntoTheCurrentDirectory) {
  char dst[kFullPathSize];
  std::string dir = currentDirectory();
  std::string joined = dir.back() == '/' ? dir : dir + sep();  // a Linux root has its separator
  EXPECT_EQ(makeFullPath(dst, "trace.out"), 0);
  EXPECT_EQ(std::string(dst), joined + "trace.out");
  EXPECT_EQ(makeFullPath(dst, " \t trace.out"), 0);
  EXPECT_EQ(std::string(dst), joined + "trace.out") << "leading white space is skipped";
}

TEST(MakeFullPath, NameWithASeparatorIsLeftAlone) {
  char dst[kFullPathSize];
  std::strcpy(dst, "untouched");
  std::string path = "logs" + sep() + "trace.out";
  EXPECT_EQ(makeFullPath(dst, path.c_str()), 0);
  EXPECT_STREQ(dst, "untouched");
  path = sep() + "trace.out";
  EXPECT_EQ(makeFullPath(dst, path.c_str()), 0);
  EXPECT_STREQ(dst, "untouched");
}

TEST(MakeFullPath, ResultThatDoesNotFitLeavesTheDestination) {
  char dst[16];
  std::strcpy(dst, "untouched");
  std::string name(currentDirectory().size() < 16 ? 16 : 1, 'n');
  EXPECT_EQ(makeFullPath(dst, name.c_str(), sizeof dst), 0);
  EXPECT_STREQ(dst, "untouched");
}

}  // namespace
