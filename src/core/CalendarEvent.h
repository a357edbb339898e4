#pragma once

#include "MeetingLinkParser.h"

#include <QColor>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <chrono>
#include <optional>

// Google and Microsoft accounts go through the calendar proxy; a feed is an iCalendar address;
// desktop is the calendars the desktop's own calendar store holds.
enum class CalendarProvider { google, microsoft, feed, desktop };

namespace CalendarProviders {
const QList<CalendarProvider> &all();
// "Google" / "Microsoft" / "Calendar Feed" / "Desktop Calendars"
QString toString(CalendarProvider provider);
// toString() in the user's language, for display.
QString displayName(CalendarProvider provider);
std::optional<CalendarProvider> fromString(QStringView raw);
} // namespace CalendarProviders

// One meeting, normalised from whatever the calendar proxy returned.
struct CalendarEvent {
    QString id;
    QString title;
    QDateTime startDate;
    QDateTime endDate;
    QString calendarTitle;
    QColor calendarColor;
    bool isAllDay = false;
    std::optional<QUrl> meetingLink;
    QStringList attendeeEmails;
    std::optional<QString> organizerEmail;
    std::optional<QString> location;
    std::optional<QString> notes;
    std::optional<QString> calendarId;
    CalendarProvider provider = CalendarProvider::google;
    std::optional<QString> accountId;
    std::optional<QString> conferencingProvider;

    // From `now` to the start; negative once the event has started.
    std::chrono::milliseconds timeUntilStart(const QDateTime &now) const;
    bool isUpcoming(const QDateTime &now) const {
        return timeUntilStart(now) > std::chrono::milliseconds::zero();
    }
    // "Starting in 5 min • 10:00 – 10:30" and its "NOW" and under-a-minute variants, as a
    // reminder shows it.
    QString reminderTimeText(const QDateTime &now, const QLocale &locale = QLocale()) const;

    std::optional<MeetingPlatform> meetingPlatform() const;
    MeetingType meetingType() const;

    // Events are one meeting when their ids match, whatever else differs.
    bool operator==(const CalendarEvent &other) const { return id == other.id; }
};

inline size_t qHash(const CalendarEvent &event, size_t seed = 0) {
    return qHash(event.id, seed);
}

// One connected calendar account.
struct ConnectedAccount {
    QString id;
    CalendarProvider provider = CalendarProvider::google;
    QString email;
    QString grantId;

    // A new account with a fresh upper-case UUID.
    static ConnectedAccount create(CalendarProvider provider, QString email, QString grantId);

    QJsonObject toJson() const;
    // Throws DecodingError when a required key is missing or has the wrong type.
    static ConnectedAccount fromJson(const QJsonValue &value);

    bool operator==(const ConnectedAccount &) const = default;
};

// A short e-mail thread summary used as research context.
struct EmailThread {
    QString id;
    QString subject;
    QString from;
    QString date;
    QString snippet;
    qint64 messageCount = 0;

    bool operator==(const EmailThread &) const = default;
};
