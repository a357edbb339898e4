// The backend serving real accounts: the binary with a configuration, against a fake Google
// on loopback.
#include "BackendProcess.h"
#include "FakeGoogle.h"
#include "FakeMicrosoft.h"
#include "FakeSlackAndSms.h"
#include "LiveRouter.h"
#include "PostgresServer.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QUrlQuery>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray credentialA = "cred-alpha-0123456789abcdef";
const QByteArray credentialB = "cred-bravo-0123456789abcdef";

qint64 utc(const char *text) {
    return QDateTime::fromString(QLatin1String(text), Qt::ISODate).toSecsSinceEpoch();
}

QJsonObject parse(const char *json) {
    return QJsonDocument::fromJson(json).object();
}

// Google events.list items: a Meet call, a moved and a cancelled occurrence of a series with a
// Zoom link, and an all-day event over two days.
QJsonArray googleEvents() {
    return {
        parse(
            R"({"id":"design","status":"confirmed","summary":"Design review",)"
            R"("start":{"dateTime":"2026-12-08T10:00:00+01:00"},)"
            R"("end":{"dateTime":"2026-12-08T11:00:00+01:00"},)"
            R"("hangoutLink":"https://meet.google.com/abc-defg-hij",)"
            R"("organizer":{"email":"alex@example.test","self":true},)"
            R"("attendees":[{"email":"ann@x.test","displayName":"Ann","responseStatus":"accepted"},)"
            R"({"email":"bo@y.test","responseStatus":"tentative"},)"
            R"({"email":"cy@y.test","responseStatus":"needsAction"},)"
            R"({"email":"di@y.test","responseStatus":"declined"},)"
            R"({"displayName":"Room 4","resource":true}]})"),
        parse(
            R"({"id":"weekly_20261209T090000Z","status":"confirmed","summary":"Weekly sync",)"
            R"("recurringEventId":"weekly","originalStartTime":{"dateTime":"2026-12-09T09:00:00Z"},)"
            R"("start":{"dateTime":"2026-12-09T13:00:00Z"},"end":{"dateTime":"2026-12-09T13:30:00Z"},)"
            R"("conferenceData":{"conferenceSolution":{"name":"Zoom Meeting"},)"
            R"("entryPoints":[{"entryPointType":"phone","uri":"tel:+1-555-0100"},)"
            R"({"entryPointType":"video","uri":"https://zoom.us/j/123"}]}})"),
        parse(
            R"({"id":"weekly_20261216T090000Z","status":"cancelled",)"
            R"("recurringEventId":"weekly","originalStartTime":{"dateTime":"2026-12-16T09:00:00Z"}})"),
        parse(R"({"id":"offsite","status":"confirmed","summary":"Offsite",)"
              R"("start":{"date":"2026-12-10"},"end":{"date":"2026-12-12"}})"),
    };
}

// Gmail messages in the "full" format: a display name in quotes, a bare address, an escaped
// snippet.
QJsonArray gmailMessages() {
    return {
        parse(
            R"({"id":"18c1","threadId":"18b0","labelIds":["INBOX"],)"
            R"("snippet":"Agenda &amp; slides &#x2014; see you &lt;Tuesday&gt; &#8230;","internalDate":"1796545800123",)"
            R"("payload":{"mimeType":"multipart/alternative","headers":[)"
            R"({"name":"Delivered-To","value":"alex@example.test"},)"
            R"({"name":"From","value":"\u0022Lind, Ann\u0022 <ann@x.test>"},)"
            R"({"name":"Subject","value":"Design review prep"}]}})"),
        parse(R"({"id":"18c2","threadId":"18c2","snippet":"Short note",)"
              R"("internalDate":"1796450000000","payload":{"headers":[)"
              R"({"name":"From","value":"bo@y.test"}]}})"),
        parse(
            R"({"id":"18c3","threadId":"18c3","snippet":"Unrelated",)"
            R"("internalDate":"1796400000000","payload":{"headers":[)"
            R"({"name":"From","value":"Zed <zed@z.test>"},{"name":"Subject","value":"Lunch"}]}})"),
    };
}

// Graph message resources, newest first.
QJsonArray graphMessages() {
    return {
        parse(R"({"id":"AAMkAD-1","subject":"Contract draft","bodyPreview":"See the draft",)"
              R"("receivedDateTime":"2026-12-06T08:30:00Z","conversationId":"AAQkAD-c1",)"
              R"("from":{"emailAddress":{"name":"Kim Berg","address":"kim@fabrikam.test"}},)"
              R"("isRead":false})"),
        parse(R"({"id":"AAMkAD-2","subject":"Re: Contract draft","bodyPreview":"Thanks",)"
              R"("receivedDateTime":"2026-12-05T17:00:00Z","conversationId":"AAQkAD-c1",)"
              R"("from":{"emailAddress":{"address":"kim@fabrikam.test"}}})"),
        parse(R"({"id":"AAMkAD-3","subject":"Newsletter","bodyPreview":"News",)"
              R"("receivedDateTime":"2026-12-04T17:00:00Z",)"
              R"("from":{"emailAddress":{"name":"News","address":"news@other.test"}}})"),
    };
}

} // namespace

class TestLiveBackend : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    FakeGoogle m_google;
    FakeMicrosoft m_microsoft;
    FakeSlackAndSms m_slackSms;
    std::unique_ptr<BackendProcess> m_backend;
    const QString m_redirect = u"http://127.0.0.1:8976/nylas/callback"_s;
    static constexpr int smsAllowance = 3;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    QByteArray configText() const {
        const QString google =
            u"[google]\nclient_id = %1\nclient_secret = %2\nauth_origin = %3\n"
            "token_origin = %3\napi_origin = %3/\n"_s.arg(
                FakeGoogle::clientId, FakeGoogle::clientSecret, m_google.origin());
        const QString microsoft =
            u"[microsoft]\nclient_id = %1\nclient_secret = %2\nlogin_origin = %3\n"
            "graph_origin = %3\n"_s.arg(FakeMicrosoft::clientId, FakeMicrosoft::clientSecret,
                                        m_microsoft.origin());
        const QString slack = u"[slack]\nclient_id = %1\nclient_secret = %2\norigin = %3\n"_s.arg(
            FakeSlackAndSms::slackClientId, FakeSlackAndSms::slackClientSecret,
            m_slackSms.origin());
        const QString sms =
            u"[sms]\naccount = %1\ntoken = %2\nsender = %3\ndaily_limit = %4\norigin = %5\n"_s
                .arg(FakeSlackAndSms::account, FakeSlackAndSms::authToken, FakeSlackAndSms::sender)
                .arg(smsAllowance)
                .arg(m_slackSms.origin());
        return (u"# a test backend\n[server]\npublic_url = https://zelvane.example.test\n"
                "port = 0\ndatabase = %1\ntoken_key_file = %2\ncredentials_file = %3\n\n"_s.arg(
                    path(u"grants.sqlite"_s), path(u"token.key"_s), path(u"credentials"_s)) +
                google + microsoft + slack + sms)
            .toUtf8();
    }

    static bool write(const QString &file, const QByteArray &bytes,
                      QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner) {
        QFile out(file);
        return out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(bytes) &&
               out.setPermissions(permissions);
    }

    // A backend on the test's configuration (or `arguments`), its errors going to `log`.
    std::unique_ptr<BackendProcess> process(const QString &log = u"backend.log"_s,
                                            std::optional<QStringList> arguments = {}) const {
        auto backend = std::make_unique<BackendProcess>(
            arguments.value_or(QStringList{u"--config"_s, path(u"backend.conf"_s)}),
            BackendProcess::Admin::off, BackendProcess::Mode::live);
        backend->captureErrorsIn(path(log));
        return backend;
    }

    bool startBackend(std::optional<QStringList> arguments = {}) {
        m_backend = process(u"backend.log"_s, arguments);
        return m_backend->start();
    }

    static BackendProcess::Reply apiOn(BackendProcess &backend, const QByteArray &method,
                                       const QString &endpoint, const QJsonObject &body = {},
                                       const QByteArray &credential = credentialA) {
        return backend.request(method, u"/functions/v1/api/"_s + endpoint, body,
                               credential.isEmpty() ? QByteArray() : "Bearer " + credential);
    }
    BackendProcess::Reply api(const QByteArray &method, const QString &endpoint,
                              const QJsonObject &body = {},
                              const QByteArray &credential = credentialA) {
        return apiOn(*m_backend, method, endpoint, body, credential);
    }

    QUrl authUrl(const QString &provider = u"google"_s, const QString &redirect = {},
                 const QByteArray &credential = credentialA) {
        const QJsonObject body{{"provider", provider},
                               {"redirectURI", redirect.isEmpty() ? m_redirect : redirect}};
        return QUrl(
            api("POST", u"nylas/auth-url"_s, body, credential).json()[u"authUrl"_s].toString());
    }

    // The code the provider's consent page hands back.
    QString consent(const QString &provider = u"google"_s,
                    const QByteArray &credential = credentialA) {
        const QUrl url = authUrl(provider, {}, credential);
        return provider == u"google"_s ? m_google.consent(url) : m_microsoft.consent(url);
    }

    // Sign-in as the app does it: the address, the user's consent, the exchange.
    QJsonObject signIn(const QByteArray &credential = credentialA,
                       const QString &provider = u"google"_s) {
        const QString code = consent(provider, credential);
        if (code.isEmpty())
            return {};
        return api("POST", u"nylas/exchange-token"_s, {{"code", code}, {"redirectURI", m_redirect}},
                   credential)
            .json();
    }

    BackendProcess::Reply events(const QString &grantId, const QString &extra = {}) {
        return api("GET", u"nylas/events?grantId=%1&calendarId=primary&start=%2&end=%3&limit=50%4"_s
                              .arg(grantId)
                              .arg(utc("2026-12-07T00:00:00Z"))
                              .arg(utc("2027-03-07T00:00:00Z"))
                              .arg(extra));
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_google.start());
        QVERIFY(m_microsoft.start());
        QVERIFY(m_slackSms.start());
    }

    void init() {
        m_google.calendars = {
            parse("{\"id\":\"alex@example.test\",\"summary\":\"alex@example.test\","
                  "\"backgroundColor\":\"#9fe1e7\",\"primary\":true}"),
            parse("{\"id\":\"team@group.calendar.google.com\",\"summary\":\"Team\","
                  "\"summaryOverride\":\"Our team\",\"backgroundColor\":\"#f83a22\"}")};
        m_google.events = googleEvents();
        m_google.expiresIn = 3600;
        m_google.eventFaults.clear();
        m_google.refuseAccess = 0;
        m_google.mail = gmailMessages();
        m_google.vanished.clear();
        m_google.messageFaults.clear();
        m_microsoft.mail = graphMessages();
        m_microsoft.expiresIn = 3600;
        m_slackSms.slackFaults.clear();
        m_slackSms.smsFaults.clear();
        m_google.revokedTokens.clear();
        m_google.validRefresh.clear();
        m_google.validAccess.clear();
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(path(u"grants.sqlite"_s) + QLatin1String(suffix));
        QByteArray key(32, '\0');
        for (int i = 0; i < key.size(); ++i)
            key[i] = char(i * 37 + 11);
        QVERIFY(write(path(u"token.key"_s), key));
        QVERIFY(write(path(u"credentials"_s),
                      "# two users\n" + credentialA + "\n\n" + credentialB + "\n"));
        QVERIFY(write(path(u"backend.conf"_s), configText()));
        // The message is built only on failure: reading the log waits for the process to end.
        if (!startBackend())
            QFAIL(qPrintable(m_backend->error() + m_backend->errorOutput()));
    }

    void cleanup() { m_backend.reset(); }

    // The consent address carries what Google needs for offline access with PKCE; the grant,
    // its calendars and a page of events come back in the contract's shapes.
    void signInToEvents() {
        const QJsonObject grant = signIn();
        const QString grantId = grant[u"grantId"_s].toString();
        QVERIFY2(QRegularExpression(u"^[0-9a-f]{32}$"_s).match(grantId).hasMatch(),
                 qPrintable(grantId));
        QCOMPARE(grant[u"provider"_s].toString(), u"google"_s);
        QCOMPARE(grant[u"email"_s].toString(), FakeGoogle::email);

        const QJsonArray calendars =
            api("GET", u"nylas/calendars?grantId="_s + grantId).json()[u"data"_s].toArray();
        QCOMPARE(calendars.size(), 2);
        const QJsonObject primary =
            parse("{\"id\":\"alex@example.test\","
                  "\"name\":\"alex@example.test\",\"hex_color\":\"#9fe1e7\",\"is_primary\":true}");
        QCOMPARE(calendars[0].toObject(), primary);
        QCOMPARE(calendars[1][u"name"_s].toString(), u"Our team"_s);
        QCOMPARE(calendars[1][u"is_primary"_s].toBool(), false);

        const BackendProcess::Reply reply = events(grantId);
        QCOMPARE(reply.status, 200);
        const QJsonArray data = reply.json()[u"data"_s].toArray();
        QCOMPARE(data.size(), 4);
        const QJsonObject design = data[0].toObject();
        QCOMPARE(design[u"when"_s].toObject(),
                 (QJsonObject{{"start_time", utc("2026-12-08T09:00:00Z")},
                              {"end_time", utc("2026-12-08T10:00:00Z")}}));
        QCOMPARE(design[u"conferencing"_s][u"details"_s][u"url"_s].toString(),
                 u"https://meet.google.com/abc-defg-hij"_s);
        QStringList statuses;
        for (const QJsonValue &p : design[u"participants"_s].toArray())
            statuses << p[u"email"_s].toString() + u'=' + p[u"status"_s].toString();
        QCOMPARE(statuses, (QStringList{"ann@x.test=yes", "bo@y.test=maybe", "cy@y.test=noreply",
                                        "di@y.test=no"}));
        QCOMPARE(design[u"participants"_s][0][u"name"_s].toString(), u"Ann"_s);
        QCOMPARE(design[u"organizer"_s][u"email"_s].toString(), u"alex@example.test"_s);
        QCOMPARE(data[1][u"when"_s][u"start_time"_s].toInteger(), utc("2026-12-09T13:00:00Z"));
        const QJsonObject zoom = parse(
            "{\"provider\":\"Zoom Meeting\",\"details\":{\"url\":\"https://zoom.us/j/123\"}}");
        QCOMPARE(data[1][u"conferencing"_s].toObject(), zoom);
        QCOMPARE(data[2][u"status"_s].toString(), u"cancelled"_s);
        QCOMPARE(data[2][u"when"_s][u"start_time"_s].toInteger(), utc("2026-12-16T09:00:00Z"));
        QCOMPARE(data[3][u"when"_s].toObject(),
                 (QJsonObject{{"start_date", "2026-12-10"}, {"end_date", "2026-12-11"}}));

        const QUrlQuery asked =
            FakeGoogle::query(m_google.requestsTo(FakeGoogle::eventsPath).last());
        QCOMPARE(asked.queryItemValue(u"singleEvents"_s), u"true"_s);
        QCOMPARE(asked.queryItemValue(u"orderBy"_s), u"startTime"_s);
        QCOMPARE(asked.queryItemValue(u"timeMin"_s, QUrl::FullyDecoded), u"2026-12-07T00:00:00Z"_s);
        QCOMPARE(asked.queryItemValue(u"timeMax"_s, QUrl::FullyDecoded), u"2027-03-07T00:00:00Z"_s);
        QCOMPARE(asked.queryItemValue(u"maxResults"_s), u"50"_s);
    }

    // Google's page token is the contract's cursor, both ways.
    void paging() {
        const QString grantId = signIn()[u"grantId"_s].toString();
        const QJsonObject first =
            api("GET", u"nylas/events?grantId=%1&calendarId=primary&limit=3"_s.arg(grantId)).json();
        QCOMPARE(first[u"data"_s].toArray().size(), 3);
        const QString cursor = first[u"next_cursor"_s].toString();
        QCOMPARE(cursor, u"page_3"_s);
        const QJsonObject second =
            api("GET", u"nylas/events?grantId=%1&calendarId=primary&limit=3&page_token=%2"_s.arg(
                           grantId, cursor))
                .json();
        QCOMPARE(second[u"data"_s][0][u"id"_s].toString(), u"offsite"_s);
        QVERIFY(!second.contains(u"next_cursor"_s));
    }

    // Tokens and PKCE verifiers never reach the database file in clear, and a grant survives a
    // restart (the schema is already current the second time).
    void tokensAreSealedAtRest() {
        const QString grantId = signIn()[u"grantId"_s].toString();
        QVERIFY(!grantId.isEmpty());
        authUrl();
        m_backend->stop();
        QByteArray stored;
        for (const QString &file : QDir(m_dir.path()).entryList({u"grants.sqlite*"_s})) {
            QFile in(path(file));
            QVERIFY(in.open(QIODevice::ReadOnly));
            stored += in.readAll();
        }
        QVERIFY(stored.contains(FakeGoogle::email.toUtf8()));
        QVERIFY(!m_google.issuedTokens.isEmpty());
        for (const QString &token : m_google.issuedTokens)
            QVERIFY2(!stored.contains(token.toUtf8()), qPrintable(token));
        QVERIFY(!stored.contains(credentialA));

        QVERIFY(startBackend());
        QCOMPARE(events(grantId).status, 200);
    }

    // Two processes behind one load balancer on PostgreSQL share sign-ins, grants, token
    // renewals and the day's text messages.
    void twoProcessesShareOnePostgresDatabase() {
        if (!QSqlDatabase::isDriverAvailable(u"QPSQL"_s))
            QSKIP("Qt's PostgreSQL driver is not installed (scripts/setup-deps)");
        PostgresServer postgres;
        QString why;
        if (!postgres.start(&why))
            QSKIP(qPrintable(why));
        m_backend->stop();
        QByteArray config = configText();
        config.replace(path(u"grants.sqlite"_s).toUtf8(), postgres.address().toUtf8());
        QVERIFY(config.contains("database = postgresql://"));
        QVERIFY(write(path(u"backend.conf"_s), config));
        QVERIFY(startBackend());
        const auto second = process(u"second.log"_s);
        QVERIFY(second->start());

        m_microsoft.expiresIn = 30; // every request renews, rotating the refresh token
        const QString grantId =
            apiOn(*second, "POST", u"nylas/exchange-token"_s,
                  {{"code", consent(u"microsoft"_s)}, {"redirectURI", m_redirect}})
                .json()[u"grantId"_s]
                .toString();
        QVERIFY(!grantId.isEmpty());
        for (int round = 0; round < 2; ++round) {
            QCOMPARE(api("GET", u"nylas/calendars?grantId="_s + grantId).status, 200);
            QCOMPARE(apiOn(*second, "GET", u"nylas/calendars?grantId="_s + grantId).status, 200);
        }
        QCOMPARE(api("GET", u"nylas/calendars?grantId="_s + grantId, {}, credentialB).status, 404);
        const QJsonObject message{{"credential", QString::fromLatin1(credentialA)},
                                  {"to", "+4917012345"},
                                  {"body", "hi"}};
        QCOMPARE(api("POST", u"sms"_s, message, {}).json()[u"remaining"_s].toInt(),
                 smsAllowance - 1);
        QCOMPARE(apiOn(*second, "POST", u"sms"_s, message, {}).json()[u"remaining"_s].toInt(),
                 smsAllowance - 2);
        QCOMPARE(api("DELETE", u"nylas/grant"_s, {{"grant_id", grantId}}).status, 200);
        QCOMPARE(apiOn(*second, "GET", u"nylas/calendars?grantId="_s + grantId).status, 404);
        m_backend->stop();
        second->stop();
    }

    // Two processes behind one load balancer share the file: a sign-in started on one
    // completes on the other. Microsoft rotates refresh tokens: requests of one grant racing on
    // both processes each renew the token; the one whose old token was already rotated away
    // takes the newer one from the file instead of ending the grant.
    void twoProcessesShareOneFile() {
        m_microsoft.expiresIn = 30; // every request renews
        const auto second = process(u"second.log"_s);
        QVERIFY(second->start());
        const QString grantId =
            apiOn(*second, "POST", u"nylas/exchange-token"_s,
                  {{"code", consent(u"microsoft"_s)}, {"redirectURI", m_redirect}})
                .json()[u"grantId"_s]
                .toString();
        QVERIFY(!grantId.isEmpty());
        QNetworkAccessManager network;
        std::vector<std::unique_ptr<QNetworkReply>> replies;
        for (int round = 0; round < 3; ++round)
            for (const QString &origin : {m_backend->origin(), second->origin()}) {
                QNetworkRequest request(
                    QUrl(origin + u"/functions/v1/api/nylas/calendars?grantId="_s + grantId));
                request.setRawHeader("Authorization", "Bearer " + credentialA);
                replies.emplace_back(network.get(request));
            }
        QVERIFY(QTest::qWaitFor(
            [&] {
                return std::all_of(replies.begin(), replies.end(),
                                   [](const auto &reply) { return reply->isFinished(); });
            },
            15'000));
        for (const auto &reply : replies)
            QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        QCOMPARE(api("GET", u"nylas/calendars?grantId="_s + grantId).status, 200);
    }

    // Short of descriptors, the backend leaves a crowd of idle clients in the backlog instead of
    // failing on the database or its provider calls, and serves once they hang up.
    void crowdWithFewDescriptors() {
        const QString grantId = signIn()[u"grantId"_s].toString();
        m_backend = process();
        m_backend->limitOpenFiles(64);
        QVERIFY(m_backend->start());
        std::vector<std::unique_ptr<QTcpSocket>> crowd;
        for (int i = 0; i < 150; ++i) {
            crowd.push_back(std::make_unique<QTcpSocket>());
            crowd.back()->connectToHost(QHostAddress::LocalHost, m_backend->port());
        }
        QTest::qWait(500);
        QCOMPARE_LT(m_backend->openFiles(), 64);
        crowd.clear();
        QVERIFY(QTest::qWaitFor([&] { return events(grantId).status == 200; }, 10'000));
    }

    // Microsoft: sign-in, calendars and calendarView in the contract's shapes, @odata.nextLink
    // as the cursor (only Graph's own), and refresh tokens that rotate on every use.
    void microsoftSignInToEvents() {
        m_microsoft.calendars = {
            parse(R"({"id":"AAMk-default","name":"Calendar","hexColor":"#ff8c00",)"
                  R"("isDefaultCalendar":true})"),
            parse(R"({"id":"AAMk-other","name":"Birthdays","hexColor":""})")};
        m_microsoft.events = {
            parse(R"({"id":"teams","subject":"Planning","isCancelled":false,"isAllDay":false,)"
                  R"("start":{"dateTime":"2026-12-08T09:00:00.0000000","timeZone":"UTC"},)"
                  R"("end":{"dateTime":"2026-12-08T09:30:00.0000000","timeZone":"UTC"},)"
                  R"("onlineMeetingProvider":"teamsForBusiness",)"
                  R"("onlineMeeting":{"joinUrl":"https://teams.microsoft.com/l/meetup-join/1"},)"
                  R"("organizer":{"emailAddress":{"name":"Sam","address":"sam@contoso.test"}},)"
                  R"("attendees":[{"type":"required","status":{"response":"tentativelyAccepted"},)"
                  R"("emailAddress":{"name":"Kim","address":"kim@fabrikam.test"}},)"
                  R"({"type":"optional","status":{"response":"none"},)"
                  R"("emailAddress":{"address":"lee@fabrikam.test"}}]})"),
            parse(R"({"id":"gone","subject":"Moved away","isCancelled":true,"isAllDay":false,)"
                  R"("start":{"dateTime":"2026-12-09T10:00:00.0000000","timeZone":"UTC"},)"
                  R"("end":{"dateTime":"2026-12-09T11:00:00.0000000","timeZone":"UTC"}})"),
            parse(R"({"id":"holiday","subject":"Holiday","isAllDay":true,)"
                  R"("start":{"dateTime":"2026-12-24T00:00:00.0000000","timeZone":"UTC"},)"
                  R"("end":{"dateTime":"2026-12-25T00:00:00.0000000","timeZone":"UTC"}})")};
        m_microsoft.expiresIn = 30;
        const QJsonObject grant = signIn(credentialA, u"microsoft"_s);
        QCOMPARE(grant[u"provider"_s].toString(), u"microsoft"_s);
        QCOMPARE(grant[u"email"_s].toString(), FakeMicrosoft::email);
        const QString grantId = grant[u"grantId"_s].toString();

        const QJsonArray calendars =
            api("GET", u"nylas/calendars?grantId="_s + grantId).json()[u"data"_s].toArray();
        QCOMPARE(calendars.size(), 2);
        QCOMPARE(calendars[0][u"is_primary"_s].toBool(), true);
        QCOMPARE(calendars[0][u"hex_color"_s].toString(), u"#ff8c00"_s);
        QVERIFY(!calendars[1].toObject().contains(u"hex_color"_s));

        const QString first =
            u"nylas/events?grantId=%1&calendarId=primary&start=%2&end=%3&limit=2"_s.arg(grantId)
                .arg(utc("2026-12-07T00:00:00Z"))
                .arg(utc("2027-03-07T00:00:00Z"));
        const QJsonObject page = api("GET", first).json();
        const QJsonArray data = page[u"data"_s].toArray();
        QCOMPARE(data.size(), 2);
        QCOMPARE(data[0][u"when"_s].toObject(),
                 (QJsonObject{{"start_time", utc("2026-12-08T09:00:00Z")},
                              {"end_time", utc("2026-12-08T09:30:00Z")}}));
        QCOMPARE(data[0][u"conferencing"_s][u"details"_s][u"url"_s].toString(),
                 u"https://teams.microsoft.com/l/meetup-join/1"_s);
        QCOMPARE(data[0][u"participants"_s][0][u"status"_s].toString(), u"maybe"_s);
        QCOMPARE(data[0][u"participants"_s][1][u"status"_s].toString(), u"noreply"_s);
        QCOMPARE(data[0][u"organizer"_s][u"email"_s].toString(), u"sam@contoso.test"_s);
        QCOMPARE(data[1][u"status"_s].toString(), u"cancelled"_s);
        const QString cursor = page[u"next_cursor"_s].toString();
        QVERIFY(cursor.startsWith(m_microsoft.origin() + FakeMicrosoft::viewPath));
        const QJsonObject second =
            api("GET", u"nylas/events?grantId=%1&calendarId=primary&"
                       "limit=2&page_token=%2"_s.arg(
                           grantId, QString::fromLatin1(QUrl::toPercentEncoding(cursor))))
                .json();
        QCOMPARE(second[u"data"_s][0][u"when"_s].toObject(), (QJsonObject{{"date", "2026-12-24"}}));
        const auto request = m_microsoft.requestsTo(FakeMicrosoft::viewPath).first();
        QCOMPARE(request.header("prefer"), QByteArray("outlook.timezone=\"UTC\""));
        QCOMPARE(QUrlQuery(QUrl(QString::fromUtf8(request.target)))
                     .queryItemValue(u"startDateTime"_s, QUrl::FullyDecoded),
                 u"2026-12-07T00:00:00Z"_s);

        // Every call refreshed a token about to expire, each time with the rotated one.
        QVERIFY(m_microsoft.requestsTo(u"/common/oauth2/v2.0/token"_s).size() >= 4);
        const QString elsewhere = u"http://127.0.0.1:9/v1.0/me/calendarView?$skip=2"_s;
        QCOMPARE(api("GET", u"nylas/events?grantId=%1&calendarId=primary&page_token=%2"_s.arg(
                                grantId, QString::fromLatin1(QUrl::toPercentEncoding(elsewhere))))
                     .status,
                 400);
    }

    // A Gmail search lists ids; each message's Subject and From come from its metadata, and a
    // message gone between the two is left out.
    void gmailSearch() {
        const QString grantId = signIn()[u"grantId"_s].toString();
        m_google.vanished = {u"18c0"_s};
        const BackendProcess::Reply reply =
            api("GET", u"nylas/messages?grantId=%1&q=%2&limit=5"_s.arg(grantId, u"y.test"_s));
        QCOMPARE(reply.status, 200);
        const QJsonArray data = reply.json()[u"data"_s].toArray();
        QCOMPARE(data.size(), 1);
        QCOMPARE(data[0].toObject(), parse(R"({"id":"18c2","thread_id":"18c2",)"
                                           R"("snippet":"Short note","date":1796450000,)"
                                           R"("from":[{"email":"bo@y.test"}]})"));

        const QJsonObject ann =
            api("GET", u"nylas/messages?grantId=%1&q=ann%40x.test&limit=5"_s.arg(grantId))
                .json()[u"data"_s][0]
                .toObject();
        QCOMPARE(ann, parse(R"({"id":"18c1","thread_id":"18b0","subject":"Design review prep",)"
                            R"("snippet":"Agenda & slides — see you <Tuesday> …",)"
                            R"("date":1796545800,)"
                            R"("from":[{"email":"ann@x.test","name":"Lind, Ann"}]})"));
        const QUrlQuery listed =
            FakeGoogle::query(m_google.requestsTo(FakeGoogle::messagesPath).last());
        QCOMPARE(listed.queryItemValue(u"q"_s, QUrl::FullyDecoded), u"ann@x.test"_s);
        QCOMPARE(listed.queryItemValue(u"maxResults"_s), u"5"_s);
    }

    // Graph's $search takes one quoted phrase; the sender, received time and conversation
    // become the contract's from, date and thread.
    void outlookSearch() {
        const QString grantId = signIn(credentialA, u"microsoft"_s)[u"grantId"_s].toString();
        QVERIFY(!grantId.isEmpty());
        const BackendProcess::Reply reply =
            api("GET",
                u"nylas/messages?grantId=%1&q=%2&limit=5"_s.arg(grantId, u"kim%40fabrikam.test"_s));
        QCOMPARE(reply.status, 200);
        const QJsonArray data = reply.json()[u"data"_s].toArray();
        QCOMPARE(data.size(), 2);
        QCOMPARE(data[0].toObject(),
                 parse(R"({"id":"AAMkAD-1","subject":"Contract draft","snippet":"See the draft",)"
                       R"("thread_id":"AAQkAD-c1","date":1796545800,)"
                       R"("from":[{"email":"kim@fabrikam.test","name":"Kim Berg"}]})"));
        QCOMPARE(data[1][u"from"_s].toArray(),
                 (QJsonArray{QJsonObject{{"email", "kim@fabrikam.test"}}}));
        const QUrlQuery asked(QUrl(
            QString::fromUtf8(m_microsoft.requestsTo(FakeMicrosoft::messagesPath).last().target)));
        QCOMPARE(asked.queryItemValue(u"$search"_s, QUrl::FullyDecoded),
                 u"\"kim@fabrikam.test\""_s);
        QCOMPARE(asked.queryItemValue(u"$top"_s), u"5"_s);

        // A quote in the words cannot end Graph's phrase early.
        QCOMPARE(api("GET", u"nylas/messages?grantId=%1&q=%2"_s.arg(grantId, u"a%22b"_s)).status,
                 200);
    }

    // What the app asks for (a search's words and sizes, an event window, a page) is checked
    // before any provider call; a message Google answers malformed is the contract's upstream
    // error.
    void refusals_data() {
        QTest::addColumn<QString>("query"); // after "nylas/"; the grant's id is added
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<int>("status");
        const auto row = [](const char *name, const QString &query, int status,
                            const QByteArray &fault = {}) {
            QTest::newRow(name) << query << fault << status;
        };
        row("limit zero", u"messages?q=a&limit=0"_s, 400);
        row("query too long", u"messages?q="_s + QString(600, u'a'), 400);
        row("large limit is cut", u"messages?q=test&limit=200"_s, 200);
        row("metadata not JSON", u"messages?q=test"_s, 502, "{\"id\":");
        row("metadata without id", u"messages?q=test"_s, 502, "{\"snippet\":\"x\"}");
        row("date not a number", u"messages?q=test"_s, 502,
            "{\"id\":\"1\",\"internalDate\":\"soon\"}");
        row("no calendar", u"events?limit=5"_s, 400);
        row("start not seconds", u"events?calendarId=primary&start=soon"_s, 400);
        row("end too far", u"events?calendarId=primary&end=2199023255552"_s, 400);
        row("event limit over 200", u"events?calendarId=primary&limit=201"_s, 400);
        row("event limit 200", u"events?calendarId=primary&limit=200"_s, 200);
        row("empty page token", u"events?calendarId=primary&page_token="_s, 400);
        row("page token too long",
            u"events?calendarId=primary&page_token="_s +
                QString(LiveRouter::maxTokenChars + 1, u'a'),
            400);
    }
    void refusals() {
        QFETCH(QString, query);
        QFETCH(QByteArray, fault);
        QFETCH(int, status);
        const QString grantId = signIn()[u"grantId"_s].toString();
        if (!fault.isEmpty())
            m_google.messageFaults = {FakeGoogle::Response::json(fault)};
        const auto calls = [this] {
            return m_google.requestsTo(FakeGoogle::messagesPath).size() +
                   m_google.requestsTo(FakeGoogle::eventsPath).size();
        };
        const qsizetype before = calls();
        QCOMPARE(api("GET", u"nylas/"_s + query + u"&grantId="_s + grantId).status, status);
        QCOMPARE(calls() - before, status == 400 ? 0 : 1);
        if (QByteArray(QTest::currentDataTag()) == "large limit is cut")
            QCOMPARE(FakeGoogle::query(m_google.requestsTo(FakeGoogle::messagesPath).last())
                         .queryItemValue(u"maxResults"_s),
                     u"50"_s);
    }

    // slack/exchange turns the code into the user's token through oauth.v2.access with the
    // backend's app; codes Slack refuses are the app's error, everything else is upstream's.
    void slackExchange_data() {
        using Response = FakeSlackAndSms::Response;
        QTest::addColumn<QString>("redirect");
        QTest::addColumn<QList<Response>>("faults");
        QTest::addColumn<bool>("spendFirst");
        QTest::addColumn<int>("status");
        Response limited = Response::json(R"({"ok":false,"error":"ratelimited"})", 429);
        limited.headers = {{"Retry-After", "1"}};
        const QString callback = FakeSlackAndSms::callback;
        QTest::newRow("good code") << callback << QList<Response>() << false << 200;
        QTest::newRow("code used twice") << callback << QList<Response>() << true << 400;
        QTest::newRow("other redirect")
            << u"https://elsewhere.test/cb"_s << QList<Response>() << false << 400;
        QTest::newRow("rate limited once") << callback << QList<Response>{limited} << false << 200;
        QTest::newRow("app refused")
            << callback
            << QList<Response>{Response::json(R"({"ok":false,"error":"bad_client_secret"})")}
            << false << 502;
        QTest::newRow("no user token")
            << callback
            << QList<Response>{Response::json(R"({"ok":true,"access_token":"xoxb-bot"})")} << false
            << 502;
        QTest::newRow("not JSON") << callback << QList<Response>{Response::json("<html>")} << false
                                  << 502;
    }
    void slackExchange() {
        QFETCH(QString, redirect);
        QFETCH(QList<FakeSlackAndSms::Response>, faults);
        QFETCH(bool, spendFirst);
        QFETCH(int, status);
        const QString code = m_slackSms.issueCode();
        const QJsonObject body{{"code", code}, {"redirect_uri", redirect}};
        if (spendFirst)
            QCOMPARE(api("POST", u"slack/exchange"_s, body, {}).status, 200);
        m_slackSms.slackFaults = faults;
        const BackendProcess::Reply reply = api("POST", u"slack/exchange"_s, body, {});
        QCOMPARE(reply.status, status);
        if (status == 200)
            QCOMPARE(reply.json(), (QJsonObject{{"accessToken", FakeSlackAndSms::userToken}}));
        const QUrlQuery sent = m_slackSms.formsTo(FakeSlackAndSms::accessPath).last();
        QCOMPARE(sent.queryItemValue(u"code"_s, QUrl::FullyDecoded), code);
        QCOMPARE(sent.queryItemValue(u"client_id"_s, QUrl::FullyDecoded),
                 FakeSlackAndSms::slackClientId);
    }

    // Slack's redirect reaches the app's listener, whose port ends "state"; the request must be
    // well formed before anything is asked of Slack.
    void slackCallbackAndMalformedExchange() {
        const BackendProcess::Reply back =
            api("GET", u"slack/callback?code=c-1&state=0f1e2d3c:43117"_s, {}, {});
        QCOMPARE(back.status, 302);
        QCOMPARE(back.location.toString(),
                 u"http://127.0.0.1:43117/slack/callback?code=c-1&state=0f1e2d3c:43117"_s);
        QCOMPARE(api("GET", u"slack/callback?code=c-1&state=nothing"_s, {}, {}).status, 400);
        QCOMPARE(api("POST", u"slack/callback"_s, {}, {}).status, 405);
        const qsizetype before = m_slackSms.requestsTo(FakeSlackAndSms::accessPath).size();
        for (const QJsonObject &body :
             {QJsonObject{{"code", "x"}}, QJsonObject{{"code", 5}, {"redirect_uri", "https://a"}},
              QJsonObject{{"code", QString(5000, u'c')}, {"redirect_uri", "https://a"}}})
            QCOMPARE(api("POST", u"slack/exchange"_s, body, {}).status, 400);
        QCOMPARE(m_slackSms.requestsTo(FakeSlackAndSms::accessPath).size(), before);
    }

    // sms sends through the gateway as Twilio's Messages resource: the number in E.164, the
    // configured sender, Basic authentication. Refusals are the app's error (with the body's
    // text), and a message the gateway may have taken is never sent twice.
    void sms_data() {
        using Response = FakeSlackAndSms::Response;
        QTest::addColumn<QByteArray>("credential");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<Response>>("faults");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("gatewayCalls");
        QTest::addColumn<QString>("error");
        Response limited = Response::json(R"({"code":20429,"message":"Too Many Requests"})", 429);
        limited.headers = {{"Retry-After", "1"}};
        const QString hello = u"Design review in 5 min"_s;
        QTest::newRow("sent") << credentialA << u"+49 170 123-4567"_s << hello << QList<Response>()
                              << 200 << 1 << QString();
        QTest::newRow("international prefix") << credentialB << u"0044 (20) 7946.0018"_s << hello
                                              << QList<Response>() << 200 << 1 << QString();
        QTest::newRow("unknown credential")
            << QByteArray("cred-unknown-0123456789abcdef") << u"+4917012345"_s << hello
            << QList<Response>() << 401 << 0 << u"Invalid credential"_s;
        QTest::newRow("not a number") << credentialA << u"call me"_s << hello << QList<Response>()
                                      << 400 << 0 << u"Invalid phone number"_s;
        QTest::newRow("empty text")
            << credentialA << u"+4917012345"_s << u" "_s << QList<Response>() << 400 << 0
            << u"The message must have 1 to 1600 characters"_s;
        QTest::newRow("refused number")
            << credentialA << u"+4917012345"_s << hello
            << QList<Response>{Response::json(
                   R"({"code":21614,"message":"not a mobile number","status":400})", 400)}
            << 400 << 1 << u"The SMS gateway refused the message (error 21614)"_s;
        QTest::newRow("throttled once") << credentialA << u"+4917012345"_s << hello
                                        << QList<Response>{limited} << 200 << 2 << QString();
        QTest::newRow("gateway failing")
            << credentialA << u"+4917012345"_s << hello
            << QList<Response>{Response::json(R"({"code":20500})", 500)} << 502 << 1
            << u"upstream_error"_s;
        QTest::newRow("answer not JSON") << credentialA << u"+4917012345"_s << hello
                                         << QList<Response>{Response::json("<Response/>", 201)}
                                         << 502 << 1 << u"upstream_error"_s;
    }
    void sms() {
        QFETCH(QByteArray, credential);
        QFETCH(QString, to);
        QFETCH(QString, text);
        QFETCH(QList<FakeSlackAndSms::Response>, faults);
        QFETCH(int, status);
        QFETCH(int, gatewayCalls);
        QFETCH(QString, error);
        m_slackSms.smsFaults = faults;
        const qsizetype before = m_slackSms.requestsTo(FakeSlackAndSms::messagesPath).size();
        const BackendProcess::Reply reply =
            api("POST", u"sms"_s,
                {{"credential", QString::fromLatin1(credential)}, {"to", to}, {"body", text}}, {});
        QCOMPARE(reply.status, status);
        const auto calls = m_slackSms.formsTo(FakeSlackAndSms::messagesPath).mid(before);
        QCOMPARE(int(calls.size()), gatewayCalls);
        if (status != 200) {
            QCOMPARE(reply.json()[u"error"_s].toString(), error);
            return;
        }
        QCOMPARE(reply.json(), (QJsonObject{{"success", true}, {"remaining", smsAllowance - 1}}));
        const QUrlQuery sent = calls.last();
        QVERIFY(QRegularExpression(u"^\\+[0-9]+$"_s)
                    .match(sent.queryItemValue(u"To"_s, QUrl::FullyDecoded))
                    .hasMatch());
        QCOMPARE(sent.queryItemValue(u"From"_s, QUrl::FullyDecoded), FakeSlackAndSms::sender);
        QCOMPARE(sent.queryItemValue(u"Body"_s, QUrl::FullyDecoded), text);
    }

    // Each credential has its own allowance a day, kept in the database: a failed send gives
    // its message back, and the count survives a restart.
    void smsAllowanceIsPerCredential() {
        const auto send = [this](const QByteArray &credential) {
            return api("POST", u"sms"_s,
                       {{"credential", QString::fromLatin1(credential)},
                        {"to", "+4917012345"},
                        {"body", "hi"}},
                       {});
        };
        m_slackSms.smsFaults = {FakeSlackAndSms::Response::json("{}", 503)};
        QCOMPARE(send(credentialA).status, 502);
        QCOMPARE(send(credentialA).json()[u"remaining"_s].toInt(), smsAllowance - 1);
        m_backend->stop();
        QVERIFY(startBackend());
        QCOMPARE(send(credentialA).json()[u"remaining"_s].toInt(), smsAllowance - 2);
        QCOMPARE(send(credentialA).json()[u"remaining"_s].toInt(), 0);
        const BackendProcess::Reply refused = send(credentialA);
        QCOMPARE(refused.status, 429);
        QCOMPARE(refused.json()[u"error"_s].toString(), u"SMS limit reached"_s);
        QCOMPARE(send(credentialB).json()[u"remaining"_s].toInt(), smsAllowance - 1);
    }

    // A grant answers only to the credential that made it; anything else is unauthorised.
    void grantBelongsToItsCredential_data() {
        QTest::addColumn<QByteArray>("credential");
        QTest::addColumn<int>("status");
        QTest::newRow("creator") << credentialA << 200;
        QTest::newRow("another user") << credentialB << 404;
        QTest::newRow("unknown credential") << QByteArray("cred-unknown-0123456789abcdef") << 401;
        QTest::newRow("none") << QByteArray() << 401;
    }
    void grantBelongsToItsCredential() {
        QFETCH(QByteArray, credential);
        QFETCH(int, status);
        const QString grantId = signIn()[u"grantId"_s].toString();
        QCOMPARE(api("GET", u"nylas/calendars?grantId="_s + grantId, {}, credential).status,
                 status);
        QCOMPARE(api("DELETE", u"nylas/grant"_s, {{"grant_id", grantId}}, credential).status,
                 status);
        QCOMPARE(m_google.revokedTokens.isEmpty(), status != 200);
    }

    // The sign-in is bound to the credential and redirect that asked for it, and a code
    // serves once.
    void exchangeNeedsItsSignIn() {
        const QString code = consent();
        QVERIFY(!code.isEmpty());
        const QJsonObject body{{"code", code}, {"redirectURI", m_redirect}};
        QCOMPARE(api("POST", u"nylas/exchange-token"_s, body, credentialB).status, 400);
        QCOMPARE(api("POST", u"nylas/exchange-token"_s,
                     {{"code", code}, {"redirectURI", "http://127.0.0.1:9/nylas/callback"}})
                     .status,
                 400);
        QCOMPARE(api("POST", u"nylas/exchange-token"_s, body).status, 200);
        QCOMPARE(api("POST", u"nylas/exchange-token"_s, body).status, 400);

        // Only the newest sign-ins of a credential are kept.
        const QString first = consent();
        for (int i = 0; i < 20; ++i)
            authUrl(u"google"_s, u"http://127.0.0.1:43000/nylas/callback"_s);
        QCOMPARE(
            api("POST", u"nylas/exchange-token"_s, {{"code", first}, {"redirectURI", m_redirect}})
                .status,
            400);
        QCOMPARE(api("POST", u"nylas/auth-url"_s,
                     {{"provider", "google"}, {"redirectURI", "https://evil.test/cb"}})
                     .status,
                 400);
    }

    // An access token near its end is renewed before use; one Google refuses is renewed once.
    void accessTokenRenewal_data() {
        QTest::addColumn<int>("expiresIn");
        QTest::addColumn<int>("refused");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("refreshes");
        QTest::newRow("fresh") << 3600 << 0 << 200 << 0;
        QTest::newRow("about to expire") << 30 << 0 << 200 << 1;
        QTest::newRow("refused once") << 3600 << 1 << 200 << 1;
        QTest::newRow("refused twice") << 3600 << 2 << 502 << 1;
    }
    void accessTokenRenewal() {
        QFETCH(int, expiresIn);
        QFETCH(int, refused);
        QFETCH(int, status);
        QFETCH(int, refreshes);
        m_google.expiresIn = expiresIn;
        const QString grantId = signIn()[u"grantId"_s].toString();
        m_google.expiresIn = 3600;
        m_google.refuseAccess = refused;
        const qsizetype before = m_google.requestsTo(u"/token"_s).size();
        QCOMPARE(events(grantId).status, status);
        QCOMPARE(int(m_google.requestsTo(u"/token"_s).size() - before), refreshes);
        for (const auto &request : m_google.requestsTo(u"/token"_s).mid(before))
            QCOMPARE(FakeGoogle::form(request).queryItemValue(u"grant_type"_s), u"refresh_token"_s);
    }

    // A refresh token the provider refused ends the grant: the app is told to sign in again,
    // and the grant is gone after that.
    void revokedRefreshTokenEndsTheGrant_data() {
        QTest::addColumn<QString>("provider");
        QTest::newRow("google") << u"google"_s;
        QTest::newRow("microsoft") << u"microsoft"_s;
    }
    void revokedRefreshTokenEndsTheGrant() {
        QFETCH(QString, provider);
        const QString grantId = signIn(credentialA, provider)[u"grantId"_s].toString();
        QVERIFY(!grantId.isEmpty());
        m_google.validRefresh.clear();
        m_google.validAccess.clear();
        m_microsoft.validRefresh.clear();
        m_microsoft.validAccess.clear();
        const BackendProcess::Reply reply = events(grantId);
        QCOMPARE(reply.status, 404);
        QVERIFY(reply.json()[u"error"_s].toString().contains(u"sign in again"_s));
        QCOMPARE(events(grantId).json()[u"error"_s].toString(), u"grant not found"_s);
    }

    // Removing a grant revokes its refresh token where the provider can (Google); Microsoft
    // has no such endpoint, so the grant is only forgotten. Either way it is gone at once.
    void deleteRevokesWhereItCan_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<bool>("revokedAtGoogle");
        QTest::newRow("google") << u"google"_s << true;
        QTest::newRow("microsoft") << u"microsoft"_s << false;
    }
    void deleteRevokesWhereItCan() {
        QFETCH(QString, provider);
        QFETCH(bool, revokedAtGoogle);
        const QString grantId = signIn(credentialA, provider)[u"grantId"_s].toString();
        QVERIFY(!grantId.isEmpty());
        const QStringList refresh =
            provider == u"google"_s ? m_google.validRefresh.values() : QStringList();
        QCOMPARE(api("DELETE", u"nylas/grant"_s, {{"grant_id", grantId}}).status, 200);
        QCOMPARE(m_google.revokedTokens.size(), revokedAtGoogle ? 1 : 0);
        if (revokedAtGoogle)
            QCOMPARE(m_google.revokedTokens.values(), refresh);
        QCOMPARE(events(grantId).status, 404);
        QCOMPARE(api("DELETE", u"nylas/grant"_s, {{"grant_id", grantId}}).status, 404);
    }

    // Busy and failing answers are tried again within the request's time; what still fails,
    // and anything that is not Google's shape, is the contract's upstream error.
    void providerFailures_data() {
        using Response = FakeGoogle::Response;
        QTest::addColumn<QList<Response>>("faults");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("calls");
        Response limited = Response::json("{\"error\":{\"code\":429}}", 429);
        limited.headers = {{"Retry-After", "1"}};
        Response tooLong = limited;
        tooLong.headers = {{"Retry-After", "3600"}};
        // Its date is set when the row runs, below.
        Response untilDate = limited;
        untilDate.headers = {};
        const Response down = Response::json("{\"error\":{\"code\":503}}", 503);
        QTest::newRow("429 then fine") << QList<Response>{limited} << 200 << 2;
        QTest::newRow("429 until a date") << QList<Response>{untilDate} << 200 << 2;
        QTest::newRow("429 longer than the budget") << QList<Response>{tooLong} << 502 << 1;
        QTest::newRow("503 twice then fine") << QList<Response>{down, down} << 200 << 3;
        QTest::newRow("500 every time")
            << QList<Response>(4, Response::json("{}", 500)) << 502 << 4;
        QTest::newRow("not JSON") << QList<Response>{Response::json("{\"items\": [")} << 502 << 1;
        QTest::newRow("items not a list")
            << QList<Response>{Response::json("{\"items\": {\"id\": \"x\"}}")} << 502 << 1;
        QTest::newRow("event without id")
            << QList<Response>{Response::json("{\"items\": [{\"summary\": \"x\"}]}")} << 502 << 1;
        QTest::newRow("start not a time")
            << QList<Response>{Response::json(
                   "{\"items\": [{\"id\": \"x\", \"start\": {\"dateTime\": \"tomorrow\"}}]}")}
            << 502 << 1;
    }
    void providerFailures() {
        QFETCH(QList<FakeGoogle::Response>, faults);
        QFETCH(int, status);
        QFETCH(int, calls);
        const QString grantId = signIn()[u"grantId"_s].toString();
        if (faults.first().status == 429 && faults.first().headers.isEmpty())
            faults.first().headers = {
                {"Retry-After", QLocale::c()
                                    .toString(QDateTime::currentDateTimeUtc().addSecs(2),
                                              u"ddd, dd MMM yyyy hh:mm:ss 'GMT'"_s)
                                    .toLatin1()}};
        m_google.eventFaults = faults;
        const qsizetype before = m_google.requestsTo(FakeGoogle::eventsPath).size();
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(events(grantId).status, status);
        QCOMPARE(int(m_google.requestsTo(FakeGoogle::eventsPath).size() - before), calls);
        if (QByteArray(QTest::currentDataTag()).startsWith("429 "))
            QVERIFY(timer.elapsed() >= 900 || status != 200);
        QCOMPARE(events(grantId).status, 200);
    }

    // Whatever was exchanged, the log names no token, code, credential or client secret.
    void logsHoldNoSecrets() {
        const QUrl url = authUrl();
        const QString code = m_google.consent(url);
        const QString grantId =
            api("POST", u"nylas/exchange-token"_s, {{"code", code}, {"redirectURI", m_redirect}})
                .json()[u"grantId"_s]
                .toString();
        m_google.eventFaults = {FakeGoogle::Response::json("[", 200)};
        QCOMPARE(events(grantId).status, 502);
        m_google.refuseAccess = 1;
        QCOMPARE(events(grantId).status, 200);
        QCOMPARE(api("DELETE", u"nylas/grant"_s, {{"grant_id", grantId}}).status, 200);
        const QString slackCode = m_slackSms.issueCode();
        m_slackSms.slackFaults = {
            FakeSlackAndSms::Response::json(R"({"ok":false,"error":"bad_client_secret"})")};
        QCOMPARE(api("POST", u"slack/exchange"_s,
                     {{"code", slackCode}, {"redirect_uri", FakeSlackAndSms::callback}}, {})
                     .status,
                 502);
        QCOMPARE(api("POST", u"slack/exchange"_s,
                     {{"code", slackCode}, {"redirect_uri", FakeSlackAndSms::callback}}, {})
                     .status,
                 200);
        m_slackSms.smsFaults = {FakeSlackAndSms::Response::json("{}", 500)};
        QCOMPARE(api("POST", u"sms"_s,
                     {{"credential", QString::fromLatin1(credentialB)},
                      {"to", "+4917012345"},
                      {"body", "Design review in 5 min"}},
                     {})
                     .status,
                 502);
        m_backend->stop();
        const QByteArray log = m_backend->errorOutput();
        QVERIFY2(log.contains("nylas/events") && log.contains("slack/exchange"), log.constData());
        QStringList secrets{code,
                            QString::fromLatin1(credentialA),
                            QString::fromLatin1(credentialB),
                            FakeGoogle::clientSecret,
                            grantId,
                            QUrlQuery(url).queryItemValue(u"state"_s),
                            slackCode,
                            FakeSlackAndSms::userToken,
                            FakeSlackAndSms::slackClientSecret,
                            FakeSlackAndSms::authToken,
                            u"+4917012345"_s,
                            u"Design review"_s};
        secrets += m_google.issuedTokens;
        for (const QString &secret : secrets)
            QVERIFY2(!log.contains(secret.toUtf8()), qPrintable(secret));
    }

    // A setting that cannot work stops the start with one line that names it.
    void unusableSetupStopsTheStart_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("named");
        const QStringList config{u"--config"_s, path(u"backend.conf"_s)};
        QTest::newRow("short key")
            << u"token.key"_s << QByteArray(31, 'k') << config << u"server.token_key_file"_s;
        QTest::newRow("no credential") << u"credentials"_s << QByteArray("# none yet\n") << config
                                       << u"server.credentials_file"_s;
        QTest::newRow("weak credential")
            << u"credentials"_s << QByteArray("short\n") << config << u"server.credentials_file"_s;
        QTest::newRow("database elsewhere")
            << u"backend.conf"_s
            << configText().replace(path(u"grants.sqlite"_s).toUtf8(), "/nonexistent/dir/g.db")
            << config << u"server.database"_s;
        QTest::newRow("no PostgreSQL server there")
            << u"backend.conf"_s
            << configText().replace(path(u"grants.sqlite"_s).toUtf8(),
                                    "postgresql://zelvane:pw@/zelvane?host=/nonexistent/dir")
            << config << u"server.database: PostgreSQL database zelvane"_s;
        QTest::newRow("admin is for the demo")
            << QString() << QByteArray() << (config + QStringList{u"--admin"_s}) << u"--admin"_s;
        QTest::newRow("no mode") << QString() << QByteArray() << QStringList() << u"--demo"_s;
    }
    void unusableSetupStopsTheStart() {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, arguments);
        QFETCH(QString, named);
        m_backend->stop();
        if (!file.isEmpty())
            QVERIFY(write(path(file), content));
        QVERIFY(!startBackend(arguments));
        const QByteArray message = m_backend->errorOutput();
        QVERIFY2(message.contains(named.toUtf8()), message.constData());
        QCOMPARE(message.count('\n'), 1);
        QVERIFY(!message.contains(":pw@"));
        QCOMPARE(m_backend->exitCode(), 2);
    }

    void keyReadableByOthersIsRefused() {
        m_backend->stop();
        QVERIFY(write(path(u"token.key"_s), QByteArray(32, 'k'),
                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QVERIFY(!startBackend());
        QVERIFY(m_backend->errorOutput().contains("server.token_key_file"));
    }
};

QTEST_GUILESS_MAIN(TestLiveBackend)
#include "tst_livebackend.moc"
