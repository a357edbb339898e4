#include "LoopbackHttpServer.h"
#include "ManualClock.h"
#include "PrepTesting.h"
#include "TestEnvironment.h"
#include "prep/AttendeeResearchService.h"
#include "prep/ResearchCache.h"
#include "prep/ResearchPrompt.h"
#include "sync/BackendAPIClient.h"

#include <QDir>
#include <QLocale>
#include <QScopeGuard>
#include <QSignalSpy>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using Response = LoopbackHttpServer::Response;
using Profile = MeetingBrief::AttendeeProfile;

namespace {
// The real research flow; only the user's domains and the e-mail and Slack context, which
// belong to the calendar and Slack services, are given by the test.
class ResearchWithContext : public AttendeeResearchService {
public:
    using AttendeeResearchService::AttendeeResearchService;

    QSet<QString> domains{u"zelvane.app"_s};
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

QString idOf(const QString &address) {
    return Attendee(address, std::nullopt, {}).id;
}

// What the cache holds about `address`, researched at `at` for event "old".
CachedResearch record(const QString &address, const QDateTime &at, std::optional<QString> name = {},
                      std::optional<QString> role = {}, std::optional<QString> company = {}) {
    Profile profile;
    profile.role = std::move(role);
    profile.company = std::move(company);
    return CachedResearch(idOf(address), address, std::move(name), profile, u"old"_s, at);
}

} // namespace

class TestResearch : public QObject {
    Q_OBJECT

    LoopbackHttpServer server;
    SecretStore secrets;
    BackendAPIClient backend;
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<ResearchCache> cache;
    std::unique_ptr<LLMService> llm;
    std::unique_ptr<SlackService> slack;
    std::unique_ptr<ResearchWithContext> research;
    const QString id = idOf(u"a@b.c"_s);

    static CalendarEvent event(QStringList attendees) {
        CalendarEvent e;
        e.id = u"evt-42"_s;
        e.title = u"Renewal"_s;
        e.startDate = QDateTime(QDate(2027, 1, 15), QTime(16, 30), Qt::UTC);
        e.calendarTitle = u"Work"_s;
        e.attendeeEmails = std::move(attendees);
        return e;
    }

    std::optional<MeetingBrief> run(const CalendarEvent &e) {
        return QCoro::waitFor(research->researchMeeting(e));
    }

    // The prompts of the last model call.
    std::pair<QString, QString> prompts() const {
        const QJsonObject body = QJsonDocument::fromJson(server.requests().last().body).object();
        return {body["system"].toString(), body["messages"][0]["content"].toString()};
    }

    void seedCache(const QString &address, std::optional<QString> name = {},
                   std::optional<QString> role = {}, std::optional<QString> company = {}) {
        cache->store(idOf(address), record(address, clock->now(), name, role, company));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(server.start());
        qputenv("ZELVANE_ANTHROPIC_ORIGIN", server.origin().toUtf8());
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void init() {
        // The old environment goes first: it restores the variables the new one sets.
        research.reset();
        env.reset();
        env = std::make_unique<TestEnvironment>();
        clock = std::make_unique<ManualClock>();
        cache = std::make_unique<ResearchCache>(ResearchCache::defaultDirectory(), *clock);
        putSecret(secrets, SecretStore::llmApiKey, u"sk-ant-test"_s);
        llm = std::make_unique<LLMService>(secrets, std::chrono::milliseconds(400));
        slack = std::make_unique<SlackService>(backend, secrets, *clock);
        research = std::make_unique<ResearchWithContext>(*llm, *cache, *slack, secrets, *clock);
        server.clearRequests();
        server.respondWith(Response::text("no model today", 500));
    }

    void topicModeForColleaguesOnly() {
        research->email = {{u"mary.ann.lee@zelvane.app"_s,
                            {EmailThread{"t1", "Plan", "m", "Jan 3", "Draft attached", 2}}}};
        server.respondWith(Response::json(
            claudeToolReply(json("{'summary':['Q1 planning'],'talking_points':['Budget?']}"))));
        const CalendarEvent e = event({u"mary.ann.lee@zelvane.app"_s, u"BOB@Zelvane.App"_s});
        const auto brief = run(e);
        QVERIFY(brief);
        const auto [system, user] = prompts();
        QCOMPARE(system, ResearchPrompt::topicSystemPrompt());
        const QString time = QLocale().toString(e.startDate.toLocalTime(), QLocale::ShortFormat);
        QCOMPARE(user, "Meeting: Renewal\nTime: " + time +
                           "\nCalendar: Work\n\n\n\n\nInternal attendees (colleagues, do not "
                           "web-search these):\n"
                           "- mary.ann.lee@zelvane.app\n- BOB@Zelvane.App\n"
                           "\n\nEmail history:\nRecent emails with mary.ann.lee@zelvane.app:\n"
                           "  - Plan (Jan 3): Draft attached\n"
                           "\n\nResearch the meeting topic and call finalize_briefing with "
                           "context and talking points.");
        // Context is asked for the colleagues too; Slack is not connected.
        QCOMPARE(research->emailAsked.size(), 1);
        QVERIFY(research->slackAsked.isEmpty());

        QCOMPARE(brief->generatedAt, clock->now());
        QCOMPARE(describe(*brief),
                 "Q1 planning ; Budget? ; "
                 "mary.ann.lee@zelvane.app,Mary Ann Lee,-,zelvane.app,-,-,-,Internal team member ; "
                 "BOB@Zelvane.App,Bob,-,Zelvane.App,-,-,-,Internal team member");
        QVERIFY(research->researching().isEmpty());
    }

    // The model names people and links of its own choosing: only this meeting's external
    // participants are kept, under the event's spelling, and only LinkedIn links.
    void attendeeModeKeepsWhatTheModelFoundAboutTheGuests() {
        research->slackIsConnected = true;
        research->slack = {
            {u"ana@acme.io"_s, {SlackMessage{"See you Friday", "deals", "ana", "1", "p"}}}};
        seedCache(u"carl@beta.org"_s);
        seedCache(u"dina@gamma.net"_s, u"Dina Roy"_s, u"VP Sales"_s, u"Gamma"_s);
        server.respondWith(Response::json(claudeToolReply(json(
            "{'summary':['Acme is expanding'],'attendee_profiles':[{'email':'ANA@Acme.io','name':"
            "'Ana','role':'CTO','linkedin_url':'https://de.linkedin.com/in/ana'},{'email':"
            "'dina@gamma.net','role':'CRO'},{'email':'bo@beta.org','linkedin_url':"
            "'file:///etc/passwd'},{'email':'me@zelvane.app','role':'Boss'},{'email':"
            "'eve@nowhere.test','role':'Spy'}]}"))));

        const QStringList context{"ana@acme.io", "carl@beta.org", "dina@gamma.net", "bo@beta.org",
                                  "me@zelvane.app"};
        const auto brief = run(event({u"ana@acme.io"_s, u"carl@beta.org"_s, u"me@zelvane.app"_s,
                                      u"dina@gamma.net"_s, u"bo@beta.org"_s}));
        QVERIFY(brief);
        const auto [system, user] = prompts();
        QCOMPARE(system, ResearchPrompt::attendeeSystemPrompt());
        // E-mail context found nothing, so its section is empty but its line break stays.
        QVERIFY(user.endsWith(
            "\n\nExternal attendees to research:\n- ana@acme.io\n- bo@beta.org"
            "\n\nAlready known attendees (do not research these):\ncarl@beta.org:  at \n"
            "Dina Roy: VP Sales at Gamma\n"
            "\n\nInternal attendees (colleagues, do not web-search these):\n- me@zelvane.app\n\n"
            "\n\nSlack history:\nRecent Slack messages with ana@acme.io:\n"
            "  - #deals (ana): See you Friday"
            "\n\nResearch each attendee and then call finalize_briefing with the complete "
            "results."));
        QCOMPARE(research->emailAsked, QList<QStringList>{context});
        QCOMPARE(research->slackAsked, QList<QStringList>{context});

        // Cached first, then the model's (a cached person may come twice), then colleagues.
        QCOMPARE(describe(*brief), "Acme is expanding ;  ; carl@beta.org ; "
                                   "dina@gamma.net,Dina Roy,VP Sales,Gamma ; "
                                   "ana@acme.io,Ana,CTO,-,-,-,https://de.linkedin.com/in/ana ; "
                                   "dina@gamma.net,-,CRO ; bo@beta.org ; "
                                   "me@zelvane.app,Me,-,zelvane.app,-,-,-,Internal team member");
        QVERIFY(cache->get(idOf(u"ana@acme.io"_s))->linkedInURL);
        QVERIFY(!cache->get(idOf(u"bo@beta.org"_s))->linkedInURL);
        // The model's new research replaces the earlier file rather than merging with it.
        const auto dina = cache->get(idOf(u"dina@gamma.net"_s));
        QCOMPARE(dina->role, u"CRO"_s);
        QCOMPARE(dina->eventIds, QSet<QString>{"evt-42"});
        QCOMPARE(QDir(cache->cacheDir()).entryList(QDir::Files).size(), 4);
    }

    void onlyTheFirstEightExternalsTakePart() {
        QStringList attendees;
        for (int i = 1; i <= 10; ++i)
            attendees.append(u"p%1@ext.com"_s.arg(i));
        seedCache(u"p10@ext.com"_s, u"Ten"_s);
        run(event(attendees));
        const QString user = prompts().second;
        QVERIFY(user.contains("- p8@ext.com\n") && !user.contains("p9@ext.com") &&
                !user.contains("Already known"));
        QCOMPARE(research->emailAsked.first(), attendees.first(8));
    }

    // Who is known decides whether the model is asked and what a failed call still yields.
    void fallbacks_data() {
        QTest::addColumn<QStringList>("attendees");
        QTest::addColumn<Response>("reply");
        QTest::addColumn<int>("modelCalls");
        QTest::addColumn<QString>("brief"); // empty: none
        const QString known = u"Meeting with 2 known attendee(s). Research loaded from cache. ;  ; "
                              "ana@acme.io,Ana ; me@zelvane.app,Me,-,zelvane.app,-,-,-,Internal "
                              "team member"_s;
        QTest::newRow("everyone cached") << QStringList{"ana@acme.io", "me@zelvane.app"}
                                         << Response::text("unused", 500) << 0 << known;
        QTest::newRow("nobody known")
            << QStringList{"bo@beta.org"} << Response::text("overloaded", 529) << 1 << QString();
        QTest::newRow("partly cached, garbage reply")
            << QStringList{"bo@beta.org", "ana@acme.io", "me@zelvane.app"} << Response::json("nope")
            << 1 << known;
    }
    void fallbacks() {
        QFETCH(QStringList, attendees);
        QFETCH(Response, reply);
        QFETCH(int, modelCalls);
        QFETCH(QString, brief);
        seedCache(u"ana@acme.io"_s, u"Ana"_s);
        server.respondWith(reply);
        const auto made = run(event(attendees));
        QCOMPARE(server.requests().size(), modelCalls);
        QCOMPARE(research->emailAsked.size(), modelCalls);
        QCOMPARE(made ? describe(*made) : QString(), brief);
    }

    void noKeyNoResearch() {
        putSecret(secrets, SecretStore::llmApiKey, u""_s);
        QCOMPARE(run(event({u"ana@acme.io"_s})), std::nullopt);
        putSecret(secrets, SecretStore::llmApiKey, {});
        QCOMPARE(run(event({u"ana@acme.io"_s})), std::nullopt);
        QVERIFY(server.requests().isEmpty());
    }

    // A second run for an event in progress ends at once. The menu's "researching" mark times
    // out after 120 s; the stalled run then ends on its own without taking the mark of a run
    // started after the time-out.
    void progressTimesOutWithoutEndingALaterRun() {
        server.respondWith(Response::silence());
        const CalendarEvent e = event({u"ana@acme.io"_s});
        QSignalSpy changes(research.get(), &AttendeeResearchService::researchingChanged);
        auto first = research->researchMeeting(e);
        QCOMPARE(research->researching(), QSet<QString>{"evt-42"});
        QTRY_COMPARE(server.requests().size(), 1);
        QCOMPARE(QCoro::waitFor(research->researchMeeting(e)), std::nullopt);

        clock->advance(119);
        QCOMPARE(research->researching(), QSet<QString>{"evt-42"});
        clock->advance(1);
        QVERIFY(research->researching().isEmpty());
        QCOMPARE(changes.count(), 2);

        auto second = research->researchMeeting(e);
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

    // At most two threads and three messages a person, each cut to 150 characters, never
    // inside one: a combining accent stays with its letter, a pair of surrogates stays whole.
    void contextIsCut() {
        const QHash<QString, QList<EmailThread>> threads{
            {u"a@x.com"_s,
             {EmailThread{"1", "One", "", "d1", QString(150, u'e') + u"\u0301tail"_s, 1},
              EmailThread{"2", "Two", "", "d2", QString(200, u'f'), 1},
              EmailThread{"3", "Three", "", "d3", u"never"_s, 1}}},
            {u"b@x.com"_s, {}}};
        QCOMPARE(ResearchPrompt::emailSection(threads),
                 "\n\nEmail history:\nRecent emails with a@x.com:\n  - One (d1): " +
                     QString(150, u'e') + u"\u0301"_s + "\n  - Two (d2): " + QString(150, u'f'));
        QList<SlackMessage> messages;
        for (int i = 1; i <= 4; ++i)
            messages.append({u"m%1"_s.arg(i), "c", "u", "", ""});
        messages[0].text = QString(149, u'x') + u"\U0001F600tail"_s;
        QCOMPARE(ResearchPrompt::slackSection({{u"a@x.com"_s, messages}}),
                 "\n\nSlack history:\nRecent Slack messages with a@x.com:\n  - #c (u): " +
                     QString(149, u'x') + u"\U0001F600"_s + "\n  - #c (u): m2\n  - #c (u): m3");
    }

    void cacheFileFormat() {
        QCOMPARE(cache->cacheDir(), env->dataHome() + u"/Zelvane/ResearchCache"_s);
        CachedResearch stored =
            record(u"Ana@Acme.io"_s, clock->now().addMSecs(-500), u"Ana"_s, u"CTO"_s, u"Acme"_s);
        stored.attendeeId = u"x"_s;
        stored.companyDescription = u"Widgets"_s;
        stored.recentNews = u"IPO"_s;
        stored.notes = u"Met in May"_s;
        stored.linkedInURL = QUrl(u"https://www.linkedin.com/in/ana"_s);
        cache->store(id, stored);
        QFile file(cache->filePath(id));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(
            file.readAll(),
            json("{'attendeeId':'x','cachedAt':821692799.5,'company':'Acme','companyDescription"
                 "':'Widgets','email':'Ana@Acme.io','eventIds':['old'],'linkedInURL':'https://"
                 "www.linkedin.com/in/ana','name':'Ana','notes':'Met in May','recentNews':'IPO',"
                 "'role':'CTO'}"));
        QCOMPARE(*cache->get(id), stored);
    }

    // Files need their four fields, dated in seconds since 2001 (the clock's now: 821,692,800);
    // one older than 30 days is removed when looked up, one that does not decode stays.
    void cacheFiles_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<bool>("kept");
        const QByteArray base = json("{'attendeeId':'x','email':'a@b.c','cachedAt':");
        QTest::newRow("extra key, nulls, a foreign link")
            << base + json("821690000,'eventIds':['e'],'name':null,'linkedInURL':"
                           "'https://evil.example/in/x','mood':'great'}")
            << true << true;
        QTest::newRow("exactly 30 days old") << base + "819100800,\"eventIds\":[]}" << true << true;
        QTest::newRow("a second older") << base + "819100799,\"eventIds\":[]}" << false << false;
        QTest::newRow("in the future") << base + "821700000,\"eventIds\":[]}" << true << true;
        QTest::newRow("no eventIds") << base + "821690000}" << false << true;
        QTest::newRow("name a number")
            << base + json("821690000,'eventIds':[],'name':3}") << false << true;
        QTest::newRow("date as text")
            << base + json("'2024-01-01','eventIds':[]}") << false << true;
        QTest::newRow("date beyond any calendar")
            << base + json("1e300,'eventIds':[]}") << false << true;
        QTest::newRow("truncated") << base + "821690000" << false << true;
    }
    void cacheFiles() {
        QFETCH(QByteArray, content);
        QFETCH(bool, decodes);
        QFETCH(bool, kept);
        QFile file(cache->filePath(id));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        const auto found = cache->get(id);
        QCOMPARE(found.has_value(), decodes);
        if (found)
            QVERIFY(!found->name && !found->linkedInURL);
        QCOMPARE(QFile::exists(cache->filePath(id)), kept);
    }

    void cacheFilesAreTheUsersAloneAndReadsNeverBlock() {
        const mode_t oldMask = ::umask(0);
        const auto restore = qScopeGuard([oldMask] { ::umask(oldMask); });
        const QString base = env->dataHome() + u"/fresh"_s;
        ResearchCache fresh(base + u"/ResearchCache"_s, *clock);
        fresh.store(id, record(u"a@b.c"_s, clock->now()));
        for (const QString &path : {base, fresh.cacheDir(), fresh.filePath(id)}) {
            struct stat info {};
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
            QCOMPARE(info.st_mode & 0777, S_ISDIR(info.st_mode) ? 0700u : 0600u);
        }
        QVERIFY(fresh.get(id));

        // Nobody writes to a FIFO put in the folder: opening it must not wait for a writer.
        const QString other = idOf(u"fifo@x.io"_s);
        QCOMPARE(::mkfifo(QFile::encodeName(fresh.filePath(other)).constData(), 0600), 0);
        QVERIFY(!fresh.get(other));
        QVERIFY(QFile::remove(fresh.filePath(id)) &&
                QFile::link(u"/dev/zero"_s, fresh.filePath(id)));
        QVERIFY(!fresh.get(id));
        // Ids that would leave the folder are never read or written.
        fresh.store(u"../escape"_s, record(u"a@b.c"_s, clock->now()));
        QVERIFY(!QFile::exists(base + u"/escape.json"_s));
    }
};

Q_DECLARE_METATYPE(LoopbackHttpServer::Response)

QTEST_GUILESS_MAIN(TestResearch)
#include "tst_research.moc"
