// parseRequest: verbs in any letter case, keys trimmed but kept as typed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "viewer/requests.h"

namespace {

struct Parsed {
  int code;
  std::string key;
};

Parsed parse(const std::string& line) {
  char argument[kRequestLineSize];
  std::memset(argument, '#', sizeof argument);
  argument[sizeof argument - 1] = '\0';
  int code = parseRequest(line.c_str(), argument);
  return {code, code == kRequestDel || code == kRequestFind ? std::string(argument) : std::string()};
}

TEST(ParseRequest, VerbsInAnyLetterCase) {
  EXPECT_EQ(parse("quit\n").code, kRequestQuit);
  EXPECT_EQ(parse("Quit\n").code, kRequestQuit);
  EXPECT_EQ(parse("QUIT").code, kRequestQuit);
  EXPECT_EQ(parse("Quit now\n").code, kRequestQuit);
  EXPECT_EQ(parse("  list  everything\n").code, kRequestList);
  EXPECT_EQ(parse("LiSt\n").code, kRequestList);
  EXPECT_EQ(parse("dEL x\n").code, kRequestDel);
  EXPECT_EQ(parse("\tfind x\n").code, kRequestFind);
}

TEST(ParseRequest, NothingToDo) {
  EXPECT_EQ(parse("").code, kRequestNone);
  EXPECT_EQ(parse("\n").code, kRequestNone);
  EXPECT_EQ(parse("   \t  \n").code, kRequestNone);
  EXPECT_EQ(parse("quitnow\n").code, kRequestNone);
  EXPECT_EQ(parse("delete x\n").code, kRequestNone);
  EXPECT_EQ(parse("fin x\n").code, kRequestNone);
}

TEST(ParseRequest, FirstWordOfSixteenOrMoreCharactersIsUnrecognised) {
  EXPECT_EQ(parse("quitquitquitqui\n").code, kRequestNone);   // 15
  EXPECT_EQ(parse("quitquitquitquit\n").code, kRequestNone);  // 16
  EXPECT_EQ(parse("find" + std::string(12, ' ') + "x\n").code, kRequestFind);
  EXPECT_EQ(parse(std::string(2000, 'f')).code, kRequestNone);
}

TEST(ParseRequest, KeyIsTrimmedButNeverCaseChanged) {
  Parsed p = parse("FIND   C:\\Dir One\\File.TXT  \t \n");
  EXPECT_EQ(p.code, kRequestFind);
  EXPECT_EQ(p.key, "C:\\Dir One\\File.TXT");
  EXPECT_EQ(parse("del \\\\server\\share\\a b\n").key, "\\\\server\\share\\a b");
  EXPECT_EQ(parse("Del KeyWithoutNewline").key, "KeyWithoutNewline");
}

TEST(ParseRequest, EmptyKey) {
  EXPECT_EQ(parse("find\n").key, "");
  EXPECT_EQ(parse("find    \n").key, "");
  EXPECT_EQ(parse("del").key, "");
  EXPECT_EQ(parse("del").code, kRequestDel);
}

TEST(ParseRequest, KeyEndsAtTheFirstNewline) {
  EXPECT_EQ(parse("find a\nb\n").key, "a");
}

TEST(ParseRequest, NonAsciiKeyBytesPassUnchanged) {
  EXPECT_EQ(parse("find C:\\\xc3\xa9t\xc3\xa9\n").key, "C:\\\xc3\xa9t\xc3\xa9");
}

}  // namespace
