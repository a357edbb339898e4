#include "RawClient.h"
#include "Settle.h"
#include "sync/SignInListener.h"

#include <QCoroTask>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QUuid>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
// Built when used: the bodies are another file's statics.
QByteArray calendarOk() {
    return SignInHttp::successAnswer(SignInHttp::calendarSuccessBody());
}
const QByteArray notFound = SignInHttp::notFoundAnswer();

QByteArray get(const QByteArray &target) {
    return "GET " + target + " HTTP/1.1\r\n\r\n";
}
} // namespace

class TestSyncListener : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each request on its own connection; `code` empty with a 400 means the sign-in failed,
    // a 404 means the request did not count and listening goes on.
    void calendarRedirect_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("code");
        const QByteArray failed = SignInHttp::failureAnswer(SignInHttp::calendarFailureBody());
        QTest::newRow("code") << get("/nylas/callback?code=abc&state=xyz") << calendarOk() << "abc";
        QTest::newRow("first code wins")
            << get("/nylas/callback?code=one&code=two") << calendarOk() << "one";
        QTest::newRow("no version, percent-encoded")
            << QByteArray("GET /nylas/callback?code=a%2Fb%20c\r\n\r\n") << calendarOk() << "a/b c";
        QTest::newRow("bare line feeds")
            << QByteArray("GET /nylas/callback?code=lf HTTP/1.1\n\n") << calendarOk() << "lf";
        QTest::newRow("denied") << get("/nylas/callback?error=access_denied") << failed << "";
        QTest::newRow("POST on the callback")
            << QByteArray("POST /nylas/callback?code=ATTACKER HTTP/1.1\r\n\r\n") << notFound << "";
        QTest::newRow("callback path prefix")
            << get("/nylas/callbackx?code=ATTACKER") << notFound << "";
        QTest::newRow("not UTF-8") << get("/nylas/callback?code=\xc3\x28") << notFound << "";
    }
    void calendarRedirect() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QFETCH(QString, code);
        CalendarSignInListener handler;
        QSignalSpy codes(&handler, &CalendarSignInListener::codeReceived);
        QSignalSpy failures(&handler, &CalendarSignInListener::failed);
        const quint16 port =
            quint16(QCoro::waitFor(handler.startListening(CalendarProvider::microsoft)));
        QCOMPARE(handler.port(), port);

        QCOMPARE(RawClient::talk(port, request), answer);
        const bool counted = answer != notFound;
        QCOMPARE(failures.size(), counted && code.isEmpty() ? 1 : 0);
        QCOMPARE(handler.isListening(), !counted);
        QCOMPARE(bool(handler.pendingProvider()), !counted);
        if (counted) {
            QCOMPARE(handler.port(), quint16(0));
            QVERIFY(!RawClient(port).waitConnected(500));
        } else {
            QCOMPARE(RawClient::talk(port, get("/nylas/callback?code=late")), calendarOk());
            code = u"late"_s;
        }
        QCOMPARE(codes.size(), code.isEmpty() ? 0 : 1);
        QCOMPARE(codes.value(0).value(0).toString(), code);
        if (!code.isEmpty())
            QCOMPARE(codes[0][1].value<CalendarProvider>(), CalendarProvider::microsoft);
    }

    // An answered redirect reaches the browser whole even when the listener's owner deletes it
    // as soon as it announces the code.
    void answerOutlivesTheListener() {
        QPointer<CalendarSignInListener> handler = new CalendarSignInListener;
        const auto port =
            quint16(QCoro::waitFor(handler->startListening(CalendarProvider::google)));
        connect(handler, &CalendarSignInListener::codeReceived, handler, &QObject::deleteLater);
        QCOMPARE(RawClient::talk(port, get("/nylas/callback?code=c")), calendarOk());
        QVERIFY(!handler);
    }

    void calendarPrefers8976AndFallsBack() {
        CalendarSignInListener handler;
        QTcpServer blocker;
        if (blocker.listen(QHostAddress::LocalHost, 8976)) {
            blocker.close();
            QCOMPARE(QCoro::waitFor(handler.startListening(CalendarProvider::google)), 8976);
            handler.stopListening();
            QVERIFY(blocker.listen(QHostAddress::LocalHost, 8976));
        }
        // 8976 is taken now (by us or by someone else): any free port serves, two at once too.
        QSignalSpy codes(&handler, &CalendarSignInListener::codeReceived);
        const int port = QCoro::waitFor(handler.startListening(CalendarProvider::google));
        QVERIFY(port > 0 && port != 8976);
        CalendarSignInListener other;
        const auto otherPort = settle(other.startListening(CalendarProvider::google));
        QVERIFY(otherPort.ok() && *otherPort.value != port);
        QCOMPARE(RawClient::talk(quint16(port), get("/nylas/callback?code=c1")), calendarOk());
        QCOMPARE(codes.size(), 1);
    }

    void slackRedirect_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("outcome");
        const QByteArray ok = SignInHttp::successAnswer(SignInHttp::slackSuccessBody());
        const QByteArray bad = SignInHttp::failureAnswer(SignInHttp::slackFailureBody());
        const QString failed = QStringLiteral("Slack authorization failed. No auth code received.");
        QTest::newRow("code") << QByteArray("code=s1&state=STATE") << ok << "s1";
        QTest::newRow("state percent-encoded")
            << QByteArray("state=STATE_ENCODED&code=s2") << ok << "s2";
        QTest::newRow("no code") << QByteArray("state=STATE") << bad << failed;
        QTest::newRow("no state") << QByteArray("code=ATTACKER") << notFound << QString();
        QTest::newRow("state twice, first forged")
            << QByteArray("code=ATTACKER&state=x&state=STATE") << notFound << QString();
    }
    // A redirect that does not count leaves the wait to the time limit; a failure stays.
    void slackRedirect() {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, answer);
        QFETCH(QString, outcome);
        SlackSignInListener handler;
        const quint16 port = handler.start();
        const QString state = handler.state();
        QVERIFY(state.endsWith(QLatin1Char(':') + QString::number(port)));
        QVERIFY(!QUuid::fromString(state.section(u':', 0, 0)).isNull());
        query.replace("STATE_ENCODED", QUrl::toPercentEncoding(state));
        query.replace("STATE", state.toUtf8());
        auto wait = handler.waitForCode();
        QCOMPARE(RawClient::talk(port, get("/slack/callback?" + query)), answer);
        if (answer == notFound) {
            QVERIFY(handler.isListening());
            handler.fail(SlackError::authTimeout());
            outcome = SlackError::authTimeout().description();
        }
        const auto result = settle(std::move(wait));
        QCOMPARE(result.ok() ? *result.value : result.description(), outcome);
        QVERIFY(!RawClient(port).waitConnected(500));
        if (!result.ok())
            QCOMPARE(settle(handler.waitForCode()).description(), outcome);
    }
};

QTEST_GUILESS_MAIN(TestSyncListener)
#include "tst_synclistener.moc"
