#pragma once
// The general pasteboard on the desktop clipboard (Qt's QClipboard). Text is
// the string type; a URL list that names a local file is the file-URL type
// (its data: the list, one URL a line); every other format keeps its MIME
// type and bytes. Install once a QGuiApplication exists:
//   quillo::Pasteboard::setGeneral(std::make_shared<quillo::QtPasteboard>());
// Main thread only.
#include "platform/pasteboard.h"

namespace quillo {

class QtPasteboard final : public Pasteboard {
 public:
  [[nodiscard]] std::vector<std::string> types() override;
  [[nodiscard]] std::optional<std::string> dataForType(std::string_view type) override;
  void clearContents() override;
  bool setData(const std::optional<std::string>& data, std::string_view type) override;
};

}  // namespace quillo
