#pragma once

#include "core/CalendarEvent.h"

#include <QColor>
#include <QSet>
#include <QString>
#include <functional>
#include <libical/ical.h>
#include <optional>
#include <utility>

// Turns the events of a desktop calendar (iCalendar components as Evolution Data Server keeps
// them) into meetings. Safe to use from a worker thread.
class DesktopEventReader {
public:
    // What every instance of one component shares.
    struct Details {
        QString title;
        std::optional<QString> location;
        std::optional<QString> notes;
        std::optional<QUrl> meetingLink;
        QStringList attendees;
        std::optional<QString> organizer;
        bool cancelled = false;
        // One of the user's own addresses declined it.
        bool declined = false;
    };

    DesktopEventReader() = default;
    // `ownAddresses` are lower-case; `color` is the calendar's "#RRGGBB", if it has one.
    DesktopEventReader(QString calendarId, QString calendarTitle, std::optional<QString> color,
                       QSet<QString> ownAddresses);

    Details details(icalcomponent *event) const;
    // One instance; `original` is where the series placed it (its RECURRENCE-ID), which keeps
    // its id when it is moved.
    CalendarEvent event(const Details &details, const QString &uid, qint64 start, qint64 end,
                        qint64 original) const;

    // The instant of a date-time in its own zone; a floating one is local time.
    static std::optional<qint64> seconds(const icaltimetype &time);
    // Where the series placed this instance; `zoneOf` resolves a TZID the tz database lacks.
    static std::optional<qint64>
    recurrenceId(icalcomponent *event,
                 const std::function<icaltimezone *(const char *tzid)> &zoneOf = {});
    // The one instance of an event without recurrences (a single event, or one detached from
    // its series) when it overlaps [from, to): start and end placed exactly as the store's
    // expansion places them, which this skips. A date-time without a zone of its own is in
    // `defaultZone`.
    static std::optional<std::pair<icaltimetype, icaltimetype>>
    onlyInstance(icalcomponent *event, const icaltimetype &from, const icaltimetype &to,
                 const std::function<icaltimezone *(const char *tzid)> &zoneOf,
                 icaltimezone *defaultZone);
    // The id of a desktop calendar's meeting.
    static QString eventId(const QString &calendarId, const QString &uid, qint64 original);

private:
    QString m_calendarId;
    QString m_calendarTitle;
    QColor m_color;
    QSet<QString> m_ownAddresses;
};
