#pragma once
// The general pasteboard on the desktop clipboard (Qt's QClipboard). Text is
// the string type; local file URLs are the file-URL type. Install once a
// QGuiApplication exists:
//   quillo::Pasteboard::setGeneral(std::make_shared<quillo::QtPasteboard>());
// Main thread only.
#include "platform/pasteboard.h"

namespace quillo {

class QtPasteboard final : public Pasteboard {
 public:
  [[nodiscard]] std::vector<std::string> types() override;
  [[nodiscard]] std::optional<std::string> dataForType(std::string_view type) override;
  void clearContents() override;
  // Only the string type can be set.
  bool setData(const std::optional<std::string>& data, std::string_view type) override;
};

}  // namespace quillo
