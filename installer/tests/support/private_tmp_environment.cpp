// Gives the test program a temporary folder of its own for TMPDIR, so the
// installer's private download folder (TMPDIR/quillo-<uid>) and everything
// else made there is removed when the program ends.
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace {

class PrivateTmpEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* outer = std::getenv("TMPDIR");
    std::string pattern = std::string(outer != nullptr && *outer != '\0' ? outer : "/tmp") +
                          "/quillo-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return;  // keep the outer folder
    folder_ = pattern;
    if (outer != nullptr) previous_ = outer;
    ::setenv("TMPDIR", folder_.c_str(), 1);
  }

  void TearDown() override {
    if (folder_.empty()) return;
    if (previous_) {
      ::setenv("TMPDIR", previous_->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

 private:
  std::string folder_;
  std::optional<std::string> previous_;
};

const auto* const kRegistered = ::testing::AddGlobalTestEnvironment(new PrivateTmpEnvironment);

}  // namespace
