#include "sync/CalendarFeedClient.h"
#include "sync/CalendarService.h"
#include "sync/FeedParser.h"
#include "sync/HttpExchange.h"
#include "sync/SMSService.h"
#include "sync/SignInListener.h"
#include "sync/SlackService.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

QByteArray calendar(const QByteArray &body) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n" + body + "END:VCALENDAR\r\n";
}

QByteArray vevent(const QByteArray &lines) {
    return "BEGIN:VEVENT\r\n" + lines + "END:VEVENT\r\n";
}

const QByteArray berlinZone =
    "BEGIN:VTIMEZONE\r\nTZID:Berlin\r\n"
    "BEGIN:DAYLIGHT\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
    "DTSTART:19700329T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\n"
    "END:DAYLIGHT\r\n"
    "BEGIN:STANDARD\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\n"
    "DTSTART:19701025T030000\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\n"
    "END:STANDARD\r\nEND:VTIMEZONE\r\n";

const QDateTime windowStart(QDate(2027, 3, 1), QTime(0, 0), Qt::UTC);
const FeedOwner owner{u"ACC"_s, u"ACC"_s, u"Team"_s};

QList<CalendarEvent> parse(const QByteArray &ics) {
    return FeedParser::parse(ics, owner, windowStart, windowStart.addDays(90));
}

// "start title" per instance, start in UTC, sorted.
QStringList describe(const QList<CalendarEvent> &events) {
    QStringList out;
    for (const CalendarEvent &e : events)
        out << e.startDate.toUTC().toString(u"MM-dd HH:mm"_s) + u' ' + e.title;
    out.sort();
    return out;
}
} // namespace

class TestSyncRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void answersAreByteExact() {
        const QByteArray body = SignInHttp::calendarSuccessBody;
        QCOMPARE(SignInHttp::successAnswer(body),
                 "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                     QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        QVERIFY(SignInHttp::failureAnswer(body).startsWith("HTTP/1.1 400 Bad Request\r\n"));
    }

    // Optional members may be absent or null; a lone start time decodes.
    void decodesProxyRecords() {
        const ProxyEvent e =
            ProxyEvent::fromJson(proxyEvent(R"("title":null,"when":{"start_time":1})"));
        QVERIFY(e.when && e.when->startDate() && !e.when->endDate() && !e.title);
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
        QTest::newRow("not JSON") << QByteArray("<html>");
    }
    void rejectsMalformedProxyRecords() {
        QFETCH(QByteArray, body);
        QVERIFY_THROWS_EXCEPTION(DecodingError, ProxyListResponse<ProxyEvent>::decode(body));
    }

    void convertsProxyEvents_data() {
        QTest::addColumn<QByteArray>("members");
        QTest::addColumn<int>("provider");
        QTest::addColumn<QString>("calendarTitle"); // empty: no event
        QTest::addColumn<QColor>("color");
        QTest::addColumn<QString>("link");
        const QColor blue = systemBlue();
        QTest::newRow("plain") << QByteArray() << 0 << "Google Calendar" << blue << "";
        QTest::newRow("no end") << QByteArray(R"("when":{"start_time":1000})") << 0 << ""
                                << QColor() << "";
        QTest::newRow("own calendar") << QByteArray(R"("calendar_id":"work")") << 0 << "Work"
                                      << QColor(0x1a, 0x73, 0xe8) << "";
        QTest::newRow("five hex digits")
            << QByteArray(R"("calendar_id":"odd")") << 0 << "Odd" << blue << "";
        QTest::newRow("unknown calendar")
            << QByteArray(R"("calendar_id":"WORK")") << 1 << "Outlook" << blue << "";
        const QByteArray texts = R"("location":"Room 4",)"
                                 R"("description":"Join https://meet.google.com/abc-defg-hij now")";
        QTest::newRow("bad conferencing url falls back to description")
            << R"("conferencing":{"provider":"Zoom Meeting","details":{"url":"ht tp://x"}},)" +
                   texts
            << 0 << "Google Calendar" << blue << "https://meet.google.com/abc-defg-hij";
        QTest::newRow("conferencing url first")
            << R"("conferencing":{"details":{"url":"https://zoom.us/j/123"}},)" + texts << 0
            << "Google Calendar" << blue << "https://zoom.us/j/123";
    }
    void convertsProxyEvents() {
        QFETCH(QByteArray, members);
        QFETCH(int, provider);
        QFETCH(QString, calendarTitle);
        QFETCH(QColor, color);
        QFETCH(QString, link);
        const QList<ProxyCalendar> calendars{{u"work"_s, u"Work"_s, u"#1a73e8"_s, true},
                                             {u"odd"_s, u"Odd"_s, u"1a73e"_s, false}};
        const auto e = makeCalendarEvent(ProxyEvent::fromJson(proxyEvent(members)), u"ACC"_s,
                                         CalendarProvider(provider), calendars);
        QCOMPARE(e.has_value(), !calendarTitle.isEmpty());
        if (!e)
            return;
        QCOMPARE(e->id, u"nylas_p"_s);
        QCOMPARE(e->title, u"(No title)"_s);
        QCOMPARE(e->calendarTitle, calendarTitle);
        QCOMPARE(e->calendarColor, color);
        QCOMPARE(e->meetingLink.value_or(QUrl()).toString(), link);
        QCOMPARE(e->accountId, std::optional<QString>(u"ACC"_s));
        QCOMPARE(e->startDate.toSecsSinceEpoch(), 1000);
    }

    // Participants keep their order, repeats included; the organiser is not added to them.
    void participantsKeepSourceOrder() {
        const auto e = makeCalendarEvent(
            ProxyEvent::fromJson(proxyEvent(R"("participants":[{"email":"b@x","status":"no"},)"
                                            R"({"email":"a@x"},{"email":"b@x"}],)"
                                            R"("organizer":{"email":"boss@x"})")),
            {}, CalendarProvider::google, {});
        QCOMPARE(e->attendeeEmails, (QStringList{"b@x", "a@x", "b@x"}));
        QCOMPARE(e->organizerEmail, std::optional<QString>(u"boss@x"_s));
    }

    void slackSearchReplies_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("outcome"); // permalinks, or the error
        const QByteArray match = R"({"text":"hi","channel":{"name":"general"},"username":"ann",)"
                                 R"("ts":"1.2","permalink":"p1"})";
        QTest::newRow("match") << R"({"ok":true,"messages":{"matches":[)" + match + "]}}"
                               << "p1";
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
        const EmailThread bare = CalendarService::emailThread(
            ProxyMessage::fromJson(QJsonObject{{u"id"_s, u"m1"_s}, {u"from"_s, QJsonArray{}}}));
        QCOMPARE(bare.subject, u"(No subject)"_s);
        QCOMPARE(bare.messageCount, 1);
        const EmailThread full = CalendarService::emailThread(ProxyMessage::fromJson(
            QJsonDocument::fromJson(R"({"id":"m2","thread_id":"t","date":1700000000,
                "from":[{"email":"first@x"},{"email":"second@x"}]})")
                .object()));
        QCOMPARE(full.id, u"t"_s);
        QCOMPARE(full.from, u"first@x"_s);
        QVERIFY(!full.date.isEmpty());
    }

    void expandsWithinTheWindow_data() {
        QTest::addColumn<QByteArray>("ics");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("weekly, one excluded, one moved, one cancelled")
            << calendar(vevent("UID:w\r\nSUMMARY:Sync\r\nDTSTART:20270301T100000Z\r\n"
                               "DTEND:20270301T103000Z\r\nRRULE:FREQ=WEEKLY;COUNT=5\r\n"
                               "EXDATE:20270308T100000Z\r\n") +
                        vevent("UID:w\r\nSUMMARY:Sync (moved)\r\nRECURRENCE-ID:20270315T100000Z\r\n"
                               "DTSTART:20270316T140000Z\r\nDTEND:20270316T143000Z\r\n") +
                        vevent("UID:w\r\nSUMMARY:Sync\r\nRECURRENCE-ID:20270322T100000Z\r\n"
                               "STATUS:CANCELLED\r\nDTSTART:20270322T100000Z\r\n"))
            << QStringList{u"03-01 10:00 Sync"_s, u"03-16 14:00 Sync (moved)"_s,
                           u"03-29 10:00 Sync"_s};
        QTest::newRow("daylight saving starts inside the window, feed's own zone")
            << calendar(berlinZone +
                        vevent("UID:d\r\nSUMMARY:Standup\r\nDTSTART;TZID=Berlin:20270322T090000\r\n"
                               "DURATION:PT15M\r\nRRULE:FREQ=WEEKLY;COUNT=3\r\n"))
            << QStringList{u"03-22 08:00 Standup"_s, u"03-29 07:00 Standup"_s,
                           u"04-05 07:00 Standup"_s};
        QTest::newRow("zone from the tz database, Windows name")
            << calendar(vevent("UID:n\r\nSUMMARY:NY\r\n"
                               "DTSTART;TZID=Eastern Standard Time:20270313T090000\r\n"
                               "DTEND;TZID=Eastern Standard Time:20270313T100000\r\n"
                               "RRULE:FREQ=DAILY;COUNT=2\r\n"))
            << QStringList{u"03-13 14:00 NY"_s, u"03-14 13:00 NY"_s};
        QTest::newRow("rdate, and a daily rule from years ago reaches the window's end")
            << calendar(vevent("UID:r\r\nSUMMARY:R\r\nDTSTART:20270305T120000Z\r\n"
                               "RDATE:20270401T120000Z,20270701T120000Z\r\n") +
                        vevent("UID:old\r\nSUMMARY:Old\r\nDTSTART:20150101T060000Z\r\n"
                               "RRULE:FREQ=YEARLY;BYMONTH=5;BYMONTHDAY=20\r\n"))
            << QStringList{u"03-05 12:00 R"_s, u"04-01 12:00 R"_s, u"05-20 06:00 Old"_s};
        QTest::newRow("all-day, cancelled, before and after the window are left out")
            << calendar(vevent("UID:a\r\nSUMMARY:Holiday\r\nDTSTART;VALUE=DATE:20270310\r\n") +
                        vevent("UID:c\r\nSUMMARY:Gone\r\nSTATUS:CANCELLED\r\n"
                               "DTSTART:20270310T100000Z\r\n") +
                        vevent("UID:p\r\nSUMMARY:Past\r\nDTSTART:20270210T100000Z\r\n") +
                        vevent("UID:f\r\nSUMMARY:Far\r\nDTSTART:20270610T100000Z\r\n") +
                        vevent("UID:k\r\nDTSTART:20270310T100000Z\r\n"))
            << QStringList{u"03-10 10:00 (No title)"_s};
    }
    void expandsWithinTheWindow() {
        QFETCH(QByteArray, ics);
        QFETCH(QStringList, expected);
        const auto events = parse(ics);
        QCOMPARE(describe(events), expected);
        QSet<QString> ids;
        for (const CalendarEvent &e : events)
            ids.insert(e.id);
        QCOMPARE(ids.size(), events.size());
    }

    void floatingTimeIsLocal() {
        const auto events = parse(calendar(vevent(
            "UID:l\r\nSUMMARY:Lunch\r\nDTSTART:20270310T123000\r\nRRULE:FREQ=DAILY;COUNT=2\r\n")));
        QCOMPARE(events.size(), 2);
        QCOMPARE(events[1].startDate, QDateTime(QDate(2027, 3, 11), QTime(12, 30), Qt::LocalTime));
    }

    void convertsPeopleAndLinks_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("link");
        const QByteArray description = "DESCRIPTION:Dial in https://zoom.us/j/42\\, thanks\r\n";
        const QByteArray text =
            "LOCATION:https://meet.jit.si/FromLocation\r\nURL:https://whereby.com/from-url\r\n" +
            description;
        QTest::newRow("conferencing properties by rank, not order")
            << "X-MICROSOFT-ONLINEMEETING-CONFLINK:https://teams.microsoft.com/l/meetup-join/1\r\n"
               "CONFERENCE;VALUE=URI;FEATURE=VIDEO:https://meet.google.com/abc-defg-hij\r\n"
               "X-GOOGLE-CONFERENCE:https://meet.google.com/zzz-zzzz-zzz\r\n" +
                   text
            << "https://meet.google.com/abc-defg-hij";
        QTest::newRow("conferencing of another scheme is skipped")
            << "X-GOOGLE-CONFERENCE:smb://share/x\r\n" + text << "https://meet.jit.si/FromLocation";
        QTest::newRow("url before description")
            << "URL:https://whereby.com/from-url\r\n" + description
            << "https://whereby.com/from-url";
        QTest::newRow("description, unescaped") << description << "https://zoom.us/j/42";
    }
    void convertsPeopleAndLinks() {
        QFETCH(QByteArray, lines);
        QFETCH(QString, link);
        const auto events = parse(calendar(vevent("UID:x\r\nSUMMARY:Review\r\n"
                                                  "DTSTART:20270310T100000Z\r\n"
                                                  "ORGANIZER;CN=Ann:mailto:ann@partner.example\r\n"
                                                  "ATTENDEE;CN=Bo:MAILTO:bo@partner.example\r\n"
                                                  "ATTENDEE:mailto:me@home.example\r\n" +
                                                  lines)));
        QCOMPARE(events.size(), 1);
        const CalendarEvent &e = events.first();
        QCOMPARE(e.meetingLink.value_or(QUrl()).toString(), link);
        QCOMPARE(e.attendeeEmails, (QStringList{u"bo@partner.example"_s, u"me@home.example"_s,
                                                u"ann@partner.example"_s}));
        QCOMPARE(e.organizerEmail, u"ann@partner.example"_s);
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

    void normalizesAddresses_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("expected");
        QTest::newRow("webcal is https") << "webcal://cal.example/p/abc.ics"
                                         << "https://cal.example/p/abc.ics";
        QTest::newRow("https") << " https://cal.example/x.ics "
                               << "https://cal.example/x.ics";
        QTest::newRow("http elsewhere") << "http://cal.example/x.ics"
                                        << "";
        QTest::newRow("http on loopback") << "http://127.0.0.1:8/x"
                                          << "http://127.0.0.1:8/x";
        QTest::newRow("absolute path") << "/home/jo/cal.ics"
                                       << "file:///home/jo/cal.ics";
    }
    void normalizesAddresses() {
        QFETCH(QString, address);
        QFETCH(QString, expected);
        QCOMPARE(CalendarFeedClient::normalizedAddress(address).value_or(QUrl()).toString(),
                 expected);
    }
};

QTEST_MAIN(TestSyncRecords)
#include "tst_syncrecords.moc"
