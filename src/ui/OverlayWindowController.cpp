#include "OverlayWindowController.h"

#include "CardOverlay.h"
#include "OverlayWindow.h"
#include "ReminderOverlayView.h"
#include "WindowPlacement.h"
#include "core/AppSettings.h"
#include "platform/ProcessMemory.h"

#include <QGuiApplication>
#include <QScreen>

OverlayWindowController::OverlayWindowController(AppSettings &settings, Clock &clock,
                                                 QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_clock(clock) {}

OverlayWindowController::~OverlayWindowController() {
    closeAll();
}

void OverlayWindowController::showOverlay(const CalendarEvent &event,
                                          const std::optional<MeetingBrief> &brief) {
    closeAll();
    for (QScreen *screen : QGuiApplication::screens()) {
        auto *window = new OverlayWindow(screen, event.title);
        auto *view = new ReminderOverlayView(event, brief, m_clock);
        // Acting on any screen takes the reminder off every screen first.
        const auto relay = [this, view, event](auto viewSignal, auto announce) {
            connect(view, viewSignal, this, [this, event, announce] {
                closeAll();
                Q_EMIT(this->*announce)(event);
            });
        };
        relay(&ReminderOverlayView::dismissRequested, &OverlayWindowController::dismissed);
        relay(&ReminderOverlayView::joinRequested, &OverlayWindowController::joinRequested);
        relay(&ReminderOverlayView::snoozeRequested, &OverlayWindowController::snoozeRequested);
        window->setContent(view);
        connect(window, &OverlayWindow::firstFramePainted, this,
                &OverlayWindowController::windowPainted);
        m_windows.append(window);
    }
    m_paintedCount = 0;
    // Every window is built before any is shown so a slow screen grab cannot capture the
    // overlay of another screen. The keyboard goes to the card in front of the user: the one
    // on the pointer's screen, shown last so that no other window takes the activation after it.
    OverlayWindow *focused = windowOn(WindowPlacement::pointerScreen());
    for (const QPointer<OverlayWindow> &window : std::as_const(m_windows))
        if (window != focused)
            window->present(OverlayWindow::Focus::leave);
    if (focused)
        focused->present();
    // The window manager takes a while to map the windows: their backdrops are dimmed
    // meanwhile rather than on their first frame.
    for (const QPointer<OverlayWindow> &window : std::as_const(m_windows))
        if (auto *view = qobject_cast<CardOverlay *>(window->content()))
            view->dimBackdrop();

    if (m_settings.soundEnabled())
        Q_EMIT alertSoundDue();
}

void OverlayWindowController::closeAll() {
    const QList<QPointer<OverlayWindow>> taken = std::exchange(m_windows, {});
    m_paintedCount = 0;
    OverlayWindow *last = nullptr;
    for (const QPointer<OverlayWindow> &window : taken) {
        if (!window)
            continue;
        window->disconnect(this);
        window->hide();
        // The click that closes the overlay may still be on this window's stack.
        window->deleteLater();
        last = window;
    }
    // The windows' buffers and widgets leave the heap full of holes that would otherwise
    // stay resident until the next reminder, or for good.
    if (last)
        connect(last, &QObject::destroyed, this, &ProcessMemory::returnFreePages);
}

QList<QWidget *> OverlayWindowController::windows() const {
    QList<QWidget *> result;
    for (const QPointer<OverlayWindow> &window : m_windows)
        if (window)
            result.append(window);
    return result;
}

OverlayWindow *OverlayWindowController::windowOn(const QScreen *screen) const {
    for (const QPointer<OverlayWindow> &window : m_windows)
        if (window && window->screen() == screen)
            return window;
    return m_windows.isEmpty() ? nullptr : m_windows.constFirst().data();
}

void OverlayWindowController::windowPainted() {
    if (++m_paintedCount == m_windows.size())
        Q_EMIT overlayPainted();
}
