// The backend stand-in, exercised as the real binary over real HTTP on loopback.
#include "BackendProcess.h"

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

namespace {

struct Reply {
    int status = 0;
    QByteArray body;
    QString location;

    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QJsonArray data() const { return json().value(QStringLiteral("data")).toArray(); }
};

QByteArray toJson(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

qint64 startOf(const QJsonValue &event) {
    return event[QStringLiteral("when")][QStringLiteral("start_time")].toInteger();
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
        return send(method, QStringLiteral("/functions/v1/api/") + endpoint, body);
    }

    QString createGrant(const QJsonObject &request = {}) {
        return send("POST", QStringLiteral("/_admin/grants"), toJson(request))
            .json()
            .value(QStringLiteral("grantId"))
            .toString();
    }

    QJsonArray fetchEvents(const QString &grantId, qint64 start, qint64 end) {
        return api("GET", QStringLiteral("nylas/events?grantId=%1&calendarId=primary&start=%2&"
                                         "end=%3&limit=200")
                              .arg(grantId)
                              .arg(start)
                              .arg(end))
            .data();
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

    void calendarSignIn() {
        const QString redirect = QStringLiteral("http://127.0.0.1:8976/nylas/callback");
        const QUrl signIn(api("POST", QStringLiteral("nylas/auth-url"),
                              toJson({{"provider", "microsoft"}, {"redirectURI", redirect}}))
                              .json()
                              .value(QStringLiteral("authUrl"))
                              .toString());
        QCOMPARE(signIn.toString(QUrl::RemoveQuery), m_backend->origin() + "/signin");
        QCOMPARE(
            QUrlQuery(signIn).queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded),
            redirect);
        const QString query = signIn.query(QUrl::FullyEncoded);
        QVERIFY(
            send("GET", "/signin?" + query).body.contains("Continue as alex@zelvane-demo.test"));

        const Reply proceed = send("GET", "/signin/continue?" + query);
        QCOMPARE(proceed.status, 302);
        const QUrl back(proceed.location);
        QCOMPARE(back.toString(QUrl::RemoveQuery), redirect);
        const QString code = QUrlQuery(back).queryItemValue(QStringLiteral("code"));

        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const QJsonObject grant = api("POST", QStringLiteral("nylas/exchange-token"),
                                      toJson({{"code", code}, {"redirectURI", redirect}}))
                                      .json();
        QCOMPARE(grant.value(QStringLiteral("provider")).toString(), QStringLiteral("microsoft"));
        QCOMPARE(grant.value(QStringLiteral("email")).toString(),
                 QStringLiteral("alex@zelvane-demo.test"));

        // Demo data is made relative to the exchange: the first meeting is two minutes away.
        qint64 first = 0;
        for (const QJsonValue &event :
             fetchEvents(grant.value(QStringLiteral("grantId")).toString(), now, now + 7'776'000))
            if (startOf(event) > now && (first == 0 || startOf(event) < first))
                first = startOf(event);
        QVERIFY2(first >= now + 119 && first <= now + 125,
                 qPrintable(QString::number(first - now)));

        // Codes are single use.
        QCOMPARE(
            api("POST", QStringLiteral("nylas/exchange-token"), toJson({{"code", code}})).status,
            400);
    }

    void demoDataCoversEveryKindOfMeeting() {
        const QString grantId = createGrant();
        const QJsonArray calendars =
            api("GET", QStringLiteral("nylas/calendars?grantId=") + grantId).data();
        QCOMPARE(calendars.size(), 2);
        QVERIFY(calendars[0][QStringLiteral("is_primary")].toBool());
        QVERIFY(QRegularExpression(QStringLiteral("^#[0-9A-Fa-f]{6}$"))
                    .match(calendars[1][QStringLiteral("hex_color")].toString())
                    .hasMatch());

        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const QJsonArray events = fetchEvents(grantId, now - 86'400, now + 7'776'000);
        const QByteArray text = QJsonDocument(events).toJson();
        for (const char *needle :
             {"https://us02web.zoom.us/j/", "https://meet.google.com/abc-defg-hij",
              "https://teams.microsoft.com/l/meetup-join/", "https://acme.webex.com/meet/",
              "https://whereby.com/", "\"cancelled\"", "\"date\""})
            QVERIFY2(text.contains(needle), needle);

        QJsonValue first;
        for (const QJsonValue &event : events)
            if (startOf(event) > now && (first.isNull() || startOf(event) < startOf(first)))
                first = event;
        // Every outside attendee of the first meeting has e-mail to research.
        int outsiders = 0;
        for (const QJsonValue &participant : first[QStringLiteral("participants")].toArray()) {
            const QString email = participant[QStringLiteral("email")].toString();
            if (email.endsWith(QLatin1String("@zelvane-demo.test")))
                continue;
            ++outsiders;
            const QJsonArray messages =
                api("GET",
                    QStringLiteral("nylas/messages?grantId=%1&q=%2&limit=5").arg(grantId, email))
                    .data();
            QVERIFY2(!messages.isEmpty(), qPrintable(email));
            QVERIFY(QJsonDocument(messages).toJson().contains(email.toUtf8()));
        }
        QVERIFY(outsiders > 0);
    }

    void eventsWindow_data() {
        QTest::addColumn<QJsonObject>("when");
        QTest::addColumn<bool>("returned");
        // The window is [1000, 2000].
        QTest::newRow("inside") << QJsonObject{{"start_time", 1200}, {"end_time", 1300}} << true;
        QTest::newRow("ends before")
            << QJsonObject{{"start_time", 100}, {"end_time", 999}} << false;
        QTest::newRow("starts after")
            << QJsonObject{{"start_time", 2001}, {"end_time", 2100}} << false;
        QTest::newRow("running at start")
            << QJsonObject{{"start_time", 900}, {"end_time", 1100}} << true;
        QTest::newRow("all-day 1970-01-01") << QJsonObject{{"date", "1970-01-01"}} << true;
        QTest::newRow("all-day 1970-01-02") << QJsonObject{{"date", "1970-01-02"}} << false;
    }
    void eventsWindow() {
        QFETCH(QJsonObject, when);
        QFETCH(bool, returned);
        const QString grantId = createGrant();
        const QJsonObject event{{"id", "e1"}, {"title", "Probe"}, {"when", when}};
        QCOMPARE(send("POST", QStringLiteral("/_admin/events"),
                      toJson({{"grantId", grantId}, {"events", QJsonArray{event}}}))
                     .status,
                 200);
        QCOMPARE(fetchEvents(grantId, 1000, 2000), returned ? QJsonArray{event} : QJsonArray{});
    }

    void paging_data() {
        QTest::addColumn<QString>("endpoint");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("expectedPages");
        QTest::addColumn<int>("expectedItems");
        QTest::newRow("1000 events by 200") << "events" << 200 << 5 << 1000;
        QTest::newRow("calendars by 1") << "calendars" << 1 << 2 << 2;
    }
    void paging() {
        QFETCH(QString, endpoint);
        QFETCH(int, limit);
        QFETCH(int, expectedPages);
        QFETCH(int, expectedItems);
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const QString grantId = createGrant({{"events", 1000}, {"minutesUntilFirst", 5}});
        const QString base =
            QStringLiteral("nylas/%1?grantId=%2&calendarId=primary&start=%3&end=%4&limit=%5")
                .arg(endpoint, grantId)
                .arg(now)
                .arg(now + 7'776'000)
                .arg(limit);
        QJsonArray all;
        int pages = 0;
        QString cursor;
        do {
            const Reply reply =
                api("GET", cursor.isEmpty() ? base : base + "&page_token=" + cursor);
            QCOMPARE(reply.status, 200);
            ++pages;
            for (const QJsonValue &item : reply.data())
                all.append(item);
            cursor = reply.json().value(QStringLiteral("next_cursor")).toString();
        } while (!cursor.isEmpty() && pages < 10);
        QCOMPARE(pages, expectedPages);
        QCOMPARE(all.size(), expectedItems);
        if (endpoint == QLatin1String("events"))
            QCOMPARE(all.last()[QStringLiteral("title")].toString(),
                     QStringLiteral("Meeting #1000"));
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
        m_backend = std::make_unique<BackendProcess>(
            QStringList{QStringLiteral("--credential"), QStringLiteral("s3cret")});
        QVERIFY2(m_backend->start(), qPrintable(m_backend->error()));
        const QString grantId = createGrant();
        QCOMPARE(
            send("GET", "/functions/v1/api/nylas/calendars?grantId=" + grantId, {}, authorization)
                .status,
            status);
        // sms carries its credential in the body, never in a header.
        QCOMPARE(api("POST", QStringLiteral("sms"),
                     toJson({{"credential", QString::fromUtf8(authorization.mid(7))},
                             {"to", "+15550100"},
                             {"body", "hi"}}))
                     .status,
                 authorization.startsWith("Bearer") ? 200 : 401);
    }

    void smsAndRequestLog() {
        api("GET", QStringLiteral("nylas/messages?grantId=g&q=a%40b.test"));
        const Reply sms = api("POST", QStringLiteral("sms"), kSms);
        QCOMPARE(sms.status, 200);
        QCOMPARE(sms.json(), (QJsonObject{{"success", true}, {"remaining", 49}}));
        QCOMPARE(
            send("GET", QStringLiteral("/_admin/sms")).json().value("messages"),
            QJsonValue(QJsonArray{QJsonObject{{"to", "1"}, {"body", "b"}, {"credential", "c"}}}));
        const QJsonArray requests =
            send("GET", QStringLiteral("/_admin/requests")).json().value("requests").toArray();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[0].toObject(), (QJsonObject{{"method", "GET"},
                                                      {"path", "/functions/v1/api/nylas/messages"},
                                                      {"query", "grantId=g&q=a%40b.test"},
                                                      {"authorization", QJsonValue::Null},
                                                      {"body", ""}}));
        QCOMPARE(requests[1][QStringLiteral("body")].toString().toUtf8(), kSms);
    }

    void slackSignIn() {
        const QString redirect = m_backend->apiBase() + QStringLiteral("slack/callback");
        const QString state = QStringLiteral("0F2B5C1E-9A7D-4C3B-8E6F-1A2B3C4D5E6F:43117");
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("redirect_uri"),
                           QString::fromLatin1(QUrl::toPercentEncoding(redirect)));
        query.addQueryItem(QStringLiteral("state"), state);
        const Reply allowed =
            send("GET", "/oauth/v2/authorize/allow?" + query.query(QUrl::FullyEncoded));
        QCOMPARE(allowed.status, 302);
        const QUrl toBackend(allowed.location);
        QCOMPARE(toBackend.toString(QUrl::RemoveQuery), redirect);
        const QString code = QUrlQuery(toBackend).queryItemValue(QStringLiteral("code"));

        // The browser follows on to the backend's callback, which sends it to the app's port.
        const Reply relayed =
            send("GET", toBackend.path() + QLatin1Char('?') + toBackend.query(QUrl::FullyEncoded));
        QCOMPARE(relayed.status, 302);
        const QUrl toApp(relayed.location);
        QCOMPARE(toApp.toString(QUrl::RemoveQuery),
                 QStringLiteral("http://127.0.0.1:43117/slack/callback"));
        QCOMPARE(QUrlQuery(toApp).queryItemValue(QStringLiteral("code")), code);
        QCOMPARE(QUrlQuery(toApp).queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded),
                 state);

        const QByteArray exchange = toJson({{"code", code}, {"redirect_uri", redirect}});
        QVERIFY(api("POST", QStringLiteral("slack/exchange"), exchange)
                    .json()
                    .value(QStringLiteral("accessToken"))
                    .toString()
                    .startsWith(QStringLiteral("xoxp-demo-")));
        QCOMPARE(api("POST", QStringLiteral("slack/exchange"), exchange).status, 400);

        const Reply found = send("GET",
                                 "/api/search.messages?query=from%3A%3Cpriya.shah%40northwind-labs."
                                 "test%3E&count=20",
                                 {}, "Bearer xoxp-demo-1");
        const QJsonArray matches =
            found.json()[QStringLiteral("messages")][QStringLiteral("matches")].toArray();
        QCOMPARE(matches.size(), 1);
        for (const char *key : {"text", "username", "ts", "permalink"})
            QVERIFY2(matches[0][QLatin1String(key)].isString(), key);
        QVERIFY(matches[0][QStringLiteral("channel")][QStringLiteral("name")].isString());
    }

    void faults_data() {
        QTest::addColumn<QJsonObject>("fault");
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<QByteArray>("faultBody");
        QTest::newRow("status") << QJsonObject{{"status", 500}} << QList<int>{500, 500}
                                << QByteArray();
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
        fault.insert(QStringLiteral("endpoint"), QStringLiteral("nylas/calendars"));
        QCOMPARE(send("POST", QStringLiteral("/_admin/faults"), toJson(fault)).status, 200);
        for (qsizetype call = 0; call < statuses.size(); ++call) {
            QElapsedTimer timer;
            timer.start();
            const Reply reply = api("GET", QStringLiteral("nylas/calendars?grantId=") + grantId);
            QCOMPARE(reply.status, statuses[call]);
            if (!faultBody.isEmpty())
                QCOMPARE(reply.body, faultBody);
            else if (reply.status == 200)
                QCOMPARE(reply.data().size(), 2);
            if (fault.contains(QStringLiteral("delayMs")))
                QCOMPARE(timer.elapsed() >= 1400, call == 0);
        }
        // Other endpoints are untouched, and clearing restores the endpoint.
        QCOMPARE(api("POST", QStringLiteral("sms"), kSms).status, 200);
        QCOMPARE(send("DELETE", QStringLiteral("/_admin/faults")).status, 200);
        QCOMPARE(api("GET", QStringLiteral("nylas/calendars?grantId=") + grantId).status, 200);
    }

    // Each row is sent as raw bytes; "GRANT" stands for a fresh grant's id.
    void malformedRequests_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        const auto get = [](const QByteArray &target) {
            return "GET " + target + " HTTP/1.1\r\n\r\n";
        };
        const auto post = [](const QByteArray &target, const QByteArray &body) {
            return "POST " + target +
                   " HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
                   body;
        };
        const QByteArray ok = "GET /functions/v1/api/sms HTTP/1.1\r\nHost: x\r\n";
        QTest::newRow("garbage") << QByteArray("\x16\x03\x01\x02\x00garbage\r\n\r\n", 17) << 400;
        QTest::newRow("two words") << QByteArray("GET /\r\n\r\n") << 400;
        QTest::newRow("lower-case method") << get("/").replace("GET", "get") << 400;
        QTest::newRow("HTTP/2") << QByteArray("GET / HTTP/2.0\r\n\r\n") << 400;
        QTest::newRow("absolute target") << get("http://x/") << 400;
        QTest::newRow("bad escape in path") << get("/a%zz") << 400;
        QTest::newRow("non-UTF-8 target") << get("/a?\xff") << 400;
        QTest::newRow("header without colon") << ok + "Broken header\r\n\r\n" << 400;
        QTest::newRow("folded header") << ok + " continued\r\n\r\n" << 400;
        QTest::newRow("negative length") << ok + "Content-Length: -1\r\n\r\n" << 400;
        QTest::newRow("conflicting lengths")
            << ok + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nab" << 400;
        QTest::newRow("huge length") << ok + "Content-Length: 99999999999\r\n\r\n" << 413;
        QTest::newRow("chunked") << ok + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n" << 400;
        QTest::newRow("non-UTF-8 body") << ok + "Content-Length: 2\r\n\r\n\xff\xfe" << 400;
        QTest::newRow("endless head") << ok + "X-Big: " + QByteArray(17 * 1024, 'a') << 400;
        QTest::newRow("unknown path") << get("/") << 404;
        QTest::newRow("sms by GET") << get("/functions/v1/api/sms") << 405;
        QTest::newRow("unknown grant")
            << get("/functions/v1/api/nylas/events?grantId=nope&calendarId=primary") << 404;
        QTest::newRow("start not a number")
            << get("/functions/v1/api/nylas/events?grantId=GRANT&calendarId=primary&start=soon")
            << 400;
        QTest::newRow("forged page token")
            << get("/functions/v1/api/nylas/events?grantId=GRANT&calendarId=primary&page_token=z")
            << 400;
        QTest::newRow("limit over 200")
            << get("/functions/v1/api/nylas/events?grantId=GRANT&calendarId=primary&limit=300")
            << 400;
        QTest::newRow("auth-url not JSON")
            << post("/functions/v1/api/nylas/auth-url", "provider=google") << 400;
        QTest::newRow("auth-url unknown provider")
            << post("/functions/v1/api/nylas/auth-url", R"({"provider":"yahoo"})") << 400;
        QTest::newRow("slack callback without port")
            << get("/functions/v1/api/slack/callback?code=C&state=abc:70000") << 400;
        QTest::newRow("fault without endpoint")
            << post("/_admin/faults", R"({"status":500})") << 400;
        QTest::newRow("fault with zero times")
            << post("/_admin/faults", R"({"endpoint":"sms","status":500,"times":0})") << 400;
    }
    void malformedRequests() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        const QByteArray answer = rawExchange(bytes.replace("GRANT", createGrant().toUtf8()));
        QVERIFY2(answer.startsWith("HTTP/1.1 " + QByteArray::number(status) + ' '),
                 answer.left(80).constData());
        // The server keeps serving.
        QCOMPARE(send("GET", QStringLiteral("/_admin/sms")).status, 200);
    }
};

QTEST_GUILESS_MAIN(TestBackend)
#include "tst_backend.moc"
