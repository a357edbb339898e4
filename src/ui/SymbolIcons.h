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
// The bundled icon at `size` device-independent pixels, rendered straight from its SVG for
// `devicePixelRatio`. The tray draws this before it first shows: the theme's copy is the same
// artwork, but looking it up walks the theme's folders and reading it loads every image format
// plugin Qt has, which together took longer than the rest of the tray's set-up.
QImage appImage(int size, qreal devicePixelRatio);
} // namespace SymbolIcons
