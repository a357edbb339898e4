#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

// Bundled SVG icons, looked up by symbol name ("calendar", "xmark", ...) and tinted.
namespace SymbolIcons {
bool has(const QString &symbolName);
QIcon icon(const QString &symbolName, const QColor &color);
QPixmap pixmap(const QString &symbolName, const QColor &color, int size,
               qreal devicePixelRatio = 1.0);
// The application's own icon: the desktop theme's copy once installed, the bundled one before.
QIcon appIcon();
} // namespace SymbolIcons
