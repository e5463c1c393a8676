#include "platform/qt_pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

namespace quillo {
namespace {

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

}  // namespace

std::vector<std::string> QtPasteboard::types() {
  const QMimeData* data = contents();
  std::vector<std::string> out;
  if (holdsLocalFile(data)) out.emplace_back(kFileURLType);
  if (data && data->hasText()) out.emplace_back(kStringType);
  return out;
}

std::optional<std::string> QtPasteboard::dataForType(std::string_view type) {
  const QMimeData* data = contents();
  if (!data) return std::nullopt;
  if (type == kStringType && data->hasText()) return data->text().toStdString();
  if (type == kFileURLType && holdsLocalFile(data)) {
    for (const QUrl& url : data->urls()) {
      if (url.isLocalFile()) return url.toString(QUrl::FullyEncoded).toStdString();
    }
  }
  return std::nullopt;
}

void QtPasteboard::clearContents() {
  if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->clear();
}

bool QtPasteboard::setData(const std::optional<std::string>& data, std::string_view type) {
  if (type != kStringType) return false;
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard) return false;
  if (data) {
    clipboard->setText(QString::fromStdString(*data));
  } else if (contents() && contents()->hasText()) {
    clipboard->clear();
  }
  return true;
}

}  // namespace quillo
