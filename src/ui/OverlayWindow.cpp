#include "OverlayWindow.h"

#include "CardOverlay.h"
#include "platform/ScreenGrab.h"
#include "platform/WindowHints.h"

#include <QCoreApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <utility>

OverlayWindow::OverlayWindow(QScreen *screen, const QString &title, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_screen(screen) {
    setWindowTitle(title);
    setAccessibleName(title);
    setAttribute(Qt::WA_DeleteOnClose, false);
    // Every screen's window looks the same whichever has the focus, and taking or losing it
    // repaints nothing: Qt repaints a whole window on activation when the colour groups differ.
    QPalette pal = palette();
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        const auto r = QPalette::ColorRole(role);
        pal.setBrush(QPalette::Inactive, r, pal.brush(QPalette::Active, r));
    }
    setPalette(pal);
    if (screen) {
        setScreen(screen);
        setGeometry(screen->geometry());
        if (WindowHints::hasCompositingManager(screen))
            setAttribute(Qt::WA_TranslucentBackground);
        else
            m_backdrop = ScreenGrab::grab(screen);
    }
}

void OverlayWindow::setContent(QWidget *content) {
    m_content = content;
    content->setParent(this);
    content->setGeometry(rect());
    // Handed over rather than shared, so that the view can dim it in place.
    if (auto *overlay = qobject_cast<CardOverlay *>(content))
        overlay->setBackdrop(std::exchange(m_backdrop, {}));
    setFocusProxy(content);
}

void OverlayWindow::present(Focus focus) {
    // Polished now, while hidden, rather than from a posted request that may come after the
    // window's first frame and repaint it in full.
    ensurePolished();
    // The native window must exist, unmapped, for the hints to be in place when the window
    // manager first sees it.
    winId();
    if (QWindow *handle = windowHandle()) {
        if (m_screen)
            handle->setScreen(m_screen);
        WindowHints::setAboveAllOnAllWorkspaces(handle);
    }
    showFullScreen();
    // A window that leaves the focus to another asks nothing more of the window manager,
    // which maps it above everything anyway: each request is work it does before the other
    // screens' windows appear.
    if (focus == Focus::take) {
        raise();
        activateWindow();
    }
    if (m_content)
        m_content->setFocus();
    // Showing posts a full repaint of the window and of its view for later. Taken now, it
    // joins the first frame; left in the queue, it repaints the whole screen a second time
    // whenever the window manager maps the window before the event loop gets to it, and
    // holds up the first frame of the other screens' windows.
    QCoreApplication::sendPostedEvents(this, QEvent::UpdateLater);
    if (m_content)
        QCoreApplication::sendPostedEvents(m_content, QEvent::UpdateLater);
}

void OverlayWindow::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    if (m_content)
        m_content->setGeometry(rect());
}

void OverlayWindow::paintEvent(QPaintEvent *) {
    if (m_painted)
        return;
    m_painted = true;
    // Reported once the frame this paint belongs to has been flushed to the screen.
    QTimer::singleShot(0, this, &OverlayWindow::firstFramePainted);
}
