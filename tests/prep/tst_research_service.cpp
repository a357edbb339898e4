#include "LoopbackHttpServer.h"
#include "ManualClock.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "platform/SecretStore.h"
#include "prep/AttendeeResearchService.h"
#include "prep/ResearchCache.h"
#include "prep/ResearchPrompt.h"
#include "sync/BackendAPIClient.h"

#include <QCoroTask>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
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
    QCoro::Task<bool> slackConnected() override { co_return slackIsConnected; }
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
    std::unique_ptr<SlackService> slack;
    std::unique_ptr<ResearchWithContext> research;
    SecretStore secrets;
    BackendAPIClient backend;

    void setKey(const QString &value) {
        const QString account = QString::fromLatin1(SecretStore::llmApiKey);
        if (value.isNull())
            settle(secrets.remove(account));
        else
            QVERIFY(settle(secrets.save(account, value)).ok());
    }

    CalendarEvent event(QStringList attendees) const {
        CalendarEvent e;
        e.id = u"evt-42"_s;
        e.title = u"Renewal"_s;
        e.startDate = QDateTime(QDate(2027, 1, 15), QTime(16, 30), Qt::UTC);
        e.endDate = e.startDate.addSecs(1800);
        e.calendarTitle = u"Work"_s;
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
                                                   u"old"_s, clock->now()));
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
        setKey(u"sk-ant-test"_s);
        llm = std::make_unique<LLMService>(secrets, std::chrono::milliseconds(400));
        slack = std::make_unique<SlackService>(backend, secrets, *clock);
        research = std::make_unique<ResearchWithContext>(*llm, *cache, *slack, secrets, *clock);
        server.clearRequests();
        server.respondWith(Response::text("no model today", 500));
    }

    void cleanup() {
        research.reset();
        slack.reset();
        llm.reset();
        cache.reset();
        env.reset();
    }

    void topicModeForColleaguesOnly() {
        research->domains = {u"zelvane.app"_s};
        research->email = {{u"mary.ann.lee@zelvane.app"_s,
                            {EmailThread{"t1", "Plan", "m", "Jan 3", "Draft attached", 2}}}};
        server.respondWith(Response::json(toolReply({{"summary", QJsonArray{"Q1 planning"}},
                                                     {"attendee_profiles", QJsonArray{}},
                                                     {"talking_points", QJsonArray{"Budget?"}}})));
        CalendarEvent e = event({u"mary.ann.lee@zelvane.app"_s, u"BOB@Zelvane.App"_s});
        e.location = QString();
        e.notes = u"Bring numbers"_s;

        const auto brief = run(e);
        QVERIFY(brief);
        const auto [system, user] = prompts();
        QCOMPARE(system, ResearchPrompt::topicSystemPrompt());
        const QString header = u"Meeting: Renewal\nTime: "_s +
                               QLocale().toString(e.startDate.toLocalTime(), QLocale::ShortFormat) +
                               u"\nCalendar: Work\nLocation: \nNotes: Bring numbers"_s;
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
        research->domains = {u"zelvane.app"_s};
        research->slackIsConnected = true;
        research->slack = {
            {u"ana@acme.io"_s, {SlackMessage{"See you Friday", "deals", "ana", "1", "p"}}}};
        seedCache(u"carl@beta.org"_s, std::nullopt, std::nullopt, std::nullopt);
        seedCache(u"dina@gamma.net"_s, u"Dina Roy"_s, u"VP Sales"_s, u"Gamma"_s);
        server.respondWith(Response::json(toolReply(
            {{"summary", QJsonArray{"Acme is expanding"}},
             {"attendee_profiles",
              QJsonArray{QJsonObject{{"email", "ana@acme.io"}, {"name", "Ana"}, {"role", "CTO"}},
                         QJsonObject{{"email", "dina@gamma.net"}, {"role", "CRO"}}}},
             {"talking_points", QJsonArray{"Timeline"}}})));

        const CalendarEvent e =
            event({u"ana@acme.io"_s, u"carl@beta.org"_s, u"me@zelvane.app"_s, u"dina@gamma.net"_s});
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

        const auto ana = cache->get(idOf(u"ana@acme.io"_s));
        QVERIFY(ana);
        QCOMPARE(ana->name, u"Ana"_s);
        QCOMPARE(ana->eventIds, QSet<QString>{"evt-42"});
        // The model's new research replaces the earlier file.
        QCOMPARE(cache->get(idOf(u"dina@gamma.net"_s))->role, u"CRO"_s);
    }

    // The model names people and links of its own choosing; only this meeting's external
    // participants are kept, and only LinkedIn links.
    void modelOutputIsCheckedBeforeItIsKept() {
        research->domains = {u"zelvane.app"_s};
        server.respondWith(Response::json(
            toolReply({{"summary", QJsonArray{"s"}},
                       {"attendee_profiles",
                        QJsonArray{QJsonObject{{"email", "ANA@Acme.io"},
                                               {"linkedin_url", "https://de.linkedin.com/in/ana"}},
                                   QJsonObject{{"email", "bo@beta.org"},
                                               {"linkedin_url", "file:///etc/passwd"}},
                                   QJsonObject{{"email", "me@zelvane.app"}, {"role", "Boss"}},
                                   QJsonObject{{"email", "eve@nowhere.test"}, {"role", "Spy"}}}},
                       {"talking_points", QJsonArray{}}})));
        const auto brief = run(event({u"ana@acme.io"_s, u"bo@beta.org"_s, u"me@zelvane.app"_s}));
        QVERIFY(brief);
        QStringList shown;
        for (const Profile &p : brief->attendeeProfiles)
            shown.append(p.email + u' ' + (p.linkedInURL ? p.linkedInURL->toString() : u"-"_s) +
                         u' ' + p.role.value_or(u"-"_s));
        QCOMPARE(shown, (QStringList{"ana@acme.io https://de.linkedin.com/in/ana -",
                                     "bo@beta.org - -", "me@zelvane.app - -"}));
        QVERIFY(cache->get(idOf(u"ana@acme.io"_s)));
        QVERIFY(!cache->get(idOf(u"bo@beta.org"_s))->linkedInURL);
        QCOMPARE(QDir(cache->cacheDir()).entryList(QDir::Files).size(), 2);
    }

    void onlyTheFirstEightExternalsTakePart() {
        QStringList attendees;
        for (int i = 1; i <= 10; ++i)
            attendees.append(u"p%1@ext.com"_s.arg(i));
        seedCache(u"p10@ext.com"_s, u"Ten"_s, {}, {});
        run(event(attendees));
        const QString user = prompts().second;
        QVERIFY(user.contains("- p8@ext.com\n"));
        QVERIFY(!user.contains("p9@ext.com"));
        QVERIFY(!user.contains("Ten") && !user.contains("Already known"));
        QCOMPARE(research->emailAsked.first(), attendees.first(8));
    }

    // Outcomes without a full prompt: who is known decides whether the model is asked and what
    // a failed call still yields.
    void outcomes_data() {
        QTest::addColumn<QStringList>("attendees");
        QTest::addColumn<bool>("seedAna");
        QTest::addColumn<Response>("reply");
        QTest::addColumn<int>("modelCalls");
        QTest::addColumn<QStringList>("summary");
        const QStringList known{"Meeting with 2 known attendee(s). Research loaded from cache."};
        QTest::newRow("everyone cached") << QStringList{"ana@acme.io", "me@zelvane.app"} << true
                                         << Response::text("unused", 500) << 0 << known;
        QTest::newRow("nobody known") << QStringList{"ana@acme.io"} << false
                                      << Response::text("overloaded", 529) << 1 << QStringList{};
        QTest::newRow("two colleagues, garbage reply")
            << QStringList{"x@zelvane.app", "y@zelvane.app", "ana@acme.io"} << false
            << Response::json("not json") << 1 << known;
        QTest::newRow("partly cached, model silent")
            << QStringList{"ana@acme.io", "bo@beta.org", "x@zelvane.app"} << true
            << Response::silence() << 1 << known;
    }
    void outcomes() {
        QFETCH(QStringList, attendees);
        QFETCH(bool, seedAna);
        QFETCH(Response, reply);
        QFETCH(int, modelCalls);
        QFETCH(QStringList, summary);
        research->domains = {u"zelvane.app"_s};
        if (seedAna)
            seedCache(u"ana@acme.io"_s, u"Ana"_s, {}, {});
        server.respondWith(reply);
        const auto brief = run(event(attendees));
        QCOMPARE(server.requests().size(), modelCalls);
        QCOMPARE(research->emailAsked.size(), modelCalls);
        QCOMPARE(brief.has_value(), !summary.isEmpty());
        if (brief) {
            QCOMPARE(brief->summary, summary);
            QVERIFY(brief->talkingPoints.isEmpty());
            if (seedAna)
                QCOMPARE(brief->attendeeProfiles[0].name, u"Ana"_s);
        }
        QVERIFY(research->researching().isEmpty());
    }

    void noKeyNoResearch() {
        setKey(u""_s);
        QCOMPARE(run(event({u"ana@acme.io"_s})), std::nullopt);
        setKey({});
        QCOMPARE(run(event({u"ana@acme.io"_s})), std::nullopt);
        QVERIFY(server.requests().isEmpty());
    }

    void secondRunForTheSameEventWaits() {
        server.respondWith(Response::silence());
        const CalendarEvent e = event({u"ana@acme.io"_s});
        auto first = research->researchMeeting(e);
        QTRY_COMPARE(server.requests().size(), 1);
        QCOMPARE(research->researching(), QSet<QString>{"evt-42"});
        QCOMPARE(QCoro::waitFor(research->researchMeeting(e)), std::nullopt);
        QCOMPARE(QCoro::waitFor(std::move(first)), std::nullopt);
        QVERIFY(research->researching().isEmpty());
        QCOMPARE(server.requests().size(), 1);
    }

    // The menu's "researching" mark times out after 120 s; the stalled run then ends on its own
    // without taking the mark of a run started after the time-out.
    void progressTimesOutWithoutEndingALaterRun() {
        server.respondWith(Response::silence());
        const CalendarEvent e = event({u"ana@acme.io"_s});
        QSignalSpy changes(research.get(), &AttendeeResearchService::researchingChanged);
        auto first = research->researchMeeting(e);
        QCOMPARE(research->researching(), QSet<QString>{"evt-42"});
        QCOMPARE(changes.count(), 1);
        QTRY_COMPARE(server.requests().size(), 1);

        clock->advance(119);
        QCOMPARE(research->researching(), QSet<QString>{"evt-42"});
        clock->advance(1);
        QVERIFY(research->researching().isEmpty());
        QCOMPARE(changes.count(), 2);

        auto second = research->researchMeeting(e);
        QCOMPARE(research->researching(), QSet<QString>{"evt-42"});
        QCOMPARE(QCoro::waitFor(std::move(first)), std::nullopt);
        QCOMPARE(research->researching(), QSet<QString>{"evt-42"});
        QCOMPARE(QCoro::waitFor(std::move(second)), std::nullopt);
        QVERIFY(research->researching().isEmpty());
        QCOMPARE(changes.count(), 4);
        QCOMPARE(server.requests().size(), 2);
        // A time-out that falls after its run has ended changes nothing.
        clock->advance(120);
        QCOMPARE(changes.count(), 4);
    }

    void contextIsCut() {
        QHash<QString, QList<EmailThread>> threads{
            {u"a@x.com"_s,
             {EmailThread{"1", "One", "", "d1", QString(200, u'e'), 1},
              EmailThread{"2", "Two", "", "d2", u"short"_s, 1},
              EmailThread{"3", "Three", "", "d3", u"never"_s, 1}}},
            {u"b@x.com"_s, {}}};
        QCOMPARE(ResearchPrompt::emailSection(threads),
                 "\n\nEmail history:\nRecent emails with a@x.com:\n  - One (d1): " +
                     QString(150, u'e') + "\n  - Two (d2): short");
        QList<SlackMessage> messages;
        for (int i = 1; i <= 4; ++i)
            messages.append({u"m%1"_s.arg(i), "c", "u", "", ""});
        // A character outside the BMP is never cut in half.
        messages[0].text = QString(149, u'x') + u"\U0001F600tail"_s;
        QCOMPARE(ResearchPrompt::slackSection({{u"a@x.com"_s, messages}}),
                 "\n\nSlack history:\nRecent Slack messages with a@x.com:\n  - #c (u): " +
                     QString(149, u'x') + u"\U0001F600"_s + "\n  - #c (u): m2\n  - #c (u): m3");
        QCOMPARE(ResearchPrompt::emailSection({{u"a@x.com"_s, {}}}), QString());
        // A combining accent after the 150th letter belongs to it.
        const QString accented = QString(150, u'e') + u"\u0301tail"_s;
        QCOMPARE(ResearchPrompt::emailSection(
                     {{u"a@x.com"_s, {EmailThread{"1", "S", "", "d", accented, 1}}}}),
                 "\n\nEmail history:\nRecent emails with a@x.com:\n  - S (d): " +
                     QString(150, u'e') + u"\u0301"_s);
    }

    void headerAndColleagues() {
        CalendarEvent e = event({});
        e.title = u"Sync"_s;
        QCOMPARE(ResearchPrompt::meetingHeader(e),
                 "Meeting: Sync\nTime: " +
                     QLocale().toString(e.startDate.toLocalTime(), QLocale::ShortFormat) +
                     "\nCalendar: Work\n\n");
        QCOMPARE(ResearchPrompt::colleagueProfile(u"teamroom"_s),
                 profile("teamroom", "Teamroom", {}, "teamroom", "Internal team member"));
        QCOMPARE(ResearchPrompt::colleagueProfile(u"a.b@c@d.io"_s),
                 profile("a.b@c@d.io", "A B", {}, "d.io", "Internal team member"));
    }
};

Q_DECLARE_METATYPE(LoopbackHttpServer::Response)

QTEST_GUILESS_MAIN(TestResearchService)
#include "tst_research_service.moc"
