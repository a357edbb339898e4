#pragma once

#include "DesktopCalendarStore.h"

#include <QCoroTask>
#include <QObject>
#include <memory>
#include <optional>

class Clock;
class QDBusServiceWatcher;

// The desktop's calendars as the rest of the app sees them. Whether the store is on the session
// bus is followed here over D-Bus alone; the store itself (DesktopCalendarStore, in a module of
// its own with Evolution Data Server's libraries) is loaded the first time the calendars are
// opened and kept until the app ends. When the store leaves the bus the last meetings stay and
// isLost() says so; they are read anew when it returns.
class DesktopCalendars : public QObject {
    Q_OBJECT

public:
    using Availability = DesktopCalendarStore::Availability;

    explicit DesktopCalendars(Clock &clock, QObject *parent = nullptr);
    ~DesktopCalendars() override;

    // Starts following whether the store is on the session bus (running, or started on
    // demand). Calling it again changes nothing.
    void watch();
    Availability availability() const { return m_availability; }

    // Opens every enabled calendar and follows the registry and the calendars live.
    void open();
    // Closes the calendars and forgets their meetings.
    void close();
    bool isOpen() const { return m_wantOpen; }
    // Open, but the store is gone (or its module could not be loaded): what was read last is
    // all there is.
    bool isLost() const;

    QList<DesktopCalendar> calendars() const;
    // The calendars as the settings list every account's.
    QList<ProxyCalendar> listedCalendars() const;
    // Every calendar's meetings in the window, as the account `accountId` owns them.
    QList<CalendarEvent> events(const QString &accountId) const;
    // Expands every calendar anew when its last expansion is too old; reopens calendars
    // that failed to open.
    void refresh();
    // What an account row says while the store is gone.
    static QString problemText();

Q_SIGNALS:
    void availabilityChanged();
    void lostChanged();
    void calendarsChanged();
    void eventsChanged();

private:
    // Loads the module once; null when it cannot be loaded.
    DesktopCalendarStore *store();
    void changed(DesktopCalendarStore::Change change);
    void setAvailability();
    QCoro::Task<> askOwner();
    QCoro::Task<> askActivatable();

    Clock &m_clock;
    std::unique_ptr<DesktopCalendarStore> m_store;
    bool m_loadFailed = false;
    QDBusServiceWatcher *m_watcher = nullptr;
    Availability m_availability = Availability::unknown;
    std::optional<bool> m_owned;
    std::optional<bool> m_activatable;
    bool m_wantOpen = false;
};
