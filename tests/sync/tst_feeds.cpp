#include "LoopbackHttpServer.h"
#include "ManualClock.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "core/AppSettings.h"
#include "platform/SecretStore.h"
#include "sync/AccountsModel.h"
#include "sync/AddFeedModel.h"
#include "sync/BackendAPIClient.h"
#include "sync/CalendarFeedClient.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/FeedParser.h"
#include "sync/SignInListener.h"
#include "sync/SlackService.h"

#include <QDirIterator>
#include <QtTest>

using namespace Qt::StringLiterals;
using Response = LoopbackHttpServer::Response;

namespace {
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

QByteArray utc(const QDateTime &t) {
    return t.toUTC().toString(u"yyyyMMdd'T'HHmmss'Z'"_s).toUtf8();
}

// A calendar service with no proxy accounts, in its own environment, and the accounts pane's
// model over it.
struct FeedStack {
    TestEnvironment env;
    std::unique_ptr<AppSettings> settings = env.makeSettings();
    ManualClock clock;
    SecretStore secrets;
    CalendarProxyClient proxy{secrets, clock};
    CalendarSignInListener listener;
    CalendarService service{*settings, proxy, secrets, listener, clock};
    BackendAPIClient backend;
    SlackService slack{backend, secrets, clock};
    AccountsModel model{service, slack};
};
} // namespace

class TestFeeds : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
        for (const CalendarEvent &e : events) {
            ids.insert(e.id);
            QCOMPARE(e.provider, CalendarProvider::feed);
            QCOMPARE(e.calendarId, u"ACC"_s);
        }
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
        QTest::newRow("none") << QByteArray("LOCATION:Room 4\r\n") << "";
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
        QTest::newRow("relative path") << "cal.ics"
                                       << "";
        QTest::newRow("other scheme") << "ftp://cal.example/x.ics"
                                      << "";
    }
    void normalizesAddresses() {
        QFETCH(QString, address);
        QFETCH(QString, expected);
        QCOMPARE(CalendarFeedClient::normalizedAddress(address).value_or(QUrl()).toString(),
                 expected);
    }

    // A feed account end to end against a server on loopback: conditional polls, failures that
    // keep the last good events, and the address kept in the keyring only.
    void pollsAFeedAccount() {
        FeedStack stack;
        CalendarService &service = stack.service;
        const QByteArray good = calendar(
            vevent("UID:m1\r\nSUMMARY:Planning\r\nDTSTART:" + utc(stack.clock.now().addSecs(3600)) +
                   "\r\nDURATION:PT30M\r\nLOCATION:https://meet.jit.si/Planning\r\n"));
        Response answer{200, good, "text/calendar", false, -1, {{"ETag", "\"v1\""}}};
        LoopbackHttpServer server;
        QVERIFY(server.start());
        server.setHandler([&](const LoopbackHttpServer::Request &request) {
            if (answer.body == good && request.header("If-None-Match") == "\"v1\"")
                return Response{304, {}, "text/calendar", false, -1, {}};
            return answer;
        });
        const QString address = server.origin() + u"/private-7f3a9c/basic.ics"_s;

        const auto added = settle(service.addFeed(address, u" Team "_s));
        QVERIFY2(added.ok(), qPrintable(added.description()));
        const ConnectedAccount account = *added.value;
        QCOMPARE(account.provider, CalendarProvider::feed);
        QCOMPARE(service.accounts(), QList<ConnectedAccount>{account});
        QVERIFY(service.userDomains().isEmpty());

        settle(service.fetchEvents());
        QCOMPARE(service.events().size(), 1);
        QCOMPARE(service.events().first().meetingType().service, u"Jitsi Meet"_s);
        QCOMPARE(service.accountCalendars().value(account.id).first().name, u"Team"_s);

        // Unchanged: a 304, and the events stay.
        server.clearRequests();
        settle(service.fetchEvents());
        QCOMPARE(server.requests().size(), 1);
        QCOMPARE(server.requests().first().header("If-None-Match"), QByteArray("\"v1\""));
        QCOMPARE(service.events().size(), 1);

        const QList<std::pair<Response, QString>> failures{
            {Response::text("<html>Sign in</html>", 200),
             u"The address does not lead to an iCalendar feed."_s},
            {Response::text(QByteArray(21 * 1024 * 1024, 'x'), 200),
             u"The calendar feed is larger than 20 MB."_s}};
        const Response goodAnswer = answer;
        for (const auto &[failing, reason] : failures) {
            answer = failing;
            settle(service.fetchEvents());
            QCOMPARE(stack.model.feedProblem(account.id), reason);
            QCOMPARE(service.events().size(), 1);
        }
        answer = goodAnswer;
        settle(service.fetchEvents());
        QVERIFY(!stack.model.feedProblem(account.id));

        // Switched off like any calendar.
        stack.settings->setDisabledCalendarIds({account.id});
        settle(service.fetchEvents());
        QVERIFY(service.events().isEmpty());

        // The address is in the keyring and nowhere on disk.
        const QString key = CalendarService::feedSecretKey(account.id);
        QCOMPARE(settle(stack.secrets.load(key)).value.value_or(std::nullopt),
                 std::optional(address));
        QDirIterator files(stack.env.path(), QDir::Files | QDir::Hidden,
                           QDirIterator::Subdirectories);
        int checked = 0;
        for (; files.hasNext(); ++checked) {
            QFile file(files.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY2(!file.readAll().contains("private-7f3a9c"), qPrintable(file.fileName()));
        }
        QVERIFY(checked > 0);

        service.removeAccount(account);
        QTRY_VERIFY(!settle(stack.secrets.load(key)).value.value_or(std::nullopt));
    }

    void refusesAFeedThatCannotBeRead() {
        FeedStack stack;
        LoopbackHttpServer missing, redirector, elsewhere;
        QVERIFY(missing.start() && redirector.start() && elsewhere.start());
        missing.respondWith(Response::text("missing", 404));
        // The feed's address is its secret: it never follows a redirect to another origin.
        redirector.respondWith(Response::redirect(302, elsewhere.origin().toUtf8() + "/x.ics"));

        const QList<std::pair<QString, QString>> cases{
            {redirector.origin() + u"/private-7f3a9c/x.ics"_s,
             u"The server redirected the request; check the address"_s},
            {u"ftp://cal.example/x.ics"_s,
             u"Use an https:// or webcal:// address, or a file on this computer."_s},
            {missing.origin() + u"/x.ics"_s, u"The calendar feed answered with HTTP status 404."_s},
            {stack.env.path() + u"/missing.ics"_s, u"The calendar file could not be read."_s},
        };
        AddFeedModel &form = stack.model.feedForm();
        for (const auto &[address, reason] : cases) {
            form.add(address, u"X"_s);
            QTRY_VERIFY(!form.isAdding());
            QCOMPARE(form.error().value_or(QString()), reason);
        }
        QVERIFY(stack.service.accounts().isEmpty());
        QCOMPARE(redirector.requests().size(), 1);
        QVERIFY(elsewhere.requests().isEmpty());

        // A local file is a feed too.
        QFile file(stack.env.path() + u"/cal.ics"_s);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(calendar(vevent(
            "UID:f\r\nSUMMARY:File\r\nDTSTART:" + utc(stack.clock.now().addSecs(600)) + "\r\n")));
        file.close();
        form.add(file.fileName(), u"Local"_s);
        QTRY_COMPARE(stack.service.accounts().size(), 1);
        QVERIFY(!form.isAdding() && !form.error());
        settle(stack.service.fetchEvents());
        QCOMPARE(stack.service.events().size(), 1);
        stack.service.removeAccount(stack.service.accounts().first());
    }
};

QTEST_GUILESS_MAIN(TestFeeds)
#include "tst_feeds.moc"
