#include "assets.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QSvgRenderer>

#include "platform/bundle.h"

namespace quillo {

namespace {

// Below the middle of the lightness scale a window background reads as dark.
constexpr int kDarkLightnessLimit = 128;

// Set on the main thread only, like every other use of this file.
std::optional<std::string>& resourcePathOverride() {
  static std::optional<std::string> path;
  return path;
}

}  // namespace

void setAssetResourcePath(std::optional<std::string> resourcePath) {
  resourcePathOverride() = std::move(resourcePath);
}

Appearance currentAppearance() {
  if (const auto forced = appearanceOverride()) return *forced;
  const QColor window = QGuiApplication::palette().color(QPalette::Window);
  return window.lightness() < kDarkLightnessLimit ? Appearance::Dark : Appearance::Light;
}

void setCurrentAppearance(std::optional<Appearance> appearance) {
  setAppearanceOverride(appearance);
  AppearanceNotifier::shared().refresh();
}

QColor assetColor(std::string_view name) { return assetColor(name, currentAppearance()); }

QColor assetColor(std::string_view name, Appearance appearance) {
  const Color c = colorNamed(name, appearance);
  return QColor(c.red, c.green, c.blue, c.alpha);
}

QPixmap assetImage(std::string_view name, QSize size) {
  const auto& forced = resourcePathOverride();
  return assetImage(name, size, forced ? *forced : Bundle::main().resourcePath(),
                    currentAppearance());
}

QPixmap assetImage(std::string_view name, QSize size, const std::string& resourcePath,
                   Appearance appearance) {
  if (size.isEmpty()) return {};
  const auto path = imagePathNamed(name, resourcePath, appearance);
  if (!path) return {};
  QSvgRenderer renderer(QString::fromStdString(*path));
  if (!renderer.isValid()) return {};
  renderer.setAspectRatioMode(Qt::KeepAspectRatio);
  const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
  QPixmap pixmap(size * ratio);
  pixmap.fill(Qt::transparent);
  {
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
  }
  pixmap.setDevicePixelRatio(ratio);
  return pixmap;
}

QIcon assetIcon(std::string_view name, QSize size) {
  const QPixmap pixmap = assetImage(name, size);
  return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

AppearanceNotifier& AppearanceNotifier::shared() {
  static QPointer<AppearanceNotifier> notifier;
  Q_ASSERT(qApp);
  if (!notifier) notifier = new AppearanceNotifier(qApp);
  return *notifier;
}

AppearanceNotifier::AppearanceNotifier(QObject* parent)
    : QObject(parent), last_(currentAppearance()) {
  parent->installEventFilter(this);
}

void AppearanceNotifier::refresh() {
  const Appearance now = currentAppearance();
  if (now == last_) return;
  last_ = now;
  emit appearanceChanged(now);
}

bool AppearanceNotifier::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parent() && event->type() == QEvent::ApplicationPaletteChange) refresh();
  return QObject::eventFilter(watched, event);
}

}  // namespace quillo
