#pragma once

#include "core/CalendarEvent.h"
#include "core/MeetingBrief.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>

class AppSettings;
class OverlayWindow;
class QWidget;

// Covers every screen with the reminder for one meeting and takes it down again as soon as
// the user acts on any screen.
class OverlayWindowController : public QObject {
    Q_OBJECT

public:
    explicit OverlayWindowController(AppSettings &settings, QObject *parent = nullptr);
    ~OverlayWindowController() override;

    // Replaces any reminder on screen. Join, snooze and dismiss first close every screen's
    // window, then call the given callback.
    void showOverlay(const CalendarEvent &event, const std::optional<MeetingBrief> &brief,
                     std::function<void()> onDismiss, std::function<void()> onJoin,
                     std::function<void()> onSnooze);
    void closeAll();
    // One top-level window per screen while a reminder shows; empty otherwise.
    QList<QWidget *> windows() const;

    // How the alert sound is made; by default the desktop's sound theme, else a beep.
    void setAlertSound(std::function<void()> play);

Q_SIGNALS:
    // Every screen's window has painted its first frame.
    void overlayPainted();

private:
    void windowPainted();

    AppSettings &m_settings;
    QList<QPointer<OverlayWindow>> m_windows;
    int m_paintedCount = 0;
    std::function<void()> m_alertSound;
};
