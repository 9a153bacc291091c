// The code page of typed keys: which page is chosen, and
// what a key typed at a Western European console becomes in it.
#include "platform/stdpage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/os.h"

namespace {

TEST(StreamCodePage, ConsoleInputIsInTheConsolesPage) {
  EXPECT_EQ(selectStreamCodePage(true, 850, 1252), 850u);    // Western Europe by default
  EXPECT_EQ(selectStreamCodePage(true, 437, 1252), 437u);
  EXPECT_EQ(selectStreamCodePage(true, 65001, 1252), 65001u);  // a console set to UTF-8
  EXPECT_EQ(selectStreamCodePage(true, 1252, 1252), 1252u);
}

TEST(StreamCodePage, RedirectedStreamsKeepTheAnsiPage) {
  // A file or a pipe carries the bytes scripts have always seen, whatever
  // page a console would have.
  EXPECT_EQ(selectStreamCodePage(false, 850, 1252), 1252u);
  EXPECT_EQ(selectStreamCodePage(false, 65001, 1252), 1252u);
  EXPECT_EQ(selectStreamCodePage(false, 0, 932), 932u);
}

TEST(StreamCodePage, UnknownConsolePageKeepsTheAnsiPage) {
  EXPECT_EQ(selectStreamCodePage(true, 0, 1252), 1252u);
}

// The test runner hands the programs files and pipes: then typed keys
// convert exactly as the locale's own conversions do.
TEST(StreamText, RedirectedInputUsesTheLocaleConversions) {
  if (osIsTerminal(stdin)) GTEST_SKIP() << "standard input is a terminal";
  EXPECT_EQ(osStdinCodePage(), 0u);
  for (const char* typed : {"/home/user/report 1.txt", "", "C:\\Temp\\a b.txt"}) {
    wchar16 viaLocale[kWideBufUnits], viaStream[kWideBufUnits];
    mbToWide(viaLocale, typed);
    typedToWide(viaStream, typed);
    EXPECT_EQ(std::u16string(viaStream), std::u16string(viaLocale)) << typed;
  }
}

// Output to a file or a pipe is the bytes themselves.
TEST(StreamText, RedirectedOutputIsTheBytes) {
  if (osIsTerminal(stdout)) GTEST_SKIP() << "standard output is a terminal";
  EXPECT_EQ(osWriteStdout("", 0), 0);
  EXPECT_EQ(osWriteStdout("stdpage_test\n", 13), 13);
}

// What the console path converts through: the bytes a Western European
// console sends for C:\Données\résumé.txt.
TEST(StreamText, ConsolePageBytesOfAKey) {
  const char typed850[] = "C:\\Donn\x82" "es\\r\x82sum\x82.txt";
  const std::u16string key = u"C:\\Donn\u00e9es\\r\u00e9sum\u00e9.txt";
  wchar16 wide[64];
  size_t n = osCodePageToWide(850, typed850, std::strlen(typed850), wide, 63);
  ASSERT_EQ(n, key.size());
  EXPECT_EQ(std::u16string(wide, n), key);
  // The same bytes read in the ANSI page are other characters: the key
  // the console's page is there to find.
  n = osCodePageToWide(1252, typed850, std::strlen(typed850), wide, 63);
  EXPECT_NE(std::u16string(wide, n), key);
}

}  // namespace
