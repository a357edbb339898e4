#include "ManualClock.h"
#include "TestEnvironment.h"
#include "core/AppSettings.h"
#include "sync/BackendAPIClient.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/HttpExchange.h"
#include "sync/SMSService.h"
#include "sync/SignInListener.h"
#include "sync/SlackService.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
QJsonObject proxyEvent(const QString &id, std::optional<qint64> start, std::optional<qint64> end) {
    QJsonObject when;
    if (start)
        when.insert(u"start_time"_s, *start);
    if (end)
        when.insert(u"end_time"_s, *end);
    return {{u"id"_s, id}, {u"when"_s, when}};
}

ProxyEvent decode(const QJsonObject &o) {
    return ProxyEvent::fromJson(o);
}

} // namespace

class TestSyncRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void answersAreByteExact() {
        const QByteArray ok = SignInHttp::successAnswer(SignInHttp::calendarSuccessBody);
        QVERIFY(ok.startsWith("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                              QByteArray::number(SignInHttp::calendarSuccessBody.size()) +
                              "\r\nConnection: close\r\n\r\n<html><body style=\""));
        QVERIFY(SignInHttp::failureAnswer(SignInHttp::slackFailureBody)
                    .startsWith("HTTP/1.1 400 Bad Request\r\n"));
    }

    void decodesProxyRecords() {
        // Optional members may be absent or null; a lone start time decodes.
        QJsonObject o = proxyEvent(u"e1"_s, 100, std::nullopt);
        o.insert(u"title"_s, QJsonValue::Null);
        const ProxyEvent e = decode(o);
        QVERIFY(e.when && e.when->startDate() && !e.when->endDate());
        QVERIFY(!e.title);

        const ProxyMessage m =
            ProxyMessage::fromJson(QJsonObject{{u"id"_s, u"m"_s}, {u"date"_s, QJsonValue::Null}});
        QVERIFY(!m.date);

        const auto list = ProxyListResponse<ProxyCalendar>::decode(
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
        QVERIFY_THROWS_EXCEPTION(DecodingError, ProxyListResponse<ProxyEvent>::decode(body));
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
        QJsonObject plain = proxyEvent(u"p"_s, 1000, 2000);
        QTest::newRow("plain google") << plain << 0 << true << "Google Calendar" << blue << "";
        QTest::newRow("plain microsoft") << plain << 1 << true << "Outlook" << blue << "";

        QJsonObject cancelled = plain;
        cancelled.insert(u"status"_s, u"cancelled"_s);
        QTest::newRow("cancelled") << cancelled << 0 << false << "" << QColor() << "";
        cancelled.insert(u"status"_s, u"Cancelled"_s);
        QTest::newRow("Cancelled is kept")
            << cancelled << 0 << true << "Google Calendar" << blue << "";

        QTest::newRow("no end") << proxyEvent(u"p"_s, 1000, std::nullopt) << 0 << false << ""
                                << QColor() << "";

        QJsonObject onWork = plain;
        onWork.insert(u"calendar_id"_s, u"work"_s);
        QTest::newRow("own calendar") << onWork << 0 << true << "Work" << work << "";
        onWork.insert(u"calendar_id"_s, u"odd"_s);
        QTest::newRow("five hex digits") << onWork << 0 << true << "Odd" << blue << "";
        onWork.insert(u"calendar_id"_s, u"WORK"_s);
        QTest::newRow("unknown calendar") << onWork << 1 << true << "Outlook" << blue << "";

        QJsonObject linked = plain;
        linked.insert(u"conferencing"_s,
                      QJsonObject{{u"provider"_s, u"Zoom Meeting"_s},
                                  {u"details"_s, QJsonObject{{u"url"_s, u"ht tp://x"_s}}}});
        linked.insert(u"location"_s, u"Room 4"_s);
        linked.insert(u"description"_s, u"Join https://meet.google.com/abc-defg-hij now"_s);
        QTest::newRow("bad conferencing url falls back to description")
            << linked << 0 << true << "Google Calendar" << blue
            << "https://meet.google.com/abc-defg-hij";
        linked.insert(
            u"conferencing"_s,
            QJsonObject{{u"details"_s, QJsonObject{{u"url"_s, u"smb://files.example/share"_s}}}});
        QTest::newRow("conferencing url of another scheme is no join target")
            << linked << 0 << true << "Google Calendar" << blue
            << "https://meet.google.com/abc-defg-hij";
        linked.insert(
            u"conferencing"_s,
            QJsonObject{{u"details"_s, QJsonObject{{u"url"_s, u"https://zoom.us/j/123"_s}}}});
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
        const QList<ProxyCalendar> calendars{{u"work"_s, u"Work"_s, u"#1a73e8"_s, true},
                                             {u"odd"_s, u"Odd"_s, u"1a73e"_s, false}};
        const auto e =
            makeCalendarEvent(decode(proxy), u"ACC"_s, CalendarProvider(provider), calendars);
        QCOMPARE(e.has_value(), yields);
        if (!e)
            return;
        QCOMPARE(e->id, u"nylas_"_s + proxy.value(u"id").toString());
        QCOMPARE(e->title, u"(No title)"_s);
        QCOMPARE(e->calendarTitle, calendarTitle);
        QCOMPARE(e->calendarColor, color);
        QCOMPARE(e->meetingLink.value_or(QUrl()).toString(), link);
        QCOMPARE(e->accountId, std::optional<QString>(u"ACC"_s));
        QCOMPARE(e->startDate.toSecsSinceEpoch(), 1000);
        QVERIFY(!e->isAllDay);
    }

    void participantsKeepSourceOrderWithoutOrganizer() {
        QJsonObject o = proxyEvent(u"p"_s, 1, 2);
        o.insert(u"participants"_s,
                 QJsonArray{QJsonObject{{u"email"_s, u"b@x"_s}, {u"status"_s, u"no"_s}},
                            QJsonObject{{u"email"_s, u"a@x"_s}},
                            QJsonObject{{u"email"_s, u"b@x"_s}}});
        o.insert(u"organizer"_s, QJsonObject{{u"email"_s, u"boss@x"_s}});
        const auto e = makeCalendarEvent(decode(o), {}, CalendarProvider::google, {});
        QCOMPARE(e->attendeeEmails, (QStringList{"b@x", "a@x", "b@x"}));
        QCOMPARE(e->organizerEmail, std::optional<QString>(u"boss@x"_s));
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
        e.title = u"Design review"_s;
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
        QVERIFY(text.endsWith(u"xx..."_s));

        // Characters, not UTF-16 units: a flag is one character made of four units.
        const QString flag = u"\U0001F1E9\U0001F1EA"_s;
        e.title.clear();
        for (int i = 0; i < 2000; ++i)
            e.title += flag;
        text = SMSService::messageText(e, std::nullopt, now);
        QCOMPARE(SMSService::characterCount(text), 1600);
        QVERIFY(text.endsWith(flag + u"..."_s));
    }

    void accountsPersistAndDomainsAreLowerCase() {
        TestEnvironment env;
        auto settings = env.makeSettings();
        ManualClock clock;
        SecretStore secrets;
        CalendarProxyClient proxy(secrets, clock);
        CalendarSignInListener auth;
        const QList<ConnectedAccount> stored{
            {u"1"_s, CalendarProvider::google, u"a@Example.COM"_s, {}},
            {u"2"_s, CalendarProvider::microsoft, u"b@example.com"_s, u"g"_s},
            {u"3"_s, CalendarProvider::google, u"nodomain"_s, {}},
            {u"4"_s, CalendarProvider::google, u"x@y@z"_s, {}},
            {u"5"_s, CalendarProvider::google, u"trailing@"_s, {}}};
        QJsonArray array;
        for (const auto &a : stored)
            array.append(a.toJson());
        settings->setValue(AppSettings::Key::ConnectedAccounts, QJsonDocument(array).toJson());

        CalendarService reloaded(*settings, proxy, secrets, auth, clock);
        QCOMPARE(reloaded.accounts(), stored);
        QCOMPARE(reloaded.userDomains(), QSet<QString>{u"example.com"_s});
        QCOMPARE(reloaded.connectedProviders().size(), 2);

        // Removing an account without a grant sends nothing and rewrites the stored list.
        settings->addDefaultReminders(u"1"_s);
        reloaded.removeAccount(stored[0]);
        QCOMPARE(reloaded.accounts().size(), 4);
        QVERIFY(!settings->accountReminders().contains(u"1"_s));
        CalendarService again(*settings, proxy, secrets, auth, clock);
        QCOMPARE(again.accounts(), reloaded.accounts());

        settings->setValue(AppSettings::Key::ConnectedAccounts, QByteArray("[{\"id\":1}]"));
        CalendarService corrupt(*settings, proxy, secrets, auth, clock);
        QVERIFY(corrupt.accounts().isEmpty());
    }

    void emailThreadFromMessage() {
        const ProxyMessage bare =
            ProxyMessage::fromJson(QJsonObject{{u"id"_s, u"m1"_s}, {u"from"_s, QJsonArray{}}});
        const EmailThread t = CalendarService::emailThread(bare);
        QCOMPARE(t.subject, u"(No subject)"_s);
        QCOMPARE(t.messageCount, 1);

        const ProxyMessage full = ProxyMessage::fromJson(
            QJsonDocument::fromJson(
                R"({"id":"m2","thread_id":"t","subject":"Hi","date":1700000000,"snippet":"s",
                "from":[{"email":"first@x"},{"email":"second@x"}]})")
                .object());
        const EmailThread u = CalendarService::emailThread(full);
        QCOMPARE(u.id, u"t"_s);
        QCOMPARE(u.from, u"first@x"_s);
        QVERIFY(!u.date.isEmpty());
    }
};

QTEST_MAIN(TestSyncRecords)
#include "tst_syncrecords.moc"
