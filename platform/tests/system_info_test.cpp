#include "platform/system_info.h"

#include <ctime>
#include <sys/utsname.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {
using quillo::sysinfo::OsVersion;

TEST(SystemInfoTest, ParsesVersionTexts) {
  EXPECT_EQ(quillo::sysinfo::parseOsVersion("14.2.1"), (OsVersion{14, 2, 1}));
  EXPECT_EQ(quillo::sysinfo::parseOsVersion("13"), (OsVersion{13, 0, 0}));
  EXPECT_EQ(quillo::sysinfo::parseOsVersion("12.6"), (OsVersion{12, 6, 0}));
  EXPECT_EQ(quillo::sysinfo::parseOsVersion("12.6.1.4"), (OsVersion{12, 6, 1}));
  EXPECT_EQ(quillo::sysinfo::parseOsVersion(""), std::nullopt);
  EXPECT_EQ(quillo::sysinfo::parseOsVersion("x.1"), std::nullopt);
}

TEST(SystemInfoTest, EmulatedVersionDefaultsAndCanBeReplaced) {
  const auto compiled = quillo::sysinfo::operatingSystemVersion();
  quillo::sysinfo::setOperatingSystemVersion(OsVersion{12, 7, 0});
  EXPECT_EQ(quillo::sysinfo::operatingSystemVersion(), (OsVersion{12, 7, 0}));
  utsname u{};
  ASSERT_EQ(::uname(&u), 0);
  EXPECT_EQ(quillo::sysinfo::operatingSystemVersionString(),
            std::string("Version 12.7.0 (") + u.sysname + " " + u.release + ")");
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
  // This thread runs while it asks, so its CPU counts; as the boot time is
  // whole seconds, a process younger than a second or so may read as 0.
  double usage = 0;
  for (int i = 0; i < 50 && usage <= 0; ++i) {
    timespec start{}, used{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    do {
      ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    } while ((used.tv_sec - start.tv_sec) * 1'000'000'000 + used.tv_nsec - start.tv_nsec <
             100'000'000);
    usage = quillo::sysinfo::cpuUsage();
  }
  EXPECT_GT(usage, 0.0);
}

}  // namespace
