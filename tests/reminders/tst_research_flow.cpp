// A meeting within the hour gets its brief through the whole service graph: the key from the
// Secret Service, the model provider over HTTP, the research cache on disk.
#include "LoopbackHttpServer.h"
#include "ManualClock.h"
#include "ServiceGraph.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "core/AppSettings.h"
#include "platform/SecretStore.h"
#include "prep/AttendeeResearchService.h"
#include "reminders/ReminderScheduler.h"
#include "sync/CalendarService.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using Response = LoopbackHttpServer::Response;

class TestResearchFlow : public QObject {
    Q_OBJECT

    TestEnvironment env;
    LoopbackHttpServer provider;
    SecretStore secrets;
    const QString apiKey = QStringLiteral("sk-ant-test-7f3a9c");
    const QStringList externals{QStringLiteral("dana@partner.example"),
                                QStringLiteral("lee@vendor.example")};

    static QByteArray toolReply(const QStringList &emails) {
        QJsonArray profiles;
        for (const QString &email : emails)
            profiles.append(QJsonObject{{"email", email},
                                        {"name", email.section(u'@', 0, 0)},
                                        {"company", email.section(u'@', 1)}});
        const QJsonObject input{{"summary", QJsonArray{"Renewal of the partner contract"}},
                                {"attendee_profiles", profiles},
                                {"talking_points", QJsonArray{"Timeline for the pilot"}}};
        const QJsonObject block{
            {"type", "tool_use"}, {"name", "finalize_briefing"}, {"input", input}};
        return QJsonDocument(QJsonObject{{"content", QJsonArray{block}}}).toJson();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(provider.start());
        qputenv("ZELVANE_ANTHROPIC_ORIGIN", provider.origin().toUtf8());
        provider.respondWith(Response::json(toolReply(externals)));
        QVERIFY(settle(secrets.save(QString::fromLatin1(SecretStore::llmApiKey), apiKey)).ok());
    }

    void meetingWithinTheHourGetsABriefAndCachedProfiles() {
        auto settings = env.makeSettings();
        ManualClock clock(QDateTime::currentDateTimeUtc());
        ServiceGraph services(*settings, clock);
        CalendarService &calendar = services.calendar;
        AttendeeResearchService research(services.llm, services.cache, services.slack,
                                         services.secrets, clock);
        CalendarEvent meeting;
        meeting.id = QStringLiteral("nylas_renewal-1");
        meeting.title = QStringLiteral("Contract renewal");
        meeting.startDate = clock.now().addSecs(30 * 60);
        meeting.endDate = meeting.startDate.addSecs(30 * 60);
        meeting.attendeeEmails = externals;
        calendar.publishEvents({meeting});

        ReminderScheduler scheduler(calendar, research, *settings, clock);
        scheduler.start();
        QVERIFY(scheduler.researching().contains(meeting.id));
        QTRY_VERIFY_WITH_TIMEOUT(scheduler.briefs().contains(meeting.id), 20000);

        const MeetingBrief brief = scheduler.briefs().value(meeting.id);
        QCOMPARE(brief.eventId, meeting.id);
        QCOMPARE(brief.talkingPoints, QStringList{QStringLiteral("Timeline for the pilot")});
        QCOMPARE(brief.attendeeProfiles.size(), 2);
        QCOMPARE(brief.attendeeProfiles[1].company, QStringLiteral("vendor.example"));
        QVERIFY(scheduler.researching().isEmpty());

        // The key travelled from the Secret Service; the profiles went to the cache.
        QCOMPARE(provider.requests().size(), 1);
        QCOMPARE(provider.requests().first().header("x-api-key"), apiKey.toUtf8());
        const QDir cache(env.dataHome() + QStringLiteral("/Zelvane/ResearchCache"));
        QCOMPARE(cache.entryList(QDir::Files).size(), externals.size());
    }
};

QTEST_GUILESS_MAIN(TestResearchFlow)
#include "tst_research_flow.moc"
