#pragma once
// The general pasteboard behind a plain interface: typed data by type name.
// The application plugs in the desktop clipboard (platform/qt_pasteboard.h);
// until then, and in tests of non-UI code, it is an in-memory one.
//
//   auto board = quillo::Pasteboard::general();
//   auto text = board->dataForType(quillo::Pasteboard::kStringType);
//   board->clearContents();
//   board->setData(text, quillo::Pasteboard::kStringType);
//
// general() and setGeneral() are safe from any thread; the pasteboards
// themselves are used on the main thread only.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

class Pasteboard {
 public:
  static constexpr std::string_view kStringType = "public.utf8-plain-text";
  static constexpr std::string_view kFileURLType = "public.file-url";

  virtual ~Pasteboard() = default;

  // The types of the current contents: every format they hold.
  [[nodiscard]] virtual std::vector<std::string> types() = 0;
  // Nothing when the contents hold no data of `type`.
  [[nodiscard]] virtual std::optional<std::string> dataForType(std::string_view type) = 0;
  virtual void clearContents() = 0;
  // Sets (or, with nothing, removes) the data of `type`, keeping the other
  // types; false when the type is not supported.
  virtual bool setData(const std::optional<std::string>& data, std::string_view type) = 0;

  // The process-wide general pasteboard (in-memory until setGeneral()).
  [[nodiscard]] static std::shared_ptr<Pasteboard> general();
  // Replaces it; null restores a fresh in-memory pasteboard.
  static void setGeneral(std::shared_ptr<Pasteboard> pasteboard);
};

// Keeps any types; for tests and processes without a desktop.
class MemoryPasteboard final : public Pasteboard {
 public:
  [[nodiscard]] std::vector<std::string> types() override;
  [[nodiscard]] std::optional<std::string> dataForType(std::string_view type) override;
  void clearContents() override { items_.clear(); }
  bool setData(const std::optional<std::string>& data, std::string_view type) override;

 private:
  std::map<std::string, std::string, std::less<>> items_;
};

}  // namespace quillo
