#include "Settle.h"
#include "sync/SignInListener.h"

#include <QCoroTask>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {
constexpr auto noConnection = "<no connection>";

// Sends `bytes` (or nothing, hanging up at once, when `bytes` is null) and returns the whole
// answer the listener gave before closing.
QByteArray talk(quint16 port, const QByteArray &bytes) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 3000))
        return noConnection;
    if (bytes.isNull()) {
        socket.disconnectFromHost();
        QTest::qWait(50);
        return {};
    }
    socket.write(bytes);
    QByteArray answer;
    const bool closed = QTest::qWaitFor(
        [&] {
            answer += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        3000);
    return closed ? answer + socket.readAll() : "<still open>" + answer;
}

bool accepts(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(500);
}

QByteArray calendarOk() {
    return SignInHttp::successAnswer(SignInHttp::calendarSuccessBody);
}
QByteArray calendarBad() {
    return SignInHttp::failureAnswer(SignInHttp::calendarFailureBody);
}
} // namespace

class TestSyncListener : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void calendarRedirect_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("code");
        QTest::newRow("code") << QByteArray("GET /nylas/callback?code=abc&state=xyz HTTP/1.1\r\n"
                                            "Host: 127.0.0.1\r\n\r\n")
                              << "abc";
        QTest::newRow("first code wins")
            << QByteArray("GET /nylas/callback?code=one&code=two HTTP/1.1\r\n\r\n") << "one";
        QTest::newRow("percent-encoded")
            << QByteArray("GET /nylas/callback?code=a%2Fb%20c HTTP/1.1\r\n\r\n") << "a/b c";
        QTest::newRow("denied") << QByteArray(
                                       "GET /nylas/callback?error=access_denied HTTP/1.1\r\n\r\n")
                                << QString();
        QTest::newRow("favicon first")
            << QByteArray("GET /favicon.ico HTTP/1.1\r\n\r\n") << QString();
        QTest::newRow("not UTF-8")
            << QByteArray("GET /nylas/callback?code=\xc3\x28 HTTP/1.1\r\n\r\n") << QString();
        QTest::newRow("garbage") << QByteArray("\x01\x02\x03") << QString();
        QTest::newRow("hang-up without a byte") << QByteArray() << QString();
    }
    void calendarRedirect() {
        QFETCH(QByteArray, request);
        QFETCH(QString, code);
        CalendarSignInListener handler;
        QSignalSpy codes(&handler, &CalendarSignInListener::codeReceived);
        QSignalSpy failures(&handler, &CalendarSignInListener::failed);
        const int port = QCoro::waitFor(handler.startListening(CalendarProvider::microsoft));
        QVERIFY(port > 0);
        QCOMPARE(handler.port(), quint16(port));

        const QByteArray answer = talk(quint16(port), request);
        if (request.isNull()) {
            QTRY_COMPARE(failures.size(), 1);
        } else {
            QCOMPARE(answer, code.isEmpty() ? calendarBad() : calendarOk());
        }
        QCOMPARE(codes.size(), code.isEmpty() ? 0 : 1);
        QCOMPARE(failures.size(), code.isEmpty() ? 1 : 0);
        if (!code.isEmpty()) {
            QCOMPARE(codes[0][0].toString(), code);
            QCOMPARE(codes[0][1].value<CalendarProvider>(), CalendarProvider::microsoft);
        }
        // The listener is gone after its first request of any kind.
        QVERIFY(!handler.isListening());
        QCOMPARE(handler.port(), quint16(0));
        QVERIFY(!handler.pendingProvider());
        QVERIFY(!accepts(quint16(port)));
    }

    void calendarPrefers8976AndFallsBack() {
        CalendarSignInListener handler;
        QTcpServer blocker;
        const bool wasFree = blocker.listen(QHostAddress::LocalHost, 8976);
        if (wasFree) {
            blocker.close();
            const int port = QCoro::waitFor(handler.startListening(CalendarProvider::google));
            QCOMPARE(port, 8976);
            handler.stopListening();
            QVERIFY(blocker.listen(QHostAddress::LocalHost, 8976));
        }
        // 8976 is taken now (by us or by someone else): any free port serves.
        QSignalSpy codes(&handler, &CalendarSignInListener::codeReceived);
        const int port = QCoro::waitFor(handler.startListening(CalendarProvider::google));
        QVERIFY(port > 0 && port != 8976);
        QCOMPARE(talk(quint16(port), "GET /nylas/callback?code=c1 HTTP/1.1\r\n\r\n"), calendarOk());
        QCOMPARE(codes.size(), 1);
        QCOMPARE(codes[0][1].value<CalendarProvider>(), CalendarProvider::google);
    }

    void secondStartEndsTheFirstListener() {
        CalendarSignInListener handler;
        const int first = QCoro::waitFor(handler.startListening(CalendarProvider::google));
        const int second = QCoro::waitFor(handler.startListening(CalendarProvider::microsoft));
        QVERIFY(handler.isListening());
        if (first != second)
            QVERIFY(!accepts(quint16(first)));
        QCOMPARE(handler.pendingProvider(), std::optional(CalendarProvider::microsoft));
        handler.stopListening();
        handler.stopListening();
        QVERIFY(!handler.isListening());
    }

    void slackRedirect_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("outcome");
        const QByteArray ok = SignInHttp::successAnswer(SignInHttp::slackSuccessBody);
        const QByteArray bad = SignInHttp::failureAnswer(SignInHttp::slackFailureBody);
        QTest::newRow("code") << QByteArray(
                                     "GET /slack/callback?code=s1&state=U:1 HTTP/1.1\r\n\r\n")
                              << ok << "s1";
        QTest::newRow("no code") << QByteArray("GET /slack/callback?state=x HTTP/1.1\r\n\r\n")
                                 << bad << "Slack authorization failed. No auth code received.";
        QTest::newRow("no space") << QByteArray("GET\r\n\r\n") << bad
                                  << "Slack authorization failed. No auth code received.";
        // Nothing read: no answer, the wait just fails.
        QTest::newRow("hang-up") << QByteArray() << QByteArray()
                                 << "Slack authorization failed. No auth code received.";
    }
    void slackRedirect() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QFETCH(QString, outcome);
        SlackSignInListener handler;
        const quint16 port = handler.start();
        QVERIFY(port > 0);
        QCOMPARE(talk(port, request), answer);
        const auto result = settle(handler.waitForCode());
        QCOMPARE(result.ok() ? *result.value : result.description(), outcome);
        QVERIFY(!accepts(port));
    }

    void slackWaitEndsWithTheFirstOutcome() {
        SlackSignInListener handler;
        const quint16 port = handler.start();
        auto wait = handler.waitForCode();
        handler.fail(SlackError::authTimeout());
        QVERIFY(!handler.isListening());
        // A late redirect finds nobody listening and changes nothing.
        QCOMPARE(talk(port, "GET /slack/callback?code=late HTTP/1.1\r\n\r\n"),
                 QByteArray(noConnection));
        const auto pending = settle(std::move(wait));
        QVERIFY(pending.as<SlackError>());
        QCOMPARE(pending.as<SlackError>()->kind(), SlackError::Kind::authTimeout);
        QCOMPARE(settle(handler.waitForCode()).as<SlackError>()->kind(),
                 SlackError::Kind::authTimeout);
    }
};

QTEST_GUILESS_MAIN(TestSyncListener)
#include "tst_synclistener.moc"
