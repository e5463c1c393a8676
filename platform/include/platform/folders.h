#pragma once
// Well-known folders, after the XDG conventions, and the system root under
// which system-wide paths ("/Library/...") resolve. Safe from any thread.
#include <string>
#include <string_view>
#include <system_error>

namespace quillo::folders {

// The user's private temporary folder under $TMPDIR (or /tmp), created on
// first use (mode 0700): "quillo-<uid>" when that is, or can be made, ours
// alone; when another user holds that name (a folder, a link, open modes), a
// new folder "quillo-<uid>-XXXXXX" made by mkdtemp, which nobody can predict.
// The same path for the rest of the process (per $TMPDIR). When neither can
// be made, the predictable path, whose checks then fail where it is used.
// /tmp is shared and files put here are later read by root: check a folder
// below it with ensurePrivateDirectory() before use.
[[nodiscard]] std::string temporaryDirectory();

// $XDG_CACHE_HOME, else $HOME/.cache.
[[nodiscard]] std::string cachesDirectory();

// $XDG_DATA_HOME, else $HOME/.local/share.
[[nodiscard]] std::string applicationSupportDirectory();

// Creates `path` with mode 0700 if it is missing (its parent must exist), then
// checks with lstat that it is a real folder (not a link), owned by this user,
// and open to nobody else. Returns an error (nothing changed) when it is not.
[[nodiscard]] std::error_code ensurePrivateDirectory(const std::string& path);

// `absolutePath` under the system root (compiled in, empty by default):
// with root "/srv/sys", "/Library/Input Methods" gives "/srv/sys/Library/Input Methods".
[[nodiscard]] std::string systemPath(std::string_view absolutePath);
[[nodiscard]] std::string systemRoot();
// Replaces the compiled-in root for this process (tests and the demo).
void setSystemRoot(std::string root);

}  // namespace quillo::folders
