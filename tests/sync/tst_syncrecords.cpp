#include "TestEnvironment.h"
#include "core/AppSettings.h"
#include "core/Clock.h"
#include "sync/BackendAPIClient.h"
#include "sync/CalendarService.h"
#include "sync/HttpExchange.h"
#include "sync/LoopbackRedirect.h"
#include "sync/NylasService.h"
#include "sync/SMSService.h"
#include "sync/SlackService.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {
QJsonObject proxyEvent(const QString &id, std::optional<qint64> start, std::optional<qint64> end) {
    QJsonObject when;
    if (start)
        when.insert(QStringLiteral("start_time"), *start);
    if (end)
        when.insert(QStringLiteral("end_time"), *end);
    return {{QStringLiteral("id"), id}, {QStringLiteral("when"), when}};
}

NylasEvent decode(const QJsonObject &o) {
    return NylasEvent::fromJson(o);
}

} // namespace

class TestSyncRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void extractCode_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("code");
        QTest::newRow("redirect") << QByteArray(
                                         "GET /nylas/callback?code=abc&state=xyz HTTP/1.1\r\n"
                                         "Host: 127.0.0.1\r\n\r\n")
                                  << "abc";
        QTest::newRow("first code wins")
            << QByteArray("GET /cb?code=one&code=two HTTP/1.1\r\n\r\n") << "one";
        QTest::newRow("percent-encoded")
            << QByteArray("GET /cb?code=a%2Fb%20c HTTP/1.1\r\n\r\n") << "a/b c";
        QTest::newRow("denied") << QByteArray(
                                       "GET /nylas/callback?error=access_denied HTTP/1.1\r\n")
                                << QString();
        QTest::newRow("favicon") << QByteArray("GET /favicon.ico HTTP/1.1\r\n\r\n") << QString();
        QTest::newRow("no space") << QByteArray("GET/cb?code=abc\r\n") << QString();
        QTest::newRow("not UTF-8")
            << QByteArray("GET /cb?code=abc\xff\xfe HTTP/1.1\r\n") << QString();
        QTest::newRow("request line only") << QByteArray("GET /cb?code=zz") << "zz";
    }
    void extractCode() {
        QFETCH(QByteArray, request);
        QFETCH(QString, code);
        const auto found = LoopbackRedirect::extractCode(request);
        QCOMPARE(found.value_or(QString()), code);
        QCOMPARE(found.has_value(), !code.isEmpty());
    }

    void answersAreByteExact() {
        const QByteArray ok =
            LoopbackRedirect::successAnswer(LoopbackRedirect::calendarSuccessBody);
        QVERIFY(ok.startsWith("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                              QByteArray::number(LoopbackRedirect::calendarSuccessBody.size()) +
                              "\r\nConnection: close\r\n\r\n<html><body style=\""));
        QVERIFY(LoopbackRedirect::failureAnswer(LoopbackRedirect::slackFailureBody)
                    .startsWith("HTTP/1.1 400 Bad Request\r\n"));
    }

    void decodesProxyRecords() {
        // Optional members may be absent or null; a lone start time decodes.
        QJsonObject o = proxyEvent(QStringLiteral("e1"), 100, std::nullopt);
        o.insert(QStringLiteral("title"), QJsonValue::Null);
        const NylasEvent e = decode(o);
        QVERIFY(e.when && e.when->startDate() && !e.when->endDate());
        QVERIFY(!e.title);

        const NylasMessage m =
            NylasMessage::fromJson(QJsonObject{{QStringLiteral("id"), QStringLiteral("m")},
                                               {QStringLiteral("date"), QJsonValue::Null}});
        QVERIFY(!m.date);

        const auto list = NylasListResponse<NylasCalendar>::decode(
            "{\"data\":[{\"id\":\"c\",\"name\":\"Work\",\"hex_color\":\"#1a73e8\",\"is_primary\":"
            "true}],\"next_cursor\":null}");
        QCOMPARE(list.data.size(), 1);
        QCOMPARE(list.data[0].isPrimary, std::optional<bool>(true));
        QVERIFY(!list.nextCursor);
    }

    void rejectsMalformedProxyRecords_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("no data") << QByteArray(R"({"next_cursor":"x"})");
        QTest::newRow("data not a list") << QByteArray(R"({"data":{}})");
        QTest::newRow("id missing") << QByteArray(R"({"data":[{"title":"x"}]})");
        QTest::newRow("fractional time")
            << QByteArray(R"({"data":[{"id":"a","when":{"start_time":1.5}}]})");
        QTest::newRow("participant without email")
            << QByteArray(R"({"data":[{"id":"a","participants":[{"name":"x"}]}]})");
        QTest::newRow("not JSON") << QByteArray("<html>");
    }
    void rejectsMalformedProxyRecords() {
        QFETCH(QByteArray, body);
        QVERIFY_THROWS_EXCEPTION(DecodingError, NylasListResponse<NylasEvent>::decode(body));
    }

    void convertsProxyEvents_data() {
        QTest::addColumn<QJsonObject>("proxy");
        QTest::addColumn<int>("provider");
        QTest::addColumn<bool>("yields");
        QTest::addColumn<QString>("calendarTitle");
        QTest::addColumn<QColor>("color");
        QTest::addColumn<QString>("link");

        const QColor blue = systemBlue();
        const QColor work(0x1a, 0x73, 0xe8);
        QJsonObject plain = proxyEvent(QStringLiteral("p"), 1000, 2000);
        QTest::newRow("plain google") << plain << 0 << true << "Google Calendar" << blue << "";
        QTest::newRow("plain microsoft") << plain << 1 << true << "Outlook" << blue << "";

        QJsonObject cancelled = plain;
        cancelled.insert(QStringLiteral("status"), QStringLiteral("cancelled"));
        QTest::newRow("cancelled") << cancelled << 0 << false << "" << QColor() << "";
        cancelled.insert(QStringLiteral("status"), QStringLiteral("Cancelled"));
        QTest::newRow("Cancelled is kept")
            << cancelled << 0 << true << "Google Calendar" << blue << "";

        QTest::newRow("no end") << proxyEvent(QStringLiteral("p"), 1000, std::nullopt) << 0 << false
                                << "" << QColor() << "";

        QJsonObject onWork = plain;
        onWork.insert(QStringLiteral("calendar_id"), QStringLiteral("work"));
        QTest::newRow("own calendar") << onWork << 0 << true << "Work" << work << "";
        onWork.insert(QStringLiteral("calendar_id"), QStringLiteral("odd"));
        QTest::newRow("five hex digits") << onWork << 0 << true << "Odd" << blue << "";
        onWork.insert(QStringLiteral("calendar_id"), QStringLiteral("WORK"));
        QTest::newRow("unknown calendar") << onWork << 1 << true << "Outlook" << blue << "";

        QJsonObject linked = plain;
        linked.insert(
            QStringLiteral("conferencing"),
            QJsonObject{{QStringLiteral("provider"), QStringLiteral("Zoom Meeting")},
                        {QStringLiteral("details"),
                         QJsonObject{{QStringLiteral("url"), QStringLiteral("ht tp://x")}}}});
        linked.insert(QStringLiteral("location"), QStringLiteral("Room 4"));
        linked.insert(QStringLiteral("description"),
                      QStringLiteral("Join https://meet.google.com/abc-defg-hij now"));
        QTest::newRow("bad conferencing url falls back to description")
            << linked << 0 << true << "Google Calendar" << blue
            << "https://meet.google.com/abc-defg-hij";
        linked.insert(QStringLiteral("conferencing"),
                      QJsonObject{{QStringLiteral("details"),
                                   QJsonObject{{QStringLiteral("url"),
                                                QStringLiteral("https://zoom.us/j/123")}}}});
        QTest::newRow("conferencing url first")
            << linked << 0 << true << "Google Calendar" << blue << "https://zoom.us/j/123";
    }
    void convertsProxyEvents() {
        QFETCH(QJsonObject, proxy);
        QFETCH(int, provider);
        QFETCH(bool, yields);
        QFETCH(QString, calendarTitle);
        QFETCH(QColor, color);
        QFETCH(QString, link);
        const QList<NylasCalendar> calendars{
            {QStringLiteral("work"), QStringLiteral("Work"), QStringLiteral("#1a73e8"), true},
            {QStringLiteral("odd"), QStringLiteral("Odd"), QStringLiteral("1a73e"), false}};
        const auto e = makeCalendarEvent(decode(proxy), QStringLiteral("ACC"),
                                         CalendarProvider(provider), calendars);
        QCOMPARE(e.has_value(), yields);
        if (!e)
            return;
        QCOMPARE(e->id, QStringLiteral("nylas_") + proxy.value(u"id").toString());
        QCOMPARE(e->title, QStringLiteral("(No title)"));
        QCOMPARE(e->calendarTitle, calendarTitle);
        QCOMPARE(e->calendarColor, color);
        QCOMPARE(e->meetingLink.value_or(QUrl()).toString(), link);
        QCOMPARE(e->accountId, std::optional<QString>(QStringLiteral("ACC")));
        QCOMPARE(e->startDate.toSecsSinceEpoch(), 1000);
        QVERIFY(!e->isAllDay);
    }

    void participantsKeepSourceOrderWithoutOrganizer() {
        QJsonObject o = proxyEvent(QStringLiteral("p"), 1, 2);
        o.insert(QStringLiteral("participants"),
                 QJsonArray{QJsonObject{{QStringLiteral("email"), QStringLiteral("b@x")},
                                        {QStringLiteral("status"), QStringLiteral("no")}},
                            QJsonObject{{QStringLiteral("email"), QStringLiteral("a@x")}},
                            QJsonObject{{QStringLiteral("email"), QStringLiteral("b@x")}}});
        o.insert(QStringLiteral("organizer"),
                 QJsonObject{{QStringLiteral("email"), QStringLiteral("boss@x")}});
        const auto e = makeCalendarEvent(decode(o), {}, CalendarProvider::google, {});
        QCOMPARE(e->attendeeEmails, (QStringList{"b@x", "a@x", "b@x"}));
        QCOMPARE(e->organizerEmail, std::optional<QString>(QStringLiteral("boss@x")));
    }

    void slackSearchReplies_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("permalinks");
        const QByteArray match = R"({"text":"hi","channel":{"name":"general"},"username":"ann",)"
                                 R"("ts":"1.2","permalink":"p1"})";
        QTest::newRow("match") << QByteArray(R"({"ok":true,"messages":{"matches":[)" + match +
                                             "]}}")
                               << QString() << QStringList{"p1"};
        QTest::newRow("no permalink skipped")
            << QByteArray(R"({"ok":true,"messages":{"matches":[{"text":"a","channel":{"name":"c"},)"
                          R"("username":"u","ts":"1"},)" +
                          match + "]}}")
            << QString() << QStringList{"p1"};
        QTest::newRow("matches not a list")
            << QByteArray(R"({"ok":true,"messages":{"matches":{}}})") << QString() << QStringList{};
        QTest::newRow("refused") << QByteArray(R"({"ok":false,"error":"invalid_auth"})")
                                 << "Slack API error: invalid_auth" << QStringList{};
        QTest::newRow("ok as text")
            << QByteArray(R"({"ok":"true"})") << "Slack API error: Unknown error" << QStringList{};
    }
    void slackSearchReplies() {
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        QFETCH(QStringList, permalinks);
        try {
            const auto messages = SlackService::parseSearchReply(body);
            QVERIFY2(error.isEmpty(), "expected a failure");
            QStringList found;
            for (const SlackMessage &m : messages)
                found.append(m.permalink);
            QCOMPARE(found, permalinks);
        } catch (const SlackError &e) {
            QCOMPARE(e.description(), error);
        }
        QVERIFY_THROWS_EXCEPTION(DecodingError, SlackService::parseSearchReply("not json"));
    }

    void smsText_data() {
        QTest::addColumn<double>("secondsToStart");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QStringList>("summary");
        QTest::addColumn<QString>("expected");
        QTest::newRow("at start") << 0.0 << "" << QStringList{}
                                  << "Zelvane: Design review starts NOW";
        QTest::newRow("90 s truncates")
            << 90.0 << "" << QStringList{} << "Zelvane: Design review starts in 1 min";
        QTest::newRow("link and two of five lines")
            << 600.0 << "https://zoom.us/j/1" << QStringList{"a", "b", "c", "d", "e"}
            << "Zelvane: Design review starts in 10 min\nJoin: https://zoom.us/j/1\n\na\nb";
        QTest::newRow("empty summary adds nothing")
            << 600.0 << "" << QStringList{} << "Zelvane: Design review starts in 10 min";
    }
    void smsText() {
        QFETCH(double, secondsToStart);
        QFETCH(QString, link);
        QFETCH(QStringList, summary);
        QFETCH(QString, expected);
        const QDateTime now = QDateTime::fromSecsSinceEpoch(1800000000, Qt::UTC);
        CalendarEvent e;
        e.title = QStringLiteral("Design review");
        e.startDate = now.addMSecs(qint64(secondsToStart * 1000));
        if (!link.isEmpty())
            e.meetingLink = QUrl(link);
        MeetingBrief brief;
        brief.summary = summary;
        QCOMPARE(SMSService::messageText(e, brief, now), expected);
    }

    void smsTextIsCutToSixteenHundredCharacters() {
        const QDateTime now = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
        CalendarEvent e;
        e.startDate = now.addSecs(600);
        e.title = QString(2000, u'x');
        QString text = SMSService::messageText(e, std::nullopt, now);
        QCOMPARE(text.size(), 1600);
        QVERIFY(text.endsWith(QStringLiteral("xx...")));

        // Characters, not UTF-16 units: a flag is one character made of four units.
        const QString flag = QStringLiteral("\U0001F1E9\U0001F1EA");
        e.title.clear();
        for (int i = 0; i < 2000; ++i)
            e.title += flag;
        text = SMSService::messageText(e, std::nullopt, now);
        QCOMPARE(SMSService::characterCount(text), 1600);
        QVERIFY(text.endsWith(flag + QStringLiteral("...")));
    }

    void accountsPersistAndDomainsAreLowerCase() {
        TestEnvironment env;
        auto settings = env.makeSettings();
        ManualClock clock;
        NylasService nylas(clock);
        NylasAuthHandler auth;
        const QList<ConnectedAccount> stored{
            {QStringLiteral("1"), CalendarProvider::google, QStringLiteral("a@Example.COM"), {}},
            {QStringLiteral("2"), CalendarProvider::microsoft, QStringLiteral("b@example.com"),
             QStringLiteral("g")},
            {QStringLiteral("3"), CalendarProvider::google, QStringLiteral("nodomain"), {}},
            {QStringLiteral("4"), CalendarProvider::google, QStringLiteral("x@y@z"), {}},
            {QStringLiteral("5"), CalendarProvider::google, QStringLiteral("trailing@"), {}}};
        QJsonArray array;
        for (const auto &a : stored)
            array.append(a.toJson());
        settings->setValue(QStringLiteral("connectedAccounts"), QJsonDocument(array).toJson());

        CalendarService reloaded(*settings, nylas, auth, clock);
        QCOMPARE(reloaded.accounts(), stored);
        QCOMPARE(reloaded.userDomains(), QSet<QString>{QStringLiteral("example.com")});
        QCOMPARE(reloaded.connectedProviders().size(), 2);

        // Removing an account without a grant sends nothing and rewrites the stored list.
        settings->addDefaultReminders(QStringLiteral("1"));
        reloaded.removeAccount(stored[0]);
        QCOMPARE(reloaded.accounts().size(), 4);
        QVERIFY(!settings->accountReminders().contains(QStringLiteral("1")));
        CalendarService again(*settings, nylas, auth, clock);
        QCOMPARE(again.accounts(), reloaded.accounts());

        settings->setValue(QStringLiteral("connectedAccounts"), QByteArray("[{\"id\":1}]"));
        CalendarService corrupt(*settings, nylas, auth, clock);
        QVERIFY(corrupt.accounts().isEmpty());
    }

    void emailThreadFromMessage() {
        const NylasMessage bare = NylasMessage::fromJson(QJsonObject{
            {QStringLiteral("id"), QStringLiteral("m1")}, {QStringLiteral("from"), QJsonArray{}}});
        const EmailThread t = CalendarService::emailThread(bare);
        QCOMPARE(t.subject, QStringLiteral("(No subject)"));
        QCOMPARE(t.messageCount, 1);

        const NylasMessage full = NylasMessage::fromJson(
            QJsonDocument::fromJson(
                R"({"id":"m2","thread_id":"t","subject":"Hi","date":1700000000,"snippet":"s",
                "from":[{"email":"first@x"},{"email":"second@x"}]})")
                .object());
        const EmailThread u = CalendarService::emailThread(full);
        QCOMPARE(u.id, QStringLiteral("t"));
        QCOMPARE(u.from, QStringLiteral("first@x"));
        QVERIFY(!u.date.isEmpty());
    }
};

QTEST_MAIN(TestSyncRecords)
#include "tst_syncrecords.moc"
