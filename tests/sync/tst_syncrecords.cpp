#include "sync/CalendarFeedClient.h"
#include "sync/CalendarService.h"
#include "sync/EventCache.h"
#include "sync/FeedParser.h"
#include "sync/HttpExchange.h"
#include "sync/SMSService.h"
#include "sync/SlackService.h"

#include <QJsonDocument>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
// A proxy event with `members` added; it runs from 1000 to 2000 unless they say otherwise.
QJsonObject proxyEvent(const QByteArray &members = {}) {
    QJsonObject o = QJsonDocument::fromJson("{" + members + "}").object();
    if (!o.contains(u"when"_s))
        o.insert(u"when"_s, QJsonObject{{u"start_time"_s, 1000}, {u"end_time"_s, 2000}});
    o.insert(u"id"_s, u"p"_s);
    return o;
}

// A feed of `events`, each given as its lines written apart by '|'; sent with CRLF.
QByteArray feed(const QList<QByteArray> &events, const QByteArray &zone = {}) {
    QByteArray text = "BEGIN:VCALENDAR|VERSION:2.0|PRODID:-//Test//EN|" + zone;
    for (const QByteArray &event : events)
        text += "BEGIN:VEVENT|" + event + "|END:VEVENT|";
    return text.append("END:VCALENDAR|").replace('|', "\r\n");
}

const QByteArray berlinZone = "BEGIN:VTIMEZONE|TZID:Berlin|BEGIN:DAYLIGHT|TZOFFSETFROM:+0100|"
                              "TZOFFSETTO:+0200|DTSTART:19700329T020000|"
                              "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU|END:DAYLIGHT|BEGIN:STANDARD|"
                              "TZOFFSETFROM:+0200|TZOFFSETTO:+0100|DTSTART:19701025T030000|"
                              "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU|END:STANDARD|END:VTIMEZONE|";

const QDateTime windowStart(QDate(2027, 3, 1), QTime(0, 0), Qt::UTC);
const FeedOwner owner{u"ACC"_s, u"ACC"_s, u"Team"_s};

QList<CalendarEvent> parse(const QByteArray &ics) {
    return FeedParser::parse(ics, owner, windowStart, windowStart.addDays(90));
}

// "start title" per instance, start in UTC, sorted.
QString describe(const QList<CalendarEvent> &events) {
    QStringList out;
    for (const CalendarEvent &e : events)
        out << e.startDate.toUTC().toString(u"MM-dd HH:mm"_s) + u' ' + e.title;
    out.sort();
    return out.join(u", "_s);
}
} // namespace

class TestSyncRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Optional members may be absent or null.
    void decodesProxyLists() {
        const auto list = ProxyListResponse<ProxyMessage>::decode(
            R"({"data":[{"id":"m","date":null}],"next_cursor":null})");
        QVERIFY(!list.data.value(0).date && !list.nextCursor);
    }

    void rejectsMalformedProxyRecords_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("no data") << QByteArray(R"({"next_cursor":"x"})");
        QTest::newRow("data not a list") << QByteArray(R"({"data":{}})");
        QTest::newRow("id missing") << QByteArray(R"({"data":[{"title":"x"}]})");
        QTest::newRow("fractional time")
            << QByteArray(R"({"data":[{"id":"a","when":{"start_time":1.5}}]})");
        QTest::newRow("participant without email")
            << QByteArray(R"({"data":[{"id":"a","participants":[{"name":"x"}]}]})");
    }
    void rejectsMalformedProxyRecords() {
        QFETCH(QByteArray, body);
        QVERIFY_THROWS_EXCEPTION(DecodingError, ProxyListResponse<ProxyEvent>::decode(body));
    }

    // An event as shown: "title, calendar, colour, link, attendees, organiser", or nothing
    // without an end. Participants keep their order, repeats included, without the organiser.
    void convertsProxyEvents_data() {
        QTest::addColumn<QByteArray>("members");
        QTest::addColumn<int>("provider");
        QTest::addColumn<QString>("shown");
        const QString blue = systemBlue().name(), google = ", Google Calendar, " + blue + ", ";
        const QByteArray texts = R"("location":"Room 4",)"
                                 R"("description":"Join https://meet.google.com/abc-defg-hij now")";
        QTest::newRow("plain") << QByteArray(R"("title":null)") << 0
                               << "(No title)" + google + ", , ";
        QTest::newRow("no end") << QByteArray(R"("when":{"start_time":1000})") << 0 << "";
        QTest::newRow("own calendar")
            << QByteArray(R"("calendar_id":"work")") << 0 << "(No title), Work, #1a73e8, , , ";
        QTest::newRow("five hex digits")
            << QByteArray(R"("calendar_id":"odd")") << 0 << "(No title), Odd, " + blue + ", , , ";
        QTest::newRow("unknown calendar") << QByteArray(R"("calendar_id":"WORK")") << 1
                                          << "(No title), Outlook, " + blue + ", , , ";
        QTest::newRow("bad conferencing url falls back to description")
            << R"("conferencing":{"provider":"Zoom Meeting","details":{"url":"ht tp://x"}},)" +
                   texts
            << 0 << "(No title)" + google + "https://meet.google.com/abc-defg-hij, , ";
        QTest::newRow("conferencing url first")
            << R"("conferencing":{"details":{"url":"https://zoom.us/j/123"}},)" + texts << 0
            << "(No title)" + google + "https://zoom.us/j/123, , ";
        QTest::newRow("people")
            << QByteArray(R"("title":"T","participants":[{"email":"b@x","status":"no"},)"
                          R"({"email":"a@x"},{"email":"b@x"}],"organizer":{"email":"boss@x"})")
            << 0 << "T" + google + ", b@x a@x b@x, boss@x";
    }
    void convertsProxyEvents() {
        QFETCH(QByteArray, members);
        QFETCH(int, provider);
        QFETCH(QString, shown);
        const QList<ProxyCalendar> calendars{{u"work"_s, u"Work"_s, u"#1a73e8"_s, true},
                                             {u"odd"_s, u"Odd"_s, u"1a73e"_s, false}};
        const auto e = makeCalendarEvent(ProxyEvent::fromJson(proxyEvent(members)), u"ACC"_s,
                                         CalendarProvider(provider), calendars);
        QCOMPARE(e.has_value(), !shown.isEmpty());
        if (!e)
            return;
        QCOMPARE((QStringList{e->title, e->calendarTitle, e->calendarColor.name(),
                              e->meetingLink.value_or(QUrl()).toString(),
                              e->attendeeEmails.join(u' '), e->organizerEmail.value_or(QString())})
                     .join(u", "_s),
                 shown);
        QCOMPARE(e->id, u"nylas_p"_s);
        QCOMPARE(e->accountId, std::optional<QString>(u"ACC"_s));
        QCOMPARE(e->startDate.toSecsSinceEpoch(), 1000);
    }

    // Merging keeps the first sighting of an id in the order the batches were collected (a
    // cancelled, ended, all-day or hidden copy does not count as one), keeps that order among
    // equal starts, and sorts proxy records and converted events together by start.
    void mergesBatchesByStart() {
        const auto proxy = [](const QString &id, qint64 start, const QByteArray &more = {}) {
            QJsonObject o = proxyEvent(more);
            o.insert(u"id"_s, id);
            o.insert(u"title"_s, id + u" proxy"_s);
            o.insert(u"when"_s,
                     QJsonObject{{u"start_time"_s, start}, {u"end_time"_s, start + 600}});
            return ProxyEvent::fromJson(o);
        };
        const auto converted = [](const QString &id, qint64 start) {
            CalendarEvent e;
            e.id = id;
            e.title = id + u" kept"_s;
            e.startDate = QDateTime::fromSecsSinceEpoch(start, Qt::UTC);
            e.endDate = e.startDate.addSecs(600);
            return e;
        };
        const auto allDay = [&converted](const QString &id, qint64 start) {
            CalendarEvent e = converted(id, start);
            e.isAllDay = true;
            return e;
        };
        const ConnectedAccount a =
            ConnectedAccount::create(CalendarProvider::google, u"a@x.test"_s, u"ga"_s);
        const ConnectedAccount b =
            ConnectedAccount::create(CalendarProvider::microsoft, u"b@x.test"_s, u"gb"_s);
        const QList<CalendarService::AccountBatch> batches{
            {a,
             {},
             {proxy(u"x"_s, 5000, R"("status":"cancelled")"), proxy(u"tie"_s, 3000),
              proxy(u"ended"_s, 100), proxy(u"twice"_s, 4000), proxy(u"twice"_s, 1500)},
             {converted(u"feed-1"_s, 3000), converted(u"early"_s, 2000)}},
            {b,
             {},
             {proxy(u"again"_s, 100), proxy(u"x"_s, 2500), proxy(u"ended"_s, 3500),
              proxy(u"hidden"_s, 1500, R"("calendar_id":"off")"), proxy(u"again"_s, 4500),
              proxy(u"tie-b"_s, 2000)},
             {converted(u"feed-1"_s, 1), allDay(u"hidden"_s, 5000), converted(u"hidden"_s, 5500)}}};
        QStringList shown, accounts;
        for (const CalendarEvent &e : CalendarService::mergeEvents(
                 batches, QDateTime::fromSecsSinceEpoch(1000, Qt::UTC), {u"off"_s})) {
            shown << e.title + u'@' + QString::number(e.startDate.toSecsSinceEpoch());
            accounts << e.accountId.value_or(u"-"_s);
        }
        QCOMPARE(shown, (QStringList{u"early kept@2000"_s, u"tie-b proxy@2000"_s, u"x proxy@2500"_s,
                                     u"tie proxy@3000"_s, u"feed-1 kept@3000"_s,
                                     u"ended proxy@3500"_s, u"twice proxy@4000"_s,
                                     u"again proxy@4500"_s, u"hidden kept@5500"_s}));
        QCOMPARE(accounts,
                 (QStringList{u"-"_s, b.id, b.id, a.id, u"-"_s, b.id, a.id, b.id, u"-"_s}));
    }

    void slackSearchReplies_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("outcome"); // permalinks, or the error
        const QByteArray match = R"({"text":"hi","channel":{"name":"general"},"username":"ann",)"
                                 R"("ts":"1.2","permalink":"p1"})";
        QTest::newRow("no permalink skipped")
            << R"({"ok":true,"messages":{"matches":[{"text":"a","channel":{"name":"c"},)"
               R"("username":"u","ts":"1"},)" +
                   match + "]}}"
            << "p1";
        QTest::newRow("matches not a list")
            << QByteArray(R"({"ok":true,"messages":{"matches":{}}})") << "";
        QTest::newRow("refused") << QByteArray(R"({"ok":false,"error":"invalid_auth"})")
                                 << "Slack API error: invalid_auth";
        QTest::newRow("ok as text")
            << QByteArray(R"({"ok":"true"})") << "Slack API error: Unknown error";
    }
    void slackSearchReplies() {
        QFETCH(QByteArray, body);
        QFETCH(QString, outcome);
        QStringList found;
        try {
            for (const SlackMessage &m : SlackService::parseSearchReply(body))
                found.append(m.permalink);
        } catch (const SlackError &e) {
            found.append(e.description());
        }
        QCOMPARE(found.join(u' '), outcome);
        QVERIFY_THROWS_EXCEPTION(DecodingError, SlackService::parseSearchReply("not json"));
    }

    void smsText_data() {
        QTest::addColumn<double>("secondsToStart");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QStringList>("summary");
        QTest::addColumn<QString>("expected");
        QTest::newRow("at start") << 0.0 << "" << QStringList{}
                                  << "Zelvane: Design review starts NOW";
        QTest::newRow("90 s truncates")
            << 90.0 << "" << QStringList{} << "Zelvane: Design review starts in 1 min";
        QTest::newRow("link and two of five lines")
            << 600.0 << "https://zoom.us/j/1" << QStringList{"a", "b", "c", "d", "e"}
            << "Zelvane: Design review starts in 10 min\nJoin: https://zoom.us/j/1\n\na\nb";
        QTest::newRow("empty summary adds nothing")
            << 600.0 << "" << QStringList{} << "Zelvane: Design review starts in 10 min";
    }
    void smsText() {
        QFETCH(double, secondsToStart);
        QFETCH(QString, link);
        QFETCH(QStringList, summary);
        QFETCH(QString, expected);
        const QDateTime now = QDateTime::fromSecsSinceEpoch(1800000000, Qt::UTC);
        CalendarEvent e;
        e.title = u"Design review"_s;
        e.startDate = now.addMSecs(qint64(secondsToStart * 1000));
        if (!link.isEmpty())
            e.meetingLink = QUrl(link);
        MeetingBrief brief;
        brief.summary = summary;
        QCOMPARE(SMSService::messageText(e, brief, now), expected);
    }

    // Characters, not UTF-16 units: a flag is one character made of four units.
    void smsTextIsCutToSixteenHundredCharacters() {
        const QDateTime now = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
        CalendarEvent e;
        e.startDate = now.addSecs(600);
        for (const QString &unit : {u"x"_s, u"\U0001F1E9\U0001F1EA"_s}) {
            e.title = unit.repeated(2000);
            const QString text = SMSService::messageText(e, std::nullopt, now);
            QCOMPARE(SMSService::characterCount(text), 1600);
            QVERIFY(text.endsWith(unit + unit + u"..."_s));
        }
    }

    void emailThreadFromMessage() {
        const auto thread = [](const QByteArray &json) {
            return CalendarService::emailThread(
                ProxyMessage::fromJson(QJsonDocument::fromJson(json).object()));
        };
        const EmailThread bare = thread(R"({"id":"m1","from":[]})");
        QVERIFY(bare.subject == u"(No subject)" && bare.messageCount == 1);
        const EmailThread full = thread(R"({"id":"m2","thread_id":"t","date":1700000000,
            "from":[{"email":"first@x"},{"email":"second@x"}]})");
        QVERIFY(full.id == u"t" && full.from == u"first@x" && !full.date.isEmpty());
    }

    void expandsWithinTheWindow_data() {
        QTest::addColumn<QByteArray>("ics");
        QTest::addColumn<QString>("expected");
        QTest::newRow("weekly, one excluded, one moved, one cancelled")
            << feed({"UID:w|SUMMARY:Sync|DTSTART:20270301T100000Z|DTEND:20270301T103000Z|"
                     "RRULE:FREQ=WEEKLY;COUNT=5|EXDATE:20270308T100000Z",
                     "UID:w|SUMMARY:Sync (moved)|RECURRENCE-ID:20270315T100000Z|"
                     "DTSTART:20270316T140000Z|DTEND:20270316T143000Z",
                     "UID:w|SUMMARY:Sync|RECURRENCE-ID:20270322T100000Z|STATUS:CANCELLED|"
                     "DTSTART:20270322T100000Z"})
            << "03-01 10:00 Sync, 03-16 14:00 Sync (moved), 03-29 10:00 Sync";
        QTest::newRow("daylight saving starts inside the window, feed's own zone")
            << feed({"UID:d|SUMMARY:Standup|DTSTART;TZID=Berlin:20270322T090000|DURATION:PT15M|"
                     "RRULE:FREQ=WEEKLY;COUNT=3"},
                    berlinZone)
            << "03-22 08:00 Standup, 03-29 07:00 Standup, 04-05 07:00 Standup";
        QTest::newRow("zone from the tz database, Windows name")
            << feed({"UID:n|SUMMARY:NY|DTSTART;TZID=Eastern Standard Time:20270313T090000|"
                     "RRULE:FREQ=DAILY;COUNT=2"})
            << "03-13 14:00 NY, 03-14 13:00 NY";
        QTest::newRow("rdate, and a daily rule from years ago reaches the window's end")
            << feed({"UID:r|SUMMARY:R|DTSTART:20270305T120000Z|"
                     "RDATE:20270401T120000Z,20270701T120000Z",
                     "UID:old|SUMMARY:Old|DTSTART:20150101T060000Z|"
                     "RRULE:FREQ=YEARLY;BYMONTH=5;BYMONTHDAY=20"})
            << "03-05 12:00 R, 04-01 12:00 R, 05-20 06:00 Old";
        QTest::newRow("all-day, cancelled, before and after the window are left out")
            << feed({"UID:a|SUMMARY:Holiday|DTSTART;VALUE=DATE:20270310",
                     "UID:c|SUMMARY:Gone|STATUS:CANCELLED|DTSTART:20270310T100000Z",
                     "UID:p|SUMMARY:Past|DTSTART:20270210T100000Z",
                     "UID:f|SUMMARY:Far|DTSTART:20270610T100000Z",
                     "UID:k|DTSTART:20270310T100000Z"})
            << "03-10 10:00 (No title)";
        QTest::newRow("hourly, counted from its start")
            << feed({"UID:h|SUMMARY:H|DTSTART:20270301T080000Z|RRULE:FREQ=HOURLY;INTERVAL=5;COUNT="
                     "3"})
            << "03-01 08:00 H, 03-01 13:00 H, 03-01 18:00 H";
        QTest::newRow("minutely, limited by day and hour, until a date")
            << feed({"UID:m|SUMMARY:M|DTSTART:20270301T000000Z|"
                     "RRULE:FREQ=MINUTELY;INTERVAL=30;BYHOUR=9;BYDAY=TU;UNTIL=20270310T000000Z"})
            << "03-01 00:00 M, 03-02 09:00 M, 03-02 09:30 M, 03-09 09:00 M, 03-09 09:30 M";
        // libical would search the centuries ahead for these, one step at a time.
        QTest::newRow("rules no date can satisfy keep only their start")
            << feed({"UID:s|SUMMARY:S|DTSTART:20270301T100000Z|"
                     "RRULE:FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30",
                     "UID:h|SUMMARY:H|DTSTART:20270302T100000Z|"
                     "RRULE:FREQ=HOURLY;BYMONTH=2;BYMONTHDAY=30",
                     "UID:d|SUMMARY:D|DTSTART:20270303T100000Z|"
                     "RRULE:FREQ=DAILY;BYMONTH=2;BYMONTHDAY=30",
                     "UID:o|SUMMARY:O|DTSTART:20270304T100000Z|"
                     "RRULE:FREQ=MONTHLY;COUNT=3;BYMONTH=4;BYMONTHDAY=31"})
            << "03-01 10:00 S, 03-02 10:00 H, 03-03 10:00 D, 03-04 10:00 O";
        QTest::newRow("a rule's one date is the window's second day")
            << feed({"UID:t|SUMMARY:T|DTSTART:20270301T100000Z|"
                     "RRULE:FREQ=DAILY;BYMONTH=3;BYMONTHDAY=2"})
            << "03-01 10:00 T, 03-02 10:00 T";
        QTest::newRow("a property named like RECURRENCE-ID but longer is no override")
            << feed({"UID:x|SUMMARY:X|DTSTART:20270301T100000Z|RRULE:FREQ=DAILY;COUNT=2|"
                     "RECURRENCE-IDENTIFIER:20270301T100000Z"})
            << "03-01 10:00 X, 03-02 10:00 X";
    }
    void expandsWithinTheWindow() {
        QFETCH(QByteArray, ics);
        QFETCH(QString, expected);
        const auto events = parse(ics);
        QCOMPARE(describe(events), expected);
        QSet<QString> ids;
        for (const CalendarEvent &e : events)
            ids.insert(e.id);
        QCOMPARE(ids.size(), events.size());
    }

    // Feeds made to exhaust the reader are refused within moments, with the reason the
    // account row shows (the deepest and the busiest feeds are tests/hostile's).
    void refusesFeedsMadeToExhaust_data() {
        QTest::addColumn<QByteArray>("ics");
        QTest::addColumn<int>("reason");
        QByteArray folded = "BEGIN:VCALENDAR\r\n";
        for (int i = 0; i < FeedParser::maximumDepth; ++i)
            folded += "BEG\r\n IN:X-A\r\n";
        QTest::newRow("folded, one level too deep") << folded << int(FeedError::Reason::tooDeep);
        QByteArray rules = "UID:r|DTSTART:20270301T000000Z";
        for (int i = 0; i < 60; ++i)
            rules += "|RRULE:FREQ=MINUTELY;INTERVAL=" + QByteArray::number(i + 1);
        QTest::newRow("one event of 60 rules")
            << feed({rules}) << int(FeedError::Reason::tooComplex);
    }
    void refusesFeedsMadeToExhaust() {
        QFETCH(QByteArray, ics);
        QFETCH(int, reason);
        try {
            parse(ics);
            QFAIL("parsed");
        } catch (const FeedError &error) {
            QCOMPARE(int(error.reason()), reason);
        }
    }

    // Nesting a calendar needs, and a little more, still reads; a stopped read ends at once.
    void nestingWithinBoundsAndStopping() {
        QByteArray alarm = "UID:n|SUMMARY:Nested|DTSTART:20270310T100000Z";
        for (int i = 0; i < FeedParser::maximumDepth - 3; ++i)
            alarm += "|BEGIN:VALARM";
        for (int i = 0; i < FeedParser::maximumDepth - 3; ++i)
            alarm += "|END:VALARM";
        const QByteArray ics = feed({alarm, "UID:after|SUMMARY:After|DTSTART:20270311T100000Z"});
        QCOMPARE(describe(parse(ics)), u"03-10 10:00 Nested, 03-11 10:00 After"_s);
        std::stop_source stop;
        stop.request_stop();
        try {
            FeedParser::parse(ics, owner, windowStart, windowStart.addDays(90), stop.get_token());
            QFAIL("parsed");
        } catch (const FeedError &error) {
            QCOMPARE(error.reason(), FeedError::Reason::stopped);
        }
    }

    // Past meetings pad the feed beyond the size that is parsed and expanded in two halves: a
    // series sits in each half, the zone and the moved instance after the padding.
    void largeFeedReadsAsOne() {
        QList<QByteArray> events{
            "UID:w|SUMMARY:Sync|DTSTART:20270301T100000Z|RRULE:FREQ=WEEKLY;COUNT=4"};
        for (int i = 0; i < 3000; ++i)
            events << "UID:pad" + QByteArray::number(i) +
                          "|SUMMARY:Past|DTSTART:20200101T100000Z|DESCRIPTION:" +
                          QByteArray(200, 'x');
        events
            << "UID:d|SUMMARY:Standup|DTSTART;TZID=Berlin:20270329T090000|RRULE:FREQ=WEEKLY;COUNT=2"
            << "UID:w|SUMMARY:Moved|RECURRENCE-ID:20270315T100000Z|DTSTART:20270316T140000Z";
        const QByteArray zone = QByteArray(berlinZone).replace('|', "\r\n");
        const QByteArray ics = feed(events).replace("END:VCALENDAR", zone + "END:VCALENDAR");
        QCOMPARE(describe(parse(ics)),
                 u"03-01 10:00 Sync, 03-08 10:00 Sync, 03-16 14:00 Moved, "
                 u"03-22 10:00 Sync, 03-29 07:00 Standup, 04-05 07:00 Standup"_s);
    }

    void floatingTimeIsLocal() {
        const auto events =
            parse(feed({"UID:l|SUMMARY:Lunch|DTSTART:20270310T123000|RRULE:FREQ=DAILY;COUNT=2"}));
        QCOMPARE(events.value(1).startDate,
                 QDateTime(QDate(2027, 3, 11), QTime(12, 30), Qt::LocalTime));
        // A zone whose rule is not yearly would have libical list its changes by the minute:
        // it is not used, and its times read as floating.
        const auto odd = parse(
            feed({"UID:z|SUMMARY:Z|DTSTART;TZID=Odd:20270310T090000"},
                 "BEGIN:VTIMEZONE|TZID:Odd|BEGIN:STANDARD|TZOFFSETFROM:+0700|TZOFFSETTO:+0700|"
                 "DTSTART:19700101T000000|RRULE:FREQ=MINUTELY;INTERVAL=45|END:STANDARD|"
                 "END:VTIMEZONE|"));
        QCOMPARE(odd.value(0).startDate, QDateTime(QDate(2027, 3, 10), QTime(9, 0), Qt::LocalTime));
    }

    void convertsPeopleAndLinks_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("link");
        const QByteArray description = "DESCRIPTION:Dial in https://zoom.us/j/42\\, thanks";
        const QByteArray text =
            "LOCATION:https://meet.jit.si/FromLocation|URL:https://whereby.com/from-url|" +
            description;
        QTest::newRow("conferencing properties by rank, not order")
            << "X-MICROSOFT-ONLINEMEETING-CONFLINK:https://teams.microsoft.com/l/meetup-join/1|"
               "CONFERENCE;VALUE=URI;FEATURE=VIDEO:https://meet.google.com/abc-defg-hij|"
               "X-GOOGLE-CONFERENCE:https://meet.google.com/zzz-zzzz-zzz|" +
                   text
            << "https://meet.google.com/abc-defg-hij";
        QTest::newRow("conferencing of another scheme is skipped")
            << "X-GOOGLE-CONFERENCE:smb://share/x|" + text << "https://meet.jit.si/FromLocation";
        QTest::newRow("url before description")
            << "URL:https://whereby.com/from-url|" + description << "https://whereby.com/from-url";
        QTest::newRow("description, unescaped") << description << "https://zoom.us/j/42";
    }
    void convertsPeopleAndLinks() {
        QFETCH(QByteArray, lines);
        QFETCH(QString, link);
        const auto events = parse(feed({"UID:x|SUMMARY:Review|DTSTART:20270310T100000Z|"
                                        "ORGANIZER;CN=Ann:mailto:ann@partner.example|"
                                        "ATTENDEE;CN=Bo:MAILTO:bo@partner.example|"
                                        "ATTENDEE:mailto:me@home.example|" +
                                        lines}));
        QCOMPARE(events.size(), 1);
        const CalendarEvent &e = events.first();
        QCOMPARE(e.meetingLink.value_or(QUrl()).toString(), link);
        QCOMPARE(e.attendeeEmails, (QStringList{u"bo@partner.example"_s, u"me@home.example"_s,
                                                u"ann@partner.example"_s}));
        QCOMPARE(e.organizerEmail, u"ann@partner.example"_s);
    }

    void organizerListedAsAttendeeCountsOnce() {
        const auto events = parse(feed({"UID:y|SUMMARY:Sync|DTSTART:20270310T100000Z|"
                                        "ORGANIZER:mailto:ann@partner.example|"
                                        "ATTENDEE:mailto:ANN@partner.example"}));
        QCOMPARE(events.value(0).attendeeEmails, QStringList{u"ANN@partner.example"_s});
    }

    // A feed's own name, from the calendar's lines before its first component: folded lines
    // joined, parameters (quoted colons too) skipped, escapes undone, nothing that could break
    // a one-line label or turn the text around it, and a bounded length.
    void calendarName_data() {
        QTest::addColumn<QByteArray>("header"); // lines apart by '|', before BEGIN:VEVENT
        QTest::addColumn<QString>("name");      // empty: none
        QTest::newRow("plain") << QByteArray("X-WR-CALNAME:Team Rota") << u"Team Rota"_s;
        QTest::newRow("folded, lower case")
            << QByteArray("x-wr-calname:Design |  Reviews") << u"Design Reviews"_s;
        QTest::newRow("quoted colon in a parameter")
            << QByteArray("X-WR-CALNAME;X-NOTE=\"a:b\":Ops: On call") << u"Ops: On call"_s;
        QTest::newRow("escapes") << QByteArray("X-WR-CALNAME:R\\\\D\\, \\;Labs\\nBerlin")
                                 << u"R\\D, ;Labs Berlin"_s;
        QTest::newRow("utf-8") << QByteArray("X-WR-CALNAME:Équipe \xF0\x9F\x93\x85")
                               << u"Équipe 📅"_s;
        QTest::newRow("controls and a bidi override")
            << QByteArray("X-WR-CALNAME:Pay\x01roll \xE2\x80\xAEslip") << u"Pay roll slip"_s;
        QTest::newRow("too long") << "X-WR-CALNAME:" + QByteArray(300, 'n')
                                  << QString(FeedParser::maximumNameLength, u'n');
        QTest::newRow("blank") << QByteArray("X-WR-CALNAME: \\n ") << QString();
        QTest::newRow("only a look-alike") << QByteArray("X-WR-CALNAMES:Other") << QString();
        QTest::newRow("none") << QByteArray() << QString();
    }
    void calendarName() {
        QFETCH(QByteArray, header);
        QFETCH(QString, name);
        const QByteArray data =
            feed({"UID:1|SUMMARY:S|DTSTART:20270302T100000Z|X-WR-CALNAME:Inside an event"},
                 header.isEmpty() ? QByteArray() : header + "|");
        QCOMPARE(FeedParser::calendarName(data).value_or(QString()), name);
    }

    // Only the first calendar's own lines count, with or without a byte-order mark.
    void calendarNameStopsAtTheFirstComponent() {
        QVERIFY(!FeedParser::calendarName(feed({"UID:1|X-WR-CALNAME:Inside"}) +
                                          "X-WR-CALNAME:After\r\n"));
        QVERIFY(!FeedParser::calendarName("X-WR-CALNAME:Loose\r\nBEGIN:VCALENDAR\r\n"));
        QCOMPARE(FeedParser::calendarName("\xEF\xBB\xBF\nBEGIN:VCALENDAR\nX-WR-CALNAME:Bare\n")
                     .value_or(QString()),
                 u"Bare"_s);
    }

    void refusesWhatIsNoCalendar() {
        for (const QByteArray &data : {QByteArray("<!DOCTYPE html><html></html>"), QByteArray(),
                                       QByteArray("BEGIN:VCARD\r\nEND:VCARD\r\n")}) {
            try {
                parse(data);
                QFAIL("parsed");
            } catch (const FeedError &error) {
                QCOMPARE(error.reason(), FeedError::Reason::notICalendar);
            }
        }
        QVERIFY(FeedParser::looksLikeICalendar("\xEF\xBB\xBF\r\n begin:vcalendar\r\n"));
    }

    // Plain http only on this computer.
    void normalizesAddresses() {
        for (const auto &[address, expected] : QList<std::pair<QString, QString>>{
                 {u"webcal://cal.example/p/abc.ics"_s, u"https://cal.example/p/abc.ics"_s},
                 {u" https://cal.example/x.ics "_s, u"https://cal.example/x.ics"_s},
                 {u"http://cal.example/x.ics"_s, QString()},
                 {u"http://127.0.0.1:8/x"_s, u"http://127.0.0.1:8/x"_s},
                 {u"/home/jo/cal.ics"_s, u"file:///home/jo/cal.ics"_s}})
            QCOMPARE(CalendarFeedClient::normalizedAddress(address).value_or(QUrl()).toString(),
                     expected);
    }

    // Every field survives the file; an event with only what is required stays that bare.
    void eventCacheKeepsEveryField() {
        CalendarEvent full;
        full.id = u"nylas_a-1"_s;
        full.title = u"Design review ✨"_s;
        full.startDate = QDateTime::fromMSecsSinceEpoch(1765110600123, Qt::UTC);
        full.endDate = full.startDate.addSecs(1800);
        full.calendarTitle = u"Work"_s;
        full.calendarColor = QColor(0x42, 0x85, 0xf4);
        full.meetingLink = QUrl(u"https://meet.google.com/abc-defg-hij?authuser=1"_s);
        full.attendeeEmails = {u"ada@work.test"_s, u"bo@partner.test"_s};
        full.organizerEmail = u"ada@work.test"_s;
        full.location = u"Room 4"_s;
        full.notes = u"Line one\nline two"_s;
        full.calendarId = u"cal-1"_s;
        full.provider = CalendarProvider::microsoft;
        full.accountId = u"ACC"_s;
        full.conferencingProvider = u"Microsoft Teams"_s;
        CalendarEvent bare;
        bare.id = u"f"_s;
        bare.startDate = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
        bare.endDate = bare.startDate;
        bare.isAllDay = true;
        bare.provider = CalendarProvider::feed;

        const EventCache::Lists lists{{u"ACC"_s, {full}}, {u"FEED"_s, {bare}}, {u"NONE"_s, {}}};
        const EventCache::Lists back = EventCache::decode(EventCache::encode(lists));
        QCOMPARE(back.keys().size(), 3);
        QVERIFY(back.value(u"NONE"_s).isEmpty());
        // Every field, not only the id the events' own == compares.
        const auto fields = [](const CalendarEvent &e) {
            return std::tuple(e.id, e.title, e.startDate, e.endDate, e.calendarTitle,
                              e.calendarColor, e.isAllDay, e.meetingLink, e.attendeeEmails,
                              e.organizerEmail, e.location, e.notes, e.calendarId, e.provider,
                              e.accountId, e.conferencingProvider);
        };
        QVERIFY(fields(back.value(u"ACC"_s).value(0)) == fields(full));
        QVERIFY(fields(back.value(u"FEED"_s).value(0)) == fields(bare));
        // Equal lists write equal bytes, whatever order the accounts were put in.
        QCOMPARE(EventCache::encode(back), EventCache::encode(lists));
    }

    void eventCacheRefusesWhatItDidNotWrite_data() {
        QTest::addColumn<QByteArray>("event");
        QTest::addColumn<QByteArray>("version");
        const QByteArray good =
            R"("id":"x","title":"t","start":1000,"end":2000,"calendarTitle":"",)"
            R"("isAllDay":false,"attendees":[],"provider":"Google")";
        QTest::newRow("readable") << good << QByteArray("1");
        QTest::newRow("another version") << good << QByteArray("2");
        QTest::newRow("no id") << QByteArray(good).replace(R"("id":"x",)", "") << QByteArray("1");
        QTest::newRow("start in seconds as text")
            << QByteArray(good).replace("1000", "\"1000\"") << QByteArray("1");
        QTest::newRow("start before 1970")
            << QByteArray(good).replace("1000", "-1") << QByteArray("1");
        QTest::newRow("end a millisecond past year 9999")
            << QByteArray(good).replace("2000", "253402300799001") << QByteArray("1");
        QTest::newRow("unknown provider")
            << QByteArray(good).replace("Google", "Yahoo") << QByteArray("1");
        QTest::newRow("colour that is no colour")
            << good + R"(,"calendarColor":"#zzzzzz")" << QByteArray("1");
        QTest::newRow("colour without its hash")
            << good + R"(,"calendarColor":"4285f4")" << QByteArray("1");
        QTest::newRow("link that is no address")
            << good + R"(,"meetingLink":"http://exa mple.com")" << QByteArray("1");
        QTest::newRow("attendee that is a number")
            << QByteArray(good).replace(R"("attendees":[])", R"("attendees":[1])")
            << QByteArray("1");
    }

    void eventCacheRefusesWhatItDidNotWrite() {
        QFETCH(QByteArray, event);
        QFETCH(QByteArray, version);
        const QByteArray file =
            R"({"version":)" + version + R"(,"accounts":{"ACC":[{)" + event + "}]}}";
        const bool readable = QByteArray(QTest::currentDataTag()) == "readable";
        try {
            const EventCache::Lists lists = EventCache::decode(file);
            QVERIFY(readable);
            QCOMPARE(lists.value(u"ACC"_s).value(0).endDate.toMSecsSinceEpoch(), 2000);
        } catch (const DecodingError &) {
            QVERIFY(!readable);
        }
    }
};

QTEST_MAIN(TestSyncRecords)
#include "tst_syncrecords.moc"
