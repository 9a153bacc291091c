// The user's locale as the viewer sets it up, run by CTest with and without
// a locale in the environment: a UTF-8 name must convert either way.
#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/os.h"

namespace {

bool characterTypeIsUtf8() {
  std::string name = std::setlocale(LC_CTYPE, nullptr);
  for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
  return name.find("utf-8") != std::string::npos || name.find("utf8") != std::string::npos;
}

TEST(UserLocale, AUtf8NameConvertsWhateverTheEnvironmentSays) {
  osSetUserLocale();
  std::string ctype = std::setlocale(LC_CTYPE, nullptr);
  EXPECT_NE(ctype, "C");
  EXPECT_NE(ctype, "POSIX");
  wchar16 wide[8] = {};
  size_t n = osMbsToWide16(wide, "caf\xC3\xA9", 8);
  ASSERT_NE(n, SIZE_MAX) << ctype;
  if (characterTypeIsUtf8()) {
    ASSERT_EQ(n, 4u);
    EXPECT_EQ(wide[3], wchar16(0xE9));
    char back[16] = {};
    EXPECT_EQ(osWide16ToMbs(back, wide, sizeof back - 1, false), 5u);
    EXPECT_STREQ(back, "caf\xC3\xA9");
  }
}

}  // namespace
