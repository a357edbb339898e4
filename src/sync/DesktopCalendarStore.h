#pragma once

#include "ProxyRecords.h"
#include "core/CalendarEvent.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

class Clock;

// One calendar of the desktop's calendar store (Evolution Data Server).
struct DesktopCalendar {
    // The store's source UID.
    QString id;
    QString name;
    std::optional<QString> hexColor;
    // The online account's address it comes from, or "On This Computer".
    QString group;

    bool operator==(const DesktopCalendar &) const = default;
};

// The desktop's calendars as the app reads them. Evolution Data Server's client and its forty
// or so libraries live in a module of their own (DesktopCalendarModule.cpp) that implements
// this; DesktopCalendars loads it when a desktop account is first opened, so nothing of it is
// loaded by an app that has none.
class DesktopCalendarStore {
public:
    enum class Availability { unknown, absent, present };
    enum class Change { lost, calendars, events };
    // Told of every change, on the thread the store was made on.
    using Notify = std::function<void(Change)>;

    // Where the store's source registry is reached on the session bus.
    static constexpr auto registryService = "org.gnome.evolution.dataserver.Sources5";
    // The module's file name and the function in it that makes the store.
    static constexpr auto moduleName = "libzelvane-desktop-calendars.so";
    static constexpr auto entryPoint = "zelvane_desktop_calendar_store";
    using Entry = DesktopCalendarStore *(Clock &clock, Notify notify);

    virtual ~DesktopCalendarStore() = default;

    virtual void open() = 0;
    virtual void close() = 0;
    virtual void refresh() = 0;
    virtual bool isLost() const = 0;
    virtual QList<DesktopCalendar> calendars() const = 0;
    virtual QList<ProxyCalendar> listedCalendars() const = 0;
    virtual QList<CalendarEvent> events(const QString &accountId) const = 0;
};
