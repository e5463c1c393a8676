#pragma once
// Helpers shared by the log writer's tests: private temp directories, file
// reading, key pairs as text, decoding every log file of a directory, and
// the records of the consistency checks.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "jot/block_reader.h"
#include "jot/jotter.h"
#include "jot/log_buffer.h"
#include "jot/log_crypt.h"

namespace jottest {

namespace fs = std::filesystem;

// A fresh directory per test and process, removed afterwards.
class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("QUILLO_TEST_TMP");
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "jot";
    std::replace(name.begin(), name.end(), '/', '_');
    path_ = fs::path(base && *base ? base : fs::temp_directory_path().string()) /
            ("jot-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const fs::path& path() const { return path_; }
  [[nodiscard]] std::string str() const { return path_.string(); }

 private:
  fs::path path_;
};

inline std::vector<uint8_t> readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::string toHex(const uint8_t* data, size_t len) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < len; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 15];
  }
  return out;
}

struct KeyPair {
  vela::jot::EcPublicKey pub{};
  vela::jot::EcPrivateKey priv{};
  [[nodiscard]] std::string pubHex() const { return toHex(pub.data(), pub.size()); }
  [[nodiscard]] std::string privHex() const { return toHex(priv.data(), priv.size()); }
};

inline KeyPair makeKeyPair() {
  KeyPair pair;
  EXPECT_TRUE(vela::jot::EcMakeKeyPair(pair.pub, pair.priv));
  return pair;
}

// The ".jot" files of `dir`, sorted by name.
inline std::vector<fs::path> logFiles(const fs::path& dir) {
  std::vector<fs::path> files;
  if (!fs::is_directory(dir)) return files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".jot") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// All text of all log files of `dir`, in file order; damage and block
// errors are collected in `problems`.
inline std::string decodeDir(const fs::path& dir, const std::optional<vela::jot::EcPrivateKey>& key,
                             std::vector<std::string>* problems = nullptr) {
  std::string text;
  for (const fs::path& file : logFiles(dir)) {
    const auto result = vela::jot::ReadLogBlocks(readBytes(file), key);
    for (const auto& d : result.damage) {
      if (problems) problems->push_back(d);
    }
    for (const auto& block : result.blocks) {
      if (!block.error.empty() && problems) problems->push_back(block.error);
      text += block.text;
    }
  }
  return text;
}

// The counter word the writer stores in a cache for a count of `n` dropped
// records.
inline uint64_t dropCountWord(uint32_t n) {
  std::vector<char> memory(100, 0);
  uint64_t counters[3] = {};
  vela::jot::LogZlibBuffer buffer(memory.data(), memory.size(), true, "", counters);
  buffer.AddDropped(n);
  return counters[0];
}

inline size_t countOf(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) {
    ++n;
  }
  return n;
}

// Takes every record the record layer writes during a test, so that a test
// can ask for the text of a consistency check.
class CheckReports : public ::testing::Test {
 public:
  // True when a record holds `text`.
  [[nodiscard]] static bool reported(const std::string& text) {
    return std::any_of(reports().begin(), reports().end(),
                       [&](const std::string& report) { return report.find(text) != std::string::npos; });
  }

 protected:
  void SetUp() override {
    vela::jot::jotter_SetLevel(vela::jot::kLevelVerbose);
    previous_ = vela::jot::jotter_SetAppender(&capture);
    reports().clear();
  }
  void TearDown() override { vela::jot::jotter_SetAppender(previous_); }

 private:
  static std::vector<std::string>& reports() {
    static std::vector<std::string> taken;
    return taken;
  }
  static void capture(const vela::jot::JotterInfo_t*, const char* log) { reports().emplace_back(log); }
  vela::jot::jotter_appender_t previous_ = nullptr;
};

}  // namespace jottest
