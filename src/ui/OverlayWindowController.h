#pragma once

#include "core/CalendarEvent.h"
#include "core/Clock.h"
#include "core/MeetingBrief.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <optional>

class AppSettings;
class OverlayWindow;
class QScreen;
class QWidget;

// Covers every screen with the reminder for one meeting and takes it down again as soon as
// the user acts on any screen.
class OverlayWindowController : public QObject {
    Q_OBJECT

public:
    OverlayWindowController(AppSettings &settings, Clock &clock, QObject *parent = nullptr);
    ~OverlayWindowController() override;

    // Replaces any reminder on screen. Join, snooze and dismiss first close every screen's
    // window, then announce themselves with the reminder's event.
    void showOverlay(const CalendarEvent &event, const std::optional<MeetingBrief> &brief);
    void closeAll();
    // One top-level window per screen while a reminder shows; empty otherwise.
    QList<QWidget *> windows() const;

Q_SIGNALS:
    void dismissed(const CalendarEvent &event);
    void joinRequested(const CalendarEvent &event);
    void snoozeRequested(const CalendarEvent &event);
    // A reminder went up while sound is on; once per reminder, not per screen.
    void alertSoundDue();
    // Every screen's window has painted its first frame.
    void overlayPainted();

private:
    void windowPainted();
    // The window on `screen`, else the first one; null when none is shown.
    OverlayWindow *windowOn(const QScreen *screen) const;

    AppSettings &m_settings;
    Clock &m_clock;
    QList<QPointer<OverlayWindow>> m_windows;
    int m_paintedCount = 0;
};
