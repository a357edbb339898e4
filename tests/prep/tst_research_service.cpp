#include "LoopbackHttpServer.h"
#include "TestEnvironment.h"
#include "core/Clock.h"
#include "prep/AttendeeResearchService.h"
#include "prep/ResearchCache.h"
#include "prep/ResearchPrompt.h"

#include <QCoroTask>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTest>

using Response = LoopbackHttpServer::Response;
using Profile = MeetingBrief::AttendeeProfile;

namespace {
// The real research flow; only the user's domains and the e-mail and Slack context, which
// belong to the calendar and Slack services, are given by the test.
class ResearchWithContext : public AttendeeResearchService {
public:
    using AttendeeResearchService::AttendeeResearchService;

    QSet<QString> domains;
    QHash<QString, QList<EmailThread>> email;
    QHash<QString, QList<SlackMessage>> slack;
    bool slackIsConnected = false;
    QList<QStringList> emailAsked, slackAsked;

protected:
    QSet<QString> userDomains() const override { return domains; }
    QCoro::Task<QHash<QString, QList<EmailThread>>> emailContext(QStringList addresses) override {
        emailAsked.append(addresses);
        co_return email;
    }
    bool slackConnected() const override { return slackIsConnected; }
    QCoro::Task<QHash<QString, QList<SlackMessage>>> slackContext(QStringList addresses) override {
        slackAsked.append(addresses);
        co_return slack;
    }
};

QByteArray toolReply(const QJsonObject &input) {
    const QJsonObject block{{"type", "tool_use"}, {"name", "finalize_briefing"}, {"input", input}};
    return QJsonDocument(QJsonObject{{"content", QJsonArray{block}}}).toJson();
}

QString idOf(const QString &address) {
    return Attendee(address, std::nullopt, {}).id;
}

Profile profile(QString email, std::optional<QString> name, std::optional<QString> role,
                std::optional<QString> company, std::optional<QString> notes = std::nullopt) {
    Profile p;
    p.email = std::move(email);
    p.name = std::move(name);
    p.role = std::move(role);
    p.company = std::move(company);
    p.notes = std::move(notes);
    return p;
}
} // namespace

class TestResearchService : public QObject {
    Q_OBJECT

    LoopbackHttpServer server;
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<ResearchCache> cache;
    std::unique_ptr<LLMService> llm;
    std::unique_ptr<ResearchWithContext> research;
    QHash<QString, QString> secrets;

    CalendarEvent event(QStringList attendees) const {
        CalendarEvent e;
        e.id = QStringLiteral("evt-42");
        e.title = QStringLiteral("Renewal");
        e.startDate = QDateTime(QDate(2027, 1, 15), QTime(16, 30), Qt::UTC);
        e.endDate = e.startDate.addSecs(1800);
        e.calendarTitle = QStringLiteral("Work");
        e.attendeeEmails = std::move(attendees);
        return e;
    }

    std::optional<MeetingBrief> run(const CalendarEvent &e) {
        return QCoro::waitFor(research->researchMeeting(e));
    }

    // The prompts of the one model call so far.
    std::pair<QString, QString> prompts() const {
        const QJsonObject body = QJsonDocument::fromJson(server.requests().last().body).object();
        return {body["system"].toString(), body["messages"][0]["content"].toString()};
    }

    void seedCache(const QString &address, std::optional<QString> name, std::optional<QString> role,
                   std::optional<QString> company) {
        BriefingResponse::Profile p;
        p.email = address;
        p.role = std::move(role);
        p.company = std::move(company);
        cache->store(idOf(address), CachedResearch(idOf(address), address, std::move(name), p,
                                                   QStringLiteral("old"), clock->now()));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(server.start());
        qputenv("ZELVANE_ANTHROPIC_ORIGIN", server.origin().toUtf8());
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void init() {
        env = std::make_unique<TestEnvironment>();
        clock = std::make_unique<ManualClock>();
        cache = std::make_unique<ResearchCache>(ResearchCache::defaultDirectory(), *clock);
        secrets = {{QStringLiteral("llm_api_key"), QStringLiteral("sk-ant-test")}};
        auto source = [this](const QString &name) -> std::optional<QString> {
            if (!secrets.contains(name))
                return std::nullopt;
            return secrets.value(name);
        };
        llm = std::make_unique<LLMService>(source, std::chrono::milliseconds(400));
        research = std::make_unique<ResearchWithContext>(*llm, *cache, SlackService::shared(),
                                                         source, *clock);
        server.clearRequests();
        server.respondWith(Response::text("no model today", 500));
    }

    void cleanup() {
        research.reset();
        llm.reset();
        cache.reset();
        env.reset();
    }

    void topicModeForColleaguesOnly() {
        research->domains = {QStringLiteral("zelvane.app")};
        research->email = {{QStringLiteral("mary.ann.lee@zelvane.app"),
                            {EmailThread{"t1", "Plan", "m", "Jan 3", "Draft attached", 2}}}};
        server.respondWith(Response::json(toolReply({{"summary", QJsonArray{"Q1 planning"}},
                                                     {"attendee_profiles", QJsonArray{}},
                                                     {"talking_points", QJsonArray{"Budget?"}}})));
        CalendarEvent e =
            event({QStringLiteral("mary.ann.lee@zelvane.app"), QStringLiteral("BOB@Zelvane.App")});
        e.location = QString();
        e.notes = QStringLiteral("Bring numbers");

        const auto brief = run(e);
        QVERIFY(brief);
        const auto [system, user] = prompts();
        QCOMPARE(system, ResearchPrompt::topicSystemPrompt());
        const QString header = QStringLiteral("Meeting: Renewal\nTime: ") +
                               QLocale().toString(e.startDate.toLocalTime(), QLocale::ShortFormat) +
                               QStringLiteral("\nCalendar: Work\nLocation: \nNotes: Bring numbers");
        QCOMPARE(user, header + "\n\n\nInternal attendees (colleagues, do not web-search these):\n"
                                "- mary.ann.lee@zelvane.app\n- BOB@Zelvane.App\n"
                                "\n\nEmail history:\nRecent emails with mary.ann.lee@zelvane.app:\n"
                                "  - Plan (Jan 3): Draft attached\n"
                                "\n\nResearch the meeting topic and call finalize_briefing with "
                                "context and talking points.");
        // Context is asked for the colleagues too; Slack is not connected.
        QCOMPARE(research->emailAsked.size(), 1);
        QVERIFY(research->slackAsked.isEmpty());

        QCOMPARE(brief->generatedAt, clock->now());
        QCOMPARE(brief->summary, QStringList{"Q1 planning"});
        QCOMPARE(brief->talkingPoints, QStringList{"Budget?"});
        QCOMPARE(brief->attendeeProfiles,
                 (QList<Profile>{profile("mary.ann.lee@zelvane.app", "Mary Ann Lee", {},
                                         "zelvane.app", "Internal team member"),
                                 profile("BOB@Zelvane.App", "Bob", {}, "Zelvane.App",
                                         "Internal team member")}));
        QVERIFY(research->researching().isEmpty());
    }

    void attendeeModeCachesWhatTheModelFound() {
        research->domains = {QStringLiteral("zelvane.app")};
        research->slackIsConnected = true;
        research->slack = {{QStringLiteral("ana@acme.io"),
                            {SlackMessage{"See you Friday", "deals", "ana", "1", "p"}}}};
        seedCache(QStringLiteral("carl@beta.org"), std::nullopt, std::nullopt, std::nullopt);
        seedCache(QStringLiteral("dina@gamma.net"), QStringLiteral("Dina Roy"),
                  QStringLiteral("VP Sales"), QStringLiteral("Gamma"));
        server.respondWith(Response::json(toolReply(
            {{"summary", QJsonArray{"Acme is expanding"}},
             {"attendee_profiles",
              QJsonArray{QJsonObject{{"email", "ana@acme.io"}, {"name", "Ana"}, {"role", "CTO"}},
                         QJsonObject{{"email", "dina@gamma.net"}, {"role", "CRO"}}}},
             {"talking_points", QJsonArray{"Timeline"}}})));

        const CalendarEvent e =
            event({QStringLiteral("ana@acme.io"), QStringLiteral("carl@beta.org"),
                   QStringLiteral("me@zelvane.app"), QStringLiteral("dina@gamma.net")});
        const auto brief = run(e);
        QVERIFY(brief);

        const auto [system, user] = prompts();
        QCOMPARE(system, ResearchPrompt::attendeeSystemPrompt());
        QVERIFY(user.endsWith(
            "\n\nExternal attendees to research:\n- ana@acme.io"
            "\n\nAlready known attendees (do not research these):\ncarl@beta.org:  at \n"
            "Dina Roy: VP Sales at Gamma\n"
            "\n\nInternal attendees (colleagues, do not web-search these):\n- me@zelvane.app\n\n"
            "\n\nSlack history:\nRecent Slack messages with ana@acme.io:\n"
            "  - #deals (ana): See you Friday"
            "\n\nResearch each attendee and then call finalize_briefing with the complete "
            "results."));
        // E-mail context found nothing, so its section is empty but its line break stays.
        QVERIFY(user.contains("me@zelvane.app\n\n\n\nSlack history:"));
        const QStringList context{"ana@acme.io", "carl@beta.org", "dina@gamma.net",
                                  "me@zelvane.app"};
        QCOMPARE(research->emailAsked, QList<QStringList>{context});
        QCOMPARE(research->slackAsked, QList<QStringList>{context});

        QCOMPARE(brief->summary, QStringList{"Acme is expanding"});
        QStringList order;
        for (const Profile &p : brief->attendeeProfiles)
            order.append(p.email + u'/' + p.role.value_or("-"));
        // Cached first, then the model's (a cached person may come twice), then colleagues.
        QCOMPARE(order, (QStringList{"carl@beta.org/-", "dina@gamma.net/VP Sales",
                                     "ana@acme.io/CTO", "dina@gamma.net/CRO", "me@zelvane.app/-"}));

        const auto ana = cache->get(idOf(QStringLiteral("ana@acme.io")));
        QVERIFY(ana);
        QCOMPARE(ana->name, QStringLiteral("Ana"));
        QCOMPARE(ana->eventIds, QSet<QString>{"evt-42"});
        // The model's new research replaces the earlier file.
        QCOMPARE(cache->get(idOf(QStringLiteral("dina@gamma.net")))->role, QStringLiteral("CRO"));
    }

    void everyoneCachedNeedsNoModel() {
        research->domains = {QStringLiteral("zelvane.app")};
        seedCache(QStringLiteral("ana@acme.io"), QStringLiteral("Ana"), QStringLiteral("CTO"),
                  QStringLiteral("Acme"));
        const auto brief =
            run(event({QStringLiteral("ana@acme.io"), QStringLiteral("me@zelvane.app")}));
        QVERIFY(brief);
        QVERIFY(server.requests().isEmpty());
        QVERIFY(research->emailAsked.isEmpty());
        QCOMPARE(brief->summary,
                 QStringList{"Meeting with 2 known attendee(s). Research loaded from cache."});
        QCOMPARE(brief->attendeeProfiles[0].name, QStringLiteral("Ana"));
    }

    void onlyTheFirstEightExternalsTakePart() {
        QStringList attendees;
        for (int i = 1; i <= 10; ++i)
            attendees.append(QStringLiteral("p%1@ext.com").arg(i));
        seedCache(QStringLiteral("p10@ext.com"), QStringLiteral("Ten"), {}, {});
        run(event(attendees));
        const QString user = prompts().second;
        QVERIFY(user.contains("- p8@ext.com\n"));
        QVERIFY(!user.contains("p9@ext.com"));
        QVERIFY(!user.contains("Ten") && !user.contains("Already known"));
        QCOMPARE(research->emailAsked.first(), attendees.first(8));
    }

    void modelFailureFallsBack_data() {
        QTest::addColumn<QStringList>("attendees");
        QTest::addColumn<bool>("seedAna");
        QTest::addColumn<Response>("reply");
        QTest::addColumn<QStringList>("summary");
        QTest::newRow("nobody known") << QStringList{"ana@acme.io"} << false
                                      << Response::text("overloaded", 529) << QStringList{};
        QTest::newRow("two colleagues")
            << QStringList{"x@zelvane.app", "y@zelvane.app", "ana@acme.io"} << false
            << Response::json("not json")
            << QStringList{"Meeting with 2 known attendee(s). Research loaded from cache."};
        QTest::newRow("cached and colleague, model silent")
            << QStringList{"ana@acme.io", "bo@beta.org", "x@zelvane.app"} << true
            << Response::silence()
            << QStringList{"Meeting with 2 known attendee(s). Research loaded from cache."};
    }

    void modelFailureFallsBack() {
        QFETCH(QStringList, attendees);
        QFETCH(bool, seedAna);
        QFETCH(Response, reply);
        QFETCH(QStringList, summary);
        research->domains = {QStringLiteral("zelvane.app")};
        if (seedAna)
            seedCache(QStringLiteral("ana@acme.io"), QStringLiteral("Ana"), {}, {});
        server.respondWith(reply);
        const auto brief = run(event(attendees));
        QCOMPARE(server.requests().size(), 1);
        QCOMPARE(brief.has_value(), !summary.isEmpty());
        if (brief) {
            QCOMPARE(brief->summary, summary);
            QVERIFY(brief->talkingPoints.isEmpty());
        }
        QVERIFY(research->researching().isEmpty());
    }

    void noKeyNoResearch() {
        secrets.insert(QStringLiteral("llm_api_key"), QString());
        QCOMPARE(run(event({QStringLiteral("ana@acme.io")})), std::nullopt);
        secrets.clear();
        QCOMPARE(run(event({QStringLiteral("ana@acme.io")})), std::nullopt);
        QVERIFY(server.requests().isEmpty());
        QVERIFY(research->emailAsked.isEmpty());
    }

    void secondRunForTheSameEventWaits() {
        server.respondWith(Response::silence());
        const CalendarEvent e = event({QStringLiteral("ana@acme.io")});
        auto first = research->researchMeeting(e);
        QTRY_COMPARE(server.requests().size(), 1);
        QCOMPARE(research->researching(), QSet<QString>{"evt-42"});
        QCOMPARE(QCoro::waitFor(research->researchMeeting(e)), std::nullopt);
        QCOMPARE(QCoro::waitFor(std::move(first)), std::nullopt);
        QVERIFY(research->researching().isEmpty());
        QCOMPARE(server.requests().size(), 1);
    }

    void contextIsCut() {
        QHash<QString, QList<EmailThread>> threads{
            {QStringLiteral("a@x.com"),
             {EmailThread{"1", "One", "", "d1", QString(200, u'e'), 1},
              EmailThread{"2", "Two", "", "d2", QStringLiteral("short"), 1},
              EmailThread{"3", "Three", "", "d3", QStringLiteral("never"), 1}}},
            {QStringLiteral("b@x.com"), {}}};
        QCOMPARE(ResearchPrompt::emailSection(threads),
                 "\n\nEmail history:\nRecent emails with a@x.com:\n  - One (d1): " +
                     QString(150, u'e') + "\n  - Two (d2): short");
        QList<SlackMessage> messages;
        for (int i = 1; i <= 4; ++i)
            messages.append({QStringLiteral("m%1").arg(i), "c", "u", "", ""});
        // A character outside the BMP is never cut in half.
        messages[0].text = QString(149, u'x') + QStringLiteral("\U0001F600tail");
        QCOMPARE(ResearchPrompt::slackSection({{QStringLiteral("a@x.com"), messages}}),
                 "\n\nSlack history:\nRecent Slack messages with a@x.com:\n  - #c (u): " +
                     QString(149, u'x') + QStringLiteral("\U0001F600") +
                     "\n  - #c (u): m2\n  - #c (u): m3");
        QCOMPARE(ResearchPrompt::emailSection({{QStringLiteral("a@x.com"), {}}}), QString());
        // A combining accent after the 150th letter belongs to it.
        const QString accented = QString(150, u'e') + QStringLiteral("\u0301tail");
        QCOMPARE(ResearchPrompt::emailSection(
                     {{QStringLiteral("a@x.com"), {EmailThread{"1", "S", "", "d", accented, 1}}}}),
                 "\n\nEmail history:\nRecent emails with a@x.com:\n  - S (d): " +
                     QString(150, u'e') + QStringLiteral("\u0301"));
    }

    void headerWithoutLocationOrNotes() {
        CalendarEvent e = event({});
        e.title = QStringLiteral("Sync");
        QCOMPARE(ResearchPrompt::meetingHeader(e),
                 "Meeting: Sync\nTime: " +
                     QLocale().toString(e.startDate.toLocalTime(), QLocale::ShortFormat) +
                     "\nCalendar: Work\n\n");
    }

    void colleagueNames_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("company");
        QTest::newRow("dotted") << "mary.ann.lee@zelvane.app"
                                << "Mary Ann Lee"
                                << "zelvane.app";
        QTest::newRow("no at sign") << "teamroom"
                                    << "Teamroom"
                                    << "teamroom";
        QTest::newRow("two at signs") << "a.b@c@d.io"
                                      << "A B"
                                      << "d.io";
    }

    void colleagueNames() {
        QFETCH(QString, address);
        QFETCH(QString, name);
        QFETCH(QString, company);
        QCOMPARE(ResearchPrompt::colleagueProfile(address),
                 profile(address, name, {}, company, "Internal team member"));
    }
};

Q_DECLARE_METATYPE(LoopbackHttpServer::Response)

QTEST_GUILESS_MAIN(TestResearchService)
#include "tst_research_service.moc"
