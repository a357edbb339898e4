#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QString>

// Bundled SVG icons, looked up by symbol name ("calendar", "xmark", ...) and tinted.
namespace SymbolIcons {
bool has(const QString &symbolName);
QIcon icon(const QString &symbolName, const QColor &color);
QPixmap pixmap(const QString &symbolName, const QColor &color, int size,
               qreal devicePixelRatio = 1.0);
inline constexpr QLatin1StringView appIconName("app.zelvane.Zelvane");
inline constexpr char appIconFile[] = ":/icons/zelvane.svg";
// The application's own icon: the desktop theme's copy once installed, the bundled one before.
QIcon appIcon();
// The same at `size` device-independent pixels, drawn for `devicePixelRatio`. The bundled copy
// is rendered straight from its SVG, without the SVG icon engine plugin and the image format
// plugins an icon made from a file has Qt load.
QImage appImage(int size, qreal devicePixelRatio);
} // namespace SymbolIcons
