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
// The bundled icon (the installed copies are made from it) at `size` device-independent pixels,
// drawn for `devicePixelRatio` straight from its SVG: reading an icon from a file has Qt load its
// SVG icon engine and every image format plugin, each asked whether it reads the format.
QImage appImage(int size, qreal devicePixelRatio);
} // namespace SymbolIcons
