#include "LoopbackHttpServer.h"
#include "PrepTesting.h"
#include "prep/AISettingsModel.h"
#include "prep/LLMService.h"

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using Response = LoopbackHttpServer::Response;

namespace {
const QString key = u"sk-test-1234567890abcdef"_s;
const QString briefingText = u"Renewal talk ; Pricing ; ana@acme.io,-,CTO"_s;

// Each provider's reply calling the briefing tool, after some text where the format allows it.
QByteArray toolReply(const QString &provider) {
    const QByteArray input = json("{'summary':['Renewal talk'],'attendee_profiles':[{'email':"
                                  "'ana@acme.io','role':'CTO'}],'talking_points':['Pricing']}");
    if (provider == u"Claude")
        return claudeToolReply(input);
    if (provider == u"Gemini")
        return json("{'candidates':[{'content':{'parts':[{'text':'Searching.'},{'functionCall':{"
                    "'name':'finalize_briefing','args':") +
               input + "}}]}}]}";
    // The chat-completions format carries the arguments as a JSON string.
    return json("{'choices':[{'message':{'tool_calls':[{'function':{'name':'finalize_briefing',"
                "'arguments':'") +
           QByteArray(input).replace('"', "\\\"") + json("'}}]}}]}");
}
} // namespace

class TestLLMService : public QObject {
    Q_OBJECT

    LoopbackHttpServer server;
    SecretStore secrets;
    std::unique_ptr<LLMService> service;

    void useProvider(const QString &provider) {
        putSecret(secrets, SecretStore::llmApiKey, key);
        putSecret(secrets, SecretStore::llmProvider, provider);
    }
    Settled<BriefingResponse> generate() {
        return settle(service->generateBriefing(u"SYSTEM"_s, u"USER"_s));
    }
    Settled<bool> keyTest() { return settle(service->testConnection()); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(server.start());
        for (const char *variable : {"ZELVANE_ANTHROPIC_ORIGIN", "ZELVANE_OPENAI_ORIGIN",
                                     "ZELVANE_GEMINI_ORIGIN", "ZELVANE_XAI_ORIGIN"})
            qputenv(variable, server.origin().toUtf8());
    }

    void init() {
        putSecret(secrets, SecretStore::llmApiKey, {});
        putSecret(secrets, SecretStore::llmProvider, {});
        server.clearRequests();
        service = std::make_unique<LLMService>(secrets, 90s);
    }

    // Replies are read leniently where the content is the model's, strictly where the shape is
    // the provider's; error texts name the provider and never the key.
    void outcomes_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("outcome");
        const QString claudeBroken = u"Parse error: No content in response"_s;
        const QString chatBroken = u"Parse error: Could not parse OpenAI tool call response"_s;
        const QString geminiBroken = u"Parse error: Could not parse Gemini response"_s;
        for (const char *provider : {"Claude", "OpenAI", "Gemini", "Grok"})
            QTest::addRow("%s tool call", provider)
                << QString::fromLatin1(provider) << 200 << toolReply(QString::fromLatin1(provider))
                << briefingText;
        QTest::newRow("Claude 401, invalid UTF-8")
            << "Claude" << 401 << QByteArray("bad \xff\xfe bytes")
            << "Claude API error 401: Unknown error";
        QTest::newRow("OpenAI echoing the key")
            << "OpenAI" << 401 << "Incorrect API key provided: " + key.toUtf8() + "."
            << "OpenAI error: Incorrect API key provided: [redacted].";
        QTest::newRow("Grok 429") << "Grok" << 429 << QByteArray("slow down")
                                  << "Grok error: slow down";
        QTest::newRow("Gemini 403")
            << "Gemini" << 403 << QByteArray("denied") << "Gemini error: denied";
        // Another tool, or the briefing tool without usable input, leaves the texts.
        QTest::newRow("Claude without the tool")
            << "Claude" << 200
            << json(
                   "{'content':[{'type':'tool_use','name':'web_search','input':{}},{'type':'text',"
                   "'text':'a'},{'type':'tool_use','name':'finalize_briefing','input':'{}'},{'type'"
                   ":'server_tool_use'},{'type':'text','text':'b'}]}")
            << "a\nb ; ";
        QTest::newRow("Claude content not a list")
            << "Claude" << 200 << json("{'content':{}}") << claudeBroken;
        QTest::newRow("Claude block not an object")
            << "Claude" << 200 << json("{'content':[1]}") << claudeBroken;
        QTest::newRow("OpenAI arguments not JSON")
            << "OpenAI" << 200
            << json("{'choices':[{'message':{'tool_calls':[{'function':{'arguments':'{no'}}]}}]}")
            << u"The data couldn't be read because it isn't in the correct format."_s;
        QTest::newRow("OpenAI arguments a list")
            << "OpenAI" << 200
            << json("{'choices':[{'message':{'tool_calls':[{'function':{'arguments':'[1]'}}]}}]}")
            << chatBroken;
        QTest::newRow("OpenAI no call")
            << "OpenAI" << 200 << json("{'choices':[{'message':{'tool_calls':[]}}]}") << chatBroken;
        QTest::newRow("Gemini without the tool")
            << "Gemini" << 200
            << json("{'candidates':[{'content':{'parts':[{'text':'one'},{'functionCall':{'name':"
                    "'lookup','args':{}}},{'functionCall':{'name':'finalize_briefing'}},{'text':"
                    "'two'}]}}]}")
            << "one\ntwo ; ";
        QTest::newRow("Gemini no candidates") << "Gemini" << 200 << json("{}") << geminiBroken;
        QTest::newRow("Gemini part not an object")
            << "Gemini" << 200 << json("{'candidates':[{'content':{'parts':['x']}}]}")
            << geminiBroken;
        // Citation markup and outer spaces go; a wrong-typed value empties only its own field;
        // a link stays only when it is LinkedIn's.
        QTest::newRow("lenient arguments")
            << "Claude" << 200
            << claudeToolReply(
                   json("{'summary':['  <cite index=\\'1-2\\'>Series B</cite> closed\\t',' a\\nb "
                        "\\n'],'talking_points':['Ask',7],'attendee_profiles':[{'name':'No Email',"
                        "'linkedin_url':'https://evil.example/in/x','notes':'<cite>kept</cite>'},"
                        "{'email':'ana@acme.io','name':5,'role':'CTO','company':'Acme',"
                        "'company_description':'Widgets','recent_news':'IPO','linkedin_url':"
                        "'https://www.linkedin.com/in/ana'}]}"))
            << ("Series B closed|a\nb \n ;  ; ,No Email,-,-,-,-,-,<cite>kept</cite> ; "
                "ana@acme.io,-,CTO,Acme,Widgets,IPO,https://www.linkedin.com/in/ana");
        QTest::newRow("profiles must all be objects")
            << "Claude" << 200
            << claudeToolReply(json("{'attendee_profiles':[{'email':'a@b.c'},'x'],'summary':'s',"
                                    "'talking_points':['p']}"))
            << " ; p";
    }
    void outcomes() {
        QFETCH(QString, provider);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, outcome);
        useProvider(provider);
        server.respondWith(Response::json(body, status));
        const auto generated = generate();
        QCOMPARE(generated.ok() ? describe(*generated.value) : generated.description(), outcome);
    }

    // Each provider's generation request, key test request and key header, and pieces of the
    // generation's body that put the prompts and the tool where that provider reads them.
    void requestsPerProvider_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QStringList>("exchange");
        QTest::addColumn<QStringList>("fragments");
        const QStringList claude{"'system':'SYSTEM'",
                                 "'messages':[{'content':'USER','role':'user'}]",
                                 "'name':'finalize_briefing'"};
        const QStringList chat{
            "'messages':[{'content':'SYSTEM','role':'system'},{'content':'USER','role':'user'}]",
            "'tool_choice':{'function':{'name':'finalize_briefing'},'type':'function'}"};
        const QStringList claudeExchange{"POST /v1/messages", "POST /v1/messages", "x-api-key"};
        const QStringList chatExchange{"POST /v1/chat/completions", "GET /v1/models",
                                       "authorization"};
        QTest::newRow("Claude") << "Claude" << claudeExchange << claude;
        // An unknown stored provider falls back to Claude.
        QTest::newRow("unknown") << "openai" << claudeExchange << claude;
        QTest::newRow("OpenAI") << "OpenAI" << chatExchange
                                << chat + QStringList{"'model':'gpt-4o'"};
        QTest::newRow("Grok") << "Grok" << chatExchange << chat + QStringList{"'model':'grok-3'"};
        // The key travels in a header, never in the address.
        QTest::newRow("Gemini")
            << "Gemini"
            << QStringList{"POST /v1beta/models/gemini-2.0-flash:generateContent",
                           "GET /v1beta/models", "x-goog-api-key"}
            << QStringList{"'system_instruction':{'parts':[{'text':'SYSTEM'}]}",
                           "'contents':[{'parts':[{'text':'USER'}],'role':'user'}]",
                           "'name':'finalize_briefing'"};
    }
    void requestsPerProvider() {
        QFETCH(QString, provider);
        QFETCH(QStringList, exchange);
        QFETCH(QStringList, fragments);
        const QByteArray keyHeader = exchange[2].toUtf8();
        const QByteArray keyValue = (keyHeader == "authorization" ? "Bearer " : "") + key.toUtf8();
        useProvider(provider);
        server.respondWith(Response::json("{}"));
        generate();
        const auto &request = server.requests().first();
        QCOMPARE(QString(request.method + ' ' + request.target), exchange[0]);
        QCOMPARE(request.header(keyHeader), keyValue);
        QCOMPARE(request.header("content-type"), QByteArray("application/json"));
        for (const QString &fragment : fragments)
            QVERIFY2(request.body.contains(json(qPrintable(fragment))), qPrintable(fragment));

        server.clearRequests();
        QCOMPARE(keyTest().value, std::optional(true));
        const auto &test = server.requests().first();
        QCOMPARE(QString(test.method + ' ' + test.target), exchange[1]);
        QCOMPARE(test.header(keyHeader), keyValue);
        server.respondWith(Response::text("forbidden", 403));
        QCOMPARE(keyTest().value, std::optional(false));
    }

    // Without a key nothing is sent and the settings' key test stays off; every edit in the
    // settings reaches the keyring, also one made after the earlier writes have finished.
    void keyInTheSettings() {
        const QString noKey = u"No API key configured. Add your API key in Settings."_s;
        QCOMPARE(generate().description(), noKey);
        QCOMPARE(keyTest().description(), noKey);
        AISettingsModel model(*service, secrets);
        model.testConnection();
        QVERIFY(!model.isTesting() && server.requests().isEmpty());
        const auto stored = [this] {
            return settle(secrets.load(QString::fromLatin1(SecretStore::llmApiKey)))
                .value.value_or(std::nullopt);
        };
        model.chooseProvider(LLMProvider::gemini);
        model.setApiKey(u"first"_s);
        QTRY_COMPARE(stored(), std::optional(u"first"_s));
        model.setApiKey(key);
        QTRY_COMPARE(stored(), std::optional(key));
        server.respondWith(Response::json("{}"));
        model.testConnection();
        QTRY_COMPARE(model.testResult(), std::optional(u"Success — you're all set!"_s));
        QCOMPARE(server.requests().first().target, QByteArray("/v1beta/models"));
    }

    void silentProviderLosesTheRace() {
        service = std::make_unique<LLMService>(secrets, 300ms);
        useProvider(u"Gemini"_s);
        server.respondWith(Response::silence());
        QCOMPARE(generate().description(), u"Research timed out after 90 seconds"_s);
        // The losing request was aborted: the client closed its connection.
        QTRY_COMPARE(server.openConnections(), 0);
    }

    // A provider that redirects elsewhere would hand the key to whoever answers there.
    void redirectsElsewhereAreRefused_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<int>("status");
        for (const char *provider : {"Claude", "OpenAI", "Gemini", "Grok"})
            for (int status : {302, 307})
                QTest::addRow("%s %d", provider, status) << QString::fromLatin1(provider) << status;
    }
    void redirectsElsewhereAreRefused() {
        QFETCH(QString, provider);
        QFETCH(int, status);
        LoopbackHttpServer elsewhere;
        QVERIFY(elsewhere.start());
        elsewhere.respondWith(Response::json("{}"));
        useProvider(provider);
        server.respondWith(
            Response::redirect(status, elsewhere.origin().toUtf8() + "/v1/messages"));
        const QString refused = u"The provider redirected the request; check the address"_s;
        QCOMPARE(generate().description(), refused);
        QCOMPARE(keyTest().description(), refused);
        QCOMPARE(server.requests().size(), 2);
        // The other origin never hears from the client, so never sees the key.
        QVERIFY(elsewhere.requests().isEmpty());
    }

    // Within the provider's own origin a redirect is followed, key and body included.
    void redirectsWithinTheOriginAreFollowed() {
        useProvider(u"Claude"_s);
        server.setHandler([](const LoopbackHttpServer::Request &request) {
            return request.target == "/v1/messages" ? Response::redirect(307, "/v1/messages-moved")
                                                    : Response::json(toolReply(u"Claude"_s));
        });
        QCOMPARE(generate().description(), QString());
        const auto &moved = server.requests().last();
        QCOMPARE(moved.method + ' ' + moved.target, QByteArray("POST /v1/messages-moved"));
        QCOMPARE(moved.header("x-api-key"), key.toUtf8());
        QCOMPARE(moved.body, server.requests().first().body);
    }
};

QTEST_GUILESS_MAIN(TestLLMService)
#include "tst_llm_service.moc"
