#include "platform/qt_pasteboard.h"

#include <memory>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

namespace quillo {
namespace {

constexpr const char* kTextFormat = "text/plain";
constexpr const char* kUriListFormat = "text/uri-list";

const QMimeData* contents() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  return clipboard ? clipboard->mimeData() : nullptr;
}

bool holdsLocalFile(const QMimeData* data) {
  if (!data || !data->hasUrls()) return false;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) return true;
  }
  return false;
}

// The clipboard format that holds `type`.
QString formatOf(std::string_view type) {
  if (type == Pasteboard::kStringType) return kTextFormat;
  if (type == Pasteboard::kFileURLType) return kUriListFormat;
  return QString::fromUtf8(type.data(), static_cast<qsizetype>(type.size()));
}

// Formats Qt derives from the others for its own use (an image in any
// format is also "application/x-qt-image"); they hold no bytes of their own.
bool isDerivedFormat(const QString& format) { return format.startsWith("application/x-qt-"); }

}  // namespace

std::vector<std::string> QtPasteboard::types() {
  const QMimeData* data = contents();
  std::vector<std::string> out;
  if (!data) return out;
  for (const QString& format : data->formats()) {
    if (isDerivedFormat(format)) continue;
    if (format == kTextFormat) {
      out.emplace_back(kStringType);
    } else if (format == kUriListFormat && holdsLocalFile(data)) {
      out.emplace_back(kFileURLType);
    } else {
      out.push_back(format.toStdString());
    }
  }
  return out;
}

std::optional<std::string> QtPasteboard::dataForType(std::string_view type) {
  const QMimeData* data = contents();
  const QString format = formatOf(type);
  if (!data || !data->hasFormat(format)) return std::nullopt;
  if (type == kFileURLType && !holdsLocalFile(data)) return std::nullopt;
  if (type == kStringType) return data->text().toStdString();
  const QByteArray bytes = data->data(format);
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void QtPasteboard::clearContents() {
  if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->clear();
}

bool QtPasteboard::setData(const std::optional<std::string>& data, std::string_view type) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard) return false;
  // The clipboard takes whole contents: the others' formats go along.
  const QString format = formatOf(type);
  auto next = std::make_unique<QMimeData>();
  if (const QMimeData* current = contents()) {
    for (const QString& other : current->formats()) {
      if (other != format && !isDerivedFormat(other)) next->setData(other, current->data(other));
    }
  }
  if (data) next->setData(format, QByteArray(data->data(), static_cast<qsizetype>(data->size())));
  if (next->formats().isEmpty()) {
    if (contents() && !contents()->formats().isEmpty()) clipboard->clear();
  } else {
    clipboard->setMimeData(next.release());
  }
  return true;
}

}  // namespace quillo
