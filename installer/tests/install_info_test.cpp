#include "installer/install_info.h"

#include <gtest/gtest.h>

namespace {

using quillo::InstallInfo;

TEST(InstallInfoTest, DecodesTheFourKeysAndStampsTheTime) {
  const auto info = InstallInfo::decode(
      R"({"zip_download_url":"https://h/p.zip","zip_download_md5":"abc","zip_version":"1.2.3.4",
          "package_type":"beta","unknown":{"nested":[1,2]},"timeStamp":5})",
      1234.5);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->zip_download_url, "https://h/p.zip");
  EXPECT_EQ(info->zip_download_md5, "abc");
  EXPECT_EQ(info->zip_version, "1.2.3.4");
  EXPECT_EQ(info->package_type, "beta");
  EXPECT_EQ(info->timeStamp, 1234.5);
}

TEST(InstallInfoTest, MissingAndNullKeysAreAbsent) {
  const auto info = InstallInfo::decode(R"({"zip_version":null,"package_type":"x"})", 1);
  ASSERT_TRUE(info);
  EXPECT_FALSE(info->zip_download_url);
  EXPECT_FALSE(info->zip_version);
  EXPECT_EQ(info->package_type, "x");
  EXPECT_TRUE(InstallInfo::decode("{}", 1));
}

TEST(InstallInfoTest, AnyOtherTypeOrShapeFailsTheWholeDocument) {
  for (const char* text :
       {R"({"zip_version":1.2})", R"({"zip_download_url":["a"]})", R"({"zip_download_md5":{}})",
        R"({"package_type":true})", R"(["zip_version"])", R"("text")", "null", "",
        "<html>Not Found</html>", R"({"zip_version":"1.2.3.4")", "{\"zip_version\":\"\xff\"}"}) {
    EXPECT_FALSE(InstallInfo::decode(text, 1)) << text;
  }
}

TEST(InstallInfoTest, EncodingWritesPresentKeysOnlyAndRoundTrips) {
  InstallInfo info;
  info.zip_version = "1.0.0.1";
  info.zip_download_md5 = "d41d8cd98f00b204e9800998ecf8427e";
  info.timeStamp = 99;
  EXPECT_EQ(info.encode(),
            R"({"zip_download_md5":"d41d8cd98f00b204e9800998ecf8427e","zip_version":"1.0.0.1"})");
  EXPECT_EQ(InstallInfo::decode(info.encode(), 99), info);
}

TEST(InstallInfoTest, DisplayVersionTable) {
  struct Case {
    std::optional<std::string> version;
    std::optional<std::string> type;
    std::string expected;
  };
  const Case cases[] = {
      {"1.2.3.4", "beta", "1.2.3(4) beta"},
      {"1.2.3.4", std::nullopt, "1.2.3(4) "},
      {"1.2..3", "beta", "1.2.(3) beta"},
      {"1.2.3", "beta", ""},
      {"1.2.3.4.5", "beta", ""},
      {"", std::nullopt, ""},
      {std::nullopt, "beta", ""},
  };
  for (const auto& c : cases) {
    InstallInfo info;
    info.zip_version = c.version;
    info.package_type = c.type;
    EXPECT_EQ(quillo::displayVersion(info), c.expected) << c.version.value_or("(none)");
  }
  EXPECT_EQ(quillo::displayVersion(std::nullopt), "");
}

}  // namespace
