// Reading tokens that may be quoted.
#include "platform/token.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Read {
  int status;
  std::string token;
  std::string rest;  // the text from the cursor on
};

Read readOne(const char* text) {
  static char dst[kMaxTokenLen + 1];
  dst[0] = 'x';
  dst[1] = '\0';
  const char* cursor = text;
  int status = nextToken(cursor, dst);
  return {status, dst, cursor};
}

void expectRead(const char* text, int status, const char* token, const char* rest) {
  Read r = readOne(text);
  EXPECT_EQ(r.status, status) << "input: [" << text << "]";
  EXPECT_EQ(r.token, token) << "input: [" << text << "]";
  EXPECT_EQ(r.rest, rest) << "input: [" << text << "]";
}

TEST(NextToken, PlainTokens) {
  expectRead("alpha beta", 0, "alpha", "beta");
  expectRead("  \t alpha\tbeta", 0, "alpha", "beta");
  expectRead("alpha", 0, "alpha", "");
  expectRead("", 0, "", "");
  expectRead("   ", 0, "", "");
  expectRead("it's fine", 0, "it's", "fine");  // a quote inside a word is ordinary
}

TEST(NextToken, QuotedTokens) {
  expectRead("\"my trace.out\" more", 0, "my trace.out", " more");
  expectRead("'single quoted' x", 0, "single quoted", " x");
  expectRead("\"at the end\"", 0, "at the end", "");
  expectRead("\"\" x", 0, "", " x");
  expectRead("\"it's\" x", 0, "it's", " x");  // only the same quote closes
}

TEST(NextToken, UnbalancedQuotes) {
  expectRead("\"no closing quote", kErrUnbalancedQuote, "", "");
  expectRead("\"glued\"text", kErrUnbalancedQuote, "", "text");
  expectRead("word\"", kErrUnbalancedQuote, "", "");
  expectRead("key=\"open value", kErrUnbalancedQuote, "", "");
}

TEST(NextToken, KeyWithQuotedValue) {
  expectRead("key=\"a b\" next", 0, "key=\"a b\"", " next");
  expectRead("key='a b'", 0, "key='a b'", "");
  expectRead("key=\"\" next", 0, "key=\"\"", " next");
  expectRead("key=\"a b\"\tnext", kErrUnbalancedQuote, "", "\tnext");  // only a blank may follow
  expectRead("key=\"a b\"c", kErrUnbalancedQuote, "", "c");
  expectRead("key=value x", 0, "key=value", "x");
}

TEST(NextToken, SuccessiveTokens) {
  const char* cursor = "one \"two three\" key=\"four five\" six";
  char dst[kMaxTokenLen + 1];
  std::string seen;
  while (*cursor != '\0') {
    ASSERT_EQ(nextToken(cursor, dst), 0);
    seen += std::string("[") + dst + "]";
  }
  EXPECT_EQ(seen, "[one][two three][key=\"four five\"][six]");
}

TEST(NextToken, LongestToken) {
  std::string longest(kMaxTokenLen, 't');
  Read r = readOne((longest + " x").c_str());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.token, longest);
  r = readOne((longest + "t x").c_str());
  EXPECT_EQ(r.status, kErrTokenTooLong);
  EXPECT_EQ(r.token, "");
  r = readOne(("\"" + longest + "t\"").c_str());
  EXPECT_EQ(r.status, kErrTokenTooLong);
}

}  // namespace
