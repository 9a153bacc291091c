// Code-page conversion of message texts.  The expectations are the same on
// both hosts: the Linux tables must agree with the Windows conversion.
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/kxmem.h"
#include "trace/trace.h"

namespace {

class CodePage : public ::testing::Test {
 protected:
  void TearDown() override {
    trTestFlag.OEMNLSREPOS = {};
    trTestFlag.ANSINLSREPOS = {};
    kxTestSetFailure(0, 0);
  }
  static std::string converted(std::string text) {
    convertCodePage(&text[0]);
    return std::string(text.c_str());
  }
};

TEST_F(CodePage, OemTextBecomesAnsi) {
  // "größer été £5 ÇçÑñ" as stored in the PC page.
  EXPECT_EQ(converted("gr\x94\xE1\x65r \x82t\x82 \x9C\x35 \x80\x87\xA5\xA4"),
            "gr\xF6\xDF\x65r \xE9t\xE9 \xA3\x35 \xC7\xE7\xD1\xF1");
  EXPECT_EQ(converted("plain ASCII text"), "plain ASCII text");
  EXPECT_EQ(converted("\x9F\xD5\xF2\xFF"), "\x83i=\xA0") << "florin, dotless i, double low line, no-break space";
  EXPECT_EQ(converted("\xC4\xB3\xDA\xBF\xC0\xD9\xC5"), "-\xA6++++" "+") << "box drawings as look-alikes";
  EXPECT_EQ(converted(""), "");
}

TEST_F(CodePage, EveryHighByteHasItsCharacter) {
  std::string all;
  for (int b = 0x80; b <= 0xFF; ++b) all += char(b);
  std::string out = converted(all);
  ASSERT_EQ(out.size(), all.size()) << "a single-byte page keeps the length";
  EXPECT_EQ(out.find('?'), std::string::npos) << "every character has a byte or a look-alike";
}

// FNV-1a of a converted text: a compact fingerprint of 128 bytes.
uint32_t fingerprint(const std::string& text) {
  uint32_t h = 2166136261u;
  for (char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619u;
  }
  return h;
}

TEST_F(CodePage, EveryPairOfPagesConvertsAllHighBytesAlike) {
  // The fingerprints of the Windows conversion of the bytes 0x80 to 0xFF,
  // look-alikes and default characters included.
  struct Pair {
    int source, target;
    uint32_t expected;
  };
  const Pair pairs[] = {
      {437, 850, 0x0DA377E3u},   {437, 1252, 0xC7299A3Cu},  {437, 28591, 0xA3AA20C9u},
      {850, 437, 0xB9BE47E6u},   {850, 1252, 0x55DD9C29u},  {850, 28591, 0xE48CEAB4u},
      {1252, 437, 0x6B633B31u},  {1252, 850, 0x252618F3u},  {1252, 28591, 0xB06333EEu},
      {28591, 437, 0x2F27A373u}, {28591, 850, 0xD32085B5u}, {28591, 1252, 0xFC4D070Cu},
  };
  std::string high;
  for (int b = 0x80; b <= 0xFF; ++b) high += char(b);
  for (const Pair& p : pairs) {
    trTestFlag.OEMNLSREPOS = {1, p.source};
    trTestFlag.ANSINLSREPOS = {1, p.target};
    std::string out = converted(high);
    EXPECT_EQ(out.size(), high.size());
    EXPECT_EQ(fingerprint(out), p.expected) << p.source << " to " << p.target;
  }
}

TEST_F(CodePage, TestFlagsChooseThePages) {
  trTestFlag.OEMNLSREPOS = {1, 1252};
  EXPECT_EQ(converted("\xE9t\xE9"), "\xE9t\xE9") << "the same page: nothing to do";
  trTestFlag.ANSINLSREPOS = {1, 850};
  EXPECT_EQ(converted("\xE9t\xE9 \x80"), "\x82t\x82 ?") << "the euro sign is not in 850";
  trTestFlag.OEMNLSREPOS = {1, 0};
  trTestFlag.ANSINLSREPOS = {0, 437};
  EXPECT_EQ(converted("\x82"), "\xE9") << "a value of 0 or an unset flag keeps the default";
}

TEST_F(CodePage, UnsupportedPageOrNoMemoryLeavesTheText) {
  trTestFlag.OEMNLSREPOS = {1, 4242};
  EXPECT_EQ(converted("\x82t\x82"), "\x82t\x82");
  trTestFlag.OEMNLSREPOS = {};
  kxTestSetFailure(0, 1);
  EXPECT_EQ(converted("\x82t\x82"), "\x82t\x82");
}

}  // namespace
