// Crowding, idle, slow and malformed clients against the backend stand-in and the two sign-in
// listeners, and calendar feeds made to crash or exhaust the app. Each must keep serving the one
// client, or the one feed, that behaves.
#include "BackendProcess.h"
#include "LoopbackHttpServer.h"
#include "ManualClock.h"
#include "RawClient.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "core/AppSettings.h"
#include "platform/SecretStore.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/SignInListener.h"

#include <QCoroTask>
#include <QSignalSpy>
#include <QtTest>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {
using Crowd = std::vector<std::unique_ptr<RawClient>>;

// Many clients at once, all connected (or else none); client i sends payloads[i % n].
Crowd crowd(quint16 port, int count, const QList<QByteArray> &payloads = {}) {
    Crowd clients;
    for (int i = 0; i < count; ++i)
        clients.push_back(std::make_unique<RawClient>(port));
    for (int i = 0; i < count; ++i) {
        if (!clients[i]->waitConnected(5000))
            return {};
        if (!payloads.isEmpty())
            clients[i]->send(payloads[i % payloads.size()]);
    }
    return clients;
}

// What each client got by the time the server closed on it, all within `timeoutMs`.
QList<QByteArray> answers(Crowd &clients, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QList<QByteArray> all;
    for (const auto &client : clients)
        all << client->answer(int(deadline.remainingTime()));
    return all;
}

const QByteArray plainGet = "GET /functions/v1/api/nylas/grant HTTP/1.1\r\nHost: x\r\n\r\n";

// Sends `bytes` one byte at a time, `gapMs` apart, and returns the answer.
QByteArray trickle(quint16 port, const QByteArray &bytes, int gapMs) {
    RawClient client(port);
    if (!client.waitConnected())
        return {};
    for (char byte : bytes) {
        client.send(QByteArray(1, byte));
        QTest::qWait(gapMs);
    }
    return client.answer();
}
} // namespace

class TestHostile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void standInServesACrowdBesideIdleAndSlowClients() {
        BackendProcess standIn({}, BackendProcess::Admin::off);
        QVERIFY2(standIn.start(), qPrintable(standIn.error()));
        Crowd idle = crowd(standIn.port(), 100);
        Crowd busy = crowd(standIn.port(), 200, {plainGet});
        QVERIFY(!idle.empty());
        const QList<QByteArray> answered = answers(busy, 20'000);
        QCOMPARE(answered.size(), 200);
        for (const QByteArray &answer : answered)
            QVERIFY2(answer.startsWith("HTTP/1.1 "), answer.left(40).constData());
        QVERIFY(trickle(standIn.port(), plainGet, 2).startsWith("HTTP/1.1 "));
        QVERIFY(std::all_of(idle.begin(), idle.end(), [](const auto &c) { return c->isOpen(); }));
    }

    // Short of descriptors, the stand-in leaves clients beyond its limit waiting in the backlog
    // rather than running out, and serves again once they hang up.
    void standInHoldsBackWhenShortOfFiles() {
        BackendProcess standIn({}, BackendProcess::Admin::off);
        standIn.limitOpenFiles(32);
        QVERIFY2(standIn.start(), qPrintable(standIn.error()));
        Crowd idle = crowd(standIn.port(), 55);
        QVERIFY(!idle.empty());
        QTest::qWait(500);
        QCOMPARE_LE(standIn.openFiles(), 24);
        idle.clear();
        QVERIFY(QTest::qWaitFor(
            [&] {
                return standIn.request("GET", QStringLiteral("/functions/v1/api/nylas/grant"))
                    .status;
            },
            10'000));
    }

    void listenersKeepListeningThroughACrowd_data() {
        QTest::addColumn<bool>("slack");
        QTest::newRow("calendar") << false;
        QTest::newRow("slack") << true;
    }
    void listenersKeepListeningThroughACrowd() {
        QFETCH(bool, slack);
        CalendarSignInListener calendar;
        SlackSignInListener slackListener;
        QSignalSpy codes(&calendar, &CalendarSignInListener::codeReceived);
        std::optional<QCoro::Task<QString>> slackCode;
        quint16 port = 0;
        QByteArray callback;
        if (slack) {
            port = slackListener.start();
            slackCode = slackListener.waitForCode();
            callback = "GET /slack/callback?code=real&state=" + slackListener.state().toUtf8();
        } else {
            port = quint16(QCoro::waitFor(calendar.startListening(CalendarProvider::google)));
            callback = "GET /nylas/callback?code=real";
        }
        const QByteArray notFound = SignInHttp::notFoundAnswer();

        // Strangers, malformed and oversized requests, and a forged Slack state.
        Crowd idle = crowd(port, 50);
        Crowd strangers =
            crowd(port, 225,
                  {"GET /elsewhere?code=ATTACKER HTTP/1.1\r\n\r\n", "\x01\x02\r\n\r\n",
                   QByteArray("GET /x?").leftJustified(SignInHttp::maxRequestBytes + 1, 'a'),
                   "GET /slack/callback?code=ATTACKER&state=forged HTTP/1.1\r\n\r\n"});
        QVERIFY(!idle.empty());
        QCOMPARE(answers(strangers, 10'000), QList<QByteArray>(225, notFound));

        // A slow stranger, then the redirect with a pipelined request behind it.
        QCOMPARE(trickle(port, "GET /favicon.ico HTTP/1.1\r\n\r\n", 1), notFound);
        const QByteArray expected = SignInHttp::successAnswer(
            slack ? SignInHttp::slackSuccessBody() : SignInHttp::calendarSuccessBody());
        QCOMPARE(
            RawClient::talk(port, callback + " HTTP/1.1\r\n\r\n" + callback + "2 HTTP/1.1\r\n\r\n"),
            expected);
        if (slack)
            QCOMPARE(QCoro::waitFor(std::move(*slackCode)), QStringLiteral("real"));
        else
            QCOMPARE(codes.size(), 1);
        // The idle connections are cut with the sign-in.
        QCOMPARE(answers(idle, 3000), QList<QByteArray>(50));
    }

    void listenersDropIdleConnectionsOnly() {
        CalendarSignInListener listener;
        listener.setIdleLimit(std::chrono::milliseconds(300));
        QSignalSpy codes(&listener, &CalendarSignInListener::codeReceived);
        const quint16 port =
            quint16(QCoro::waitFor(listener.startListening(CalendarProvider::microsoft)));
        RawClient silent(port), halfway(port);
        QVERIFY(silent.waitConnected() && halfway.waitConnected());
        halfway.send("GET /nylas/callback?code=half");
        QCOMPARE(silent.answer(), QByteArray());
        QCOMPARE(halfway.answer(), QByteArray());
        QVERIFY(listener.isListening() && codes.isEmpty());
        QCOMPARE(RawClient::talk(port, "GET /nylas/callback?code=c HTTP/1.1\r\n\r\n"),
                 SignInHttp::successAnswer(SignInHttp::calendarSuccessBody()));
        QCOMPARE(codes.size(), 1);
    }

    // Each feed is added while it is harmless and turns hostile on a later poll, as a feed from
    // a stranger's server may. The account row says why; the other feeds keep their meetings.
    void hostileFeedsEndAsTheirAccountsProblem() {
        using Response = LoopbackHttpServer::Response;
        TestEnvironment env;
        const auto settings = env.makeSettings();
        ManualClock clock(QDateTime::currentDateTimeUtc());
        SecretStore secrets;
        CalendarProxyClient proxy(secrets, clock);
        CalendarSignInListener signIn;
        CalendarService service(*settings, proxy, secrets, signIn, clock);
        LoopbackHttpServer server;
        QVERIFY(server.start());

        const QByteArray start =
            clock.now().addSecs(3600).toString(u"yyyyMMdd'T'HHmmss'Z'").toUtf8();
        const auto calendar = [](const QByteArray &events) {
            return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" + events + "END:VCALENDAR\r\n";
        };
        const auto event = [&](const QByteArray &uid, const QByteArray &rule = {}) {
            return "BEGIN:VEVENT\r\nUID:" + uid + "\r\nSUMMARY:" + uid + "\r\nDTSTART:" + start +
                   "\r\n" + (rule.isEmpty() ? QByteArray() : "RRULE:" + rule + "\r\n") +
                   "END:VEVENT\r\n";
        };
        QByteArray nested = "BEGIN:VCALENDAR\r\n";
        for (int i = 0; i < 300'000; ++i)
            nested += "BEGIN:X-A\r\n";
        for (int i = 0; i < 300'000; ++i)
            nested += "END:X-A\r\n";
        nested += "END:VCALENDAR\r\n";
        QByteArray minutely;
        for (int i = 0; i < 10'000; ++i)
            minutely += event("m" + QByteArray::number(i), "FREQ=MINUTELY");
        struct Feed {
            QByteArray name;
            QByteArray hostile;
            QString problem;
        };
        const QList<Feed> feeds{
            {"nested", nested, FeedError(FeedError::Reason::tooDeep).description()},
            {"minutely", calendar(minutely),
             FeedError(FeedError::Reason::tooComplex).description()},
            // Only its start: no date of the window satisfies the rule.
            {"never", calendar(event("never", "FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30")), {}},
            {"good", calendar(event("good")), {}},
        };
        QHash<QString, QByteArray> bodies;
        server.setHandler([&](const LoopbackHttpServer::Request &request) {
            return Response{200, bodies.value(request.path()), "text/calendar"};
        });
        for (const Feed &feed : feeds) {
            bodies.insert(u'/' + feed.name + ".ics", calendar(event(feed.name)));
            const auto added = settle(
                service.addFeed(server.origin() + u'/' + feed.name + ".ics", QString(feed.name)));
            QVERIFY2(added.ok(), feed.name.constData());
        }
        for (const Feed &feed : feeds)
            bodies.insert(u'/' + feed.name + ".ics", feed.hostile);

        QElapsedTimer took;
        took.start();
        QVERIFY(settle(service.fetchEvents()).ok());
        qInfo() << "hostile feeds read in" << took.elapsed() << "ms";
        QStringList titles;
        for (const CalendarEvent &e : service.events())
            titles << e.title;
        titles.sort();
        // A refused feed keeps the meetings of its last good read.
        QCOMPARE(titles, (QStringList{u"good"_s, u"minutely"_s, u"nested"_s, u"never"_s}));
        for (int i = 0; i < feeds.size(); ++i) {
            const QString id = service.accounts().at(i).id;
            QCOMPARE(service.feedErrors().value(id), feeds[i].problem);
        }
        // Polled again unchanged, a refused feed is not read again, and still says why.
        took.restart();
        QVERIFY(settle(service.fetchEvents()).ok());
        qInfo() << "polled again in" << took.elapsed() << "ms";
        QCOMPARE(service.feedErrors().value(service.accounts().at(1).id), feeds[1].problem);

        // A feed that trickles in holds up only itself, and ends at the feed client's limit.
        Response slow{200, calendar(event("slow")), "text/calendar"};
        slow.trickle = std::chrono::milliseconds(15);
        server.setHandler([&](const LoopbackHttpServer::Request &request) {
            return request.path() == u"/good.ics"
                       ? Response{200, calendar(event("fresh")), "text/calendar"}
                       : slow;
        });
        auto refresh = service.fetchEvents();
        QTRY_VERIFY_WITH_TIMEOUT(
            std::any_of(service.events().cbegin(), service.events().cend(),
                        [](const CalendarEvent &e) { return e.title == u"fresh"_s; }),
            5000);
        QVERIFY(std::none_of(service.events().cbegin(), service.events().cend(),
                             [](const CalendarEvent &e) { return e.title == u"slow"_s; }));
        QVERIFY(settle(std::move(refresh)).ok());
        QCOMPARE(service.events().size(), 4);

        CalendarFeedClient impatient(std::chrono::milliseconds(500));
        const auto download =
            settle(impatient.download(QUrl(server.origin() + u"/slow.ics"_s), FeedValidators()));
        QVERIFY(download.as<FeedError>());
        QCOMPARE(download.as<FeedError>()->reason(), FeedError::Reason::tooSlow);
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
