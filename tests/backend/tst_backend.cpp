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
};

QByteArray toJson(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

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
            request.setHeader(QNetworkRequest::ContentTypeHeader,
                              QByteArrayLiteral("application/json"));
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
        return send(method, QStringLiteral("/functions/v1/api/") + endpoint, body, m_authorization);
    }

    QString createGrant(const QJsonObject &request = {}) {
        return send("POST", QStringLiteral("/_admin/grants"), toJson(request))
            .json()
            .value(QStringLiteral("grantId"))
            .toString();
    }

    QJsonArray fetchEvents(const QString &grantId, qint64 start, qint64 end,
                           const QString &extra = {}) {
        return api("GET",
                   QStringLiteral(
                       "nylas/events?grantId=%1&calendarId=primary&start=%2&end=%3&limit=200%4")
                       .arg(grantId)
                       .arg(start)
                       .arg(end)
                       .arg(extra))
            .json()
            .value(QStringLiteral("data"))
            .toArray();
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
    QByteArray m_authorization;

private slots:
    void init() {
        m_backend = std::make_unique<BackendProcess>();
        QVERIFY2(m_backend->start(), qPrintable(m_backend->error()));
        m_authorization.clear();
    }
    void cleanup() { m_backend.reset(); }

    void helpListsOptions() {
        QProcess process;
        process.start(qEnvironmentVariable("ZELVANE_BACKEND_BINARY"), {QStringLiteral("--help")});
        QVERIFY(process.waitForFinished(10'000));
        const QByteArray usage = process.readAllStandardOutput();
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(usage.contains("--port"));
        QVERIFY(usage.contains("--credential"));
        QVERIFY(usage.contains("/_admin/faults"));
    }

    void calendarSignIn() {
        const QString redirect = QStringLiteral("http://127.0.0.1:8976/nylas/callback");
        const Reply authUrl = api("POST", QStringLiteral("nylas/auth-url"),
                                  toJson({{"provider", "microsoft"}, {"redirectURI", redirect}}));
        QCOMPARE(authUrl.status, 200);
        const QUrl signIn(authUrl.json().value(QStringLiteral("authUrl")).toString());
        QCOMPARE(signIn.toString(QUrl::RemoveQuery),
                 m_backend->origin() + QStringLiteral("/signin"));
        const QUrlQuery query(signIn);
        QCOMPARE(query.queryItemValue(QStringLiteral("provider")), QStringLiteral("microsoft"));
        QCOMPARE(query.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded),
                 redirect);

        const Reply page =
            send("GET", QStringLiteral("/signin?") + signIn.query(QUrl::FullyEncoded));
        QCOMPARE(page.status, 200);
        QVERIFY(page.body.contains("Continue as alex@zelvane-demo.test"));

        const Reply proceed =
            send("GET", QStringLiteral("/signin/continue?") + signIn.query(QUrl::FullyEncoded));
        QCOMPARE(proceed.status, 302);
        const QUrl back(proceed.location);
        QCOMPARE(back.toString(QUrl::RemoveQuery), redirect);
        const QString code = QUrlQuery(back).queryItemValue(QStringLiteral("code"));
        QVERIFY(!code.isEmpty());

        const QDateTime before = QDateTime::currentDateTimeUtc();
        const Reply exchanged = api("POST", QStringLiteral("nylas/exchange-token"),
                                    toJson({{"code", code}, {"redirectURI", redirect}}));
        QCOMPARE(exchanged.status, 200);
        const QJsonObject grant = exchanged.json();
        QCOMPARE(grant.value(QStringLiteral("provider")).toString(), QStringLiteral("microsoft"));
        QCOMPARE(grant.value(QStringLiteral("email")).toString(),
                 QStringLiteral("alex@zelvane-demo.test"));
        QVERIFY(!grant.value(QStringLiteral("grantId")).toString().isEmpty());

        // The grant's first upcoming meeting starts two minutes after the exchange.
        const qint64 now = before.toSecsSinceEpoch();
        const QJsonArray events =
            fetchEvents(grant.value(QStringLiteral("grantId")).toString(), now, now + 7'776'000);
        qint64 firstStart = 0;
        for (const QJsonValue &event : events) {
            const qint64 start =
                event[QStringLiteral("when")][QStringLiteral("start_time")].toInteger();
            if (start > now && (firstStart == 0 || start < firstStart))
                firstStart = start;
        }
        QVERIFY2(firstStart >= now + 119 && firstStart <= now + 125,
                 qPrintable(QString::number(firstStart - now)));

        // Codes are single use.
        QCOMPARE(
            api("POST", QStringLiteral("nylas/exchange-token"), toJson({{"code", code}})).status,
            400);
    }

    void authUrlRequests_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("hasRedirect");
        QTest::newRow("no redirect") << toJson({{"provider", "google"}}) << 200 << false;
        QTest::newRow("unknown provider") << toJson({{"provider", "yahoo"}}) << 400 << false;
        QTest::newRow("not JSON") << QByteArray("provider=google") << 400 << false;
        QTest::newRow("redirect of wrong type")
            << toJson({{"provider", "google"}, {"redirectURI", 5}}) << 400 << false;
    }
    void authUrlRequests() {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(bool, hasRedirect);
        const Reply reply = api("POST", QStringLiteral("nylas/auth-url"), body);
        QCOMPARE(reply.status, status);
        if (status == 200)
            QCOMPARE(reply.json()
                         .value(QStringLiteral("authUrl"))
                         .toString()
                         .contains(QStringLiteral("redirect_uri")),
                     hasRedirect);
    }

    void demoDataCoversEveryKindOfMeeting() {
        const QString grantId = createGrant();
        const QJsonObject calendars =
            api("GET", QStringLiteral("nylas/calendars?grantId=") + grantId).json();
        const QJsonArray list = calendars.value(QStringLiteral("data")).toArray();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list[0][QStringLiteral("is_primary")].toBool(), true);
        QCOMPARE(list[1][QStringLiteral("is_primary")].toBool(), false);
        QVERIFY(QRegularExpression(QStringLiteral("^#[0-9A-Fa-f]{6}$"))
                    .match(list[1][QStringLiteral("hex_color")].toString())
                    .hasMatch());

        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const QJsonArray events = fetchEvents(grantId, now - 86'400, now + 7'776'000);
        const QByteArray text = QJsonDocument(events).toJson();
        for (const char *needle :
             {"https://us02web.zoom.us/j/", "https://meet.google.com/abc-defg-hij",
              "https://teams.microsoft.com/l/meetup-join/", "https://acme.webex.com/meet/",
              "https://whereby.com/", "\"cancelled\"", "\"date\""})
            QVERIFY2(text.contains(needle), needle);

        QJsonObject first;
        bool inPerson = false;
        for (const QJsonValue &value : events) {
            const QJsonObject event = value.toObject();
            const qint64 start =
                event[QStringLiteral("when")][QStringLiteral("start_time")].toInteger();
            if (start > now &&
                (first.isEmpty() ||
                 start < first[QStringLiteral("when")][QStringLiteral("start_time")].toInteger()))
                first = event;
            inPerson = inPerson || (event.contains(QStringLiteral("location")) &&
                                    !event.contains(QStringLiteral("conferencing")) &&
                                    !event.value(QStringLiteral("location"))
                                         .toString()
                                         .contains(QStringLiteral("://")));
        }
        QVERIFY(inPerson);
        QVERIFY(
            first[QStringLiteral("conferencing")][QStringLiteral("details")][QStringLiteral("url")]
                .toString()
                .startsWith(QStringLiteral("https://us02web.zoom.us/j/")));
        QStringList domains;
        for (const QJsonValue &participant : first[QStringLiteral("participants")].toArray())
            domains.append(
                participant[QStringLiteral("email")].toString().section(QLatin1Char('@'), 1));
        QVERIFY(domains.contains(QStringLiteral("zelvane-demo.test")));
        QVERIFY(std::any_of(domains.begin(), domains.end(), [](const QString &domain) {
            return domain != QLatin1String("zelvane-demo.test");
        }));

        // Every outside attendee of the first meeting has e-mail to research.
        for (const QJsonValue &participant : first[QStringLiteral("participants")].toArray()) {
            const QString email = participant[QStringLiteral("email")].toString();
            if (email.endsWith(QLatin1String("@zelvane-demo.test")))
                continue;
            const QJsonArray messages =
                api("GET",
                    QStringLiteral("nylas/messages?grantId=%1&q=%2&limit=5").arg(grantId, email))
                    .json()
                    .value(QStringLiteral("data"))
                    .toArray();
            QVERIFY2(!messages.isEmpty(), qPrintable(email));
            for (const QJsonValue &message : messages)
                QVERIFY(QJsonDocument(message.toObject()).toJson().contains(email.toUtf8()));
        }
    }

    void secondCalendarHasItsOwnEvents() {
        const QString grantId = createGrant();
        const QJsonArray calendars =
            api("GET", QStringLiteral("nylas/calendars?grantId=") + grantId)
                .json()
                .value(QStringLiteral("data"))
                .toArray();
        const QString second = calendars[1][QStringLiteral("id")].toString();
        const QJsonArray events =
            api("GET", QStringLiteral("nylas/events?grantId=%1&calendarId=%2").arg(grantId, second))
                .json()
                .value(QStringLiteral("data"))
                .toArray();
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0][QStringLiteral("calendar_id")].toString(), second);
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (const QJsonValue &event : fetchEvents(grantId, now - 86'400, now + 7'776'000))
            QVERIFY(event[QStringLiteral("calendar_id")].toString() != second);
    }

    void messagesHonourLimit() {
        const QString grantId = createGrant();
        const QString query =
            QStringLiteral("nylas/messages?grantId=%1&q=priya.shah%40northwind-labs.test&limit=%2");
        QCOMPARE(api("GET", query.arg(grantId).arg(5))
                     .json()
                     .value(QStringLiteral("data"))
                     .toArray()
                     .size(),
                 2);
        QCOMPARE(api("GET", query.arg(grantId).arg(1))
                     .json()
                     .value(QStringLiteral("data"))
                     .toArray()
                     .size(),
                 1);
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
        QTest::newRow("start only, inside") << QJsonObject{{"start_time", 1500}} << true;
        QTest::newRow("all-day 1970-01-01") << QJsonObject{{"date", "1970-01-01"}} << true;
        QTest::newRow("all-day 1970-01-02") << QJsonObject{{"date", "1970-01-02"}} << false;
        QTest::newRow("no times") << QJsonObject{} << true;
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
        QTest::newRow("1000 events by 300 is clamped") << "events" << 300 << 0 << 0;
        QTest::newRow("calendars by 1") << "calendars" << 1 << 2 << 2;
        QTest::newRow("calendars by 2") << "calendars" << 2 << 1 << 2;
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
                api("GET", base + (cursor.isEmpty() ? QString()
                                                    : QStringLiteral("&page_token=") + cursor));
            if (expectedPages == 0) {
                QCOMPARE(reply.status, 400);
                return;
            }
            QCOMPARE(reply.status, 200);
            ++pages;
            for (const QJsonValue &item : reply.json().value(QStringLiteral("data")).toArray())
                all.append(item);
            cursor = reply.json().value(QStringLiteral("next_cursor")).toString();
        } while (!cursor.isEmpty() && pages < 10);
        QCOMPARE(pages, expectedPages);
        QCOMPARE(all.size(), expectedItems);
        if (endpoint == QLatin1String("events")) {
            QCOMPARE(all.first()[QStringLiteral("title")].toString(), QStringLiteral("Meeting #1"));
            QCOMPARE(all.last()[QStringLiteral("title")].toString(),
                     QStringLiteral("Meeting #1000"));
        }
    }

    void badQueries_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("status");
        QTest::newRow("unknown grant") << "nylas/events?grantId=nope&calendarId=primary" << 404;
        QTest::newRow("unknown calendar") << "nylas/events?grantId=%1&calendarId=nope" << 404;
        QTest::newRow("start not a number")
            << "nylas/events?grantId=%1&calendarId=primary&start=soon" << 400;
        QTest::newRow("forged page token")
            << "nylas/events?grantId=%1&calendarId=primary&page_token=zzz" << 400;
        QTest::newRow("limit zero") << "nylas/calendars?grantId=%1&limit=0" << 400;
        QTest::newRow("wrong method") << "nylas/grant?grantId=%1" << 405;
        QTest::newRow("unknown endpoint") << "nylas/contacts?grantId=%1" << 404;
    }
    void badQueries() {
        QFETCH(QString, query);
        QFETCH(int, status);
        const QString grantId = createGrant();
        QCOMPARE(
            api("GET", query.contains(QLatin1String("%1")) ? query.arg(grantId) : query).status,
            status);
    }

    void revokedGrantIsGone() {
        const QString grantId = createGrant();
        QCOMPARE(
            api("DELETE", QStringLiteral("nylas/grant"), toJson({{"grant_id", grantId}})).status,
            200);
        QCOMPARE(api("GET", QStringLiteral("nylas/calendars?grantId=") + grantId).status, 404);
        QCOMPARE(
            api("DELETE", QStringLiteral("nylas/grant"), toJson({{"grant_id", grantId}})).status,
            404);
    }

    void credentialIsEnforced_data() {
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<int>("status");
        QTest::newRow("missing") << QByteArray() << 401;
        QTest::newRow("wrong token") << QByteArray("Bearer other") << 401;
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
        QCOMPARE(send("GET", QStringLiteral("/functions/v1/api/nylas/calendars?grantId=") + grantId,
                      {}, authorization)
                     .status,
                 status);
        // sms carries its credential in the body, never in a header.
        const int smsStatus = authorization == "Bearer s3cret" ? 200 : 401;
        const QByteArray credential = authorization.mid(7);
        QCOMPARE(send("POST", QStringLiteral("/functions/v1/api/sms"),
                      toJson({{"credential", QString::fromUtf8(credential)},
                              {"to", "+15550100"},
                              {"body", "hi"}}))
                     .status,
                 smsStatus);
    }

    void smsCountsDown() {
        for (int expected : {49, 48}) {
            const Reply reply = api("POST", QStringLiteral("sms"),
                                    toJson({{"credential", "c"},
                                            {"to", "+15550100"},
                                            {"body", "Zelvane: Sync starts NOW"}}));
            QCOMPARE(reply.status, 200);
            QCOMPARE(reply.json(), (QJsonObject{{"success", true}, {"remaining", expected}}));
        }
        const QJsonArray sent = send("GET", QStringLiteral("/_admin/sms"))
                                    .json()
                                    .value(QStringLiteral("messages"))
                                    .toArray();
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent[0].toObject(), (QJsonObject{{"to", "+15550100"},
                                                  {"body", "Zelvane: Sync starts NOW"},
                                                  {"credential", "c"}}));

        const Reply missing =
            api("POST", QStringLiteral("sms"), toJson({{"credential", "c"}, {"body", "x"}}));
        QCOMPARE(missing.status, 400);
        QVERIFY(!missing.json().value(QStringLiteral("error")).toString().isEmpty());
    }

    void smsAllowanceRunsOut() {
        for (int i = 0; i < 50; ++i)
            QCOMPARE(api("POST", QStringLiteral("sms"),
                         toJson({{"credential", "c"}, {"to", "1"}, {"body", "b"}}))
                         .status,
                     200);
        const Reply refused = api("POST", QStringLiteral("sms"),
                                  toJson({{"credential", "c"}, {"to", "1"}, {"body", "b"}}));
        QCOMPARE(refused.status, 429);
        QVERIFY(refused.json().value(QStringLiteral("error")).isString());
    }

    void slackSignIn() {
        const QString redirect = m_backend->apiBase() + QStringLiteral("slack/callback");
        const QString state = QStringLiteral("0F2B5C1E-9A7D-4C3B-8E6F-1A2B3C4D5E6F:43117");
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("client_id"),
                           QStringLiteral("730914625581.29384756102947"));
        query.addQueryItem(QStringLiteral("redirect_uri"),
                           QString::fromLatin1(QUrl::toPercentEncoding(redirect)));
        query.addQueryItem(QStringLiteral("state"), state);
        query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
        const QString encoded = query.query(QUrl::FullyEncoded);

        const Reply page = send("GET", QStringLiteral("/oauth/v2/authorize?") + encoded);
        QCOMPARE(page.status, 200);
        QVERIFY(page.body.contains(">Allow</a>"));

        const Reply allowed = send("GET", QStringLiteral("/oauth/v2/authorize/allow?") + encoded);
        QCOMPARE(allowed.status, 302);
        const QUrl toBackend(allowed.location);
        QCOMPARE(toBackend.toString(QUrl::RemoveQuery), redirect);
        const QUrlQuery backQuery(toBackend);
        QCOMPARE(backQuery.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded), state);
        const QString code = backQuery.queryItemValue(QStringLiteral("code"));

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

        QCOMPARE(api("POST", QStringLiteral("slack/exchange"),
                     toJson({{"code", code}, {"redirect_uri", "http://elsewhere/"}}))
                     .status,
                 400);
        const Reply token = api("POST", QStringLiteral("slack/exchange"),
                                toJson({{"code", code}, {"redirect_uri", redirect}}));
        QCOMPARE(token.status, 200);
        QVERIFY(token.json()
                    .value(QStringLiteral("accessToken"))
                    .toString()
                    .startsWith(QStringLiteral("xoxp-demo-")));
        QCOMPARE(api("POST", QStringLiteral("slack/exchange"),
                     toJson({{"code", code}, {"redirect_uri", redirect}}))
                     .status,
                 400);
    }

    void slackCallbackWithoutPort_data() {
        QTest::addColumn<QString>("state");
        QTest::newRow("bare uuid") << "0F2B5C1E-9A7D-4C3B-8E6F-1A2B3C4D5E6F";
        QTest::newRow("port not a number") << "abc:http";
        QTest::newRow("port out of range") << "abc:70000";
        QTest::newRow("no state") << QString();
    }
    void slackCallbackWithoutPort() {
        QFETCH(QString, state);
        QString path = QStringLiteral("/functions/v1/api/slack/callback?code=C");
        if (!state.isNull())
            path += QStringLiteral("&state=") + state;
        const Reply reply = send("GET", path);
        QCOMPARE(reply.status, 400);
        QVERIFY(reply.body.contains("<html"));
    }

    void slackSearch_data() {
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("matches");
        QTest::newRow("no token") << QByteArray() << "from:<priya.shah@northwind-labs.test>"
                                  << "not_authed" << 0;
        QTest::newRow("bot token")
            << QByteArray("Bearer xoxb-1") << "from:<priya.shah@northwind-labs.test>"
            << "invalid_auth" << 0;
        QTest::newRow("from") << QByteArray("Bearer xoxp-demo-1")
                              << "from:<priya.shah@northwind-labs.test>"
                              << "" << 1;
        QTest::newRow("to") << QByteArray("Bearer xoxp-demo-1")
                            << "to:<priya.shah@northwind-labs.test>"
                            << "" << 1;
        QTest::newRow("stranger") << QByteArray("Bearer xoxp-demo-1")
                                  << "from:<nobody@nowhere.test>"
                                  << "" << 0;
    }
    void slackSearch() {
        QFETCH(QByteArray, authorization);
        QFETCH(QString, query);
        QFETCH(QString, error);
        QFETCH(int, matches);
        QUrlQuery items;
        items.addQueryItem(QStringLiteral("query"),
                           QString::fromLatin1(QUrl::toPercentEncoding(query)));
        items.addQueryItem(QStringLiteral("sort"), QStringLiteral("timestamp"));
        items.addQueryItem(QStringLiteral("sort_dir"), QStringLiteral("desc"));
        items.addQueryItem(QStringLiteral("count"), QStringLiteral("20"));
        const Reply reply =
            send("GET", QStringLiteral("/api/search.messages?") + items.query(QUrl::FullyEncoded),
                 {}, authorization);
        QCOMPARE(reply.status, 200);
        const QJsonObject json = reply.json();
        QCOMPARE(json.value(QStringLiteral("ok")).toBool(), error.isEmpty());
        if (!error.isEmpty()) {
            QCOMPARE(json.value(QStringLiteral("error")).toString(), error);
            return;
        }
        const QJsonArray found =
            json[QStringLiteral("messages")][QStringLiteral("matches")].toArray();
        QCOMPARE(found.size(), matches);
        for (const QJsonValue &match : found) {
            for (const char *key : {"text", "username", "ts", "permalink"})
                QVERIFY2(match[QLatin1String(key)].isString(), key);
            QVERIFY(match[QStringLiteral("channel")][QStringLiteral("name")].isString());
        }
    }

    void faults_data() {
        QTest::addColumn<QJsonObject>("fault");
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<QByteArray>("faultBody");
        QTest::newRow("status") << QJsonObject{{"status", 500}} << QList<int>{500, 500}
                                << QByteArray();
        QTest::newRow("body") << QJsonObject{{"body", "{\"data\": 7}"}} << QList<int>{200, 200}
                              << QByteArray("{\"data\": 7}");
        QTest::newRow("body and status") << QJsonObject{{"body", "<html>oops"}, {"status", 502}}
                                         << QList<int>{502} << QByteArray("<html>oops");
        QTest::newRow("third call") << QJsonObject{{"status", 503}, {"skip", 2}}
                                    << QList<int>{200, 200, 503, 503} << QByteArray();
        QTest::newRow("once") << QJsonObject{{"status", 500}, {"times", 1}}
                              << QList<int>{500, 200, 200} << QByteArray();
        QTest::newRow("skip then once") << QJsonObject{{"status", 500}, {"skip", 1}, {"times", 1}}
                                        << QList<int>{200, 500, 200} << QByteArray();
    }
    void faults() {
        QFETCH(QJsonObject, fault);
        QFETCH(QList<int>, statuses);
        QFETCH(QByteArray, faultBody);
        const QString grantId = createGrant();
        fault.insert(QStringLiteral("endpoint"), QStringLiteral("nylas/calendars"));
        QCOMPARE(send("POST", QStringLiteral("/_admin/faults"), toJson(fault)).status, 200);
        for (int expected : statuses) {
            const Reply reply = api("GET", QStringLiteral("nylas/calendars?grantId=") + grantId);
            QCOMPARE(reply.status, expected);
            const bool faulted = expected != 200 || !faultBody.isEmpty();
            if (!faultBody.isEmpty())
                QCOMPARE(reply.body, faultBody);
            else if (!faulted)
                QCOMPARE(reply.json().value(QStringLiteral("data")).toArray().size(), 2);
        }
        // Other endpoints are untouched, and clearing restores the endpoint.
        QCOMPARE(api("GET", QStringLiteral("nylas/messages?grantId=%1&q=x").arg(grantId)).status,
                 200);
        QCOMPARE(send("DELETE", QStringLiteral("/_admin/faults")).status, 200);
        QCOMPARE(api("GET", QStringLiteral("nylas/calendars?grantId=") + grantId).status, 200);
    }

    void delayFault() {
        QCOMPARE(send("POST", QStringLiteral("/_admin/faults"),
                      toJson({{"endpoint", "sms"}, {"delayMs", 1500}, {"times", 1}}))
                     .status,
                 200);
        QElapsedTimer timer;
        timer.start();
        const Reply reply = api("POST", QStringLiteral("sms"),
                                toJson({{"credential", "c"}, {"to", "1"}, {"body", "b"}}));
        QVERIFY(timer.elapsed() >= 1400);
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json().value(QStringLiteral("remaining")).toInt(), 49);
    }

    void clientHangsUpDuringDelay() {
        QCOMPARE(send("POST", QStringLiteral("/_admin/faults"),
                      toJson({{"endpoint", "sms"}, {"delayMs", 500}, {"times", 1}}))
                     .status,
                 200);
        {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_backend->port());
            QVERIFY(socket.waitForConnected(5'000));
            const QByteArray body = "{\"credential\":\"c\",\"to\":\"1\",\"body\":\"b\"}";
            socket.write("POST /functions/v1/api/sms HTTP/1.1\r\nContent-Length: " +
                         QByteArray::number(body.size()) + "\r\n\r\n" + body);
            QVERIFY(socket.waitForBytesWritten(5'000));
            QTest::qWait(100);
            socket.abort();
        }
        // The delayed answer has nowhere to go once the client is gone; the server carries on.
        QTest::qWait(700);
        const Reply reply = api("POST", QStringLiteral("sms"),
                                toJson({{"credential", "c"}, {"to", "1"}, {"body", "b"}}));
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json().value(QStringLiteral("remaining")).toInt(), 48);
    }

    void invalidFaultsAreRefused_data() {
        QTest::addColumn<QJsonObject>("fault");
        QTest::newRow("no endpoint") << QJsonObject{{"status", 500}};
        QTest::newRow("nothing to do") << QJsonObject{{"endpoint", "sms"}};
        QTest::newRow("status out of range") << QJsonObject{{"endpoint", "sms"}, {"status", 1000}};
        QTest::newRow("fractional skip")
            << QJsonObject{{"endpoint", "sms"}, {"status", 500}, {"skip", 1.5}};
        QTest::newRow("zero times")
            << QJsonObject{{"endpoint", "sms"}, {"status", 500}, {"times", 0}};
        QTest::newRow("body not text") << QJsonObject{{"endpoint", "sms"}, {"body", 5}};
    }
    void invalidFaultsAreRefused() {
        QFETCH(QJsonObject, fault);
        QCOMPARE(send("POST", QStringLiteral("/_admin/faults"), toJson(fault)).status, 400);
    }

    void requestLog() {
        m_authorization = "Bearer abc";
        const QString grantId = createGrant();
        api("GET", QStringLiteral("nylas/messages?grantId=%1&q=a%40b.test&limit=5").arg(grantId));
        m_authorization.clear();
        api("POST", QStringLiteral("sms"), "{\"credential\":\"c\",\"to\":\"1\",\"body\":\"b\"}");
        const QJsonArray requests = send("GET", QStringLiteral("/_admin/requests"))
                                        .json()
                                        .value(QStringLiteral("requests"))
                                        .toArray();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(
            requests[0].toObject(),
            (QJsonObject{{"method", "GET"},
                         {"path", "/functions/v1/api/nylas/messages"},
                         {"query", QStringLiteral("grantId=%1&q=a%40b.test&limit=5").arg(grantId)},
                         {"authorization", "Bearer abc"},
                         {"body", ""}}));
        QCOMPARE(requests[1][QStringLiteral("authorization")], QJsonValue(QJsonValue::Null));
        QCOMPARE(requests[1][QStringLiteral("body")].toString(),
                 QStringLiteral("{\"credential\":\"c\",\"to\":\"1\",\"body\":\"b\"}"));
        QCOMPARE(send("DELETE", QStringLiteral("/_admin/requests")).status, 200);
        QCOMPARE(send("GET", QStringLiteral("/_admin/requests"))
                     .json()
                     .value(QStringLiteral("requests"))
                     .toArray()
                     .size(),
                 0);
    }

    void malformedRequests_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        const QByteArray ok = "GET /functions/v1/api/sms HTTP/1.1\r\nHost: x\r\n";
        QTest::newRow("garbage") << QByteArray("\x16\x03\x01\x02\x00garbage\r\n\r\n", 17) << 400;
        QTest::newRow("empty request line") << QByteArray("\r\n\r\n") << 400;
        QTest::newRow("two words") << QByteArray("GET /\r\n\r\n") << 400;
        QTest::newRow("lower-case method") << QByteArray("get / HTTP/1.1\r\n\r\n") << 400;
        QTest::newRow("HTTP/2") << QByteArray("GET / HTTP/2.0\r\n\r\n") << 400;
        QTest::newRow("absolute target") << QByteArray("GET http://x/ HTTP/1.1\r\n\r\n") << 400;
        QTest::newRow("bad escape in path") << QByteArray("GET /a%zz HTTP/1.1\r\n\r\n") << 400;
        QTest::newRow("non-UTF-8 path") << QByteArray("GET /a%ff HTTP/1.1\r\n\r\n") << 400;
        QTest::newRow("non-UTF-8 target") << QByteArray("GET /a?\xff HTTP/1.1\r\n\r\n") << 400;
        QTest::newRow("header without colon") << ok + "Broken header\r\n\r\n" << 400;
        QTest::newRow("folded header") << ok + " continued\r\n\r\n" << 400;
        QTest::newRow("non-UTF-8 header") << ok + "X-Name: \xc3\x28\r\n\r\n" << 400;
        QTest::newRow("negative length") << ok + "Content-Length: -1\r\n\r\n" << 400;
        QTest::newRow("length with text") << ok + "Content-Length: 12abc\r\n\r\n" << 400;
        QTest::newRow("conflicting lengths")
            << ok + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nab" << 400;
        QTest::newRow("huge length") << ok + "Content-Length: 99999999999\r\n\r\n" << 413;
        QTest::newRow("chunked") << ok + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n" << 400;
        QTest::newRow("non-UTF-8 body") << ok + "Content-Length: 2\r\n\r\n\xff\xfe" << 400;
        QTest::newRow("oversized head") << ok + "X-Big: " + QByteArray(17 * 1024, 'a') + "\r\n\r\n"
                                        << 400;
        QTest::newRow("endless head") << ok + "X-Big: " + QByteArray(17 * 1024, 'a') << 400;
    }
    void malformedRequests() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        const QByteArray answer = rawExchange(bytes);
        QVERIFY2(answer.startsWith("HTTP/1.1 " + QByteArray::number(status) + ' '),
                 answer.left(80).constData());
        // The server keeps serving.
        QCOMPARE(send("GET", QStringLiteral("/_admin/sms")).status, 200);
    }

    void requestInPieces() {
        // A request split across writes is still one request.
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_backend->port());
        QVERIFY(socket.waitForConnected(5'000));
        const QByteArray body = "{\"credential\":\"c\",\"to\":\"1\",\"body\":\"split\"}";
        const QByteArray request = "POST /functions/v1/api/sms HTTP/1.1\nContent-Length: " +
                                   QByteArray::number(body.size()) + "\n\n" + body;
        for (qsizetype at = 0; at < request.size(); at += 7) {
            socket.write(request.mid(at, 7));
            QVERIFY(socket.waitForBytesWritten(5'000));
            QTest::qWait(1);
        }
        QByteArray answer;
        while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5'000))
            answer += socket.readAll();
        QVERIFY2(answer.startsWith("HTTP/1.1 200 "), answer.constData());
        QVERIFY(answer.contains("Connection: close"));
        QVERIFY(answer.endsWith("{\"remaining\":49,\"success\":true}"));
    }

    void unknownPaths_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::newRow("root") << QByteArray("GET") << "/" << 404;
        QTest::newRow("api root") << QByteArray("GET") << "/functions/v1/api/" << 404;
        QTest::newRow("sms by GET") << QByteArray("GET") << "/functions/v1/api/sms" << 405;
        QTest::newRow("admin unknown") << QByteArray("GET") << "/_admin/nothing" << 404;
    }
    void unknownPaths() {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(int, status);
        QCOMPARE(send(method, path).status, status);
    }
};

QTEST_GUILESS_MAIN(TestBackend)
#include "tst_backend.moc"
