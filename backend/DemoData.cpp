#include "DemoData.h"

#include <QDateTime>
#include <QTimeZone>
#include <algorithm>

namespace {

constexpr qint64 minute = 60;
constexpr qint64 hour = 60 * minute;
constexpr qint64 day = 24 * hour;

struct Person {
    QString email;
    QString name;
};

const Person alex{DemoData::userEmail, QStringLiteral("Alex Morgan")};
const Person jordan{QStringLiteral("jordan.lee@zelvane-demo.test"), QStringLiteral("Jordan Lee")};
const Person sam{QStringLiteral("sam.patel@zelvane-demo.test"), QStringLiteral("Sam Patel")};
const Person priya{QStringLiteral("priya.shah@northwind-labs.test"), QStringLiteral("Priya Shah")};
const Person marco{QStringLiteral("marco.rossi@northwind-labs.test"),
                   QStringLiteral("Marco Rossi")};
const Person hannah{QStringLiteral("hannah.becker@fabrikam.test"), QStringLiteral("Hannah Becker")};
const Person luis{QStringLiteral("luis.ortega@contoso.test"), QStringLiteral("Luis Ortega")};
const Person mei{QStringLiteral("mei.chen@lumenworks.test"), QStringLiteral("Mei Chen")};

const QString zoomLink =
    QStringLiteral("https://us02web.zoom.us/j/84512345678?pwd=bk5ZbWlRRnN0dWhDZz09");
const QString meetLink = QStringLiteral("https://meet.google.com/abc-defg-hij");
const QString teamsLink =
    QStringLiteral("https://teams.microsoft.com/l/meetup-join/"
                   "19%3ameeting_NjY4ZTc0YjMtZDk2Ni00Zjk4LWI1ZWMtN2Q1YjY4ZGE3NzYx%40thread.v2/0"
                   "?context=%7b%22Tid%22%3a%2272f988bf-86f1-41af-91ab-2d7cd011db47%22%7d");
const QString webexLink = QStringLiteral("https://acme.webex.com/meet/luis.ortega");
const QString unknownLink = QStringLiteral("https://whereby.com/zelvane-demo-room");

QJsonObject person(const Person &who, const QString &status = {}) {
    QJsonObject object{{QStringLiteral("email"), who.email}, {QStringLiteral("name"), who.name}};
    if (!status.isEmpty())
        object.insert(QStringLiteral("status"), status);
    return object;
}

QJsonArray participants(std::initializer_list<Person> people) {
    QJsonArray list;
    for (const Person &who : people)
        list.append(person(who, who.email == alex.email ? QStringLiteral("yes")
                                                        : QStringLiteral("noreply")));
    return list;
}

QJsonObject conferencing(const QString &provider, const QString &url) {
    QJsonObject object{{QStringLiteral("details"), QJsonObject{{QStringLiteral("url"), url}}}};
    if (!provider.isEmpty())
        object.insert(QStringLiteral("provider"), provider);
    return object;
}

// Fields every timed demo event shares.
QJsonObject timedEvent(const QString &id, const QString &calendarId, const QString &title,
                       qint64 start, qint64 end) {
    return QJsonObject{
        {QStringLiteral("id"), id},
        {QStringLiteral("object"), QStringLiteral("event")},
        {QStringLiteral("calendar_id"), calendarId},
        {QStringLiteral("title"), title},
        {QStringLiteral("status"), QStringLiteral("confirmed")},
        {QStringLiteral("busy"), true},
        {QStringLiteral("when"),
         QJsonObject{{QStringLiteral("object"), QStringLiteral("timespan")},
                     {QStringLiteral("start_time"), start},
                     {QStringLiteral("end_time"), end},
                     {QStringLiteral("start_timezone"), QStringLiteral("UTC")},
                     {QStringLiteral("end_timezone"), QStringLiteral("UTC")}}},
        {QStringLiteral("organizer"), person(alex)},
    };
}

QString shortId(const QString &grantId) {
    return grantId.left(8);
}

qint64 startOf(const QJsonObject &event) {
    const QJsonObject when = event.value(QStringLiteral("when")).toObject();
    if (when.contains(QStringLiteral("start_time")))
        return when.value(QStringLiteral("start_time")).toInteger();
    const QDate date =
        QDate::fromString(when.value(QStringLiteral("date")).toString(), Qt::ISODate);
    return date.startOfDay(QTimeZone::utc()).toSecsSinceEpoch();
}

QJsonObject message(const QString &id, const QString &thread, const Person &from, const Person &to,
                    const QString &subject, const QString &snippet, qint64 date) {
    return QJsonObject{{QStringLiteral("id"), id},
                       {QStringLiteral("object"), QStringLiteral("message")},
                       {QStringLiteral("thread_id"), thread},
                       {QStringLiteral("subject"), subject},
                       {QStringLiteral("from"), QJsonArray{person(from)}},
                       {QStringLiteral("to"), QJsonArray{person(to)}},
                       {QStringLiteral("date"), date},
                       {QStringLiteral("snippet"), snippet}};
}

QJsonObject slackMessage(const Person &from, const Person &to, const QString &channelId,
                         const QString &channel, const QString &text, qint64 when) {
    const QString ts = QStringLiteral("%1.000200").arg(when);
    return QJsonObject{
        {QStringLiteral("fromEmail"), from.email},
        {QStringLiteral("toEmail"), to.email},
        {QStringLiteral("type"), QStringLiteral("message")},
        {QStringLiteral("ts"), ts},
        {QStringLiteral("text"), text},
        {QStringLiteral("user"), QStringLiteral("U0") + from.email.left(6).toUpper()},
        {QStringLiteral("username"), from.email.section(QLatin1Char('@'), 0, 0)},
        {QStringLiteral("channel"), QJsonObject{{QStringLiteral("id"), channelId},
                                                {QStringLiteral("name"), channel},
                                                {QStringLiteral("is_channel"), true}}},
        {QStringLiteral("permalink"),
         QStringLiteral("https://zelvane-demo.slack.com/archives/%1/p%2000200")
             .arg(channelId)
             .arg(when)},
    };
}

} // namespace

namespace DemoData {

CalendarIds calendarIds(const QString &grantId) {
    return {QStringLiteral("cal-primary-") + shortId(grantId),
            QStringLiteral("cal-team-") + shortId(grantId)};
}

QJsonArray calendars(const QString &grantId, const QString &email) {
    const CalendarIds ids = calendarIds(grantId);
    return QJsonArray{
        QJsonObject{{QStringLiteral("id"), ids.primary},
                    {QStringLiteral("object"), QStringLiteral("calendar")},
                    {QStringLiteral("name"), email},
                    {QStringLiteral("hex_color"), QStringLiteral("#4285F4")},
                    {QStringLiteral("is_primary"), true},
                    {QStringLiteral("read_only"), false}},
        QJsonObject{{QStringLiteral("id"), ids.secondary},
                    {QStringLiteral("object"), QStringLiteral("calendar")},
                    {QStringLiteral("name"), QStringLiteral("Team Events")},
                    {QStringLiteral("hex_color"), QStringLiteral("#E67C73")},
                    {QStringLiteral("is_primary"), false},
                    {QStringLiteral("read_only"), true}},
    };
}

QJsonArray events(const CalendarIds &ids, qint64 signInSecs, int minutesUntilFirst) {
    const qint64 first = signInSecs + minutesUntilFirst * minute;
    const QString prefix = ids.primary.section(QLatin1Char('-'), 2) + QLatin1Char('-');
    QList<QJsonObject> list;

    QJsonObject kickoff = timedEvent(prefix + QStringLiteral("kickoff"), ids.primary,
                                     QStringLiteral("Partnership kickoff: Northwind Labs"), first,
                                     first + 30 * minute);
    kickoff.insert(QStringLiteral("conferencing"),
                   conferencing(QStringLiteral("Zoom Meeting"), zoomLink));
    kickoff.insert(QStringLiteral("participants"), participants({alex, jordan, priya, marco}));
    kickoff.insert(QStringLiteral("description"),
                   QStringLiteral("Agenda: introductions, pilot scope, next steps.\n"
                                  "Join Zoom Meeting: https://us02web.zoom.us/j/84512345678"));
    list.append(kickoff);

    QJsonObject review =
        timedEvent(prefix + QStringLiteral("design-review"), ids.primary,
                   QStringLiteral("Design review"), first + 45 * minute, first + 90 * minute);
    review.insert(QStringLiteral("conferencing"),
                  conferencing(QStringLiteral("Google Meet"), meetLink));
    review.insert(QStringLiteral("participants"), participants({alex, jordan, sam}));
    review.insert(QStringLiteral("description"),
                  QStringLiteral("Walk through the new onboarding screens."));
    list.append(review);

    QJsonObject planning = timedEvent(prefix + QStringLiteral("fabrikam"), ids.primary,
                                      QStringLiteral("Quarterly planning with Fabrikam"),
                                      first + 2 * hour, first + 3 * hour);
    planning.insert(QStringLiteral("participants"), participants({alex, hannah, sam}));
    planning.insert(QStringLiteral("description"),
                    QStringLiteral("Microsoft Teams meeting\nJoin on your computer, mobile app or "
                                   "room device\n") +
                        teamsLink);
    list.append(planning);

    QJsonObject budget =
        timedEvent(prefix + QStringLiteral("budget"), ids.primary, QStringLiteral("Budget review"),
                   first + 3 * hour, first + 4 * hour);
    budget.insert(QStringLiteral("status"), QStringLiteral("cancelled"));
    budget.insert(QStringLiteral("conferencing"),
                  conferencing(QStringLiteral("Zoom Meeting"), zoomLink));
    budget.insert(QStringLiteral("participants"), participants({alex, jordan}));
    list.append(budget);

    QJsonObject renewal = timedEvent(prefix + QStringLiteral("contoso"), ids.primary,
                                     QStringLiteral("Contoso renewal call"), first + 4 * hour,
                                     first + 4 * hour + 30 * minute);
    renewal.insert(QStringLiteral("location"), webexLink);
    renewal.insert(QStringLiteral("participants"), participants({alex, luis}));
    list.append(renewal);

    QJsonObject offsitePlanning =
        timedEvent(prefix + QStringLiteral("offsite-planning"), ids.secondary,
                   QStringLiteral("Offsite planning"), first + 5 * hour, first + 6 * hour);
    offsitePlanning.insert(QStringLiteral("location"), QStringLiteral("Room 4B"));
    offsitePlanning.insert(QStringLiteral("participants"), participants({alex, jordan, sam}));
    list.append(offsitePlanning);

    QJsonObject chat = timedEvent(prefix + QStringLiteral("lumenworks"), ids.primary,
                                  QStringLiteral("Intro chat with Lumenworks"), first + day,
                                  first + day + 30 * minute);
    chat.insert(QStringLiteral("conferencing"), conferencing(QString(), unknownLink));
    chat.insert(QStringLiteral("participants"), participants({alex, mei}));
    list.append(chat);

    QJsonObject lunch =
        timedEvent(prefix + QStringLiteral("lunch"), ids.primary, QStringLiteral("Lunch with Sam"),
                   first + day + 2 * hour, first + day + 3 * hour);
    lunch.insert(QStringLiteral("location"), QStringLiteral("Café Lumen, 12 Market Street"));
    lunch.insert(QStringLiteral("participants"), participants({alex, sam}));
    list.append(lunch);

    QJsonObject standup = timedEvent(prefix + QStringLiteral("standup"), ids.primary,
                                     QStringLiteral("Morning standup"), signInSecs - 10 * minute,
                                     signInSecs + 5 * minute);
    standup.insert(QStringLiteral("conferencing"),
                   conferencing(QStringLiteral("Google Meet"), meetLink));
    standup.insert(QStringLiteral("participants"), participants({alex, jordan, sam}));
    list.append(standup);

    const QDate offsiteDay =
        QDateTime::fromSecsSinceEpoch(first + 2 * day, QTimeZone::utc()).date();
    list.append(QJsonObject{
        {QStringLiteral("id"), prefix + QStringLiteral("offsite")},
        {QStringLiteral("object"), QStringLiteral("event")},
        {QStringLiteral("calendar_id"), ids.primary},
        {QStringLiteral("title"), QStringLiteral("Company offsite")},
        {QStringLiteral("status"), QStringLiteral("confirmed")},
        {QStringLiteral("busy"), false},
        {QStringLiteral("when"),
         QJsonObject{{QStringLiteral("object"), QStringLiteral("date")},
                     {QStringLiteral("date"), offsiteDay.toString(Qt::ISODate)}}},
    });

    std::stable_sort(list.begin(), list.end(), [](const QJsonObject &a, const QJsonObject &b) {
        return startOf(a) < startOf(b);
    });
    QJsonArray sorted;
    for (const QJsonObject &event : std::as_const(list))
        sorted.append(event);
    return sorted;
}

QJsonArray generatedEvents(const CalendarIds &ids, qint64 signInSecs, int minutesUntilFirst,
                           int count) {
    static const QList<std::pair<QString, QString>> platforms{
        {QStringLiteral("Zoom Meeting"), zoomLink},
        {QStringLiteral("Google Meet"), meetLink},
        {QStringLiteral("Microsoft Teams"), teamsLink},
        {QStringLiteral("Webex"), webexLink}};
    const qint64 first = signInSecs + minutesUntilFirst * minute;
    QJsonArray list;
    for (int i = 0; i < count; ++i) {
        const qint64 start = first + i * 30 * minute;
        QJsonObject event =
            timedEvent(QStringLiteral("gen-%1-%2").arg(ids.primary).arg(i), ids.primary,
                       QStringLiteral("Meeting #%1").arg(i + 1), start, start + 25 * minute);
        const auto &[provider, url] = platforms[i % platforms.size()];
        event.insert(QStringLiteral("conferencing"), conferencing(provider, url));
        const Person guest{QStringLiteral("guest%1@partner%2.test").arg(i).arg(i % 7),
                           QStringLiteral("Guest %1").arg(i)};
        event.insert(QStringLiteral("participants"), participants({alex, guest}));
        list.append(event);
    }
    return list;
}

QJsonArray messages(qint64 nowSecs) {
    QJsonArray list{
        message(QStringLiteral("msg-1"), QStringLiteral("thr-1"), priya, alex,
                QStringLiteral("Pilot scope for the kickoff"),
                QStringLiteral("Hi Alex, attached is our draft of the pilot scope. We would like "
                               "to start with the EU team."),
                nowSecs - 2 * hour),
        message(QStringLiteral("msg-2"), QStringLiteral("thr-1"), alex, priya,
                QStringLiteral("Re: Pilot scope for the kickoff"),
                QStringLiteral("Thanks Priya, looks good. Let's go through the open questions "
                               "on the call."),
                nowSecs - 90 * minute),
        message(QStringLiteral("msg-3"), QStringLiteral("thr-2"), marco, alex,
                QStringLiteral("Security questionnaire"),
                QStringLiteral("Our security team finished the questionnaire; two items need "
                               "your input."),
                nowSecs - 2 * day),
        message(QStringLiteral("msg-4"), QStringLiteral("thr-3"), hannah, alex,
                QStringLiteral("Q3 planning agenda"),
                QStringLiteral("Proposed agenda: roadmap, pricing changes, support hours."),
                nowSecs - day),
        message(QStringLiteral("msg-5"), QStringLiteral("thr-3"), alex, hannah,
                QStringLiteral("Re: Q3 planning agenda"),
                QStringLiteral("Agenda works for us. Can we add the migration timeline?"),
                nowSecs - 20 * hour),
        message(QStringLiteral("msg-6"), QStringLiteral("thr-4"), luis, alex,
                QStringLiteral("Renewal quote"),
                QStringLiteral("Could you send the renewal quote for 250 seats before our call?"),
                nowSecs - 3 * day),
        message(QStringLiteral("msg-7"), QStringLiteral("thr-5"), mei, alex,
                QStringLiteral("Nice to meet you"),
                QStringLiteral("Jordan suggested we talk about integrating our scheduling API."),
                nowSecs - 4 * day),
    };
    return list;
}

QJsonArray slackMessages(qint64 nowSecs) {
    return QJsonArray{
        slackMessage(priya, alex, QStringLiteral("C07NWLABS"), QStringLiteral("ext-northwind"),
                     QStringLiteral("Looking forward to the kickoff! We'll bring our CTO."),
                     nowSecs - 3 * hour),
        slackMessage(alex, priya, QStringLiteral("C07NWLABS"), QStringLiteral("ext-northwind"),
                     QStringLiteral("Great, I'll share the pilot plan before the call."),
                     nowSecs - 150 * minute),
        slackMessage(hannah, alex, QStringLiteral("C07FABRIK"), QStringLiteral("fabrikam-planning"),
                     QStringLiteral("Pricing slides are in the shared folder."),
                     nowSecs - 26 * hour),
        slackMessage(luis, alex, QStringLiteral("C07CONTSO"), QStringLiteral("ext-contoso"),
                     QStringLiteral("Our procurement needs the quote by Friday."),
                     nowSecs - 2 * day),
    };
}

} // namespace DemoData
