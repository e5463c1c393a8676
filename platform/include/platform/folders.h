#pragma once
// Well-known folders, after the XDG conventions, and the system root under
// which system-wide paths ("/Library/...") resolve. Safe from any thread.
#include <string>
#include <string_view>
#include <system_error>

namespace quillo::folders {

// The user's private temporary folder: $TMPDIR (or /tmp) + "/quillo-<uid>".
// Only the path; ensurePrivateDirectory() makes it safe to use. /tmp is
// shared, and files put here are later run by root, so never use it unchecked.
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
