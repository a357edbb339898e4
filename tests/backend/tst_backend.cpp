// The backend stand-in, exercised as the real binary over real HTTP on loopback.
#include "BackendProcess.h"
#include "RawClient.h"
#include "RequestLog.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrlQuery>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
QString eventsQuery(const QString &grantId, qint64 start, qint64 end) {
    return u"nylas/events?grantId=%1&calendarId=primary&start=%2&end=%3&limit=200"_s.arg(
        grantId, QString::number(start), QString::number(end));
}

const QJsonObject sms{{"credential", "c"}, {"to", "1"}, {"body", "b"}};
} // namespace

class TestBackend : public QObject {
    Q_OBJECT

    std::unique_ptr<BackendProcess> m_backend;

    auto send(const QByteArray &method, const QString &pathAndQuery, const QJsonObject &body = {},
              const QByteArray &authorization = {}) {
        return m_backend->request(method, pathAndQuery, body, authorization);
    }
    auto api(const QByteArray &method, const QString &endpoint, const QJsonObject &body = {},
             const QByteArray &authorization = {}) {
        return send(method, u"/functions/v1/api/"_s + endpoint, body, authorization);
    }
    QString createGrant() {
        return m_backend->admin("POST", u"grants"_s).value(u"grantId"_s).toString();
    }
    bool restart(const QStringList &arguments, BackendProcess::Admin admin) {
        m_backend = std::make_unique<BackendProcess>(arguments, admin);
        return m_backend->start();
    }

private slots:
    void init() {
        QVERIFY2(restart({}, BackendProcess::Admin::on), qPrintable(m_backend->error()));
    }

    // Only events touching the window [1000, 2000] come back, all-day ones by their date.
    void eventsWindowAndSmsQuota() {
        const QString probe = createGrant();
        QJsonArray events;
        for (const auto &[id, when] : QList<std::pair<const char *, QJsonObject>>{
                 {"inside", {{"start_time", 1200}, {"end_time", 1300}}},
                 {"before", {{"start_time", 100}, {"end_time", 999}}},
                 {"after", {{"start_time", 2001}, {"end_time", 2100}}},
                 {"running", {{"start_time", 900}, {"end_time", 1100}}},
                 {"day-in", {{"date", "1970-01-01"}}},
                 {"day-out", {{"date", "1970-01-02"}}}})
            events.append(QJsonObject{{"id", id}, {"title", id}, {"when", when}});
        m_backend->admin("POST", u"events"_s, {{"grantId", probe}, {"events", events}});
        QStringList ids;
        for (const QJsonValue &found :
             api("GET", eventsQuery(probe, 1000, 2000)).json()[u"data"_s].toArray())
            ids << found[u"id"_s].toString();
        ids.sort();
        QCOMPARE(ids, (QStringList{"day-in", "inside", "running"}));
        QCOMPARE(api("POST", u"sms"_s, sms).json(),
                 (QJsonObject{{"success", true}, {"remaining", 49}}));
    }

    // Through the sign-in pages; the code is good once, and the demo grant's first meeting is
    // two minutes after the exchange.
    void calendarSignIn() {
        const QString redirect = u"http://127.0.0.1:8976/nylas/callback"_s;
        const QUrl signIn(
            api("POST", u"nylas/auth-url"_s, {{"provider", "microsoft"}, {"redirectURI", redirect}})
                .json()
                .value(u"authUrl"_s)
                .toString());
        QCOMPARE(signIn.toString(QUrl::RemoveQuery), m_backend->origin() + "/signin");
        const QString query = signIn.query(QUrl::FullyEncoded);
        QVERIFY(
            send("GET", "/signin?" + query).body.contains("Continue as alex@zelvane-demo.test"));
        const QUrl back = send("GET", "/signin/continue?" + query).location;
        QCOMPARE(back.toString(QUrl::RemoveQuery), redirect);
        const QString code = QUrlQuery(back).queryItemValue(u"code"_s);

        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const QJsonObject grant =
            api("POST", u"nylas/exchange-token"_s, {{"code", code}, {"redirectURI", redirect}})
                .json();
        QCOMPARE(grant.value(u"provider"_s).toString(), u"microsoft"_s);
        QCOMPARE(grant.value(u"email"_s).toString(), u"alex@zelvane-demo.test"_s);
        QCOMPARE(api("POST", u"nylas/exchange-token"_s, {{"code", code}}).status, 400);
        qint64 first = 0;
        const QString grantId = grant.value(u"grantId"_s).toString();
        for (const QJsonValue &event :
             api("GET", eventsQuery(grantId, now, now + 86'400)).json()[u"data"_s].toArray()) {
            const qint64 start = event[u"when"_s][u"start_time"_s].toInteger();
            if (start > now && (first == 0 || start < first))
                first = start;
        }
        QVERIFY2(first >= now + 119 && first <= now + 125, QByteArray::number(first - now));
    }

    // The authorize page sends the browser to the backend's callback, which sends it on to the
    // app's port named in the state; the token then finds messages.
    void slackSignIn() {
        const QString redirect = m_backend->origin() + u"/functions/v1/api/slack/callback"_s;
        const QString state = u"0F2B5C1E-9A7D-4C3B-8E6F-1A2B3C4D5E6F:43117"_s;
        const QUrl toBackend = send("GET", "/oauth/v2/authorize/allow?redirect_uri=" +
                                               QUrl::toPercentEncoding(redirect) +
                                               "&state=" + QUrl::toPercentEncoding(state))
                                   .location;
        QCOMPARE(toBackend.toString(QUrl::RemoveQuery), redirect);
        const QString code = QUrlQuery(toBackend).queryItemValue(u"code"_s);
        const QUrl toApp =
            send("GET", toBackend.path() + u'?' + toBackend.query(QUrl::FullyEncoded)).location;
        QCOMPARE(toApp.toString(QUrl::RemoveQuery), u"http://127.0.0.1:43117/slack/callback"_s);
        QCOMPARE(QUrlQuery(toApp).queryItemValue(u"state"_s, QUrl::FullyDecoded), state);

        const QJsonObject exchange{{"code", code}, {"redirect_uri", redirect}};
        const QString token =
            api("POST", u"slack/exchange"_s, exchange).json()[u"accessToken"_s].toString();
        QVERIFY(token.startsWith(u"xoxp-demo-"_s));
        QCOMPARE(api("POST", u"slack/exchange"_s, exchange).status, 400);
        const QJsonArray matches =
            send("GET",
                 u"/api/search.messages?query=from%3A%3Cpriya.shah%40northwind-labs.test%3E"_s, {},
                 "Bearer " + token.toUtf8())
                .json()[u"messages"_s][u"matches"_s]
                .toArray();
        QCOMPARE(matches.size(), 1);
        for (const char *key : {"text", "username", "ts", "permalink"})
            QVERIFY2(matches[0][QLatin1String(key)].isString(), key);
    }

    // A proxy call carries the credential as a bearer token, sms in its body; the token is not
    // logged.
    void credentialIsEnforced_data() {
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<int>("status");
        QTest::newRow("missing") << QByteArray() << 401;
        QTest::newRow("not bearer") << QByteArray("Basic s3cret") << 401;
        QTest::newRow("right") << QByteArray("Bearer s3cret") << 200;
    }
    void credentialIsEnforced() {
        QFETCH(QByteArray, authorization);
        QFETCH(int, status);
        QVERIFY(restart({u"--credential"_s, u"s3cret"_s}, BackendProcess::Admin::on));
        QCOMPARE(api("GET", "nylas/calendars?grantId=" + createGrant(), {}, authorization).status,
                 status);
        QJsonObject message = sms;
        message.insert("credential", QString::fromUtf8(authorization.mid(7)));
        QCOMPARE(api("POST", u"sms"_s, message).status, status);
        QVERIFY(!send("GET", u"/_admin/requests"_s).body.contains("Bearer s3cret"));
    }

    void startsOnlyWhenTold() {
        QVERIFY(!restart({u"--port"_s, u"70000"_s}, BackendProcess::Admin::off));
        QVERIFY(restart({}, BackendProcess::Admin::off));
        QCOMPARE(send("GET", u"/_admin/requests"_s).status, 404);
    }

    void requestLogIsBounded() {
        RequestLog log;
        HttpRequest request;
        for (int i = 0; i <= RequestLog::maxEntries; ++i) {
            request.path = u"/r"_s + QString::number(i);
            request.body = QString(100'000, u'\u00e9');
            log.record(request);
        }
        const QJsonArray entries = log.entries();
        QCOMPARE(entries.size(), RequestLog::maxEntries);
        QCOMPARE(entries.first()[u"path"_s].toString(), u"/r1"_s);
        QVERIFY(entries.last()[u"body"_s].toString().toUtf8().size() <= RequestLog::maxBodyBytes);
    }

    void faults_data() {
        QTest::addColumn<QJsonObject>("fault");
        QTest::addColumn<QList<int>>("statuses");
        QTest::newRow("third call")
            << QJsonObject{{"status", 503}, {"skip", 2}} << QList<int>{200, 200, 503, 503};
        QTest::newRow("skip then once")
            << QJsonObject{{"status", 500}, {"skip", 1}, {"times", 1}} << QList<int>{200, 500, 200};
        QTest::newRow("delay once")
            << QJsonObject{{"delayMs", 1500}, {"times", 1}} << QList<int>{200, 200};
    }
    void faults() {
        QFETCH(QJsonObject, fault);
        QFETCH(QList<int>, statuses);
        const QString calendars = u"nylas/calendars?grantId="_s + createGrant();
        fault.insert(u"endpoint"_s, u"nylas/calendars"_s);
        QVERIFY(!m_backend->admin("POST", u"faults"_s, fault).isEmpty());
        for (qsizetype call = 0; call < statuses.size(); ++call) {
            QElapsedTimer timer;
            timer.start();
            QCOMPARE(api("GET", calendars).status, statuses[call]);
            if (fault.contains(u"delayMs"_s))
                QCOMPARE(timer.elapsed() >= 1400, call == 0);
        }
        // Other endpoints are untouched, and clearing restores the endpoint.
        QCOMPARE(api("POST", u"sms"_s, sms).status, 200);
        QVERIFY(!m_backend->admin("DELETE", u"faults"_s).isEmpty());
        QCOMPARE(api("GET", calendars).json()[u"data"_s].toArray().size(), 2);
    }

    // Each row is sent as raw bytes on its own connection and gets one answer; "GRANT" stands
    // for a fresh grant's id. The server keeps serving afterwards.
    void malformedRequests_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        const auto get = [](const QByteArray &target) {
            return "GET " + target + " HTTP/1.1\r\n\r\n";
        };
        const auto post = [](const QByteArray &target, const QByteArray &body) {
            return "POST /functions/v1/api/" + target +
                   " HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
                   body;
        };
        const QByteArray ok = "GET /functions/v1/api/sms HTTP/1.1\r\nHost: x\r\n";
        const QByteArray events = "/functions/v1/api/nylas/events?calendarId=primary&grantId=";
        QTest::newRow("no version, then an oversized body")
            << QByteArray("GET /\r\nContent-Length: 999999999999\r\n\r\n") << 400;
        QTest::newRow("HTTP/2") << QByteArray("GET / HTTP/2.0\r\n\r\n") << 400;
        QTest::newRow("encoded NUL in the path") << get("/functions/v1/api/s%00ms") << 400;
        QTest::newRow("header without colon") << ok + "Broken header\r\n\r\n" << 400;
        QTest::newRow("conflicting lengths")
            << ok + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nab" << 400;
        QTest::newRow("twelve-digit length") << ok + "Content-Length: 999999999999\r\n\r\n" << 413;
        QTest::newRow("chunked") << ok + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n" << 400;
        QTest::newRow("endless head") << ok + "X-Big: " + QByteArray(17 * 1024, 'a') << 400;
        QTest::newRow("pipelined: only the first is answered")
            << get("/functions/v1/api/sms") + get("/") + get("/") << 405;
        QTest::newRow("sms without number")
            << post("sms", R"({"credential":"c","body":"b"})") << 400;
        QTest::newRow("unknown grant") << get(events + "nope") << 404;
        QTest::newRow("search of an unknown grant")
            << get("/functions/v1/api/nylas/messages?q=a&grantId=nope") << 404;
        QTest::newRow("forged page token") << get(events + "GRANT&page_token=z") << 400;
        QTest::newRow("slack callback without port")
            << get("/functions/v1/api/slack/callback?code=C&state=abc:70000") << 400;
        QTest::newRow("auth-url not JSON") << post("nylas/auth-url", "provider=google") << 400;
        QTest::newRow("auth-url for another provider")
            << post("nylas/auth-url", R"({"provider":"yahoo"})") << 400;
    }
    void malformedRequests() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        const QByteArray answer =
            RawClient::talk(m_backend->port(), bytes.replace("GRANT", createGrant().toUtf8()));
        QVERIFY2(answer.startsWith("HTTP/1.1 " + QByteArray::number(status) + ' '),
                 answer.left(80).constData());
        QCOMPARE(answer.count("HTTP/1.1 "), 1);
        QCOMPARE(send("GET", u"/_admin/sms"_s).status, 200);
    }
};

QTEST_GUILESS_MAIN(TestBackend)
#include "tst_backend.moc"
