#include "ManualClock.h"
#include "TestEnvironment.h"
#include "core/AppSettings.h"
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
QJsonObject proxyEvent(std::optional<qint64> end) {
    QJsonObject when{{u"start_time"_s, 1000}};
    if (end)
        when.insert(u"end_time"_s, *end);
    return {{u"id"_s, u"p"_s}, {u"when"_s, when}};
}
} // namespace

class TestSyncRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void answersAreByteExact() {
        QVERIFY(SignInHttp::successAnswer(SignInHttp::calendarSuccessBody)
                    .startsWith("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                                QByteArray::number(SignInHttp::calendarSuccessBody.size()) +
                                "\r\nConnection: close\r\n\r\n<html><body style=\""));
        QVERIFY(SignInHttp::failureAnswer(SignInHttp::slackFailureBody)
                    .startsWith("HTTP/1.1 400 Bad Request\r\n"));
    }

    // Optional members may be absent or null; a lone start time decodes.
    void decodesProxyRecords() {
        QJsonObject o = proxyEvent(std::nullopt);
        o.insert(u"title"_s, QJsonValue::Null);
        const ProxyEvent e = ProxyEvent::fromJson(o);
        QVERIFY(e.when && e.when->startDate() && !e.when->endDate() && !e.title);
        QVERIFY(
            !ProxyMessage::fromJson(QJsonObject{{u"id"_s, u"m"_s}, {u"date"_s, QJsonValue::Null}})
                 .date);
        const auto list = ProxyListResponse<ProxyCalendar>::decode(
            R"({"data":[{"id":"c","name":"Work","is_primary":true}],"next_cursor":null})");
        QCOMPARE(list.data.value(0).isPrimary, std::optional<bool>(true));
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
        QTest::addColumn<QString>("calendarTitle"); // empty: no event
        QTest::addColumn<QColor>("color");
        QTest::addColumn<QString>("link");

        const QColor blue = systemBlue();
        const QJsonObject plain = proxyEvent(2000);
        QTest::newRow("plain") << plain << 0 << "Google Calendar" << blue << "";
        QJsonObject changed = plain;
        changed.insert(u"status"_s, u"cancelled"_s);
        QTest::newRow("cancelled") << changed << 0 << "" << QColor() << "";
        QTest::newRow("no end") << proxyEvent(std::nullopt) << 0 << "" << QColor() << "";
        changed = plain;
        changed.insert(u"calendar_id"_s, u"work"_s);
        QTest::newRow("own calendar") << changed << 0 << "Work" << QColor(0x1a, 0x73, 0xe8) << "";
        changed.insert(u"calendar_id"_s, u"odd"_s);
        QTest::newRow("five hex digits") << changed << 0 << "Odd" << blue << "";
        changed.insert(u"calendar_id"_s, u"WORK"_s);
        QTest::newRow("unknown calendar") << changed << 1 << "Outlook" << blue << "";

        changed = plain;
        changed.insert(u"conferencing"_s,
                       QJsonObject{{u"provider"_s, u"Zoom Meeting"_s},
                                   {u"details"_s, QJsonObject{{u"url"_s, u"ht tp://x"_s}}}});
        changed.insert(u"location"_s, u"Room 4"_s);
        changed.insert(u"description"_s, u"Join https://meet.google.com/abc-defg-hij now"_s);
        QTest::newRow("bad conferencing url falls back to description")
            << changed << 0 << "Google Calendar" << blue << "https://meet.google.com/abc-defg-hij";
        changed.insert(
            u"conferencing"_s,
            QJsonObject{{u"details"_s, QJsonObject{{u"url"_s, u"https://zoom.us/j/123"_s}}}});
        QTest::newRow("conferencing url first")
            << changed << 0 << "Google Calendar" << blue << "https://zoom.us/j/123";
    }
    void convertsProxyEvents() {
        QFETCH(QJsonObject, proxy);
        QFETCH(int, provider);
        QFETCH(QString, calendarTitle);
        QFETCH(QColor, color);
        QFETCH(QString, link);
        const QList<ProxyCalendar> calendars{{u"work"_s, u"Work"_s, u"#1a73e8"_s, true},
                                             {u"odd"_s, u"Odd"_s, u"1a73e"_s, false}};
        const auto e = makeCalendarEvent(ProxyEvent::fromJson(proxy), u"ACC"_s,
                                         CalendarProvider(provider), calendars);
        QCOMPARE(e.has_value(), !calendarTitle.isEmpty());
        if (!e)
            return;
        QCOMPARE(e->id, u"nylas_p"_s);
        QCOMPARE(e->title, u"(No title)"_s);
        QCOMPARE(e->calendarTitle, calendarTitle);
        QCOMPARE(e->calendarColor, color);
        QCOMPARE(e->meetingLink.value_or(QUrl()).toString(), link);
        QCOMPARE(e->accountId, std::optional<QString>(u"ACC"_s));
        QCOMPARE(e->startDate.toSecsSinceEpoch(), 1000);
    }

    void participantsKeepSourceOrderWithoutOrganizer() {
        QJsonObject o = proxyEvent(2000);
        o.insert(u"participants"_s,
                 QJsonArray{QJsonObject{{u"email"_s, u"b@x"_s}, {u"status"_s, u"no"_s}},
                            QJsonObject{{u"email"_s, u"a@x"_s}},
                            QJsonObject{{u"email"_s, u"b@x"_s}}});
        o.insert(u"organizer"_s, QJsonObject{{u"email"_s, u"boss@x"_s}});
        const auto e = makeCalendarEvent(ProxyEvent::fromJson(o), {}, CalendarProvider::google, {});
        QCOMPARE(e->attendeeEmails, (QStringList{"b@x", "a@x", "b@x"}));
        QCOMPARE(e->organizerEmail, std::optional<QString>(u"boss@x"_s));
    }

    void slackSearchReplies_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("outcome"); // permalinks, or the error
        const QByteArray match = R"({"text":"hi","channel":{"name":"general"},"username":"ann",)"
                                 R"("ts":"1.2","permalink":"p1"})";
        QTest::newRow("match") << R"({"ok":true,"messages":{"matches":[)" + match + "]}}"
                               << "p1";
        QTest::newRow("no permalink skipped")
            << R"({"ok":true,"messages":{"matches":[{"text":"a","channel":{"name":"c"},)"
               R"("username":"u","ts":"1"},)" +
                   match + "]}}"
            << "p1";
        QTest::newRow("matches not a list")
            << QByteArray(R"({"ok":true,"messages":{"matches":{}}})") << "";
        QTest::newRow("refused") << QByteArray(R"({"ok":false,"error":"invalid_auth"})")
                                 << "Slack API error: invalid_auth";
        QTest::newRow("ok as text")
            << QByteArray(R"({"ok":"true"})") << "Slack API error: Unknown error";
    }
    void slackSearchReplies() {
        QFETCH(QByteArray, body);
        QFETCH(QString, outcome);
        QStringList found;
        try {
            for (const SlackMessage &m : SlackService::parseSearchReply(body))
                found.append(m.permalink);
        } catch (const SlackError &e) {
            found.append(e.description());
        }
        QCOMPARE(found.join(u' '), outcome);
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

    // Characters, not UTF-16 units: a flag is one character made of four units.
    void smsTextIsCutToSixteenHundredCharacters() {
        const QDateTime now = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
        CalendarEvent e;
        e.startDate = now.addSecs(600);
        for (const QString &unit : {u"x"_s, u"\U0001F1E9\U0001F1EA"_s}) {
            e.title = unit.repeated(2000);
            const QString text = SMSService::messageText(e, std::nullopt, now);
            QCOMPARE(SMSService::characterCount(text), 1600);
            QVERIFY(text.endsWith(unit + unit + u"..."_s));
        }
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
        QCOMPARE(CalendarService(*settings, proxy, secrets, auth, clock).accounts(),
                 reloaded.accounts());

        settings->setValue(AppSettings::Key::ConnectedAccounts, QByteArray("[{\"id\":1}]"));
        QVERIFY(CalendarService(*settings, proxy, secrets, auth, clock).accounts().isEmpty());
    }

    void emailThreadFromMessage() {
        const EmailThread bare = CalendarService::emailThread(
            ProxyMessage::fromJson(QJsonObject{{u"id"_s, u"m1"_s}, {u"from"_s, QJsonArray{}}}));
        QCOMPARE(bare.subject, u"(No subject)"_s);
        QCOMPARE(bare.messageCount, 1);
        const EmailThread full = CalendarService::emailThread(ProxyMessage::fromJson(
            QJsonDocument::fromJson(R"({"id":"m2","thread_id":"t","date":1700000000,
                "from":[{"email":"first@x"},{"email":"second@x"}]})")
                .object()));
        QCOMPARE(full.id, u"t"_s);
        QCOMPARE(full.from, u"first@x"_s);
        QVERIFY(!full.date.isEmpty());
    }
};

QTEST_MAIN(TestSyncRecords)
#include "tst_syncrecords.moc"
