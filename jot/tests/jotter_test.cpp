#include "jot/jotter.h"

#include <cstdarg>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using vela::comm::PtrBuffer;
using vela::jot::JotterInfo_t;

struct Captured {
  bool hasInfo;
  JotterInfo_t info;
  std::string text;
};
std::vector<Captured> gCaptured;

void capture(const JotterInfo_t* info, const char* log) {
  gCaptured.push_back({info != nullptr, info ? *info : JotterInfo_t{}, log ? log : "<null>"});
}

class RecordLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    gCaptured.clear();
    vela::jot::jotter_SetAppender(&capture);
  }
  void TearDown() override { vela::jot::jotter_SetAppender(nullptr); }

  static JotterInfo_t record(int level, const char* file = "/src/a/Downloader.src", int line = 100) {
    JotterInfo_t info;
    info.level = static_cast<vela::jot::TLogLevel>(level);
    info.tag = "main";
    info.filename = file;
    info.line = line;
    info.tid = 1234;
    struct tm tm {};
    tm.tm_year = 125;
    tm.tm_mon = 0;
    tm.tm_mday = 5;
    tm.tm_hour = 13;
    tm.tm_min = 4;
    tm.tm_sec = 5;
    info.timeval.tv_sec = timegm(&tm);
    info.timeval.tv_usec = 123456;
    return info;
  }

  static std::string format(const JotterInfo_t* info, const char* text, size_t size = 16384) {
    std::vector<char> memory(size);
    PtrBuffer buff(memory.data(), 0, memory.size());
    vela::jot::log_formater(info, text, buff);
    return std::string(memory.data(), buff.Length());
  }
};

TEST_F(RecordLayer, LineFormatGoldenCase) {
  const JotterInfo_t info = record(2);
  EXPECT_EQ(format(&info, "fetch install info error"),
            "[01-05/13:04:05.123|I|main|1234|Downloader.src(100)] fetch install info error\n");
}

TEST_F(RecordLayer, LineFormatEdges) {
  JotterInfo_t info = record(4);
  info.timeval.tv_sec = 0;
  EXPECT_EQ(format(&info, "x\n"), "[|E|main|1234|Downloader.src(100)] x\n");
  EXPECT_EQ(format(nullptr, "marker"), "marker\n");
  info.tag = nullptr;
  EXPECT_EQ(format(&info, nullptr), "[|F||1234|Downloader.src(100)] error!! NULL==_logbody\n");
}

TEST_F(RecordLayer, TimeFollowsEachRecordsOwnSecondAndMilliseconds) {
  // Consecutive records share a second's text; the next second, an earlier
  // one and the millisecond digits must still be their own.
  JotterInfo_t info = record(2);
  const struct { long sec; long usec; const char* time;
  } cases[] = {
      {0, 0, "01-05/13:04:05.000"},          {0, 999999, "01-05/13:04:05.999"},
      {1, 7000, "01-05/13:04:06.007"},       {-3600, 50000, "01-05/12:04:05.050"},
      {86400 * 40, 0, "02-14/13:04:05.000"}, {0, 123456, "01-05/13:04:05.123"},
      {0, 1000000, "01-05/13:04:05.1000"},
  };
  const time_t base = info.timeval.tv_sec;
  for (const auto& c : cases) {
    info.timeval.tv_sec = base + c.sec;
    info.timeval.tv_usec = c.usec;
    EXPECT_EQ(format(&info, "t"), std::string("[") + c.time + "|I|main|1234|Downloader.src(100)] t\n");
  }
  info.tid = -1;
  info.line = -7;
  info.timeval.tv_usec = 2000000;  // out of range: written as the old format did
  EXPECT_EQ(format(&info, "t"), "[01-05/13:04:05.2000|I|main|-1|Downloader.src(-7)] t\n");
  info.timeval.tv_sec = 0;  // no time, also on that path
  EXPECT_EQ(format(&info, "t"), "[|I|main|-1|Downloader.src(-7)] t\n");
}

TEST_F(RecordLayer, ExtractFileNameLooksForBackslashFirst) {
  EXPECT_STREQ(vela::jot::ExtractFileName("a\\b/c.txt"), "b/c.txt");
  EXPECT_STREQ(vela::jot::ExtractFileName("/x/y/z.cpp"), "z.cpp");
  EXPECT_STREQ(vela::jot::ExtractFileName("dir/"), "dir/");
  EXPECT_STREQ(vela::jot::ExtractFileName("plain"), "plain");
  EXPECT_STREQ(vela::jot::ExtractFileName(nullptr), "");
}

TEST_F(RecordLayer, LongBodyIsCutToTheRoomLeft) {
  const JotterInfo_t info = record(2);
  const std::string text(70000, 'a');
  const std::string header = format(&info, "");
  const std::string line = format(&info, text.c_str());
  EXPECT_EQ(line.size(), header.size() - 1 + (16384 - (header.size() - 1)) - 130 + 1);
  EXPECT_EQ(line.back(), '\n');
}

TEST_F(RecordLayer, SmallRoomGetsOnlyTheRefusalLine) {
  const JotterInfo_t info = record(2);
  EXPECT_EQ(format(&info, "hello", 5120), "[F]log_size <= 5*1024, err(1, 5)\n");
  EXPECT_EQ(format(&info, "hello", 100), "");
  EXPECT_EQ(format(&info, "abc", 5000), "[F]log_size <= 5*1024, err(2, 3)\n");
}

TEST_F(RecordLayer, WriteFillsIdsAndTurnsNullTextIntoFatal) {
  JotterInfo_t info = record(2);
  info.tid = -1;
  vela::jot::jotter_Write(&info, nullptr);
  ASSERT_EQ(gCaptured.size(), 1u);
  EXPECT_EQ(gCaptured[0].info.level, vela::jot::kLevelFatal);
  EXPECT_EQ(gCaptured[0].text, "NULL == _log");
  EXPECT_EQ(gCaptured[0].info.tid, vela::jot::jotter_tid());
  EXPECT_EQ(gCaptured[0].info.pid, vela::jot::jotter_pid());
}

TEST_F(RecordLayer, LevelsOutsideTheTableAreDropped) {
  for (int level : {-1, 6, 7, 1000}) {
    const JotterInfo_t info = record(level);
    vela::jot::jotter_Write(&info, "x");
  }
  EXPECT_TRUE(gCaptured.empty());
}

TEST_F(RecordLayer, LevelFilterStartsClosed) {
  EXPECT_EQ(vela::jot::jotter_Level(), vela::jot::kLevelNone);
  EXPECT_FALSE(vela::jot::jotter_IsEnabledFor(vela::jot::kLevelFatal));
  vela::jot::jotter_SetLevel(vela::jot::kLevelInfo);
  EXPECT_FALSE(vela::jot::jotter_IsEnabledFor(vela::jot::kLevelDebug));
  EXPECT_TRUE(vela::jot::jotter_IsEnabledFor(vela::jot::kLevelInfo));
}

TEST_F(RecordLayer, AssertMessageIsNeverAFormat) {
  JotterInfo_t info = record(2);
  vela::jot::jotter_Assert(&info, "x > 0", "100%s %n %d");
  ASSERT_EQ(gCaptured.size(), 1u);
  EXPECT_EQ(gCaptured[0].text, "[ASSERT(x > 0)]100%s %n %d");
  EXPECT_STREQ(gCaptured[0].info.tag, "vela::comm");
  EXPECT_EQ(gCaptured[0].info.level, vela::jot::kLevelFatal);
}

// `format` a variable: the compiler cannot check a null or empty one.
std::string assertText(const char* format, ...) {
  gCaptured.clear();
  va_list args;
  va_start(args, format);
  vela::jot::JotAssertV2("/src/a.cpp", 7, "fn", "y", format, args);
  va_end(args);
  return gCaptured.size() == 1 ? gCaptured[0].text : "<" + std::to_string(gCaptured.size()) + ">";
}

TEST_F(RecordLayer, AssertTextIsTheExpressionAndTheFormattedMessage) {
  EXPECT_EQ(assertText(nullptr), "[ASSERT(y)]");
  EXPECT_EQ(assertText(""), "[ASSERT(y)]");
  EXPECT_EQ(assertText("%d left", 5), "[ASSERT(y)]5 left");
}

std::string typeSafe(const char* format, std::initializer_list<const vela::jot::string_cast*> args,
                     int* level = nullptr) {
  gCaptured.clear();
  {
    vela::jot::Jotter j(vela::jot::kLevelInfo, "main", "f.cpp", "fn", 1);
    j.DoTypeSafeFormat(format, args);
  }
  if (gCaptured.empty()) return "<nothing>";
  if (level) *level = gCaptured[0].info.level;
  return gCaptured[0].text;
}

TEST_F(RecordLayer, PositionalFormat) {
  const vela::jot::string_cast a("A"), b("B"), c("C"), nullText(static_cast<const char*>(nullptr));
  int level = 0;
  EXPECT_EQ(typeSafe("%1 %_ %_", {&a, &b, &c}, &level), "B B C");
  EXPECT_EQ(level, vela::jot::kLevelInfo);
  EXPECT_EQ(typeSafe("100%%", {}), "100%");
  EXPECT_EQ(typeSafe("%x", {}, &level), "{!!! void Jotter::DoTypeSafeFormat: %x not fit mode !!!}x");
  EXPECT_EQ(level, vela::jot::kLevelFatal);
  EXPECT_EQ(typeSafe("%_ %_", {&a}),
            "A {!!! void Jotter::DoTypeSafeFormat: _args[1] == NULL !!!}");
  EXPECT_EQ(typeSafe("%9", {&a}), "{!!! void Jotter::DoTypeSafeFormat: _args[9] == NULL !!!}");
  EXPECT_EQ(typeSafe("%0", {&nullText}),
            "{!!! void Jotter::DoTypeSafeFormat: _args[0]->str() == NULL !!!}");
  EXPECT_EQ(typeSafe("end %", {&a}), "end {!!! void Jotter::DoTypeSafeFormat: % not fit mode !!!}");
}

TEST_F(RecordLayer, EmptyJotterWritesNothing) { EXPECT_EQ(typeSafe("", {}), "<nothing>"); }

}  // namespace
