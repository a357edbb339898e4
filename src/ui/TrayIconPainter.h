#pragma once

#include "models/TrayCountdown.h"

#include <QIcon>
#include <QImage>

// Draws the tray icon: the app's symbol, and in its lower right corner a badge with the minutes
// left before the next meeting (blue, red when it is urgent), cut free of the symbol so it reads
// on light and dark panels alike.
namespace TrayIconPainter {
// Panels ask for sizes from 16 to 48 pixels.
inline constexpr int sizes[] = {16, 22, 24, 32, 48};

QImage paint(int size, const TrayStatus &status);
QIcon icon(const TrayStatus &status);
} // namespace TrayIconPainter
