#pragma once
// Application bundles: a folder named "X.app" holding Contents/Info.json
// (identifier, short version, build) and Contents/Resources/. The main bundle
// is the nearest ancestor folder of the running executable whose name ends
// in ".app"; renaming that folder is how a copy is told apart (its channel).
// Immutable after construction; safe to share between threads.
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace quillo {

class Bundle {
 public:
  // Reads `bundlePath`/Contents/Info.json when it exists; a missing or
  // malformed file leaves every info key absent.
  explicit Bundle(std::string bundlePath);

  // The bundle of the running executable; when the executable lies in no
  // ".app" folder, the executable's own folder with no info keys.
  [[nodiscard]] static const Bundle& main();
  // The nearest ancestor of `filePath` (itself included) whose name ends in
  // ".app", or nothing.
  [[nodiscard]] static std::optional<std::string> enclosingBundlePath(const std::string& filePath);

  [[nodiscard]] const std::string& bundlePath() const { return path_; }
  [[nodiscard]] std::string resourcePath() const { return path_ + "/Contents/Resources"; }
  [[nodiscard]] std::string executableFolder() const { return path_ + "/Contents/MacOS"; }

  // A string value of Info.json ("CFBundleIdentifier", "CFBundleShortVersionString",
  // "CFBundleVersion", ...); absent when missing or not a string.
  [[nodiscard]] std::optional<std::string> infoString(std::string_view key) const;
  [[nodiscard]] std::optional<std::string> bundleIdentifier() const {
    return infoString("CFBundleIdentifier");
  }

 private:
  std::string path_;
  nlohmann::json info_;
};

}  // namespace quillo
