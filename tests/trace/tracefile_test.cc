// The trace facility with a configured state: wrapping trace files and their
// header, segments, reuse of an existing file, append mode, the console and
// the sink, and the line prefixes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/os.h"
#include "trace/trace.h"
#include "trace/traceconfig.h"
#include "trace/tracestate.h"
#include "tracetest_util.h"

namespace {
constexpr char kSourceName[] = "tracefile_test";
constexpr char kEndOfData[] = "\nEND OF DATA\n\n";
using jbbtest::readFile;

class TraceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    trClass = {};
    ts = trCreateState();
    ASSERT_NE(ts, nullptr);
  }
  void TearDown() override {
    trDestroyState();
    trClass = {};
  }
  void configureWrap(uint32_t maxMB) {
    ts->wrapMode = 1;
    ts->maxMB = maxMB;
  }
  // The header's next-write field (bytes 12 to 23).
  static uint64_t headerOffset(const std::string& content) {
    return std::strtoull(content.substr(12, 12).c_str(), nullptr, 10);
  }
  // A line of about 20000 bytes that names its number.
  static std::string bigLine(int n) {
    char tag[16];
    std::snprintf(tag, sizeof tag, "L%04d ", n);
    return tag + std::string(20000, 'a') + "\n";
  }

  TraceState* ts = nullptr;
  jbbtest::TempDir dir;
};

TEST_F(TraceFileTest, EveryWrappedLineIsFollowedByTheMarkerTheHeaderPointsAt) {
  configureWrap(1);
  std::string path = dir.file("wrap.trc");
  ASSERT_EQ(trOpen(path.c_str(), false), 0);
  for (const char* line : {"first line\n", "second line\n"}) {
    EXPECT_EQ(trPrintf(kSourceName, __LINE__, "%s", line), int(std::string(line).size()));
    std::string content = readFile(path);
    uint64_t at = headerOffset(content);
    ASSERT_LT(at, content.size());
    EXPECT_EQ(content.substr(at), kEndOfData);
    EXPECT_EQ(content.substr(at - std::string(line).size(), std::string(line).size()), line);
  }
  std::string content = readFile(path);
  EXPECT_EQ(content.substr(0, 12), "ZRM Trace   ");
  EXPECT_EQ(content.substr(24, 46), "1          Orvik Vestrel 6.1.1.00 0514FB Build");
  EXPECT_NE(content.find("BEGINNING NEW TRACE\n\nUnicode Client\nfirst line\nsecond line\n"), std::string::npos);
}

TEST_F(TraceFileTest, ClosingLeavesTheCloseMarkerAtTheNextWrite) {
  configureWrap(1);
  std::string path = dir.file("close.trc");
  ASSERT_EQ(trOpen(path.c_str(), false), 0);
  trPrintf(kSourceName, __LINE__, "only line\n");
  trClose(false);
  std::string content = readFile(path);
  EXPECT_EQ(content.substr(headerOffset(content)), "\nEND OF DATA - close\n\n");
  EXPECT_FALSE(trIsActive());
}

TEST_F(TraceFileTest, AFullSingleFileContinuesAtItsDataStart) {
  configureWrap(1);
  std::string path = dir.file("single.trc");
  ASSERT_EQ(trOpen(path.c_str(), false), 0);
  std::string start = readFile(path);
  uint64_t dataStart = start.find("BEGINNING NEW TRACE");
  uint64_t before = 0;
  int n = 0;
  for (;; ++n) {
    before = headerOffset(readFile(path));
    trPrintf(kSourceName, __LINE__, "%s", bigLine(n).c_str());
    if (headerOffset(readFile(path)) < before) break;
    ASSERT_LT(n, 100) << "the file never wrapped";
  }
  std::string content = readFile(path);
  EXPECT_LE(content.size(), 1048576u);
  EXPECT_EQ(content.substr(before, 33), "\nContinued at beginning of file\n\n");
  EXPECT_EQ(content.substr(dataStart, 20000 + 7), bigLine(n));
  EXPECT_EQ(content.substr(headerOffset(content), 14), kEndOfData);
  // Older text beyond the marker stays until it is overwritten.
  EXPECT_NE(content.find(bigLine(n - 1)), std::string::npos);
}

TEST_F(TraceFileTest, TheLastSegmentContinuesInTheFirst) {
  configureWrap(1);
  ts->segmentCount = 3;
  ts->segmentMB = 1;
  ts->lastSegmentMB = 1;
  ts->currentSegment = 3;
  std::string base = dir.file("ring.trc");
  ASSERT_EQ(trOpen(base.c_str(), false), 0);
  EXPECT_TRUE(jbbtest::fileExists(base + ".3"));
  for (int n = 0; !jbbtest::fileExists(base + ".1"); ++n) {
    trPrintf(kSourceName, __LINE__, "%s", bigLine(n).c_str());
    ASSERT_LT(n, 100) << "the segment never filled";
  }
  EXPECT_EQ(ts->currentSegment, 1u);
  EXPECT_EQ(ts->previousSegment, 3u);
  std::string last = readFile(base + ".3");
  EXPECT_NE(last.find("\nContinued at beginning of segment 1\n\n"), std::string::npos);
  std::string first = readFile(base + ".1");
  EXPECT_EQ(first.substr(0, 12), "ZRM Trace   ");
  size_t headerEnd = first.find("\n\n") + 2;
  EXPECT_EQ(first.substr(headerEnd, 33), "Continued from end of segment 3\n\n");
  EXPECT_EQ(first.substr(headerOffset(first)), kEndOfData);
  EXPECT_FALSE(jbbtest::fileExists(base + ".2"));
  EXPECT_FALSE(jbbtest::fileExists(base));
}

TEST_F(TraceFileTest, AnExistingFileIsContinuedOnlyWhenItFitsTheLimit) {
  std::string path = dir.file("reuse.trc");
  configureWrap(4);
  ASSERT_EQ(trOpen(path.c_str(), false), 0);
  trPrintf(kSourceName, __LINE__, "kept line\n");
  trClose(true);

  // Same limit: the old text stays and the new trace follows it.
  configureWrap(4);
  ASSERT_EQ(trOpen(path.c_str(), false), 0);
  trPrintf(kSourceName, __LINE__, "second run\n");
  trClose(true);
  std::string reused = readFile(path);
  size_t kept = reused.find("kept line\n");
  ASSERT_NE(kept, std::string::npos);
  EXPECT_GT(reused.find("BEGINNING NEW TRACE\n\nUnicode Client\nsecond run\n", kept), kept);

  // A smaller limit than the recorded one: the file is recreated.
  configureWrap(2);
  ASSERT_EQ(trOpen(path.c_str(), false), 0);
  trClose(true);
  std::string recreated = readFile(path);
  EXPECT_EQ(recreated.find("kept line"), std::string::npos);
  EXPECT_EQ(recreated.substr(24, 10), "2         ");
}

TEST_F(TraceFileTest, AHeaderPointingOutsideTheFileRecreatesIt) {
  std::string path = dir.file("damaged.trc");
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("ZRM Trace   999999      1          Orvik\n\nold text\n", f);
  std::fclose(f);
  configureWrap(1);
  ASSERT_EQ(trOpen(path.c_str(), false), 0);
  trPrintf(kSourceName, __LINE__, "new text\n");
  std::string content = readFile(path);
  EXPECT_EQ(content.find("old text"), std::string::npos);
  EXPECT_EQ(content.substr(headerOffset(content)), kEndOfData);
}

TEST_F(TraceFileTest, AppendModeAddsAHeaderPerOpenAndNoMarkers) {
  std::string path = dir.file("append.trc");
  // Already enabled, so the banner lines of the first open are written.
  ts->enabled = 1;
  ASSERT_EQ(trOpen(path.c_str(), true), 0);
  trPrintf(kSourceName, __LINE__, "one\n");
  trClose(true);
  ts->enabled = 1;
  ASSERT_EQ(trOpen(path.c_str(), false), 0);
  trPrintf(kSourceName, __LINE__, "two\n");
  trClose(true);
  std::string content = readFile(path);
  EXPECT_EQ(content.find("END OF DATA"), std::string::npos);
  std::string header = "ZRM Trace   Orvik Vestrel 6.1.1.00 0514FB\nBuild Date: ";
  EXPECT_EQ(content.substr(0, header.size()), header);
  EXPECT_NE(content.find("Tracing to file: " + path + "\nTracefile maximum length set to 0 MB.\n"),
            std::string::npos);
  EXPECT_NE(content.find(" - Trace begun.\nUnicode Client\none\n"), std::string::npos);
  size_t second = content.find(header, 1);
  ASSERT_NE(second, std::string::npos);
  EXPECT_NE(content.find("BEGINNING NEW TRACE\n\nUnicode Client\ntwo\n", second), std::string::npos);
}

TEST_F(TraceFileTest, APathThatCannotBeOpenedResetsAndReports426) {
  ts->consoleAllowed = 1;
  std::string path = dir.file("no-such-dir") + "/x.trc";
  testing::internal::CaptureStdout();
  EXPECT_EQ(trOpen(path.c_str(), false), 426);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Unable to open trace output file "), std::string::npos);
  EXPECT_FALSE(trIsActive());
  EXPECT_EQ(ts->configuredName[0], '\0');
}

TEST(TraceNames, InvalidNamesAreRefused) {
  TraceState* ts = trCreateState();
  ASSERT_NE(ts, nullptr);
  testing::internal::CaptureStdout();
  EXPECT_EQ(trSetName(""), -1);
  EXPECT_EQ(trSetName(nullptr), -1);
  EXPECT_EQ(trOpen(std::string(8193, 'n').c_str(), false), -1);
  EXPECT_EQ(trSetName("\"unbalanced"), -1);
  EXPECT_EQ(trSetName("''"), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Invalid trace file name\nInvalid trace file name\nInvalid trace file name\n"
            "Invalid trace file name\nInvalid trace file name\n");
  EXPECT_EQ(ts->configuredName[0], '\0');
  trDestroyState();
}

TEST(TraceNames, QuotedNamesLoseTheirQuotesAndTheFirstNameStays) {
  jbbtest::TempDir dir;
  TraceState* ts = trCreateState();
  ASSERT_NE(ts, nullptr);
  std::string path = dir.file("quoted name.trc");
  EXPECT_EQ(trSetName(("\"" + path + "\" rest").c_str()), 0);
  EXPECT_EQ(std::string(ts->effectiveName), path);
  EXPECT_EQ(trSetName(dir.file("other.trc").c_str()), 0);
  EXPECT_EQ(std::string(ts->effectiveName), path);
  trDestroyState();
}

TEST(TraceNames, ABareNameIsPlacedInTheCurrentDirectory) {
  TraceState* ts = trCreateState();
  ASSERT_NE(ts, nullptr);
  ts->segmentCount = 2;
  ts->currentSegment = 2;
  std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(trSetName("bare.trc"), 0);
  EXPECT_EQ(std::string(ts->configuredName), cwd + osPathSeparator() + "bare.trc");
  EXPECT_EQ(std::string(ts->effectiveName), cwd + osPathSeparator() + "bare.trc.2");
  trDestroyState();
}

TEST(TraceConsole, StdoutInAnyLetterCaseSelectsStandardOutput) {
  TraceState* ts = trCreateState();
  ASSERT_NE(ts, nullptr);
  ts->consoleAllowed = 1;
  ts->enabled = 1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(trOpen("sTdOuT", false), 0);
  trPrintf(kSourceName, __LINE__, "to the console %d\n", 5);
  trClose(false);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Tracing to stdout\nto the console 5\n");
  trDestroyState();
}

TEST(TraceConsole, WithoutConsoleLinesTheStatementsAreInactive) {
  TraceState* ts = trCreateState();
  ASSERT_NE(ts, nullptr);
  ts->enabled = 1;
  ASSERT_EQ(trOpen("STDERR", false), 0);
  EXPECT_FALSE(trIsActive());
  EXPECT_EQ(trPrintf(kSourceName, __LINE__, "dropped\n"), 0);
  trDestroyState();
}

// Raw text asks only whether the console may be written, not whether the
// trace is enabled; the statements need both.
TEST(TraceConsole, RawTextReachesTheConsoleWheneverTheConsoleIsAllowed) {
  TraceState* ts = trCreateState();
  ASSERT_NE(ts, nullptr);
  ts->consoleAllowed = 1;
  testing::internal::CaptureStdout();
  ASSERT_EQ(trOpen("STDOUT", false), 0);
  ts->enabled = 0;
  EXPECT_FALSE(trIsActive());
  trPrintf(kSourceName, __LINE__, "statement\n");
  trPrintRaw("raw %d|%s\n", 7, "text");
  ts->enabled = 1;
  trPrintRaw("%s", "enabled too\n");
  ts->consoleAllowed = 0;
  trPrintRaw("not allowed\n");
  trClose(false);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("statement"), std::string::npos);
  EXPECT_EQ(out.find("not allowed"), std::string::npos);
  size_t raw = out.find("raw 7|text\nenabled too\n");
  ASSERT_NE(raw, std::string::npos) << out;
  // No source prefix or other decoration around the raw text.
  EXPECT_EQ(out.substr(raw), "raw 7|text\nenabled too\n");
  trDestroyState();
}

TEST(TraceConsole, RawTextToStandardErrorIsWrittenAsItStands) {
  TraceState* ts = trCreateState();
  ASSERT_NE(ts, nullptr);
  ts->consoleAllowed = 1;
  testing::internal::CaptureStderr();
  ASSERT_EQ(trOpen("STDERR", false), 0);
  trClass.PREFIX = 1;
  trPrintRaw("%05d%%\n", 42);
  trClose(false);
  trClass = {};
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("00042%\n"), std::string::npos) << err;
  EXPECT_EQ(err.find("tracefile_test"), std::string::npos);
  trDestroyState();
}

struct SinkLog {
  std::vector<int> ops;
  std::string text;
};
int32_t recordingSink(int32_t op, const char* text, void* user) {
  auto* log = static_cast<SinkLog*>(user);
  log->ops.push_back(op);
  if (text != nullptr) log->text += text;
  return 0;
}

TEST(TraceConsole, ConsoleGoesToTheSinkWithoutPrefix) {
  SinkLog log;
  TraceState* ts = trCreateState();
  ASSERT_NE(ts, nullptr);
  ts->traceOpSink = recordingSink;
  ts->sinkUserData = &log;
  trClass.PID = 1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(trOpen("console", false), 0);
  EXPECT_TRUE(trIsActive());
  trPrintf(kSourceName, __LINE__, "sunk %s\n", "line");
  trPrintRaw("raw %d", 3);
  trClose(false);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Tracing to stderr\n");
  EXPECT_EQ(log.text, "sunk line\nraw 3");
  EXPECT_EQ(log.ops, (std::vector<int>{kSinkOpen, kSinkWrite, kSinkWrite, kSinkClose}));
  trDestroyState();
  trClass = {};
}

class TracePrefixTest : public TraceFileTest {
 protected:
  std::string traceOneLine(const char* text) {
    std::string path = dir.file("prefix.trc");
    EXPECT_EQ(trOpen(path.c_str(), false), 0);
    trPrint(TR_SITE, 1, "%s", text);
    trClose(false);
    std::string content = readFile(path);
    size_t at = content.find("Unicode Client\n");
    return at == std::string::npos ? content : content.substr(at + 15);
  }
};

TEST_F(TracePrefixTest, ClientTypeAloneHasNoColon) {
  ts->clientType = 2;
  trClass.CLIENTTYPE = 1;
  EXPECT_EQ(traceOneLine("typed\n"), std::string(clientTypeTags[2]) + "typed\n");
}

TEST_F(TracePrefixTest, AnUnknownClientTypeShowsTheLastTag) {
  ts->clientType = 40;
  trClass.CLIENTTYPE = 1;
  EXPECT_EQ(traceOneLine("typed\n"), std::string(clientTypeTags[13]) + "typed\n");
}

TEST_F(TracePrefixTest, ProcessIdAndSourcePrefix) {
  trClass.PID = 1;
  trClass.PREFIX = 1;
  std::string line = traceOneLine("with source\n");
  ASSERT_GE(line.size(), 10u);
  EXPECT_EQ(line[0], '[');
  size_t close = line.find("] : ");
  ASSERT_NE(close, std::string::npos);
  EXPECT_GE(close, 7u);  // at least six digits
  std::string rest = line.substr(close + 4);
  EXPECT_EQ(rest.substr(0, 20), "tracefile_test      ");
  EXPECT_EQ(rest[20], '(');
  EXPECT_EQ(rest.substr(25), "): with source\n");
}

TEST_F(TracePrefixTest, TimestampHasDateTimeAndMilliseconds) {
  trClass.TIMESTAMP = 1;
  std::string line = traceOneLine("timed\n");
  // "mm/dd/yyyy hh:mm:ss.mmm : timed"
  ASSERT_EQ(line.size(), 24u + 2 + 6);
  EXPECT_EQ(line[2], '/');
  EXPECT_EQ(line[5], '/');
  EXPECT_EQ(line[10], ' ');
  EXPECT_EQ(line[13], ':');
  EXPECT_EQ(line[19], '.');
  EXPECT_EQ(line.substr(23), " : timed\n");
}

void hookWithExtraLine(char* extraLine, char* threadText) {
  std::snprintf(extraLine, 64, "extra first\n");
  std::snprintf(threadText, 32, "<T1>");
}

TEST_F(TracePrefixTest, ThreadHookTextAndItsExtraLine) {
  ts->threadInfoHook = hookWithExtraLine;
  trClass.TID = 1;
  EXPECT_EQ(traceOneLine("threaded\n"), "extra first\n<T1>: threaded\n");
}

TEST(TraceWriteFailure, AFailedWriteDisablesTracing) {
  FILE* probe = std::fopen("/dev/full", "ab");
  bool refuses = probe != nullptr && (std::fputs("probe", probe) < 0 || std::fflush(probe) != 0);
  if (probe != nullptr) std::fclose(probe);
  if (!refuses) GTEST_SKIP() << "no device that refuses every write on this host";
  TraceState* ts = trCreateState();
  ASSERT_NE(ts, nullptr);
  trClass.BTREEDB = 1;
  ts->enabled = 1;
  testing::internal::CaptureStdout();
  ASSERT_EQ(trOpen("/dev/full", false), 0);
  int saved = errno = 7;
  trPrint(TR_SITE, trClass.BTREEDB, "%s", std::string(70000, 'z').c_str());
  EXPECT_EQ(errno, saved);
  // The first line that cannot be written ends the trace (the close that
  // follows may report the lost buffer as well).
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Unable to write to trace file /dev/full. Tracing disabled.\n"),
            std::string::npos);
  EXPECT_FALSE(trIsActive());
  EXPECT_EQ(trClass.BTREEDB, 0);
  trDestroyState();
}

TEST(TraceStatements, WideStatementsConvertTheirKeys) {
  jbbtest::TempDir dir;
  TraceState* ts = trCreateState();
  ASSERT_NE(ts, nullptr);
  std::string path = dir.file("wide.trc");
  ASSERT_EQ(trOpen(path.c_str(), false), 0);
  int saved = errno = 11;
  trPrintW(TR_SITE, 1, u"key %s at %d\n", u"C:\\dir\\file", 42);
  EXPECT_EQ(errno, saved);
  trClose(false);
  EXPECT_NE(readFile(path).find("key C:\\dir\\file at 42\n"), std::string::npos);
  trDestroyState();
}

}  // namespace
