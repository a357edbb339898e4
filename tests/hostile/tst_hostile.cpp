// Crowding, idle, slow and malformed clients against the backend stand-in and the two sign-in
// listeners. Each must keep serving the one client that behaves.
#include "BackendProcess.h"
#include "RawClient.h"
#include "sync/SignInListener.h"

#include <QCoroTask>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>
#include <memory>
#include <vector>

namespace {
// Many clients at once; client i sends payloads[i % n] as soon as it is connected (nothing
// when the list is empty).
class Crowd {
public:
    Crowd(quint16 port, int count, const QList<QByteArray> &payloads = {}) {
        for (int i = 0; i < count; ++i) {
            auto socket = std::make_unique<QTcpSocket>();
            QTcpSocket *raw = socket.get();
            if (!payloads.isEmpty())
                QObject::connect(
                    raw, &QTcpSocket::connected, raw,
                    [raw, bytes = payloads[i % payloads.size()]] { raw->write(bytes); });
            raw->connectToHost(QHostAddress::LocalHost, port);
            m_sockets.push_back(std::move(socket));
        }
        m_answers.resize(m_sockets.size());
    }
    int connected() const {
        return int(std::count_if(m_sockets.begin(), m_sockets.end(), [](const auto &s) {
            return s->state() == QAbstractSocket::ConnectedState;
        }));
    }
    bool waitUntilConnected(int timeoutMs) {
        return QTest::qWaitFor([&] { return connected() == int(m_sockets.size()); }, timeoutMs);
    }
    // True when the server closed every connection within `timeoutMs`.
    bool waitUntilClosed(int timeoutMs) {
        return QTest::qWaitFor(
            [&] {
                bool all = true;
                for (size_t i = 0; i < m_sockets.size(); ++i) {
                    m_answers[i] += m_sockets[i]->readAll();
                    all = all && m_sockets[i]->state() == QAbstractSocket::UnconnectedState;
                }
                return all;
            },
            timeoutMs);
    }
    // How many answers begin with `head`.
    int answered(const QByteArray &head) const {
        return int(std::count_if(m_answers.begin(), m_answers.end(),
                                 [&](const QByteArray &a) { return a.startsWith(head); }));
    }

private:
    std::vector<std::unique_ptr<QTcpSocket>> m_sockets;
    std::vector<QByteArray> m_answers;
};

const QByteArray plainGet = "GET /functions/v1/api/nylas/grant HTTP/1.1\r\nHost: x\r\n\r\n";

// Sends `bytes` one byte at a time, `gapMs` apart, and returns the answer.
QByteArray trickle(quint16 port, const QByteArray &bytes, int gapMs) {
    RawClient client;
    if (!client.connectTo(port))
        return RawClient::noConnection;
    for (char byte : bytes) {
        client.send(QByteArray(1, byte));
        QTest::qWait(gapMs);
    }
    return client.answer();
}
} // namespace

class TestHostile : public QObject {
    Q_OBJECT

    std::unique_ptr<BackendProcess> standIn;

private Q_SLOTS:
    void init() {
        standIn = std::make_unique<BackendProcess>(QStringList{}, BackendProcess::Admin::off);
    }
    void cleanup() { standIn.reset(); }

    void standInServesACrowdBesideIdleAndSlowClients() {
        QVERIFY2(standIn->start(), qPrintable(standIn->error()));
        Crowd idle(standIn->port(), 100);
        QVERIFY(idle.waitUntilConnected(5000));
        Crowd busy(standIn->port(), 200, {plainGet});
        QVERIFY(busy.waitUntilClosed(20'000));
        QCOMPARE(busy.answered("HTTP/1.1 "), 200);
        QVERIFY(trickle(standIn->port(), plainGet, 2).startsWith("HTTP/1.1 "));
        QCOMPARE(idle.connected(), 100);
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
        Crowd idle(port, 50);
        Crowd strangers(port, 225,
                        {"GET /elsewhere?code=ATTACKER HTTP/1.1\r\n\r\n", "\x01\x02\r\n\r\n",
                         QByteArray("GET /x?").leftJustified(SignInHttp::maxRequestBytes + 1, 'a'),
                         "GET /slack/callback?code=ATTACKER&state=forged HTTP/1.1\r\n\r\n"});
        QVERIFY(idle.waitUntilConnected(5000) && strangers.waitUntilClosed(10'000));
        QCOMPARE(strangers.answered(notFound), 225);

        // A slow stranger, then the redirect with a pipelined request behind it.
        QCOMPARE(trickle(port, "GET /favicon.ico HTTP/1.1\r\n\r\n", 1), notFound);
        const QByteArray expected = SignInHttp::successAnswer(
            slack ? SignInHttp::slackSuccessBody : SignInHttp::calendarSuccessBody);
        QCOMPARE(
            RawClient::talk(port, callback + " HTTP/1.1\r\n\r\n" + callback + "2 HTTP/1.1\r\n\r\n"),
            expected);
        if (slack)
            QCOMPARE(QCoro::waitFor(std::move(*slackCode)), QStringLiteral("real"));
        else
            QCOMPARE(codes.size(), 1);
        // The idle connections are cut with the sign-in.
        QVERIFY(idle.waitUntilClosed(3000));
    }

    void listenersDropIdleConnectionsOnly() {
        CalendarSignInListener listener;
        listener.setIdleLimit(std::chrono::milliseconds(300));
        QSignalSpy codes(&listener, &CalendarSignInListener::codeReceived);
        const quint16 port =
            quint16(QCoro::waitFor(listener.startListening(CalendarProvider::microsoft)));
        RawClient silent, halfway;
        QVERIFY(silent.connectTo(port) && halfway.connectTo(port));
        halfway.send("GET /nylas/callback?code=half");
        QCOMPARE(silent.answer(), QByteArray());
        QCOMPARE(halfway.answer(), QByteArray());
        QVERIFY(listener.isListening() && codes.isEmpty());
        QCOMPARE(RawClient::talk(port, "GET /nylas/callback?code=c HTTP/1.1\r\n\r\n"),
                 SignInHttp::successAnswer(SignInHttp::calendarSuccessBody));
        QCOMPARE(codes.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
