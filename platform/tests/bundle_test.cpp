#include "platform/bundle.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {
namespace fs = std::filesystem;

class BundleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) /
            ("bundle-" + std::to_string(::getpid()) + "-" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string makeBundle(const std::string& name, const std::string& info) {
    auto path = root_ / name;
    fs::create_directories(path / "Contents/MacOS");
    if (!info.empty()) std::ofstream(path / "Contents/Info.json") << info;
    return path.string();
  }

  fs::path root_;
};

TEST_F(BundleTest, ReadsInfoStrings) {
  quillo::Bundle b(makeBundle("A.app", R"({"CFBundleIdentifier":"x.y","CFBundleVersion":"45"})"));
  EXPECT_EQ(b.bundleIdentifier(), "x.y");
  EXPECT_EQ(b.infoString("CFBundleVersion"), "45");
  EXPECT_EQ(b.infoString("CFBundleShortVersionString"), std::nullopt);
  EXPECT_EQ(b.resourcePath(), b.bundlePath() + "/Contents/Resources");
}

TEST_F(BundleTest, MalformedOrMissingInfoGivesNoKeys) {
  quillo::Bundle broken(makeBundle("B.app", "{not json"));
  EXPECT_EQ(broken.bundleIdentifier(), std::nullopt);
  quillo::Bundle array(makeBundle("C.app", "[1,2]"));
  EXPECT_EQ(array.bundleIdentifier(), std::nullopt);
  quillo::Bundle missing(makeBundle("D.app", ""));
  EXPECT_EQ(missing.bundleIdentifier(), std::nullopt);
  quillo::Bundle wrongType(makeBundle("E.app", R"({"CFBundleIdentifier": 7})"));
  EXPECT_EQ(wrongType.bundleIdentifier(), std::nullopt);
}

TEST_F(BundleTest, EnclosingBundleIsTheNearestAppFolder) {
  auto outer = makeBundle("Outer.app", "{}");
  const auto inner = outer + "/Contents/MacOS/Inner.app";
  fs::create_directories(inner + "/Contents/MacOS");
  EXPECT_EQ(quillo::Bundle::enclosingBundlePath(inner + "/Contents/MacOS/tool"), inner);
  EXPECT_EQ(quillo::Bundle::enclosingBundlePath(outer + "/Contents/MacOS/tool"), outer);
  EXPECT_EQ(quillo::Bundle::enclosingBundlePath("/usr/bin/env"), std::nullopt);
  EXPECT_EQ(quillo::Bundle::enclosingBundlePath("/x/.app/y"), std::nullopt);
  EXPECT_EQ(quillo::Bundle::enclosingBundlePath("/x/Q.app/y"), "/x/Q.app");
}

TEST_F(BundleTest, MainBundleOfATestIsItsOwnFolder) {
  // Test executables live in no ".app" folder.
  EXPECT_EQ(quillo::Bundle::main().bundleIdentifier(), std::nullopt);
  EXPECT_TRUE(fs::is_directory(quillo::Bundle::main().bundlePath()));
}

}  // namespace
