#pragma once

class QScreen;
class QWindow;

// Window-manager hints for the full-screen alerts. On X11 they are EWMH properties; other
// platforms rely on the Qt window flags alone.
namespace WindowHints {
// Asks the window manager to keep `window` above every other window (full-screen ones
// included), full-screen and on every workspace. Call after the native window exists and
// before it is mapped, so the window manager sees the states when it manages the window.
void setAboveAllOnAllWorkspaces(QWindow *window);

// Whether a compositing manager blends translucent windows on `screen`'s display. Without
// one a translucent window shows garbage, so callers paint over a grab of the screen instead.
bool hasCompositingManager(const QScreen *screen);

// Sends the requests queued for the X server now rather than when the event loop next waits,
// so that what was just shown (the tray icon's docking) is not held up by the work after it.
void sendQueuedRequests();
} // namespace WindowHints
