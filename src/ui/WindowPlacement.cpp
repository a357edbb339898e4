#include "WindowPlacement.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace {
// The window's frame size: its own size plus the decoration the window manager has reported
// (none before it was first shown).
QSize frameSize(const QWidget *window) {
    return window->frameGeometry().size().expandedTo(window->size());
}

} // namespace

QScreen *WindowPlacement::pointerScreen() {
    if (QScreen *screen = QGuiApplication::screenAt(QCursor::pos()))
        return screen;
    return QGuiApplication::primaryScreen();
}

QPoint WindowPlacement::centred(const QRect &area, const QSize &frame) {
    QRect placed(QPoint(), frame);
    placed.moveCenter(area.center());
    return keptInside(area, placed);
}

QPoint WindowPlacement::keptInside(const QRect &area, const QRect &frameRect) {
    const int x =
        std::max(area.left(), std::min(frameRect.left(), area.right() + 1 - frameRect.width()));
    const int y =
        std::max(area.top(), std::min(frameRect.top(), area.bottom() + 1 - frameRect.height()));
    return {x, y};
}

void WindowPlacement::centreOnPointerScreen(QWidget *window) {
    if (const QScreen *screen = pointerScreen())
        window->move(centred(screen->availableGeometry(), frameSize(window)));
}

void WindowPlacement::keepOnScreen(QWidget *window) {
    const QRect frame(window->frameGeometry().topLeft(), frameSize(window));
    const QScreen *screen = QGuiApplication::screenAt(frame.center());
    if (!screen)
        screen = window->screen();
    if (!screen)
        return;
    const QPoint inside = keptInside(screen->availableGeometry(), frame);
    if (inside != frame.topLeft())
        window->move(inside);
}
