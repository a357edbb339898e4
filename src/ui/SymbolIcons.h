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
// The application's own icon: the desktop theme's copy once installed, the bundled one before.
QIcon appIcon();
// The same at `size` device-independent pixels, drawn for `devicePixelRatio`. The bundled copy
// is rendered straight from its SVG, and only when the theme has none: an icon made from the
// file would load Qt's SVG icon engine plugin even when the theme's copy is the one drawn.
QImage appImage(int size, qreal devicePixelRatio);
} // namespace SymbolIcons
