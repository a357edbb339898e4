// The backend stand-in, exercised as the real binary over real HTTP on loopback.
#include "BackendProcess.h"
#include "RequestLog.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

struct Reply {
    int status = 0;
    QByteArray body;
    QString location;

    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QJsonArray data() const { return json().value(u"data"_s).toArray(); }
};

QByteArray toJson(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

qint64 startOf(const QJsonValue &event) {
    return event[u"when"_s][u"start_time"_s].toInteger();
}

const QByteArray kSms = R"({"credential":"c","to":"1","body":"b"})";

} // namespace

class TestBackend : public QObject {
    Q_OBJECT

private:
    // One request; redirects are reported, not followed.
    Reply send(const QByteArray &method, const QString &pathAndQuery, const QByteArray &body = {},
               const QByteArray &authorization = {}) {
        QNetworkRequest request(QUrl::fromEncoded((m_backend->origin() + pathAndQuery).toUtf8()));
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        if (!body.isEmpty())
            request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        if (!authorization.isEmpty())
            request.setRawHeader("Authorization", authorization);
        QNetworkReply *reply = m_network.sendCustomRequest(request, method, body);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        if (!reply->isFinished())
            finished.wait(15'000);
        Reply result{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                     reply->readAll(), QString::fromUtf8(reply->rawHeader("Location"))};
        reply->deleteLater();
        return result;
    }

    Reply api(const QByteArray &method, const QString &endpoint, const QByteArray &body = {}) {
        return send(method, u"/functions/v1/api/"_s + endpoint, body);
    }

    QString createGrant(const QJsonObject &request = {}) {
        return send("POST", u"/_admin/grants"_s, toJson(request))
            .json()
            .value(u"grantId"_s)
            .toString();
    }

    QString eventsQuery(const QString &grantId, qint64 start, qint64 end) {
        return QStringLiteral(
                   "nylas/events?grantId=%1&calendarId=primary&start=%2&end=%3&limit=200")
            .arg(grantId)
            .arg(start)
            .arg(end);
    }

    // Raw bytes on a fresh connection; the whole answer the server sent before closing.
    QByteArray rawExchange(const QByteArray &bytes) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_backend->port());
        if (!socket.waitForConnected(5'000))
            return {};
        socket.write(bytes);
        socket.waitForBytesWritten(5'000);
        QByteArray answer;
        while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5'000))
            answer += socket.readAll();
        return answer + socket.readAll();
    }

    std::unique_ptr<BackendProcess> m_backend;
    QNetworkAccessManager m_network;

private slots:
    void init() {
        m_backend = std::make_unique<BackendProcess>();
        QVERIFY2(m_backend->start(), qPrintable(m_backend->error()));
    }
    void cleanup() { m_backend.reset(); }

    // The shapes the app reads, the time window and cursor paging.
    void contract() {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const QString grantId = createGrant({{"events", 1000}, {"minutesUntilFirst", 5}});
        const QJsonArray calendars = api("GET", u"nylas/calendars?grantId="_s + grantId).data();
        QCOMPARE(calendars.size(), 2);
        QVERIFY(calendars[0][u"is_primary"_s].toBool());
        QVERIFY(QRegularExpression(u"^#[0-9A-Fa-f]{6}$"_s)
                    .match(calendars[1][u"hex_color"_s].toString())
                    .hasMatch());

        QJsonArray all;
        int pages = 0;
        QString cursor;
        const QString base = eventsQuery(grantId, now, now + 7'776'000);
        do {
            const Reply reply =
                api("GET", cursor.isEmpty() ? base : base + "&page_token=" + cursor);
            QCOMPARE(reply.status, 200);
            ++pages;
            for (const QJsonValue &item : reply.data())
                all.append(item);
            cursor = reply.json().value(u"next_cursor"_s).toString();
        } while (!cursor.isEmpty() && pages < 10);
        QCOMPARE(pages, 5);
        QCOMPARE(all.size(), 1000);
        QCOMPARE(all.last()[u"title"_s].toString(), u"Meeting #1000"_s);

        // Only events touching the window [1000, 2000] come back, all-day ones by their date.
        const QString probe = createGrant();
        const auto event = [](const char *id, const QJsonObject &when) {
            return QJsonObject{{"id", id}, {"title", id}, {"when", when}};
        };
        const QJsonArray events{event("inside", {{"start_time", 1200}, {"end_time", 1300}}),
                                event("before", {{"start_time", 100}, {"end_time", 999}}),
                                event("after", {{"start_time", 2001}, {"end_time", 2100}}),
                                event("running", {{"start_time", 900}, {"end_time", 1100}}),
                                event("day-in", {{"date", "1970-01-01"}}),
                                event("day-out", {{"date", "1970-01-02"}})};
        QCOMPARE(send("POST", u"/_admin/events"_s, toJson({{"grantId", probe}, {"events", events}}))
                     .status,
                 200);
        QStringList ids;
        for (const QJsonValue &found : api("GET", eventsQuery(probe, 1000, 2000)).data())
            ids << found[u"id"_s].toString();
        ids.sort();
        QCOMPARE(ids, (QStringList{"day-in", "inside", "running"}));

        QCOMPARE(api("POST", u"sms"_s, kSms).json(),
                 (QJsonObject{{"success", true}, {"remaining", 49}}));
    }

    void calendarSignIn() {
        const QString redirect = u"http://127.0.0.1:8976/nylas/callback"_s;
        const QUrl signIn(api("POST", u"nylas/auth-url"_s,
                              toJson({{"provider", "microsoft"}, {"redirectURI", redirect}}))
                              .json()
                              .value(u"authUrl"_s)
                              .toString());
        QCOMPARE(signIn.toString(QUrl::RemoveQuery), m_backend->origin() + "/signin");
        const QString query = signIn.query(QUrl::FullyEncoded);
        QVERIFY(
            send("GET", "/signin?" + query).body.contains("Continue as alex@zelvane-demo.test"));

        const Reply proceed = send("GET", "/signin/continue?" + query);
        QCOMPARE(proceed.status, 302);
        const QUrl back(proceed.location);
        QCOMPARE(back.toString(QUrl::RemoveQuery), redirect);
        const QString code = QUrlQuery(back).queryItemValue(u"code"_s);

        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const QJsonObject grant = api("POST", u"nylas/exchange-token"_s,
                                      toJson({{"code", code}, {"redirectURI", redirect}}))
                                      .json();
        QCOMPARE(grant.value(u"provider"_s).toString(), u"microsoft"_s);
        QCOMPARE(grant.value(u"email"_s).toString(), u"alex@zelvane-demo.test"_s);
        // Codes are single use.
        QCOMPARE(api("POST", u"nylas/exchange-token"_s, toJson({{"code", code}})).status, 400);

        // Demo data is made relative to the exchange: the first meeting is two minutes away.
        qint64 first = 0;
        for (const QJsonValue &event :
             api("GET", eventsQuery(grant.value(u"grantId"_s).toString(), now, now + 86'400))
                 .data())
            if (startOf(event) > now && (first == 0 || startOf(event) < first))
                first = startOf(event);
        QVERIFY2(first >= now + 119 && first <= now + 125,
                 qPrintable(QString::number(first - now)));
    }

    void slackSignIn() {
        const QString redirect = m_backend->apiBase() + u"slack/callback"_s;
        const QString state = u"0F2B5C1E-9A7D-4C3B-8E6F-1A2B3C4D5E6F:43117"_s;
        QUrlQuery query;
        query.addQueryItem(u"redirect_uri"_s,
                           QString::fromLatin1(QUrl::toPercentEncoding(redirect)));
        query.addQueryItem(u"state"_s, state);
        const Reply allowed =
            send("GET", "/oauth/v2/authorize/allow?" + query.query(QUrl::FullyEncoded));
        QCOMPARE(allowed.status, 302);
        const QUrl toBackend(allowed.location);
        QCOMPARE(toBackend.toString(QUrl::RemoveQuery), redirect);
        const QString code = QUrlQuery(toBackend).queryItemValue(u"code"_s);

        // The browser follows on to the backend's callback, which sends it to the app's port.
        const Reply relayed =
            send("GET", toBackend.path() + QLatin1Char('?') + toBackend.query(QUrl::FullyEncoded));
        QCOMPARE(relayed.status, 302);
        const QUrl toApp(relayed.location);
        QCOMPARE(toApp.toString(QUrl::RemoveQuery), u"http://127.0.0.1:43117/slack/callback"_s);
        QCOMPARE(QUrlQuery(toApp).queryItemValue(u"code"_s), code);
        QCOMPARE(QUrlQuery(toApp).queryItemValue(u"state"_s, QUrl::FullyDecoded), state);

        const QByteArray exchange = toJson({{"code", code}, {"redirect_uri", redirect}});
        QVERIFY(api("POST", u"slack/exchange"_s, exchange)
                    .json()
                    .value(u"accessToken"_s)
                    .toString()
                    .startsWith(u"xoxp-demo-"_s));
        QCOMPARE(api("POST", u"slack/exchange"_s, exchange).status, 400);

        const QJsonArray matches = send("GET",
                                        "/api/search.messages?query=from%3A%3Cpriya.shah%40"
                                        "northwind-labs.test%3E&count=20",
                                        {}, "Bearer xoxp-demo-1")
                                       .json()[u"messages"_s][u"matches"_s]
                                       .toArray();
        QCOMPARE(matches.size(), 1);
        for (const char *key : {"text", "username", "ts", "permalink"})
            QVERIFY2(matches[0][QLatin1String(key)].isString(), key);
    }

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
        m_backend = std::make_unique<BackendProcess>(QStringList{u"--credential"_s, u"s3cret"_s});
        QVERIFY2(m_backend->start(), qPrintable(m_backend->error()));
        const QString grantId = createGrant();
        QCOMPARE(
            send("GET", "/functions/v1/api/nylas/calendars?grantId=" + grantId, {}, authorization)
                .status,
            status);
        // sms carries its credential in the body, never in a header.
        QCOMPARE(api("POST", u"sms"_s,
                     toJson({{"credential", QString::fromUtf8(authorization.mid(7))},
                             {"to", "+15550100"},
                             {"body", "hi"}}))
                     .status,
                 authorization.startsWith("Bearer") ? 200 : 401);
        QVERIFY(!send("GET", u"/_admin/requests"_s).body.contains("Bearer s3cret"));
    }

    void adminNeedsItsFlag() {
        m_backend = std::make_unique<BackendProcess>(QStringList{}, BackendProcess::Admin::off);
        QVERIFY2(m_backend->start(), qPrintable(m_backend->error()));
        QCOMPARE(send("GET", u"/_admin/requests"_s).status, 404);
        QCOMPARE(send("POST", u"/_admin/grants"_s, "{}").status, 404);
    }

    void requestLogIsBoundedAndHoldsNoCredential() {
        RequestLog log;
        HttpRequest request;
        request.method = u"POST"_s;
        request.headers.insert("authorization", u"Bearer s3cret"_s);
        for (int i = 0; i <= RequestLog::maxEntries; ++i) {
            request.path = u"/r"_s + QString::number(i);
            request.body = QString(100'000, u'\u00e9');
            log.record(request);
        }
        const QJsonArray entries = log.entries();
        QCOMPARE(entries.size(), RequestLog::maxEntries);
        QCOMPARE(entries.first()[u"path"_s].toString(), u"/r1"_s);
        QVERIFY(entries.last()[u"body"_s].toString().toUtf8().size() <= RequestLog::maxBodyBytes);
        QCOMPARE(entries.last()[u"authorization"_s].toString(), u"Bearer [redacted]"_s);
        QVERIFY(!QJsonDocument(entries).toJson().contains("s3cret"));
    }

    void faults_data() {
        QTest::addColumn<QJsonObject>("fault");
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<QByteArray>("faultBody");
        QTest::newRow("body and status") << QJsonObject{{"body", "<html>oops"}, {"status", 502}}
                                         << QList<int>{502} << QByteArray("<html>oops");
        QTest::newRow("third call") << QJsonObject{{"status", 503}, {"skip", 2}}
                                    << QList<int>{200, 200, 503, 503} << QByteArray();
        QTest::newRow("skip then once") << QJsonObject{{"status", 500}, {"skip", 1}, {"times", 1}}
                                        << QList<int>{200, 500, 200} << QByteArray();
        QTest::newRow("delay once")
            << QJsonObject{{"delayMs", 1500}, {"times", 1}} << QList<int>{200, 200} << QByteArray();
    }
    void faults() {
        QFETCH(QJsonObject, fault);
        QFETCH(QList<int>, statuses);
        QFETCH(QByteArray, faultBody);
        const QString grantId = createGrant();
        fault.insert(u"endpoint"_s, u"nylas/calendars"_s);
        QCOMPARE(send("POST", u"/_admin/faults"_s, toJson(fault)).status, 200);
        for (qsizetype call = 0; call < statuses.size(); ++call) {
            QElapsedTimer timer;
            timer.start();
            const Reply reply = api("GET", u"nylas/calendars?grantId="_s + grantId);
            QCOMPARE(reply.status, statuses[call]);
            if (!faultBody.isEmpty())
                QCOMPARE(reply.body, faultBody);
            else if (reply.status == 200)
                QCOMPARE(reply.data().size(), 2);
            if (fault.contains(u"delayMs"_s))
                QCOMPARE(timer.elapsed() >= 1400, call == 0);
        }
        // Other endpoints are untouched, and clearing restores the endpoint.
        QCOMPARE(api("POST", u"sms"_s, kSms).status, 200);
        QCOMPARE(send("DELETE", u"/_admin/faults"_s).status, 200);
        QCOMPARE(api("GET", u"nylas/calendars?grantId="_s + grantId).status, 200);
    }

    // Each row is sent as raw bytes; "GRANT" stands for a fresh grant's id.
    void malformedRequests_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        const auto get = [](const QByteArray &target) {
            return "GET " + target + " HTTP/1.1\r\n\r\n";
        };
        const QByteArray ok = "GET /functions/v1/api/sms HTTP/1.1\r\nHost: x\r\n";
        const QByteArray events = "/functions/v1/api/nylas/events?calendarId=primary&grantId=";
        QTest::newRow("garbage") << QByteArray("\x16\x03\x01\x02\x00garbage\r\n\r\n", 17) << 400;
        QTest::newRow("HTTP/2") << QByteArray("GET / HTTP/2.0\r\n\r\n") << 400;
        QTest::newRow("header without colon") << ok + "Broken header\r\n\r\n" << 400;
        QTest::newRow("conflicting lengths")
            << ok + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nab" << 400;
        QTest::newRow("huge length") << ok + "Content-Length: 99999999999\r\n\r\n" << 413;
        QTest::newRow("chunked") << ok + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n" << 400;
        QTest::newRow("endless head") << ok + "X-Big: " + QByteArray(17 * 1024, 'a') << 400;
        QTest::newRow("sms by GET") << get("/functions/v1/api/sms") << 405;
        QTest::newRow("unknown grant") << get(events + "nope") << 404;
        QTest::newRow("forged page token") << get(events + "GRANT&page_token=z") << 400;
        QTest::newRow("slack callback without port")
            << get("/functions/v1/api/slack/callback?code=C&state=abc:70000") << 400;
        QTest::newRow("auth-url not JSON")
            << QByteArray("POST /functions/v1/api/nylas/auth-url HTTP/1.1\r\n"
                          "Content-Length: 15\r\n\r\nprovider=google")
            << 400;
    }
    void malformedRequests() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        const QByteArray answer = rawExchange(bytes.replace("GRANT", createGrant().toUtf8()));
        QVERIFY2(answer.startsWith("HTTP/1.1 " + QByteArray::number(status) + ' '),
                 answer.left(80).constData());
        // The server keeps serving.
        QCOMPARE(send("GET", u"/_admin/sms"_s).status, 200);
    }
};

QTEST_GUILESS_MAIN(TestBackend)
#include "tst_backend.moc"
