#include "jot/jot_util.h"

#include <string>
#include <sys/utsname.h>

#include <gtest/gtest.h>

#include "jot/jotter.h"
#include "jot/log_line.h"
#include "support/jot_test_support.h"

namespace {

using vela::jot::JotLevel;
using vela::jot::JotUtil;

class JotUtilTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("XDG_CACHE_HOME", dir_.str().c_str(), 1); }
  std::string logText() const {
    return jottest::decodeDir(dir_.path() / "Quillo" / "Logs", std::nullopt);
  }
  jottest::TempDir dir_;
};

TEST(JotUtilPrefix, ApplicationTypesMapToPrefixes) {
  EXPECT_EQ(JotUtil::logNamePrefixByAppType(1), "inst_p");
  EXPECT_EQ(JotUtil::logNamePrefixByAppType(2), "inst_a");
  EXPECT_EQ(JotUtil::logNamePrefixByAppType(3), "inst_h");
  EXPECT_EQ(JotUtil::logNamePrefixByAppType(4), "qlfb");
  for (int other : {0, 5, -1}) EXPECT_EQ(JotUtil::logNamePrefixByAppType(other), "ql");
}

TEST(JotUtilPrefix, NothingIsLoggedBeforeSetUp) {
  EXPECT_EQ(JotUtil::machineType(), "");
  for (int level = 0; level <= 5; ++level) EXPECT_FALSE(JotUtil::shouldLog(static_cast<JotLevel>(level)));
}

TEST_F(JotUtilTest, LogPathFollowsTheCachesDirectory) {
  EXPECT_EQ(JotUtil::logPath(), dir_.str() + "/Quillo/Logs/");
}

TEST_F(JotUtilTest, InstallerSessionIsWrittenAndFiltered) {
  JotUtil::setAppInfoProvider([] { return std::string("1.2.3"); },
                              [] { return std::string("Model9,1\0", 9); });
  JotUtil::setUpJot(JotLevel::Info, 2);
  vela::jot::LogDebug("not written");
  vela::jot::LogInfo("download finished");
  vela::jot::LogLine(static_cast<JotLevel>(9), "main", "f", "x.cpp", 1, "bad level");
  JotUtil::closeLog();
  vela::jot::LogError("after close");

  EXPECT_FALSE(JotUtil::machineType().empty());
  const auto files = jottest::logFiles(dir_.path() / "Quillo" / "Logs");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].filename().string().rfind("inst_a_", 0), 0u);
  const std::string text = logText();
  EXPECT_NE(text.find("|W|main|"), std::string::npos);
  struct utsname host {};
  ASSERT_EQ(::uname(&host), 0);
  EXPECT_NE(text.find("App start: 1.2.3, OS: " + std::string(host.sysname) + " " + host.release +
                      ", Model: "),
            std::string::npos);
  EXPECT_NE(text.find(", Model: Model9,1, " + JotUtil::machineType() + "\n"), std::string::npos);
  EXPECT_NE(text.find("|I|main|"), std::string::npos);
  EXPECT_NE(text.find("jot_util_test.cpp("), std::string::npos);
  EXPECT_EQ(jottest::countOf(text, "download finished\n"), 1u);
  EXPECT_EQ(jottest::countOf(text, "] close log\n"), 1u);
  EXPECT_EQ(text.find("not written"), std::string::npos);
  EXPECT_EQ(text.find("bad level"), std::string::npos);
  EXPECT_EQ(text.find("after close"), std::string::npos);
}

TEST_F(JotUtilTest, LevelNoneSilencesEverythingButStillCloses) {
  JotUtil::setUpJot(JotLevel::None, 2);
  vela::jot::LogFatal("silent");
  JotUtil::closeLog();
  vela::jot::jotter_SetLevel(vela::jot::kLevelVerbose);
  vela::jot::LogFatal("after close");
  const std::string text = logText();
  EXPECT_EQ(text.find("silent"), std::string::npos);
  EXPECT_EQ(text.find("close log"), std::string::npos);
  EXPECT_EQ(text.find("after close"), std::string::npos);
  EXPECT_EQ(jottest::countOf(text, "===== end ====="), 1u);
}

TEST_F(JotUtilTest, FormatVariantFormatsPrintfStyle) {
  JotUtil::setUpJot(JotLevel::Debug, 4);
  JotUtil::logWithLevelFormat(JotLevel::Info, "main", "f.cpp", 3, "fn", "%d files, %s", 3, "done");
  JotUtil::logWithLevelFormat(JotLevel::Info, "main", "f.cpp", 5, "fn", "%s", "1");
  const char* none = nullptr;  // a variable: the compiler cannot check a null format
  JotUtil::logWithLevelFormat(JotLevel::Info, "main", "f.cpp", 4, "fn", none);
  JotUtil::closeLog();
  const std::string text = logText();
  EXPECT_NE(text.find("] 3 files, done\n"), std::string::npos);
  EXPECT_EQ(text.find("f.cpp(4)"), std::string::npos);  // no format, no record
  EXPECT_NE(text.find("f.cpp(5)] 1\n"), std::string::npos);
}

}  // namespace
