#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// The demo account's data, built relative to a given moment (the sign-in) in Unix seconds so a
// fresh account always has a meeting about to start.
namespace DemoData {

inline const QString userEmail = QStringLiteral("alex@zelvane-demo.test");
inline constexpr int defaultMinutesUntilFirst = 2;

struct CalendarIds {
    QString primary;
    QString secondary;
};

CalendarIds calendarIds(const QString &grantId);

// The primary calendar, named after the account's address, and a coloured second one.
QJsonArray calendars(const QString &grantId, const QString &email);

// The demo set: meetings on every video platform, an unknown link, one in person, one already
// running, one all-day and one cancelled, sorted by start.
QJsonArray events(const CalendarIds &ids, qint64 signInSecs, int minutesUntilFirst);

// `count` plain meetings, one every 30 minutes, for load tests.
QJsonArray generatedEvents(const CalendarIds &ids, qint64 signInSecs, int minutesUntilFirst,
                           int count);

// E-mail exchanged with the demo meetings' outside attendees, newest first.
QJsonArray messages(qint64 nowSecs);

// Slack messages with the same people; each carries the address it came from or went to in
// "fromEmail" / "toEmail", which the search uses and strips before answering.
QJsonArray slackMessages(qint64 nowSecs);

} // namespace DemoData
