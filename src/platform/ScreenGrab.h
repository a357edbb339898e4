#pragma once

#include <QImage>

class QScreen;

namespace ScreenGrab {
// What `screen` shows now. On X11 the server writes the pixels straight into memory shared
// with this process, which is several times faster than reading them through the connection
// and leaves nothing behind in the heap: the memory goes back to the system with the image.
// Elsewhere, or when the server cannot share memory, Qt's own grab.
QImage grab(QScreen *screen);
} // namespace ScreenGrab
