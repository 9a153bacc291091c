// Reading messages from a repository, the caches, and finishing a message
// with its inserts.
#include <gtest/gtest.h>

#include <string>

#include "messages/kvenls.h"
#include "messages/nlorder.h"
#include "messages/nlsbuffer.h"
#include "messages_fixture.h"
#include "platform/kxmem.h"

namespace {
constexpr char kSourceName[] = "repository_test";
using jbbtest::MessagesTest;
using jbbtest::Piece;
using jbbtest::RepositoryImage;
using jbbtest::shownTexts;

// The finished text of a message, released again.
template <typename... Args>
std::string messageText(uint16_t num, Args... args) {
  char* text = nlsMessageText(num, args...);
  if (text == nullptr) return "<none>";
  std::string s = text;
  KX_FREE(text);
  return s;
}

TEST(MessagesAbsent, WithoutStateEveryLookupGivesNothing) {
  ASSERT_EQ(nlsState, nullptr);
  EXPECT_EQ(nlsMessageText(361), nullptr);
  EXPECT_EQ(nlsMessageSeverity(361), 6);
  nlsDisplayMessage(361);
  EXPECT_EQ(errorLogWrite("text"), 109);
}

TEST_F(MessagesTest, AnIndexValueOfZeroIsReported) {
  RepositoryImage image;
  image.add(5, {{2, "\x01" "five\n"}});
  image.addEmptyIndex(7);
  openRepository(image);
  EXPECT_EQ(messageText(7), "<none>");
  ASSERT_FALSE(shownTexts().empty());
  EXPECT_EQ(shownTexts()[0], std::make_pair(6, std::string("KVE0106E Message index not found for message 7.\n")));
  EXPECT_EQ(messageText(5), "five\n");
}

TEST_F(MessagesTest, AnIndexBeyondTheFileIsAReadError) {
  RepositoryImage image;
  image.add(5, {{2, "\x01" "five\n"}});
  openRepository(image);
  GlobalrC holder;
  globalRC = &holder;
  EXPECT_EQ(ReadIndex(4000, false), 0);
  ASSERT_EQ(shownTexts().size(), 1u);
  EXPECT_EQ(shownTexts()[0].second,
            "KVE0105E Error trying to read index for message 4000 from repository 'test.rep'.\n");
  EXPECT_EQ(holder.rc, 12);
}

TEST_F(MessagesTest, ARecordOfTwoPiecesHasOnePrefix) {
  RepositoryImage image;
  image.add(106, {{6, " \x01" "first part, "}, {6, "second %d\n"}});
  openRepository(image);
  int severity = -1;
  char* text = nlsMessageTextSev(106, &severity, 42);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "KVE0106E first part, second 42\n");
  EXPECT_EQ(severity, 6);
  KX_FREE(text);
}

TEST_F(MessagesTest, SeverityLettersAndCodesWithoutPrefix) {
  RepositoryImage image;
  image.add(12, {{2, "\x01" "reply %s\n"}});
  image.add(13, {{8, "\x01" "log only\n"}});
  image.add(10014, {{5, " \x01" "warned\n"}});
  image.add(15, {{3, " \x01" "kept\n", "YN"}});
  openRepository(image);
  EXPECT_EQ(messageText(12, "yes"), "reply yes\n");
  EXPECT_EQ(messageText(13), "log only\n");
  EXPECT_EQ(messageText(10014), "KVE0014W warned\n");
  EXPECT_EQ(messageText(15), "KVE0015K kept\n");
  EXPECT_STREQ(state_->cacheHead[0]->response, "YN");
}

TEST_F(MessagesTest, SeverityQuery) {
  RepositoryImage image;
  image.add(20, {{5, " \x01" "w\n"}});
  openRepository(image);
  EXPECT_EQ(nlsMessageSeverity(20), 5);
  EXPECT_EQ(nlsMessageSeverity(21), 255);
}

TEST_F(MessagesTest, ACacheOfTwoDropsTheLeastRecentlyUsed) {
  state_->cacheLimit = 2;
  RepositoryImage image;
  image.add(1, {{2, "\x01" "A\n"}});
  image.add(2, {{2, "\x01" "B\n"}});
  image.add(3, {{2, "\x01" "C\n"}});
  openRepository(image);
  EXPECT_EQ(messageText(1), "A\n");
  EXPECT_EQ(messageText(2), "B\n");
  EXPECT_EQ(messageText(3), "C\n");
  closeRepository();
  // B is still cached and moves to the head; A was dropped.
  EXPECT_EQ(messageText(2), "B\n");
  EXPECT_EQ(state_->cacheHead[0]->msgNum, 2);
  EXPECT_EQ(state_->cacheHead[0]->next->msgNum, 3);
  EXPECT_EQ(messageText(1), "<none>");
  EXPECT_EQ(messageText(3), "C\n");
}

TEST_F(MessagesTest, AMessageMissingFromThePrimaryComesFromTheSecondary) {
  RepositoryImage primary, secondary;
  primary.add(1, {{2, "\x01" "primary\n"}});
  secondary.add(9, {{2, "\x01" "secondary\n"}});
  openRepository(primary);
  openRepository(secondary, true);
  EXPECT_EQ(messageText(9), "secondary\n");
  EXPECT_EQ(state_->useSecondary, 0);
  state_->useSecondary = 1;
  EXPECT_EQ(messageText(1), "<none>");
  EXPECT_EQ(state_->useSecondary, 0);
}

TEST_F(MessagesTest, DamagedRecordsAreReportedNotRead) {
  RepositoryImage image;
  image.add(30, {{6, " \x01" "cut short"}});
  openRepository(image);
  // Truncate the record's text: the last bytes of the file go.
  std::string path = file("first.rep");
  std::string bytes = jbbtest::readFile(path);
  closeRepository();
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size() - 3, f);
  std::fclose(f);
  state_->repos[0] = std::fopen(path.c_str(), "rb");
  EXPECT_EQ(messageText(30), "<none>");
  ASSERT_EQ(shownTexts().size(), 1u);
  EXPECT_EQ(shownTexts()[0].second,
            "KVE0108E Error trying to read text for message 30 from repository 'test.rep'.\n");
}

TEST_F(MessagesTest, OrderedInsertsFollowTheOrderList) {
  // Argument 0 fills insert 1 (a wide string), argument 1 fills insert 0
  // (an integer with a "*" width).
  std::string text = jbbtest::orderedText(0x2, {1, 0}, {{1, 1, "%*d"}, {0, 0, "%s"}}, {"A=", " B=", "!\n"});
  RepositoryImage image;
  image.add(40, {{2, text}});
  openRepository(image);
  EXPECT_EQ(messageText(40, u"wide", 4, 7), "A=   7 B=wide!\n");
}

TEST_F(MessagesTest, RefusedConversionsLeaveTheirInsertEmpty) {
  // "%n" and a conversion of the wrong kind are not used; the arguments
  // after them still reach their inserts.
  std::string text = jbbtest::orderedText(0, {0, 1, 2}, {{0, 0, "%n"}, {0, 3, "%d"}, {0, 1, "%x"}},
                                          {"[", "|", "|", "]"});
  RepositoryImage image;
  image.add(41, {{2, text}});
  openRepository(image);
  int sink = 0;
  EXPECT_EQ(messageText(41, &sink, 2.5, 255), "[||ff]");
  EXPECT_EQ(sink, 0);
}

TEST_F(MessagesTest, AMalformedInsertTextGivesNoText) {
  std::string text = jbbtest::orderedText(0, {5}, {{0, 1, "%d"}}, {"a", "b"});
  RepositoryImage image;
  image.add(42, {{2, text}});
  openRepository(image);
  EXPECT_EQ(messageText(42, 1), "<none>");
}

TEST_F(MessagesTest, WideInsertsOfStringAndCharacter) {
  std::string text =
      jbbtest::orderedText(0x3, {0, 1}, {{0, 0, "%-6s"}, {0, 1, "%c"}}, {"<", "|", ">"});
  RepositoryImage image;
  image.add(43, {{2, text}});
  openRepository(image);
  const wchar16 name[] = u"ab";
  EXPECT_EQ(messageText(43, name, int(u'Z')), "<ab    |Z>");
  EXPECT_EQ(name[0], u'a');
}

// A printf-form text is checked against the caller's values before any is
// read; one that does not fit is a damaged record.
class PrintfTextTest : public MessagesTest {
 protected:
  void SetUp() override {
    MessagesTest::SetUp();
    RepositoryImage image;
    image.add(60, {{2, "\x01" "abc%n"}});
    image.add(61, {{2, "\x01" "%s%s%s%s%s%s%s%s"}});
    image.add(62, {{2, "\x01" "%999999999d"}});
    image.add(63, {{2, "\x01" "%s"}});
    image.add(64, {{2, "\x01" "[%-5s|%*d|%.2f|%x|%ls|%lc] 100%%"}});
    image.add(65, {{2, "\x01" "%.25857s"}});
    image.add(66, {{2, "\x01" "%d%"}});
    image.add(67, {{2, "\x01" "%*d"}});
    openRepository(image);
  }
  void expectDamaged(uint16_t num) {
    ASSERT_EQ(shownTexts().size(), 1u) << num;
    EXPECT_EQ(shownTexts()[0].first, 6);
    EXPECT_EQ(shownTexts()[0].second, "KVE0108E Error trying to read text for message " + std::to_string(num) +
                                          " from repository 'test.rep'.\n");
    shownTexts().clear();
  }
};

TEST_F(PrintfTextTest, ConversionsThatDoNotFitTheValuesMakeTheTextDamaged) {
  GlobalrC holder;
  globalRC = &holder;
  int sink = 7;
  EXPECT_EQ(messageText(60, &sink), "<none>");
  EXPECT_EQ(sink, 7);
  expectDamaged(60);
  EXPECT_EQ(holder.rc, 12);
  EXPECT_EQ(messageText(61, "one"), "<none>");
  expectDamaged(61);
  EXPECT_EQ(messageText(63, 5), "<none>");
  expectDamaged(63);
  EXPECT_EQ(messageText(63, 2.5), "<none>");
  expectDamaged(63);
  EXPECT_EQ(messageText(66, 1), "<none>");
  expectDamaged(66);
  // The "*" takes an integer: a pointer in its place does not fit.
  EXPECT_EQ(messageText(67, "x", 5), "<none>");
  expectDamaged(67);
}

TEST_F(PrintfTextTest, WidthsAndPrecisionsBeyondTheWorkAreaAreRefusedAtOnce) {
  EXPECT_EQ(messageText(62, 5), "<none>");
  expectDamaged(62);
  EXPECT_EQ(messageText(65, "s"), "<none>");
  expectDamaged(65);
  // A "*" width from the caller is bounded too: the conversion gives nothing.
  EXPECT_EQ(messageText(67, 999999999, 5), "");
  EXPECT_TRUE(shownTexts().empty());
}

TEST_F(PrintfTextTest, FittingConversionsAreFormattedAsPrintfWould) {
  EXPECT_EQ(messageText(64, "ab", 4, 7, 2.5, 255u, u"wide", int(u'Z')), "[ab   |   7|2.50|ff|wide|Z] 100%");
  EXPECT_EQ(messageText(63, static_cast<const char*>(nullptr)), "(null)");
  // More values than conversions is fine; none at all takes the text as it is.
  EXPECT_EQ(messageText(63, "x", 1, 2.0), "x");
  EXPECT_TRUE(shownTexts().empty());
}

TEST_F(MessagesTest, OrderedInsertsAskingForValuesNotPassedAreDamaged) {
  std::string text = jbbtest::orderedText(0, {0, 1}, {{0, 1, "%d"}, {0, 0, "%s"}}, {"<", "|", ">"});
  std::string wide = jbbtest::orderedText(0, {0}, {{0, 1, "%99999999d"}}, {"<", ">"});
  RepositoryImage image;
  image.add(44, {{2, text}});
  image.add(45, {{2, wide}});
  openRepository(image);
  EXPECT_EQ(messageText(44, 1, "s"), "<1|s>");
  EXPECT_EQ(messageText(44, 1), "<none>");
  EXPECT_EQ(messageText(44, "s", 1), "<none>");
  ASSERT_EQ(shownTexts().size(), 2u);
  EXPECT_EQ(shownTexts()[1].second, "KVE0108E Error trying to read text for message 44 from repository 'test.rep'.\n");
  // A width past the work area leaves its insert empty, as a refused
  // conversion does.
  EXPECT_EQ(messageText(45, 3), "<>");
}

TEST(NlsCharBuffer, GrowsInWholePagesAndKeepsItsText) {
  nlsCharBuffer buf;
  EXPECT_EQ(buf.charWidth(), 1);
  EXPECT_EQ(buf.append("head", 0), 4u);
  std::string big(5000, 'q');
  EXPECT_EQ(buf.append(big.c_str(), 3000), 3004u);
  EXPECT_EQ(buf.append(big.c_str(), 0), 8004u);
  EXPECT_EQ(std::string(buf.data()), "head" + std::string(8000, 'q'));
}

TEST(NlsCharBuffer, AFailedGrowthEmptiesTheBuffer) {
  nlsCharBuffer buf;
  buf.append("x", 0);
  kxTestSetFailure(0, 1);
  std::string big(5000, 'q');
  EXPECT_EQ(buf.append(big.c_str(), 0), 0u);
  kxTestSetFailure(0, 0);
  EXPECT_EQ(buf.data(), nullptr);
  EXPECT_EQ(buf.append("more", 0), 0u);
}

TEST_F(MessagesTest, DisplayRaisesTheReturnCodeAndLogs) {
  RepositoryImage image;
  image.add(50, {{6, " \x01" "failed: %s\n"}});
  openRepository(image);
  GlobalrC holder;
  globalRC = &holder;
  errorLog.wrapping = 0;
  ASSERT_TRUE(logOpenFile(errorLog, file("error.log").c_str()));
  errorLogOn = 1;
  nlsDisplayMessage(50, "disk");
  EXPECT_EQ(holder.rc, 12);
  ASSERT_EQ(shownTexts().size(), 1u);
  EXPECT_EQ(shownTexts()[0], std::make_pair(6, std::string("KVE0050E failed: disk\n")));
  std::fflush(errorLog.stream);
  std::string log = jbbtest::readFile(file("error.log"));
  EXPECT_EQ(log.substr(log.size() > 22 ? log.size() - 22 : 0), "KVE0050E failed: disk\n");

  state_->outputMode = kOutputNone;
  nlsDisplayMessage(50, "quiet");
  EXPECT_EQ(shownTexts().size(), 1u);
}

}  // namespace
