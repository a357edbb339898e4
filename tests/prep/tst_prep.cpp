#include "LoopbackHttpServer.h"
#include "ManualClock.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "models/AISettingsModel.h"
#include "platform/SecretStore.h"
#include "prep/AttendeeResearchService.h"
#include "prep/LLMService.h"
#include "prep/ProviderKeyStatus.h"
#include "prep/ResearchCache.h"
#include "prep/ResearchPrompt.h"
#include "sync/BackendAPIClient.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/SignInListener.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <sys/stat.h>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using Response = LoopbackHttpServer::Response;
using Profile = MeetingBrief::AttendeeProfile;

namespace {
const QString key = u"sk-test-1234567890abcdef"_s;

// JSON written with single quotes: short fixtures that moc reads (it trips on raw strings).
QByteArray json(const char *singleQuoted) {
    return QByteArray(singleQuoted).replace('\'', '"');
}

const QByteArray briefingInput = json("{'summary':['Renewal talk'],'attendee_profiles':[{'email':"
                                      "'ana@acme.io','role':'CTO'}],'talking_points':['Pricing']}");
const QString briefingText = u"Renewal talk ; Pricing ; ana@acme.io,-,CTO"_s;

// The provider's reply calling the briefing tool with `input` (JSON text), after some text where
// its format allows it; Claude's for any other name.
QByteArray toolReply(const QByteArray &input, const QString &provider = u"Claude"_s) {
    if (provider == u"Gemini")
        return json("{'candidates':[{'content':{'parts':[{'text':'Searching.'},{'functionCall':{"
                    "'name':'finalize_briefing','args':") +
               input + "}}]}}]}";
    // The chat-completions format carries the arguments as a JSON string.
    if (provider == u"OpenAI" || provider == u"Grok")
        return json("{'choices':[{'message':{'tool_calls':[{'function':{'name':'finalize_briefing',"
                    "'arguments':'") +
               QByteArray(input).replace('"', "\\\"") + json("'}}]}}]}");
    return json("{'content':[{'type':'text','text':'Let me look.'},{'type':'tool_use','name':"
                "'finalize_briefing','input':") +
           input + "}]}";
}

// Stores a secret; a null value removes it.
void putSecret(SecretStore &secrets, const char *name, const QString &value) {
    const QString account = QString::fromLatin1(name);
    if (value.isNull())
        settle(secrets.remove(account));
    else
        QVERIFY(settle(secrets.save(account, value)).ok());
}

// e-mail,name,role,company,description,news,link,notes with "-" for gaps and none at the end.
QString describe(const Profile &p) {
    QStringList fields{p.email};
    const auto link = p.linkedInURL ? std::optional(p.linkedInURL->toString()) : std::nullopt;
    for (const auto &field :
         {p.name, p.role, p.company, p.companyDescription, p.recentNews, link, p.notes})
        fields << field.value_or(u"-"_s);
    while (fields.size() > 1 && fields.last() == u"-")
        fields.removeLast();
    return fields.join(u',');
}

// A brief or a reply: summary lines ; talking points ; each profile.
template <typename Brief> QString describe(const Brief &brief) {
    QStringList parts{brief.summary.join(u'|'), brief.talkingPoints.join(u'|')};
    for (const auto &profile : brief.attendeeProfiles)
        parts << describe(profile);
    return parts.join(QStringLiteral(" ; "));
}

// The real research flow; only the user's domains and the e-mail and Slack context, which
// belong to the calendar and Slack services, are given by the test. Slack counts as connected
// when the test gives it messages.
class ResearchWithContext : public AttendeeResearchService {
public:
    using AttendeeResearchService::AttendeeResearchService;

    QHash<QString, QList<EmailThread>> email;
    QHash<QString, QList<SlackMessage>> slack;
    QList<QStringList> emailAsked, slackAsked;

protected:
    QSet<QString> userDomains() const override { return {u"zelvane.app"_s}; }
    QCoro::Task<QHash<QString, QList<EmailThread>>> emailContext(QStringList addresses) override {
        emailAsked.append(addresses);
        co_return email;
    }
    QCoro::Task<bool> slackConnected() override { co_return !slack.isEmpty(); }
    QCoro::Task<QHash<QString, QList<SlackMessage>>> slackContext(QStringList addresses) override {
        slackAsked.append(addresses);
        co_return slack;
    }
};

QString idOf(const QString &address) {
    return Attendee(address, std::nullopt, {}).id;
}

// Of the entry itself, never of what a link leads to.
mode_t modeOf(const QString &path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode : 0;
}
} // namespace

class TestPrep : public QObject {
    Q_OBJECT

    LoopbackHttpServer server;
    SecretStore secrets;
    BackendAPIClient backend;
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<AppSettings> settings;
    CalendarSignInListener signIn;
    std::unique_ptr<CalendarProxyClient> proxy;
    std::unique_ptr<CalendarService> calendar;
    std::unique_ptr<ResearchCache> cache;
    std::unique_ptr<ProviderKeyStatus> keyStatus;
    std::unique_ptr<LLMService> llm;
    std::unique_ptr<SlackService> slack;
    std::unique_ptr<ResearchWithContext> research;
    const QString id = idOf(u"a@b.c"_s);

    // What a generation came to: the reply described, or the error's text.
    QString generated() {
        const auto reply = settle(llm->generateBriefing(u"SYSTEM"_s, u"USER"_s));
        return reply.ok() ? describe(*reply.value) : reply.description();
    }

    std::optional<QString> storedSecret(const char *name) {
        return settle(secrets.load(QString::fromLatin1(name))).value.value_or(std::nullopt);
    }

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
    // What an earlier run for event "old" found about `address`.
    void seedCache(const QString &address, std::optional<QString> name = {},
                   std::optional<QString> role = {}, std::optional<QString> company = {}) {
        const Profile profile{address, name, role, company, {}, {}, {}, {}};
        cache->store(idOf(address), CachedResearch(idOf(address), profile, u"old"_s, clock->now()));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(server.start());
        for (const char *variable : {"ZELVANE_ANTHROPIC_ORIGIN", "ZELVANE_OPENAI_ORIGIN",
                                     "ZELVANE_GEMINI_ORIGIN", "ZELVANE_XAI_ORIGIN"})
            qputenv(variable, server.origin().toUtf8());
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    // A key and no provider chosen: Claude.
    void init() {
        // The old environment goes first: it restores the variables the new one sets.
        research.reset();
        llm.reset();
        keyStatus.reset();
        calendar.reset();
        proxy.reset();
        settings.reset();
        env.reset();
        env = std::make_unique<TestEnvironment>();
        clock = std::make_unique<ManualClock>();
        settings = env->makeSettings();
        proxy = std::make_unique<CalendarProxyClient>(secrets, *clock);
        calendar = std::make_unique<CalendarService>(*settings, *proxy, secrets, signIn, *clock);
        cache = std::make_unique<ResearchCache>(ResearchCache::defaultDirectory(), *clock);
        putSecret(secrets, SecretStore::llmApiKey, key);
        putSecret(secrets, SecretStore::llmProvider, {});
        keyStatus = std::make_unique<ProviderKeyStatus>(*settings);
        llm = std::make_unique<LLMService>(secrets, *keyStatus, 400ms);
        slack = std::make_unique<SlackService>(backend, secrets, *clock);
        research =
            std::make_unique<ResearchWithContext>(*llm, *cache, *calendar, *slack, secrets, *clock);
        server.clearRequests();
    }

    // Replies are read leniently where the content is the model's, strictly where the shape is
    // the provider's.
    void replies_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("outcome");
        const QString claudeBroken = u"Parse error: No content in response"_s;
        const QString chatBroken = u"Parse error: Could not parse OpenAI tool call response"_s;
        const QString geminiBroken = u"Parse error: Could not parse Gemini response"_s;
        // Another tool, or the briefing tool without usable input, leaves the texts.
        QTest::newRow("Claude without the tool")
            << "Claude"
            << json(
                   "{'content':[{'type':'tool_use','name':'web_search','input':{}},{'type':'text',"
                   "'text':'a'},{'type':'tool_use','name':'finalize_briefing','input':'{}'},{'type'"
                   ":'server_tool_use'},{'type':'text','text':'b'}]}")
            << "a\nb ; ";
        QTest::newRow("Claude content not a list")
            << "Claude" << json("{'content':{}}") << claudeBroken;
        QTest::newRow("Claude block not an object")
            << "Claude" << json("{'content':[1]}") << claudeBroken;
        QTest::newRow("OpenAI arguments not JSON")
            << "OpenAI"
            << json("{'choices':[{'message':{'tool_calls':[{'function':{'arguments':'{no'}}]}}]}")
            << u"The data couldn't be read because it isn't in the correct format."_s;
        QTest::newRow("OpenAI arguments a list")
            << "OpenAI"
            << json("{'choices':[{'message':{'tool_calls':[{'function':{'arguments':'[1]'}}]}}]}")
            << chatBroken;
        QTest::newRow("OpenAI no call")
            << "OpenAI" << json("{'choices':[{'message':{'tool_calls':[]}}]}") << chatBroken;
        QTest::newRow("Gemini without the tool")
            << "Gemini"
            << json("{'candidates':[{'content':{'parts':[{'text':'one'},{'functionCall':{'name':"
                    "'lookup','args':{}}},{'functionCall':{'name':'finalize_briefing'}},{'text':"
                    "'two'}]}}]}")
            << "one\ntwo ; ";
        QTest::newRow("Gemini no candidates") << "Gemini" << json("{}") << geminiBroken;
        QTest::newRow("Gemini part not an object")
            << "Gemini" << json("{'candidates':[{'content':{'parts':['x']}}]}") << geminiBroken;
        // Citation markup and outer spaces go; a wrong-typed value empties only its own field;
        // a link stays only when it is LinkedIn's.
        QTest::newRow("lenient arguments")
            << "Claude"
            << toolReply(
                   json("{'summary':['  <cite index=\\'1-2\\'>Series B</cite> closed\\t',' a\\nb "
                        "\\n'],'talking_points':['Ask',7],'attendee_profiles':[{'name':'No Email',"
                        "'linkedin_url':'https://evil.example/in/x','notes':'<cite>kept</cite>'},"
                        "{'email':'ana@acme.io','name':5,'role':'CTO','company':'Acme',"
                        "'company_description':'Widgets','recent_news':'IPO','linkedin_url':"
                        "'https://www.linkedin.com/in/ana'}]}"))
            << ("Series B closed|a\nb \n ;  ; ,No Email,-,-,-,-,-,<cite>kept</cite> ; "
                "ana@acme.io,-,CTO,Acme,Widgets,IPO,https://www.linkedin.com/in/ana");
        QTest::newRow("profiles must all be objects")
            << "Claude"
            << toolReply(json("{'attendee_profiles':[{'email':'a@b.c'},'x'],'summary':'s',"
                              "'talking_points':['p']}"))
            << " ; p";
    }
    void replies() {
        QFETCH(QString, provider);
        QFETCH(QByteArray, body);
        QFETCH(QString, outcome);
        putSecret(secrets, SecretStore::llmProvider, provider);
        server.respondWith(Response::json(body));
        QCOMPARE(generated(), outcome);
    }

    // Each provider's generation and key test requests, the header that carries the key, pieces
    // of the generation's body that put the prompts and the tool where that provider reads
    // them, and its reply's tool call read.
    void requestsPerProvider_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QString>("requests"); // generation, key test, the key's header
        QTest::addColumn<QStringList>("pieces");
        const QStringList claude{"'system':'SYSTEM'", "'name':'finalize_briefing'",
                                 "'messages':[{'content':'USER','role':'user'}]"};
        const QStringList chat{
            "'messages':[{'content':'SYSTEM','role':'system'},{'content':'USER','role':'user'}]",
            "'tool_choice':{'function':{'name':'finalize_briefing'},'type':'function'}"};
        const QString claudeRequests = u"POST /v1/messages, POST /v1/messages, x-api-key"_s;
        const QString chatRequests = u"POST /v1/chat/completions, GET /v1/models, authorization"_s;
        QTest::newRow("Claude") << "Claude" << claudeRequests << claude;
        // An unknown stored provider falls back to Claude.
        QTest::newRow("unknown") << "openai" << claudeRequests << claude;
        QTest::newRow("OpenAI") << "OpenAI" << chatRequests
                                << chat + QStringList{"'model':'gpt-4o'"};
        QTest::newRow("Grok") << "Grok" << chatRequests << chat + QStringList{"'model':'grok-3'"};
        // The key travels in a header, never in the address.
        QTest::newRow("Gemini")
            << "Gemini"
            << "POST /v1beta/models/gemini-2.0-flash:generateContent, GET /v1beta/models, "
               "x-goog-api-key"
            << QStringList{"'system_instruction':{'parts':[{'text':'SYSTEM'}]}",
                           "'contents':[{'parts':[{'text':'USER'}],'role':'user'}]",
                           "'name':'finalize_briefing'"};
    }
    void requestsPerProvider() {
        QFETCH(QString, provider);
        QFETCH(QString, requests);
        QFETCH(QStringList, pieces);
        const QByteArray keyHeader = requests.section(u", "_s, 2).toUtf8();
        const QByteArray keyValue = (keyHeader == "authorization" ? "Bearer " : "") + key.toUtf8();
        putSecret(secrets, SecretStore::llmProvider, provider);
        server.respondWith(Response::json(toolReply(briefingInput, provider)));
        QCOMPARE(generated(), briefingText);
        QCOMPARE(settle(llm->testConnection()).value, std::optional(true));
        const auto &request = server.requests().first();
        const auto &test = server.requests().last();
        QCOMPARE(request.method + ' ' + request.target + ", " + test.method + ' ' + test.target +
                     ", " + keyHeader,
                 requests.toUtf8());
        QCOMPARE(request.header(keyHeader), keyValue);
        QCOMPARE(test.header(keyHeader), keyValue);
        QCOMPARE(request.header("content-type"), QByteArray("application/json"));
        for (const QString &piece : pieces)
            QVERIFY2(request.body.contains(json(qPrintable(piece))), qPrintable(piece));
        // Providers echo what they were sent; the key stays out of the error's text.
        server.respondWith(Response::text("Incorrect API key provided: " + key.toUtf8(), 403));
        QCOMPARE(settle(llm->testConnection()).value, std::optional(false));
        QVERIFY(generated().endsWith(u"Incorrect API key provided: [redacted]"_s));
    }

    // The settings offer each provider once, under a name that reads back as that provider
    // (and only in its own spelling), with a key page of its own.
    void providerFacts() {
        QSet<QString> names, pages;
        for (LLMProvider provider : LLMProviders::all()) {
            const QString name = LLMProviders::toString(provider);
            QCOMPARE(LLMProviders::fromString(name), std::optional(provider));
            QCOMPARE(LLMProviders::fromString(name.toLower()), std::nullopt);
            const QUrl page = LLMProviders::apiKeyURL(provider);
            QCOMPARE(page.scheme(), u"https"_s);
            QVERIFY(!LLMProviders::setupInstructions(provider).isEmpty());
            QVERIFY(LLMProviders::apiKeyButtonLabel(provider).startsWith(u"Open "_s));
            names.insert(name);
            pages.insert(page.host());
        }
        QCOMPARE(names.size(), LLMProviders::all().size());
        QCOMPARE(pages.size(), LLMProviders::all().size());
    }

    // Every use that reached the provider or tried to says whether the key works with that
    // provider: an answer of 200 counts, whatever the model made of the request. The finding
    // survives a restart, speaks for that provider alone and never holds the key.
    void keyStatusFollowsUse_data() {
        QTest::addColumn<bool>("briefing");   // else a key test
        QTest::addColumn<Response>("reply");  // status 0: nobody listening
        QTest::addColumn<QString>("problem"); // how the finding begins; empty: working
        QTest::newRow("test accepted") << false << Response::json("{}") << QString();
        QTest::newRow("test refused") << false << Response::text("invalid x-api-key", 401)
                                      << u"Claude API error 401: invalid x-api-key"_s;
        QTest::newRow("test unreachable")
            << false << Response::text({}, 0) << u"Connection refused"_s;
        QTest::newRow("briefing made")
            << true << Response::json(toolReply(briefingInput)) << QString();
        QTest::newRow("briefing unreadable")
            << true << Response::json(json("{'content':{}}")) << QString();
        QTest::newRow("briefing refused")
            << true << Response::text("Your key " + key.toUtf8() + " is revoked", 403)
            << u"Claude API error 403: Your key [redacted] is revoked"_s;
        QTest::newRow("briefing timed out")
            << true << Response::silence() << u"Research timed out after 90 seconds"_s;
    }
    void keyStatusFollowsUse() {
        QFETCH(bool, briefing);
        QFETCH(Response, reply);
        QFETCH(QString, problem);
        const QByteArray origin = qgetenv("ZELVANE_ANTHROPIC_ORIGIN");
        const auto restore = qScopeGuard([origin] { qputenv("ZELVANE_ANTHROPIC_ORIGIN", origin); });
        if (reply.status == 0 && !reply.neverAnswer)
            qputenv("ZELVANE_ANTHROPIC_ORIGIN", "http://127.0.0.1:9");
        server.respondWith(reply);
        using State = ProviderKeyStatus::State;
        QCOMPARE(int(keyStatus->status(LLMProvider::claude).state), int(State::unchecked));
        if (briefing)
            generated();
        else
            settle(llm->testConnection());
        const State expected = problem.isEmpty() ? State::working : State::failing;
        const ProviderKeyStatus::Status found = keyStatus->status(LLMProvider::claude);
        QCOMPARE(int(found.state), int(expected));
        QVERIFY2(problem.isEmpty() ? found.error.isEmpty() : found.error.startsWith(problem),
                 qPrintable(found.error));
        const auto restarted = env->makeSettings();
        QCOMPARE(ProviderKeyStatus(*restarted).status(LLMProvider::claude), found);
        QCOMPARE(int(keyStatus->status(LLMProvider::openai).state), int(State::unchecked));
        QFile file(env->configHome() + u"/Zelvane/Zelvane.conf"_s);
        QVERIFY(file.open(QIODevice::ReadOnly) && !file.readAll().contains(key.toUtf8()));
    }

    // A use that began before the key changed says nothing about the new key; a change
    // forgets what was found; a provider's complaint is kept only in part; a record another
    // version or a damaged file left reads as nothing checked.
    void keyStatusForgetsAnEditedKey() {
        using State = ProviderKeyStatus::State;
        server.respondWith(Response::text(QByteArray(5000, 'x'), 401));
        QSignalSpy changes(keyStatus.get(), &ProviderKeyStatus::changed);
        auto test = llm->testConnection();
        keyStatus->forgetKey();
        QCOMPARE(QCoro::waitFor(std::move(test)), false);
        QCOMPARE(int(keyStatus->status(LLMProvider::claude).state), int(State::unchecked));
        QCOMPARE(settle(llm->testConnection()).value, std::optional(false));
        const auto failing = keyStatus->status(LLMProvider::claude);
        QCOMPARE(int(failing.state), int(State::failing));
        QCOMPARE(failing.error.size(), ProviderKeyStatus::maxErrorLength);
        QCOMPARE(changes.size(), 1);
        keyStatus->forgetKey();
        QCOMPARE(changes.size(), 2);
        QCOMPARE(int(keyStatus->status(LLMProvider::claude).state), int(State::unchecked));

        settings->setValue(AppSettings::Key::AIKeyStatus,
                           json("{'Claude':{'working':'yes'},'Grok':{'working':true}}"));
        QCOMPARE(int(keyStatus->status(LLMProvider::grok).state), int(State::unchecked));
        settings->setValue(AppSettings::Key::AIKeyStatus,
                           json("{'Llama':{'working':true},'Grok':{'working':true}}"));
        QCOMPARE(int(keyStatus->status(LLMProvider::grok).state), int(State::working));
    }

    // The settings model: without a key nothing is sent and the key test stays off; the chosen
    // provider's badge follows the key and what its uses found; a test runs on the key just
    // typed, without the caller waiting for the keyring;
    // choosing a provider reads the stored key again; showing the tab again drops the last
    // test's outcome.
    void keyInTheSettingsModel() {
        using Badge = AISettingsModel::KeyBadge;
        putSecret(secrets, SecretStore::llmApiKey, {});
        QCOMPARE(generated(), u"No API key configured. Add your API key in Settings."_s);
        AISettingsModel model(*llm, secrets);
        QCOMPARE(int(model.keyBadge()), int(Badge::none));
        model.testConnection();
        QVERIFY(!model.isTesting() && server.requests().isEmpty());
        server.respondWith(Response::json("{}"));
        model.setApiKey(u"typed-key"_s);
        QCOMPARE(int(model.keyBadge()), int(Badge::saved));
        model.testConnection();
        QTRY_COMPARE(model.testResult(), std::optional(u"Success — you're all set!"_s));
        QCOMPARE(server.requests().last().header("x-api-key"), QByteArray("typed-key"));
        QCOMPARE(int(model.keyBadge()), int(Badge::connected));
        QCOMPARE(model.keyProblem(), std::nullopt);

        model.chooseProvider(LLMProvider::openai);
        QCOMPARE(model.testResult(), std::nullopt);
        QCOMPARE(int(model.keyBadge()), int(Badge::saved));
        model.chooseProvider(LLMProvider::claude);
        QCOMPARE(int(model.keyBadge()), int(Badge::connected));
        putSecret(secrets, SecretStore::llmApiKey, u"set elsewhere"_s);
        model.chooseProvider(LLMProvider::claude);
        QTRY_COMPARE(model.apiKey(), u"set elsewhere"_s);

        server.respondWith(Response::text("invalid x-api-key", 401));
        model.testConnection();
        QTRY_COMPARE(model.testResult(), std::optional(u"Failed — check your key"_s));
        QCOMPARE(int(model.keyBadge()), int(Badge::notWorking));
        QCOMPARE(model.keyProblem(), std::optional(u"Claude API error 401: invalid x-api-key"_s));
        model.load();
        QCOMPARE(model.testResult(), std::nullopt);
        QCOMPARE(int(model.keyBadge()), int(Badge::notWorking));
        model.setApiKey(u"another"_s);
        QCOMPARE(int(model.keyBadge()), int(Badge::saved));
        QCOMPARE(model.keyProblem(), std::nullopt);

        // Edits made while a write is under way are all stored, the newest of each, and so is
        // one made after the earlier writes have finished.
        model.chooseProvider(LLMProvider::gemini);
        model.setApiKey(u"second"_s);
        model.setApiKey(u"last"_s);
        QTRY_COMPARE(storedSecret(SecretStore::llmApiKey), std::optional(u"last"_s));
        QCOMPARE(storedSecret(SecretStore::llmProvider), std::optional(u"Gemini"_s));
        model.setApiKey(key);
        QTRY_COMPARE(storedSecret(SecretStore::llmApiKey), std::optional(key));
    }

    // A provider that redirects elsewhere would hand the key to whoever answers there; within
    // its own origin a redirect is followed, key and body included.
    void redirects() {
        LoopbackHttpServer elsewhere;
        QVERIFY(elsewhere.start());
        elsewhere.respondWith(Response::json("{}"));
        const QString refused = u"The provider redirected the request; check the address"_s;
        for (const char *provider : {"Claude", "OpenAI", "Gemini", "Grok"})
            for (int status : {302, 307}) {
                putSecret(secrets, SecretStore::llmProvider, QString::fromLatin1(provider));
                server.respondWith(
                    Response::redirect(status, elsewhere.origin().toUtf8() + "/v1/messages"));
                QCOMPARE(generated(), refused);
                QCOMPARE(settle(llm->testConnection()).description(), refused);
            }
        QVERIFY(elsewhere.requests().isEmpty());

        putSecret(secrets, SecretStore::llmProvider, u"Claude"_s);
        server.clearRequests();
        server.setHandler([](const LoopbackHttpServer::Request &request) {
            return request.target == "/v1/messages" ? Response::redirect(307, "/v1/messages-moved")
                                                    : Response::json(toolReply(briefingInput));
        });
        QCOMPARE(generated(), briefingText);
        const auto &moved = server.requests().last();
        QCOMPARE(moved.method + ' ' + moved.target, QByteArray("POST /v1/messages-moved"));
        QCOMPARE(moved.header("x-api-key"), key.toUtf8());
        QCOMPARE(moved.body, server.requests().first().body);
    }

    void topicModeForColleaguesOnly() {
        research->email = {{u"mary.ann.lee@zelvane.app"_s,
                            {EmailThread{"t1", "Plan", "m", "Jan 3", "Draft attached", 2}}}};
        server.respondWith(Response::json(
            toolReply(json("{'summary':['Q1 planning'],'talking_points':['Budget?']}"))));
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
        // Slack is not connected, so it is not asked.
        QVERIFY(research->slackAsked.isEmpty());
        QCOMPARE(describe(*brief),
                 "Q1 planning ; Budget? ; "
                 "mary.ann.lee@zelvane.app,Mary Ann Lee,-,zelvane.app,-,-,-,Internal team member ; "
                 "BOB@Zelvane.App,Bob,-,Zelvane.App,-,-,-,Internal team member");
    }

    // The model names people and links of its own choosing: only this meeting's external
    // participants are kept, under the event's spelling, and only LinkedIn links.
    void attendeeModeKeepsWhatTheModelFoundAboutTheGuests() {
        research->slack = {
            {u"ana@acme.io"_s, {SlackMessage{"See you Friday", "deals", "ana", "1", "p"}}}};
        seedCache(u"carl@beta.org"_s);
        seedCache(u"dina@gamma.net"_s, u"Dina Roy"_s, u"VP Sales"_s, u"Gamma"_s);
        server.respondWith(Response::json(toolReply(json(
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
        QVERIFY(cache->get(idOf(u"ana@acme.io"_s))->profile.linkedInURL);
        // The model's new research replaces the earlier file rather than merging with it.
        const auto dina = cache->get(idOf(u"dina@gamma.net"_s));
        QCOMPARE(dina->profile.role, u"CRO"_s);
        QCOMPARE(dina->eventIds, QSet<QString>{"evt-42"});
        QCOMPARE(QDir(cache->cacheDir()).entryList(QDir::Files).size(), 4);
    }

    // Who is known decides whether the failing model is asked and what is still made; only
    // the first eight guests take part; without a key (removed or empty) there is no research.
    void fallbacks_data() {
        QTest::addColumn<QString>("apiKey");
        QTest::addColumn<QStringList>("attendees");
        QTest::addColumn<int>("modelCalls");
        QTest::addColumn<QString>("brief"); // empty: none
        const auto known = [](const char *count, const char *cached) {
            return u"Meeting with %1 known attendee(s). Research loaded from cache. ;  ; %2"
                   "me@zelvane.app,Me,-,zelvane.app,-,-,-,Internal team member"_s.arg(
                       QLatin1String(count), QLatin1String(cached));
        };
        QStringList eight;
        for (int i = 1; i <= 8; ++i)
            eight << u"p%1@ext.com"_s.arg(i);
        const QStringList ana{"ana@acme.io", "me@zelvane.app"};
        QTest::newRow("everyone cached") << key << ana << 0 << known("2", "ana@acme.io,Ana ; ");
        QTest::newRow("nobody known") << key << QStringList{"bo@beta.org"} << 1 << QString();
        QTest::newRow("partly cached")
            << key << QStringList{"bo@beta.org"} + ana << 1 << known("2", "ana@acme.io,Ana ; ");
        QTest::newRow("cached ninth guest") << key << eight + ana << 1 << known("1", "");
        QTest::newRow("no key") << QString() << QStringList{"bo@beta.org"} << 0 << QString();
        QTest::newRow("empty key") << u""_s << QStringList{"bo@beta.org"} << 0 << QString();
    }
    void fallbacks() {
        QFETCH(QString, apiKey);
        QFETCH(QStringList, attendees);
        QFETCH(int, modelCalls);
        QFETCH(QString, brief);
        putSecret(secrets, SecretStore::llmApiKey, apiKey);
        seedCache(u"ana@acme.io"_s, u"Ana"_s);
        server.respondWith(Response::text("overloaded", 529));
        const auto made = run(event(attendees));
        QCOMPARE(server.requests().size(), modelCalls);
        QCOMPARE(research->emailAsked.size(), modelCalls);
        QCOMPARE(made ? describe(*made) : QString(), brief);
    }

    // A second run for an event in progress ends at once. The menu's "researching" mark times
    // out after 120 s; the stalled run then ends on its own without taking the mark of a run
    // started after the time-out.
    void progressTimesOutWithoutEndingALaterRun() {
        server.respondWith(Response::silence());
        const CalendarEvent e = event({u"ana@acme.io"_s});
        QSignalSpy changes(research.get(), &AttendeeResearchService::researchingChanged);
        auto first = research->researchMeeting(e);
        // Under way before the second run starts, so it also ends first.
        QTRY_COMPARE(server.requests().size(), 1);
        QCOMPARE(QCoro::waitFor(research->researchMeeting(e)), std::nullopt);

        clock->advance(119);
        QCOMPARE(research->researching(), QSet<QString>{"evt-42"});
        clock->advance(1);
        QVERIFY(research->researching().isEmpty());

        auto second = research->researchMeeting(e);
        QCOMPARE(QCoro::waitFor(std::move(first)), std::nullopt);
        QCOMPARE(research->researching(), QSet<QString>{"evt-42"});
        QCOMPARE(QCoro::waitFor(std::move(second)), std::nullopt);
        QVERIFY(research->researching().isEmpty());
        QCOMPARE(changes.count(), 4);
        // A time-out that falls after its run has ended changes nothing.
        clock->advance(120);
        QCOMPARE(changes.count(), 4);
        // The model's time limit ended each run and closed its connection.
        QTRY_COMPARE(server.openConnections(), 0);
    }

    // At most two threads and three messages a person, each cut to 150 characters, never
    // inside one: a combining accent stays with its letter, a pair of surrogates stays whole.
    void contextIsCut() {
        const QHash<QString, QList<EmailThread>> threads{
            {u"a@x.com"_s,
             {EmailThread{"1", "One", "", "d1", QString(150, u'e') + u"\u0300tail"_s, 1},
              EmailThread{"2", "Two", "", "d2", QString(200, u'f'), 1},
              EmailThread{"3", "Three", "", "d3", u"never"_s, 1}}},
            {u"b@x.com"_s, {}}};
        QCOMPARE(ResearchPrompt::emailSection(threads),
                 "\n\nEmail history:\nRecent emails with a@x.com:\n  - One (d1): " +
                     QString(150, u'e') + u"\u0300"_s + "\n  - Two (d2): " + QString(150, u'f'));
        QList<SlackMessage> messages;
        for (int i = 1; i <= 4; ++i)
            messages.append({u"m%1"_s.arg(i), "c", "u", "", ""});
        messages[0].text = QString(149, u'x') + u"\U0001F600tail"_s;
        // CR LF is one character.
        messages[1].text = u"\r\n"_s + QString(200, u'y');
        QCOMPARE(ResearchPrompt::slackSection({{u"a@x.com"_s, messages}}),
                 "\n\nSlack history:\nRecent Slack messages with a@x.com:\n  - #c (u): " +
                     QString(149, u'x') + u"\U0001F600"_s + "\n  - #c (u): \r\n" +
                     QString(149, u'y') + "\n  - #c (u): m3");
    }

    // The file format other versions read; files and folders are the user's alone; a read
    // never blocks and never leaves the folder.
    void cacheFileFormatAndAccess() {
        const mode_t oldMask = ::umask(0);
        const auto restore = qScopeGuard([oldMask] { ::umask(oldMask); });
        const QString base = env->dataHome() + u"/fresh"_s;
        ResearchCache fresh(base + u"/ResearchCache"_s, *clock);
        // What other versions write is read, and written again the same.
        const QByteArray written =
            json("{'attendeeId':'x','cachedAt':821692799.5,'company':'Acme','companyDescription"
                 "':'Widgets','email':'Ana@Acme.io','eventIds':['old'],'linkedInURL':'https://"
                 "www.linkedin.com/in/ana','name':'Ana','notes':'Met in May','recentNews':'IPO',"
                 "'role':'CTO'}");
        QFile file(fresh.filePath(id));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(written) == written.size());
        file.close();
        const auto read = fresh.get(id);
        QVERIFY(read);
        fresh.store(id, *read);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), written);
        QCOMPARE(modeOf(base), mode_t(S_IFDIR | 0700));
        QCOMPARE(modeOf(fresh.cacheDir()), mode_t(S_IFDIR | 0700));
        QCOMPARE(modeOf(fresh.filePath(id)), mode_t(S_IFREG | 0600));

        // Nobody writes to a FIFO put in the folder: opening it must not wait for a writer.
        const QString other = idOf(u"fifo@x.io"_s);
        QCOMPARE(::mkfifo(QFile::encodeName(fresh.filePath(other)).constData(), 0600), 0);
        QVERIFY(!fresh.get(other));
        QVERIFY(QFile::remove(fresh.filePath(id)) &&
                QFile::link(u"/dev/zero"_s, fresh.filePath(id)));
        QVERIFY(!fresh.get(id));
        // Ids that would leave the folder are never read or written.
        fresh.store(u"../escape"_s, *read);
        QVERIFY(!QFile::exists(base + u"/escape.json"_s));
    }

    // A link planted under a cache file's name is replaced, never written through or read; a
    // folder others could write to is taken back.
    void cacheNeverFollowsALink() {
        const QString folder = env->dataHome() + u"/planted"_s;
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0770), 0);
        const QString outside = env->path() + u"/outside.json"_s;
        QFile target(outside);
        QVERIFY(target.open(QIODevice::WriteOnly) && target.write("precious") == 8);
        target.close();
        QVERIFY(QFile::link(outside, folder + u'/' + id + u".json"_s));

        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(u"others could write to the folder .*planted"_s));
        ResearchCache planted(folder, *clock);
        QCOMPARE(modeOf(folder), mode_t(S_IFDIR | 0700));
        const Profile profile{u"a@b.c"_s, {}, u"CTO"_s, {}, {}, {}, {}, {}};
        const CachedResearch research(id, profile, u"evt"_s, clock->now());
        planted.store(id, research);
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), QByteArray("precious"));
        target.close();
        QCOMPARE(modeOf(planted.filePath(id)), mode_t(S_IFREG | 0600));
        QCOMPARE(planted.get(id), research);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{id + u".json"_s});

        // Nor is research read through a link, however well formed what it leads to.
        QVERIFY(QFile::remove(outside) && QFile::rename(planted.filePath(id), outside) &&
                QFile::link(outside, planted.filePath(id)));
        QVERIFY(!planted.get(id));
    }

    // Research whose file would be over the read limit is cut until it fits, and is read back;
    // a text is whole, cut short with an ellipsis, or gone. A record whose ids alone are too
    // large is not kept.
    void oversizedResearchIsCutToFit() {
        const Profile profile{u"a@b.c"_s, u"Ana"_s, u"CTO"_s, {}, {}, {}, {}, {}};
        CachedResearch mixed(id, profile, u"evt"_s, clock->now());
        // Bytes in the file count, not characters: a control character takes six.
        mixed.profile.companyDescription = QString(700'000, u'd');
        mixed.profile.recentNews = QString(250'000, QChar(1));
        mixed.profile.notes = QString(150'000, QChar(0xe9));
        CachedResearch emoji = mixed;
        emoji.profile.companyDescription = emoji.profile.recentNews = std::nullopt;
        emoji.profile.notes = u"\U0001F600"_s.repeated(300'000);

        for (const CachedResearch &research : {mixed, emoji}) {
            cache->store(id, research);
            const qint64 size = QFileInfo(cache->filePath(id)).size();
            QVERIFY2(size <= ResearchCache::maxFileBytes &&
                         size > ResearchCache::maxFileBytes * 9 / 10,
                     QByteArray::number(size));
            const auto read = cache->get(id);
            QVERIFY(read);
            QCOMPARE(read->profile.name, research.profile.name);
            QCOMPARE(read->profile.role, research.profile.role);
            QCOMPARE(read->eventIds, research.eventIds);
            for (const auto &[kept, full] :
                 {std::pair{read->profile.companyDescription, research.profile.companyDescription},
                  {read->profile.recentNews, research.profile.recentNews},
                  {read->profile.notes, research.profile.notes}}) {
                if (!kept || kept == full)
                    continue;
                QVERIFY(kept->endsWith(QChar(0x2026)) && full->startsWith(kept->chopped(1)));
                QVERIFY(kept->isValidUtf16());
            }
        }

        for (int n = 0; n < 100'000; ++n)
            mixed.eventIds.insert(u"event-%1"_s.arg(n));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"too large to keep"_s));
        cache->store(idOf(u"many@x.io"_s), mixed);
        QVERIFY(!QFile::exists(cache->filePath(idOf(u"many@x.io"_s))));
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
        QTest::newRow("no eventIds") << base + "821690000}" << false << true;
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
        if (!decodes && kept)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"cache file is unreadable"_s));
        const auto found = cache->get(id);
        QCOMPARE(found.has_value(), decodes);
        if (found)
            QVERIFY(!found->profile.name && !found->profile.linkedInURL);
        QCOMPARE(QFile::exists(cache->filePath(id)), kept);
    }
};

Q_DECLARE_METATYPE(LoopbackHttpServer::Response)

QTEST_GUILESS_MAIN(TestPrep)
#include "tst_prep.moc"
