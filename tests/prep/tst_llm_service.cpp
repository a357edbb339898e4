#include "LoopbackHttpServer.h"
#include "prep/LLMService.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTest>
#include <variant>

using namespace std::chrono_literals;
using Response = LoopbackHttpServer::Response;

namespace {
const QString key = QStringLiteral("sk-test-1234567890abcdef");

QByteArray claudeToolReply() {
    return R"({"id":"msg_1","content":[{"type":"text","text":"Let me look."},
        {"type":"tool_use","id":"t1","name":"finalize_briefing",
         "input":{"summary":["Renewal talk"],"attendee_profiles":[{"email":"ana@acme.io",
         "role":"CTO"}],"talking_points":["Pricing"]}}]})";
}

QByteArray chatToolReply() {
    const QJsonObject args{
        {"summary", QJsonArray{"Renewal talk"}},
        {"attendee_profiles", QJsonArray{QJsonObject{{"email", "ana@acme.io"}, {"role", "CTO"}}}},
        {"talking_points", QJsonArray{"Pricing"}}};
    const QJsonObject call{
        {"id", "call_1"},
        {"type", "function"},
        {"function", QJsonObject{{"name", "finalize_briefing"},
                                 {"arguments", QString::fromUtf8(QJsonDocument(args).toJson())}}}};
    return QJsonDocument(
               QJsonObject{
                   {"choices", QJsonArray{QJsonObject{
                                   {"message", QJsonObject{{"role", "assistant"},
                                                           {"tool_calls", QJsonArray{call}}}}}}}})
        .toJson();
}

QByteArray geminiToolReply() {
    return R"({"candidates":[{"content":{"role":"model","parts":[
        {"text":"Searching."},
        {"functionCall":{"name":"finalize_briefing","args":{"summary":["Renewal talk"],
         "attendee_profiles":[{"email":"ana@acme.io","role":"CTO"}],
         "talking_points":["Pricing"]}}}]}}]})";
}

BriefingResponse expectedBriefing() {
    BriefingResponse r;
    r.summary = {QStringLiteral("Renewal talk")};
    BriefingResponse::Profile p;
    p.email = QStringLiteral("ana@acme.io");
    p.role = QStringLiteral("CTO");
    r.attendeeProfiles = {p};
    r.talkingPoints = {QStringLiteral("Pricing")};
    return r;
}

QJsonObject bodyOf(const LoopbackHttpServer::Request &request) {
    return QJsonDocument::fromJson(request.body).object();
}

// What a generation ended in: a response or the description and type of the error.
struct Outcome {
    std::optional<BriefingResponse> response;
    QString error;
    QString errorType;
};

QCoro::Task<Outcome> generate(LLMService &service) {
    Outcome outcome;
    try {
        outcome.response =
            co_await service.generateBriefing(QStringLiteral("SYSTEM"), QStringLiteral("USER"));
    } catch (const LLMError &e) {
        outcome.error = e.description();
        outcome.errorType = QStringLiteral("LLMError");
    } catch (const LLMJsonError &e) {
        outcome.error = e.description();
        outcome.errorType = QStringLiteral("LLMJsonError");
    } catch (const LLMTransportError &e) {
        outcome.error = e.description();
        outcome.errorType = QStringLiteral("LLMTransportError");
    }
    co_return outcome;
}

QCoro::Task<std::variant<bool, QString>> keyTest(LLMService &service) {
    try {
        co_return co_await service.testConnection();
    } catch (const Error &e) {
        co_return e.description();
    }
}
} // namespace

class TestLLMService : public QObject {
    Q_OBJECT

    LoopbackHttpServer server;
    QHash<QString, QString> secrets;
    std::unique_ptr<LLMService> service;

    void makeService(std::chrono::milliseconds limit = 90s) {
        service = std::make_unique<LLMService>(
            [this](const QString &name) -> std::optional<QString> {
                if (!secrets.contains(name))
                    return std::nullopt;
                return secrets.value(name);
            },
            limit);
    }

    void useProvider(const QString &raw) {
        secrets.insert(QStringLiteral("llm_api_key"), key);
        if (raw.isNull())
            secrets.remove(QStringLiteral("llm_provider"));
        else
            secrets.insert(QStringLiteral("llm_provider"), raw);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(server.start());
        for (const char *variable : {"ZELVANE_ANTHROPIC_ORIGIN", "ZELVANE_OPENAI_ORIGIN",
                                     "ZELVANE_GEMINI_ORIGIN", "ZELVANE_XAI_ORIGIN"})
            qputenv(variable, server.origin().toUtf8());
    }

    void init() {
        secrets.clear();
        server.clearRequests();
        makeService();
    }

    void claudeRequestAndToolCall() {
        useProvider(QStringLiteral("Claude"));
        server.respondWith(Response::json(claudeToolReply()));
        const Outcome outcome = QCoro::waitFor(generate(*service));
        QCOMPARE(outcome.error, QString());
        QCOMPARE(*outcome.response, expectedBriefing());

        QCOMPARE(server.requests().size(), 1);
        const auto &request = server.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/v1/messages"));
        QCOMPARE(request.header("x-api-key"), key.toUtf8());
        QCOMPARE(request.header("anthropic-version"), QByteArray("2023-06-01"));
        QCOMPARE(request.header("content-type"), QByteArray("application/json"));
        QVERIFY(request.header("authorization").isEmpty());

        const QJsonObject body = bodyOf(request);
        QCOMPARE(body.keys(), (QStringList{"max_tokens", "messages", "model", "system", "tools"}));
        QCOMPARE(body["model"].toString(), QStringLiteral("claude-sonnet-4-20250514"));
        QCOMPARE(body["max_tokens"].toInt(), 4096);
        QCOMPARE(body["system"].toString(), QStringLiteral("SYSTEM"));
        QCOMPARE(body["messages"].toArray(),
                 (QJsonArray{QJsonObject{{"role", "user"}, {"content", "USER"}}}));
        const QJsonArray tools = body["tools"].toArray();
        QCOMPARE(tools.size(), 2);
        QCOMPARE(tools[0].toObject(),
                 (QJsonObject{
                     {"type", "web_search_20250305"}, {"name", "web_search"}, {"max_uses", 10}}));
        const QJsonObject tool = tools[1].toObject();
        QCOMPARE(tool["name"].toString(), QStringLiteral("finalize_briefing"));
        QCOMPARE(tool["description"].toString(),
                 QStringLiteral("Output the final structured meeting briefing after completing "
                                "all research."));
        const QJsonObject schema = tool["input_schema"].toObject();
        QCOMPARE(schema["type"].toString(), QStringLiteral("object"));
        QCOMPARE(schema["required"].toArray(),
                 (QJsonArray{"summary", "attendee_profiles", "talking_points"}));
        const QJsonObject profile = schema["properties"]["attendee_profiles"]["items"].toObject();
        QCOMPARE(profile["properties"].toObject().keys(),
                 (QStringList{"company", "company_description", "email", "linkedin_url", "name",
                              "notes", "recent_news", "role"}));
        QCOMPARE(profile["properties"]["linkedin_url"].toObject(),
                 (QJsonObject{{"type", "string"}}));
        QCOMPARE(profile["required"].toArray(), QJsonArray{"email"});
        QCOMPARE(schema["properties"]["summary"].toObject(),
                 (QJsonObject{{"type", "array"}, {"items", QJsonObject{{"type", "string"}}}}));
    }

    void chatCompletionsRequests_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QString>("model");
        QTest::newRow("openai") << "OpenAI"
                                << "gpt-4o";
        QTest::newRow("grok") << "Grok"
                              << "grok-3";
    }

    void chatCompletionsRequests() {
        QFETCH(QString, provider);
        QFETCH(QString, model);
        useProvider(provider);
        server.respondWith(Response::json(chatToolReply()));
        const Outcome outcome = QCoro::waitFor(generate(*service));
        QCOMPARE(outcome.error, QString());
        QCOMPARE(*outcome.response, expectedBriefing());

        const auto &request = server.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/v1/chat/completions"));
        QCOMPARE(request.header("authorization"), "Bearer " + key.toUtf8());
        QCOMPARE(request.header("content-type"), QByteArray("application/json"));
        const QJsonObject body = bodyOf(request);
        QCOMPARE(body.keys(),
                 (QStringList{"max_tokens", "messages", "model", "tool_choice", "tools"}));
        QCOMPARE(body["model"].toString(), model);
        QCOMPARE(body["max_tokens"].toInt(), 4096);
        QCOMPARE(body["messages"].toArray(),
                 (QJsonArray{QJsonObject{{"role", "system"}, {"content", "SYSTEM"}},
                             QJsonObject{{"role", "user"}, {"content", "USER"}}}));
        QCOMPARE(body["tool_choice"].toObject(),
                 (QJsonObject{{"type", "function"},
                              {"function", QJsonObject{{"name", "finalize_briefing"}}}}));
        const QJsonArray tools = body["tools"].toArray();
        QCOMPARE(tools.size(), 1);
        QCOMPARE(tools[0]["type"].toString(), QStringLiteral("function"));
        const QJsonObject function = tools[0]["function"].toObject();
        QCOMPARE(function["name"].toString(), QStringLiteral("finalize_briefing"));
        QCOMPARE(function["description"].toString(),
                 QStringLiteral("Output the final structured meeting briefing."));
        QCOMPARE(function["parameters"]["type"].toString(), QStringLiteral("object"));
    }

    void geminiRequest() {
        useProvider(QStringLiteral("Gemini"));
        server.respondWith(Response::json(geminiToolReply()));
        const Outcome outcome = QCoro::waitFor(generate(*service));
        QCOMPARE(outcome.error, QString());
        QCOMPARE(*outcome.response, expectedBriefing());

        const auto &request = server.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        // The key travels in a header, never in the address.
        QCOMPARE(request.target, QByteArray("/v1beta/models/gemini-2.0-flash:generateContent"));
        QCOMPARE(request.header("x-goog-api-key"), key.toUtf8());
        QVERIFY(request.header("authorization").isEmpty());
        const QJsonObject body = bodyOf(request);
        QCOMPARE(body.keys(),
                 (QStringList{"contents", "generationConfig", "system_instruction", "tools"}));
        QCOMPARE(body["system_instruction"].toObject(),
                 (QJsonObject{{"parts", QJsonArray{QJsonObject{{"text", "SYSTEM"}}}}}));
        QCOMPARE(body["contents"].toArray(),
                 (QJsonArray{QJsonObject{{"role", "user"},
                                         {"parts", QJsonArray{QJsonObject{{"text", "USER"}}}}}}));
        QCOMPARE(body["generationConfig"].toObject(), (QJsonObject{{"maxOutputTokens", 4096}}));
        const QJsonArray tools = body["tools"].toArray();
        QCOMPARE(tools.size(), 2);
        QCOMPARE(tools[0].toObject(), (QJsonObject{{"google_search", QJsonObject{}}}));
        const QJsonObject declaration = tools[1]["function_declarations"][0].toObject();
        QCOMPARE(declaration["name"].toString(), QStringLiteral("finalize_briefing"));
        QCOMPARE(declaration["description"].toString(),
                 QStringLiteral("Output the final structured meeting briefing after completing "
                                "all research."));
        const QJsonObject schema = declaration["parameters"].toObject();
        QCOMPARE(schema["type"].toString(), QStringLiteral("OBJECT"));
        QCOMPARE(schema["properties"]["talking_points"].toObject(),
                 (QJsonObject{{"type", "ARRAY"}, {"items", QJsonObject{{"type", "STRING"}}}}));
        const QJsonObject profile = schema["properties"]["attendee_profiles"]["items"].toObject();
        QCOMPARE(profile["type"].toString(), QStringLiteral("OBJECT"));
        QCOMPARE(profile["properties"]["recent_news"].toObject(),
                 (QJsonObject{{"type", "STRING"}}));
        QCOMPARE(profile["required"].toArray(), QJsonArray{"email"});
    }

    void storedProviderFallsBackToClaude_data() {
        QTest::addColumn<QString>("stored");
        QTest::newRow("absent") << QString();
        QTest::newRow("wrong case") << "openai";
        QTest::newRow("unknown") << "Mistral";
    }

    void storedProviderFallsBackToClaude() {
        QFETCH(QString, stored);
        useProvider(stored);
        server.respondWith(Response::json(claudeToolReply()));
        QVERIFY(QCoro::waitFor(generate(*service)).response);
        QCOMPARE(server.requests().first().target, QByteArray("/v1/messages"));
    }

    void failuresCarryTheProvidersText_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("type");

        QTest::newRow("claude 401") << "Claude" << 401 << QByteArray("invalid x-api-key")
                                    << "Claude API error 401: invalid x-api-key"
                                    << "LLMError";
        QTest::newRow("claude invalid utf-8") << "Claude" << 500 << QByteArray("bad \xff\xfe bytes")
                                              << "Claude API error 500: Unknown error"
                                              << "LLMError";
        QTest::newRow("openai 429") << "OpenAI" << 429 << QByteArray(R"({"error":"slow down"})")
                                    << R"(OpenAI error: {"error":"slow down"})"
                                    << "LLMError";
        QTest::newRow("grok 400") << "Grok" << 400 << QByteArray("bad model\nsecond line")
                                  << "Grok error: bad model\nsecond line"
                                  << "LLMError";
        QTest::newRow("gemini 403")
            << "Gemini" << 403 << QByteArray("denied") << "Gemini error: denied"
            << "LLMError";
        QTest::newRow("claude not json") << "Claude" << 200 << QByteArray("<html>oops</html>") << ""
                                         << "LLMJsonError";
        QTest::newRow("claude no content") << "Claude" << 200 << QByteArray(R"({"type":"error"})")
                                           << "Parse error: No content in response"
                                           << "LLMError";
        QTest::newRow("openai text only")
            << "OpenAI" << 200
            << QByteArray(R"({"choices":[{"message":{"role":"assistant","content":"Hi"}}]})")
            << "Parse error: Could not parse OpenAI tool call response"
            << "LLMError";
        QTest::newRow("grok text only names openai")
            << "Grok" << 200 << QByteArray(R"({"choices":[]})")
            << "Parse error: Could not parse OpenAI tool call response"
            << "LLMError";
        QTest::newRow("gemini no candidates") << "Gemini" << 200 << QByteArray(R"({})")
                                              << "Parse error: Could not parse Gemini response"
                                              << "LLMError";
        QTest::newRow("gemini invalid utf-8 body")
            << "Gemini" << 200 << QByteArray("{\"candidates\":\"\xc3\x28\"}") << ""
            << "LLMJsonError";
    }

    void failuresCarryTheProvidersText() {
        QFETCH(QString, provider);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, description);
        QFETCH(QString, type);
        useProvider(provider);
        server.respondWith(Response::text(body, status));
        const Outcome outcome = QCoro::waitFor(generate(*service));
        QVERIFY(!outcome.response);
        QCOMPARE(outcome.errorType, type);
        if (!description.isEmpty())
            QCOMPARE(outcome.error, description);
        else
            QVERIFY(!outcome.error.isEmpty());
    }

    void keyNeverAppearsInErrors() {
        useProvider(QStringLiteral("OpenAI"));
        server.respondWith(
            Response::text("Incorrect API key provided: " + key.toUtf8() + ".", 401));
        const Outcome outcome = QCoro::waitFor(generate(*service));
        QVERIFY(!outcome.error.contains(key));
        QVERIFY(outcome.error.startsWith(QStringLiteral("OpenAI error: Incorrect API key")));
    }

    void noKeyMeansNoRequest() {
        secrets.insert(QStringLiteral("llm_provider"), QStringLiteral("Claude"));
        const Outcome outcome = QCoro::waitFor(generate(*service));
        QCOMPARE(outcome.error,
                 QStringLiteral("No API key configured. Add your API key in Settings."));
        QCOMPARE(std::get<QString>(QCoro::waitFor(keyTest(*service))),
                 QStringLiteral("No API key configured. Add your API key in Settings."));
        QVERIFY(server.requests().isEmpty());
    }

    void unparsableOriginIsInvalidResponse() {
        useProvider(QStringLiteral("Grok"));
        qputenv("ZELVANE_XAI_ORIGIN", "not an origin");
        const Outcome outcome = QCoro::waitFor(generate(*service));
        const auto keyTestOutcome = QCoro::waitFor(keyTest(*service));
        qputenv("ZELVANE_XAI_ORIGIN", server.origin().toUtf8());
        QCOMPARE(outcome.error, QStringLiteral("Invalid response from LLM API"));
        QCOMPARE(std::get<QString>(keyTestOutcome),
                 QStringLiteral("Invalid response from LLM API"));
        QVERIFY(server.requests().isEmpty());
    }

    void silentProviderLosesTheRace() {
        makeService(300ms);
        useProvider(QStringLiteral("Gemini"));
        server.respondWith(Response::silence());
        QElapsedTimer elapsed;
        elapsed.start();
        const Outcome outcome = QCoro::waitFor(generate(*service));
        QCOMPARE(outcome.error, QStringLiteral("Research timed out after 90 seconds"));
        QVERIFY(elapsed.elapsed() < 10'000);
        // The losing request was aborted: the client closed its connection.
        QTRY_COMPARE(server.openConnections(), 0);
    }

    void refusedConnectionIsATransportError() {
        useProvider(QStringLiteral("Claude"));
        // A port that was just free again: nothing listens there.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        qputenv("ZELVANE_ANTHROPIC_ORIGIN", "http://127.0.0.1:" + QByteArray::number(port));
        const Outcome outcome = QCoro::waitFor(generate(*service));
        const auto keyTestOutcome = QCoro::waitFor(keyTest(*service));
        qputenv("ZELVANE_ANTHROPIC_ORIGIN", server.origin().toUtf8());
        QCOMPARE(outcome.errorType, QStringLiteral("LLMTransportError"));
        QVERIFY(std::holds_alternative<QString>(keyTestOutcome));
    }

    void keyTestRequests_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("authHeader");
        QTest::addColumn<QByteArray>("authValue");
        QTest::newRow("claude") << "Claude" << QByteArray("POST") << QByteArray("/v1/messages")
                                << QByteArray("x-api-key") << key.toUtf8();
        QTest::newRow("openai") << "OpenAI" << QByteArray("GET") << QByteArray("/v1/models")
                                << QByteArray("authorization") << "Bearer " + key.toUtf8();
        QTest::newRow("grok") << "Grok" << QByteArray("GET") << QByteArray("/v1/models")
                              << QByteArray("authorization") << "Bearer " + key.toUtf8();
        QTest::newRow("gemini") << "Gemini" << QByteArray("GET") << QByteArray("/v1beta/models")
                                << QByteArray("x-goog-api-key") << key.toUtf8();
    }

    void keyTestRequests() {
        QFETCH(QString, provider);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, authHeader);
        QFETCH(QByteArray, authValue);
        useProvider(provider);

        server.respondWith(Response::json("{}"));
        QCOMPARE(std::get<bool>(QCoro::waitFor(keyTest(*service))), true);
        const auto &request = server.requests().first();
        QCOMPARE(request.method, method);
        QCOMPARE(request.target, path);
        QCOMPARE(request.header(authHeader), authValue);
        if (provider == QStringLiteral("Claude")) {
            QCOMPARE(request.header("anthropic-version"), QByteArray("2023-06-01"));
            QCOMPARE(bodyOf(request),
                     (QJsonObject{{"model", "claude-sonnet-4-20250514"},
                                  {"max_tokens", 10},
                                  {"messages",
                                   QJsonArray{QJsonObject{{"role", "user"}, {"content", "Hi"}}}}}));
        }

        server.respondWith(Response::text("forbidden", 403));
        QCOMPARE(std::get<bool>(QCoro::waitFor(keyTest(*service))), false);
    }

    void providerTexts() {
        QCOMPARE(LLMProviders::all().size(), 4);
        QStringList raw;
        for (LLMProvider provider : LLMProviders::all()) {
            raw.append(LLMProviders::rawValue(provider));
            QCOMPARE(LLMProviders::fromRawValue(raw.last()), provider);
            const QUrl page = LLMProviders::apiKeyURL(provider);
            QVERIFY(page.isValid());
            QCOMPARE(page.scheme(), QStringLiteral("https"));
        }
        QCOMPARE(raw, (QStringList{"Claude", "OpenAI", "Gemini", "Grok"}));
        QCOMPARE(LLMProviders::fromRawValue(u"claude"), std::nullopt);
        QCOMPARE(LLMProviders::apiKeyButtonLabel(LLMProvider::gemini),
                 QStringLiteral("Open Google AI Studio"));
        QCOMPARE(LLMProviders::setupInstructions(LLMProvider::grok),
                 QStringLiteral("Sign in with your X (Twitter) account, then create an API key."));
    }
};

QTEST_GUILESS_MAIN(TestLLMService)
#include "tst_llm_service.moc"
