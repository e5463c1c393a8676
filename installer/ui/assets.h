#pragma once
// The asset catalogue for the window code: colours resolved against the
// current appearance, pictures rendered from the bundle's SVG files, and a
// signal that tells views to re-read their colours when the appearance
// changes. Main thread only (it reads the application palette).
#include <optional>
#include <string>
#include <string_view>

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QSize>

#include "installer/asset_catalogue.h"

namespace quillo {

// The forced appearance when one is set, else Dark when the application
// palette's window colour is dark, else Light.
[[nodiscard]] Appearance currentAppearance();

// Forces an appearance (nothing: follow the palette again) and tells the
// views when the effective appearance changes.
void setCurrentAppearance(std::optional<Appearance> appearance);

// The catalogue colour called `name`; transparent when the name is unknown.
[[nodiscard]] QColor assetColor(std::string_view name);
[[nodiscard]] QColor assetColor(std::string_view name, Appearance appearance);

// The picture called `name` drawn at `size` (logical pixels, aspect kept),
// from the main bundle's resources or from `resourcePath`. A null pixmap or
// icon when the name is unknown, the file is missing or it is not valid SVG.
[[nodiscard]] QPixmap assetImage(std::string_view name, QSize size);
[[nodiscard]] QPixmap assetImage(std::string_view name, QSize size,
                                 const std::string& resourcePath, Appearance appearance);
[[nodiscard]] QIcon assetIcon(std::string_view name, QSize size);

// Where assetImage(name, size) and assetIcon look for pictures: the main
// bundle's resources, unless a folder is set here (tests that run outside the
// bundle point it at the built one). Nothing restores the default.
void setAssetResourcePath(std::optional<std::string> resourcePath);

// Emits appearanceChanged when the effective appearance changes, whether by
// a palette change or by setCurrentAppearance. Views connect with themselves
// as context so the connection ends with them:
//   connect(&AppearanceNotifier::shared(), &AppearanceNotifier::appearanceChanged,
//           this, [this] { applyColors(); });
class AppearanceNotifier : public QObject {
  Q_OBJECT

 public:
  // Created on first use as a child of the application object, which must
  // exist; lives until the application object goes.
  [[nodiscard]] static AppearanceNotifier& shared();

  // Re-reads the effective appearance; emits when it differs from the last.
  void refresh();

 signals:
  void appearanceChanged(quillo::Appearance appearance);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  explicit AppearanceNotifier(QObject* parent);

  Appearance last_;
};

}  // namespace quillo
