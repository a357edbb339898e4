#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QScreen;
class QWidget;

// Where the application's own windows open: on the screen the user is looking at, with the
// title bar on that screen.
namespace WindowPlacement {
// The screen under the pointer; the primary screen when the pointer is on none.
QScreen *pointerScreen();
// The frame's top-left that centres a frame of `frame` in `area`, kept inside it; when the
// frame is larger than the area, its top-left corner (title bar, close button) stays inside.
QPoint centred(const QRect &area, const QSize &frame);
// `frameRect` moved the least distance that brings it inside `area`, top-left corner first.
QPoint keptInside(const QRect &area, const QRect &frameRect);
// Centres the window, frame included, in the pointer screen's available area. Called before
// the window is first shown, the position is the frame's: the title bar lands inside the area
// whatever its height.
void centreOnPointerScreen(QWidget *window);
// Moves a shown window that grew past its screen's available area back inside it.
void keepOnScreen(QWidget *window);
} // namespace WindowPlacement
