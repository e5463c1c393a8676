#pragma once
// Copying text to the pasteboard. ext knows no pasteboard of its own: the
// application installs a sink at start-up that clears the general pasteboard
// and puts the text on it as plain text; until then copies go nowhere and
// say so.
//
//   ext::setPasteboardSink([](std::string_view text) { ...; return true; });
//   ext::copyToPasteboard("hello")  -> PasteboardCopy::copied
//
// setPasteboardSink() and copyToPasteboard() are safe from any thread; the
// sink runs on the caller's thread, so call copyToPasteboard() where the
// installed sink may run (for a desktop pasteboard, the main thread).
#include <functional>
#include <string_view>

namespace ext {

// Replaces the pasteboard's contents with `text`; false when it refused.
using PasteboardSink = std::function<bool(std::string_view text)>;

enum class PasteboardCopy {
  copied,
  noSink,   // nothing installed: nothing happened
  refused,  // the sink could not take the text
};

// Installs `sink` for the whole process; an empty one uninstalls.
void setPasteboardSink(PasteboardSink sink);

// Puts `text` on the pasteboard through the installed sink.
[[nodiscard]] PasteboardCopy copyToPasteboard(std::string_view text);

}  // namespace ext
