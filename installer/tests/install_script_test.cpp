// install.sh on crafted archives: whatever an entry claims in the listing,
// only regular files and folders are ever installed, and nothing outside the
// system root is touched.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <zlib.h>

#include "platform/process.h"

namespace {
namespace fs = std::filesystem;

constexpr uint8_t kHostUnix = 3;
constexpr uint8_t kHostVms = 2;  // Lists as "RWED,..." yet unpacks a link all the same.

struct ZipEntry {
  std::string name;
  mode_t mode;  // File type and permissions, as a Unix host records them.
  std::string data;
  uint8_t host = kHostUnix;
};

void put16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xff);
  out += static_cast<char>(v >> 8);
}
void put32(std::string& out, uint32_t v) {
  put16(out, static_cast<uint16_t>(v & 0xffff));
  put16(out, static_cast<uint16_t>(v >> 16));
}

// A stored (uncompressed) zip archive of `entries`, written byte by byte so
// that every field a hostile packer controls can be set.
std::string zipArchive(const std::vector<ZipEntry>& entries) {
  std::string local;
  std::string central;
  for (const auto& e : entries) {
    const auto crc = static_cast<uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
    const auto offset = static_cast<uint32_t>(local.size());
    const auto size = static_cast<uint32_t>(e.data.size());
    const auto nameSize = static_cast<uint16_t>(e.name.size());
    put32(local, 0x04034b50);
    put16(local, 20);
    put16(local, 0);      // flags
    put16(local, 0);      // stored
    put16(local, 0);      // time
    put16(local, 0x21);   // 1980-01-01
    put32(local, crc);
    put32(local, size);
    put32(local, size);
    put16(local, nameSize);
    put16(local, 0);
    local += e.name + e.data;

    put32(central, 0x02014b50);
    put16(central, static_cast<uint16_t>(e.host << 8 | 20));
    put16(central, 20);
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put16(central, 0x21);
    put32(central, crc);
    put32(central, size);
    put32(central, size);
    put16(central, nameSize);
    put16(central, 0);    // extra
    put16(central, 0);    // comment
    put16(central, 0);    // disk
    put16(central, 0);    // internal attributes
    put32(central, static_cast<uint32_t>(e.mode) << 16);
    put32(central, offset);
    central += e.name;
  }
  std::string end;
  put32(end, 0x06054b50);
  put16(end, 0);
  put16(end, 0);
  put16(end, static_cast<uint16_t>(entries.size()));
  put16(end, static_cast<uint16_t>(entries.size()));
  put32(end, static_cast<uint32_t>(central.size()));
  put32(end, static_cast<uint32_t>(local.size()));
  put16(end, 0);
  return local + central + end;
}

ZipEntry file(const std::string& name, const std::string& data = "{}") {
  return {name, S_IFREG | 0644, data};
}
ZipEntry link(const std::string& name, const std::string& target, uint8_t host) {
  return {name, S_IFLNK | 0777, target, host};
}

class InstallScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("install-script-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(root() / "Library/Input Methods");
    // A folder of the user's, which a linked Quillo.app would lead to.
    fs::create_directories(outside() / "Contents");
    std::ofstream(outside() / "Contents/Info.json") << "{}";
    fs::permissions(outside() / "Contents/Info.json", fs::perms(0666));
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path root() const { return dir_ / "root"; }
  fs::path outside() const { return dir_ / "outside"; }
  fs::path installed() const { return root() / "Library/Input Methods/Quillo.app"; }

  // Runs install.sh on an archive of `entries`; its exit status.
  int install(const std::vector<ZipEntry>& entries) {
    const auto package = dir_ / "package.zip";
    std::ofstream(package, std::ios::binary) << zipArchive(entries);
    quillo::Spawned p;
    EXPECT_FALSE(quillo::spawnProcess(
        {"/bin/sh", (fs::path(QUILLO_BUNDLE_DIR) / "Contents/Resources/install.sh").string(), package.string()},
        {.environment = {{"QUILLO_SYSTEM_ROOT", root().string()}}, .captureError = true}, p));
    error_ = quillo::readAll(p.errorFd);
    ::close(p.errorFd);
    return quillo::waitForExit(p.pid).value_or(-1);
  }

  fs::path dir_;
  std::string error_;
};

TEST_F(InstallScriptTest, ArchivesThatUnpackLinksAreRefusedAndTouchNothingOutside) {
  const std::string target = outside().string();
  const std::vector<std::pair<std::string, std::vector<ZipEntry>>> cases = {
      {"nested link, another host's entry",
       {file("Quillo.app/Contents/Info.json"), link("Quillo.app/Contents/MacOS", target, kHostVms)}},
      {"Quillo.app itself a link, another host's entry", {link("Quillo.app", target, kHostVms)}},
      {"nested link", {file("Quillo.app/Contents/Info.json"), link("Quillo.app/x", "/", kHostUnix)}},
      {"Quillo.app itself a link", {link("Quillo.app", target, kHostUnix)}},
  };
  for (const auto& [what, entries] : cases) {
    SCOPED_TRACE(what);
    EXPECT_NE(install(entries), 0);
    EXPECT_NE(error_.find("neither files nor folders"), std::string::npos) << error_;
    EXPECT_FALSE(fs::exists(fs::symlink_status(installed())));
    EXPECT_EQ(fs::status(outside() / "Contents/Info.json").permissions(), fs::perms(0666))
        << "the modes of a tree outside the root are left alone";
    EXPECT_EQ(std::distance(fs::directory_iterator(root() / "Library/Input Methods"), {}), 0)
        << "no staging folder is left behind";
  }
}

TEST_F(InstallScriptTest, InstalledTreeHoldsOnlyFilesAndFolders) {
  // An entry that claims to be a pipe: if it is unpacked at all, it is a plain file.
  ASSERT_EQ(install({file("Quillo.app/Contents/Info.json"),
                     {"Quillo.app/Contents/fifo", S_IFIFO | 0644, ""}}),
            0)
      << error_;
  for (const auto& entry : fs::recursive_directory_iterator(installed())) {
    const auto type = fs::symlink_status(entry.path()).type();
    EXPECT_TRUE(type == fs::file_type::regular || type == fs::file_type::directory) << entry.path();
  }
}

}  // namespace
