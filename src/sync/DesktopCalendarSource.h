#pragma once

#include "DesktopCalendarStore.h"
#include "ProxyRecords.h"
#include "core/CalendarEvent.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <chrono>
#include <memory>
#include <optional>

class Clock;

// The calendars the desktop already has, read from Evolution Data Server: every enabled
// calendar source, its meetings over the window (recurrences expanded by the store's own
// library, in each event's zone), followed live through one view per calendar. Every call to
// the store is asynchronous or runs on a worker, so a hung store never stalls the caller.
// When the store leaves the bus the last meetings stay and isLost() says so; they are read
// anew when it returns.
class DesktopCalendarSource : public QObject {
    Q_OBJECT

public:
    using Availability = DesktopCalendarStore::Availability;

    static constexpr std::chrono::seconds window = std::chrono::days(90);
    // Calendars are expanded anew after this long, so the window moves on.
    static constexpr std::chrono::seconds reexpandAge = std::chrono::hours(12);
    // Where the store's source registry is reached on the session bus.
    static constexpr auto registryService = DesktopCalendarStore::registryService;

    explicit DesktopCalendarSource(Clock &clock, QObject *parent = nullptr);
    ~DesktopCalendarSource() override;

    // Starts following whether the store is on the session bus (running, or started on
    // demand). Calling it again changes nothing.
    void watch();
    Availability availability() const { return m_availability; }

    // Opens every enabled calendar and follows the registry and the calendars live.
    void open();
    // Closes the calendars and forgets their meetings.
    void close();
    bool isOpen() const { return m_wantOpen; }
    // Open, but the store is gone: what was read last is all there is.
    bool isLost() const { return m_lost; }

    const QList<DesktopCalendar> &calendars() const { return m_calendarList; }
    // The calendars as the settings list every account's.
    QList<ProxyCalendar> listedCalendars() const;
    // Every calendar's meetings in the window, as the account `accountId` owns them.
    QList<CalendarEvent> events(const QString &accountId) const;
    // Expands every calendar anew when its last expansion is too old; reopens calendars
    // that failed to open.
    void refresh();

Q_SIGNALS:
    void availabilityChanged();
    void lostChanged();
    void calendarsChanged();
    void eventsChanged();

private:
    struct Bus;
    struct Calendar;
    using CalendarPtr = std::shared_ptr<Calendar>;

    // GLib signal handlers; the pointers are the store's objects, `data` the receiver.
    static void nameAppeared(void *connection, const char *name, const char *owner, void *data);
    static void nameVanished(void *connection, const char *name, void *data);
    static void registryChanged(void *registry, void *source, void *data);
    static void objectsChanged(void *view, const void *components, void *data);
    static void objectsRemoved(void *view, const void *ids, void *data);
    static void backendDied(void *client, void *data);

    void setAvailability(bool owned, std::optional<bool> activatable);
    void setLost(bool lost);
    QCoro::Task<> findActivatable();
    QCoro::Task<> connectRegistry();
    void dropRegistry();
    // Brings the open calendars in line with the registry's enabled ones.
    QCoro::Task<> syncCalendars();
    void scheduleSync();
    QCoro::Task<> openCalendar(CalendarPtr calendar);
    QCoro::Task<> loadCalendar(CalendarPtr calendar);
    void closeCalendar(const CalendarPtr &calendar);
    void queueChanged(Calendar *calendar, QSet<QString> uids);
    void flushChanged(const CalendarPtr &calendar);
    QCoro::Task<> reloadUid(CalendarPtr calendar, QString uid);
    bool isCurrent(const CalendarPtr &calendar) const;

    Clock &m_clock;
    std::unique_ptr<Bus> m_bus;
    Availability m_availability = Availability::unknown;
    bool m_nameOwned = false;
    std::optional<bool> m_activatable;
    bool m_wantOpen = false;
    bool m_lost = false;
    bool m_connecting = false;
    bool m_syncScheduled = false;
    QList<DesktopCalendar> m_calendarList;
    QHash<QString, CalendarPtr> m_calendars;
    // The user's own addresses: an event one of them declined is left out.
    QSet<QString> m_ownAddresses;
};
