#include "platform/system_info.h"

#include <unistd.h>

#include <ctime>

#include <gtest/gtest.h>

namespace {
using quillo::sysinfo::OsVersion;

TEST(SystemInfoTest, ParsesVersionTexts) {
  EXPECT_EQ(quillo::sysinfo::parseOsVersion("14.2.1"), (OsVersion{14, 2, 1}));
  EXPECT_EQ(quillo::sysinfo::parseOsVersion("13"), (OsVersion{13, 0, 0}));
  EXPECT_EQ(quillo::sysinfo::parseOsVersion("12.6"), (OsVersion{12, 6, 0}));
  EXPECT_EQ(quillo::sysinfo::parseOsVersion(""), std::nullopt);
  EXPECT_EQ(quillo::sysinfo::parseOsVersion("x.1"), std::nullopt);
}

TEST(SystemInfoTest, EmulatedVersionDefaultsAndCanBeReplaced) {
  const auto compiled = quillo::sysinfo::operatingSystemVersion();
  quillo::sysinfo::setOperatingSystemVersion(OsVersion{12, 7, 0});
  EXPECT_EQ(quillo::sysinfo::operatingSystemVersion(), (OsVersion{12, 7, 0}));
  EXPECT_NE(quillo::sysinfo::operatingSystemVersionString().find("12.7.0"), std::string::npos);
  quillo::sysinfo::setOperatingSystemVersion(std::nullopt);
  EXPECT_EQ(quillo::sysinfo::operatingSystemVersion(), compiled);
}

TEST(SystemInfoTest, ModelEndsInNulWhenPresent) {
  auto model = quillo::sysinfo::modelIdentifier();
  if (!model) GTEST_SKIP() << "no DMI or device tree on this machine";
  ASSERT_FALSE(model->empty());
  EXPECT_EQ(model->back(), '\0');
}

TEST(SystemInfoTest, ProcessRecordStartsBeforeNow) {
  auto record = quillo::sysinfo::processRecord(::getpid());
  ASSERT_TRUE(record);
  const auto now = ::time(nullptr);
  EXPECT_LE(record->startSeconds, now);
  EXPECT_GT(record->startSeconds, now - 3600);
  EXPECT_LT(record->startMicroseconds, 1'000'000);
  EXPECT_EQ(quillo::sysinfo::processRecord(-1), std::nullopt);
}

TEST(SystemInfoTest, MachineAndCpuUsageAreReadable) {
  EXPECT_FALSE(quillo::sysinfo::machine().empty());
  EXPECT_GE(quillo::sysinfo::cpuUsage(), 0.0);
}

}  // namespace
