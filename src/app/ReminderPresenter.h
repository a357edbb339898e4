#pragma once

#include "core/CalendarEvent.h"
#include "core/MeetingBrief.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <functional>
#include <optional>

class AppSettings;
class Clock;
class DesktopNotification;
class OverlayWindowController;

// Puts a due reminder in front of the user: over every screen, or as a desktop notification
// with "Join" and "Dismiss" when the meeting's account asks for notifications only, or when the
// user asked to respect Do Not Disturb and the desktop is in it. Joining opens the meeting's
// link either way.
class ReminderPresenter : public QObject {
    Q_OBJECT

public:
    using QuietCheck = std::function<bool()>;

    // `desktopQuiet` says at once whether the desktop is in Do Not Disturb.
    ReminderPresenter(AppSettings &settings, OverlayWindowController &overlay,
                      DesktopNotification &notifications, Clock &clock, QuietCheck desktopQuiet,
                      QObject *parent = nullptr);

    QCoro::Task<> present(CalendarEvent event, std::optional<MeetingBrief> brief);

Q_SIGNALS:
    // From the overlay's Dismiss or the notification's.
    void dismissed(const CalendarEvent &event);

private:
    QCoro::Task<bool> notify(CalendarEvent event);
    void onAction(uint id, const QString &actionKey);
    static void join(const CalendarEvent &event);

    AppSettings &m_settings;
    OverlayWindowController &m_overlay;
    DesktopNotification &m_notifications;
    Clock &m_clock;
    QuietCheck m_desktopQuiet;
    // Reminders waiting in the notification area, by the server's id.
    QHash<uint, CalendarEvent> m_notified;
};
