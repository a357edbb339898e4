#include "LoopbackHttpServer.h"
#include "Settle.h"
#include "platform/SecretStore.h"
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
const QString noKey = QStringLiteral("No API key configured. Add your API key in Settings.");

const QByteArray claudeToolReply = R"({"content":[{"type":"text","text":"Let me look."},
    {"type":"tool_use","id":"t1","name":"finalize_briefing",
     "input":{"summary":["Renewal talk"],"attendee_profiles":[{"email":"ana@acme.io",
     "role":"CTO"}],"talking_points":["Pricing"]}}]})";

const QByteArray geminiToolReply = R"({"candidates":[{"content":{"role":"model","parts":[
    {"text":"Searching."},
    {"functionCall":{"name":"finalize_briefing","args":{"summary":["Renewal talk"],
     "attendee_profiles":[{"email":"ana@acme.io","role":"CTO"}],
     "talking_points":["Pricing"]}}}]}}]})";

// The chat-completions format carries the arguments as a JSON string.
QByteArray chatToolReply() {
    const QJsonObject args{
        {"summary", QJsonArray{"Renewal talk"}},
        {"attendee_profiles", QJsonArray{QJsonObject{{"email", "ana@acme.io"}, {"role", "CTO"}}}},
        {"talking_points", QJsonArray{"Pricing"}}};
    const QJsonObject call{
        {"function", QJsonObject{{"name", "finalize_briefing"},
                                 {"arguments", QString::fromUtf8(QJsonDocument(args).toJson())}}}};
    const QJsonObject message{{"role", "assistant"}, {"tool_calls", QJsonArray{call}}};
    return QJsonDocument(QJsonObject{{"choices", QJsonArray{QJsonObject{{"message", message}}}}})
        .toJson();
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
        outcome = {std::nullopt, e.description(), QStringLiteral("LLMError")};
    } catch (const DecodingError &e) {
        outcome = {std::nullopt, e.description(), QStringLiteral("DecodingError")};
    } catch (const TransportError &e) {
        outcome = {std::nullopt, e.description(), QStringLiteral("TransportError")};
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
    SecretStore secrets;
    std::unique_ptr<LLMService> service;

    void makeService(std::chrono::milliseconds limit = 90s) {
        service = std::make_unique<LLMService>(secrets, limit);
    }

    // A null value removes the item.
    void setSecret(const char *name, const QString &value) {
        const QString account = QString::fromLatin1(name);
        if (value.isNull())
            settle(secrets.remove(account));
        else
            QVERIFY(settle(secrets.save(account, value)).ok());
    }

    void useProvider(const QString &raw) {
        setSecret(SecretStore::llmApiKey, key);
        setSecret(SecretStore::llmProvider, raw);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(server.start());
        for (const char *variable : {"ZELVANE_ANTHROPIC_ORIGIN", "ZELVANE_OPENAI_ORIGIN",
                                     "ZELVANE_GEMINI_ORIGIN", "ZELVANE_XAI_ORIGIN"})
            qputenv(variable, server.origin().toUtf8());
    }

    void init() {
        setSecret(SecretStore::llmApiKey, {});
        setSecret(SecretStore::llmProvider, {});
        server.clearRequests();
        makeService();
    }

    void requestsAndToolCalls_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("authHeader");
        QTest::addColumn<QByteArray>("authValue");
        QTest::addColumn<QStringList>("bodyKeys");
        const QStringList chatKeys{"max_tokens", "messages", "model", "tool_choice", "tools"};
        QTest::newRow("claude") << "Claude" << claudeToolReply << QByteArray("/v1/messages")
                                << QByteArray("x-api-key") << key.toUtf8()
                                << QStringList{"max_tokens", "messages", "model", "system",
                                               "tools"};
        // An unknown stored provider falls back to Claude.
        QTest::newRow("unknown is claude")
            << "openai" << claudeToolReply << QByteArray("/v1/messages") << QByteArray("x-api-key")
            << key.toUtf8() << QStringList{"max_tokens", "messages", "model", "system", "tools"};
        QTest::newRow("openai") << "OpenAI" << chatToolReply() << QByteArray("/v1/chat/completions")
                                << QByteArray("authorization") << "Bearer " + key.toUtf8()
                                << chatKeys;
        QTest::newRow("grok") << "Grok" << chatToolReply() << QByteArray("/v1/chat/completions")
                              << QByteArray("authorization") << "Bearer " + key.toUtf8()
                              << chatKeys;
        // The key travels in a header, never in the address.
        QTest::newRow("gemini") << "Gemini" << geminiToolReply
                                << QByteArray("/v1beta/models/gemini-2.0-flash:generateContent")
                                << QByteArray("x-goog-api-key") << key.toUtf8()
                                << QStringList{"contents", "generationConfig", "system_instruction",
                                               "tools"};
    }
    void requestsAndToolCalls() {
        QFETCH(QString, provider);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, authHeader);
        QFETCH(QByteArray, authValue);
        QFETCH(QStringList, bodyKeys);
        useProvider(provider);
        server.respondWith(Response::json(reply));
        const Outcome outcome = QCoro::waitFor(generate(*service));
        QCOMPARE(outcome.error, QString());
        QCOMPARE(*outcome.response, expectedBriefing());

        QCOMPARE(server.requests().size(), 1);
        const auto &request = server.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, target);
        QCOMPARE(request.header(authHeader), authValue);
        QCOMPARE(request.header("content-type"), QByteArray("application/json"));
        const QJsonObject body = bodyOf(request);
        QCOMPARE(body.keys(), bodyKeys);

        const QString longDescription = QStringLiteral(
            "Output the final structured meeting briefing after completing all research.");
        if (target == "/v1/messages") {
            QCOMPARE(request.header("anthropic-version"), QByteArray("2023-06-01"));
            QVERIFY(request.header("authorization").isEmpty());
            QCOMPARE(body["model"].toString(), QStringLiteral("claude-sonnet-4-20250514"));
            QCOMPARE(body["max_tokens"].toInt(), 4096);
            QCOMPARE(body["system"].toString(), QStringLiteral("SYSTEM"));
            QCOMPARE(body["tools"][0].toObject(), (QJsonObject{{"type", "web_search_20250305"},
                                                               {"name", "web_search"},
                                                               {"max_uses", 10}}));
            const QJsonObject tool = body["tools"][1].toObject();
            QCOMPARE(tool["description"].toString(), longDescription);
            const QJsonObject schema = tool["input_schema"].toObject();
            QCOMPARE(schema["required"].toArray(),
                     (QJsonArray{"summary", "attendee_profiles", "talking_points"}));
            const QJsonObject profile =
                schema["properties"]["attendee_profiles"]["items"].toObject();
            QCOMPARE(profile["properties"].toObject().keys(),
                     (QStringList{"company", "company_description", "email", "linkedin_url", "name",
                                  "notes", "recent_news", "role"}));
            QCOMPARE(profile["required"].toArray(), QJsonArray{"email"});
        } else if (provider == QLatin1String("Gemini")) {
            QCOMPARE(body["system_instruction"].toObject(),
                     (QJsonObject{{"parts", QJsonArray{QJsonObject{{"text", "SYSTEM"}}}}}));
            QCOMPARE(body["generationConfig"].toObject(), (QJsonObject{{"maxOutputTokens", 4096}}));
            QCOMPARE(body["tools"][0].toObject(), (QJsonObject{{"google_search", QJsonObject{}}}));
            const QJsonObject declaration = body["tools"][1]["function_declarations"][0].toObject();
            QCOMPARE(declaration["description"].toString(), longDescription);
            // Gemini's schema dialect spells types in capitals.
            QCOMPARE(declaration["parameters"]["properties"]["talking_points"].toObject(),
                     (QJsonObject{{"type", "ARRAY"}, {"items", QJsonObject{{"type", "STRING"}}}}));
        } else {
            QCOMPARE(body["model"].toString(), provider == QLatin1String("Grok")
                                                   ? QStringLiteral("grok-3")
                                                   : QStringLiteral("gpt-4o"));
            QCOMPARE(body["messages"].toArray(),
                     (QJsonArray{QJsonObject{{"role", "system"}, {"content", "SYSTEM"}},
                                 QJsonObject{{"role", "user"}, {"content", "USER"}}}));
            QCOMPARE(body["tool_choice"].toObject(),
                     (QJsonObject{{"type", "function"},
                                  {"function", QJsonObject{{"name", "finalize_briefing"}}}}));
            QCOMPARE(body["tools"][0]["function"]["description"].toString(),
                     QStringLiteral("Output the final structured meeting briefing."));
        }
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
        QTest::newRow("gemini 403")
            << "Gemini" << 403 << QByteArray("denied") << "Gemini error: denied"
            << "LLMError";
        QTest::newRow("claude not json") << "Claude" << 200 << QByteArray("<html>oops</html>") << ""
                                         << "DecodingError";
        QTest::newRow("claude no content") << "Claude" << 200 << QByteArray(R"({"type":"error"})")
                                           << "Parse error: No content in response"
                                           << "LLMError";
        QTest::newRow("grok text only names openai")
            << "Grok" << 200
            << QByteArray(R"({"choices":[{"message":{"role":"assistant","content":"Hi"}}]})")
            << "Parse error: Could not parse OpenAI tool call response"
            << "LLMError";
        QTest::newRow("gemini no candidates") << "Gemini" << 200 << QByteArray(R"({})")
                                              << "Parse error: Could not parse Gemini response"
                                              << "LLMError";
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
        setSecret(SecretStore::llmProvider, QStringLiteral("Claude"));
        QCOMPARE(QCoro::waitFor(generate(*service)).error, noKey);
        QCOMPARE(std::get<QString>(QCoro::waitFor(keyTest(*service))), noKey);
        QVERIFY(server.requests().isEmpty());
    }

    void unreachableProvider_data() {
        QTest::addColumn<QByteArray>("origin");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("description");
        QTest::newRow("unparsable origin") << QByteArray("not an origin") << "LLMError"
                                           << "Invalid response from LLM API";
        // A port that was just free again: nothing listens there.
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        QTest::newRow("refused") << "http://127.0.0.1:" + QByteArray::number(probe.serverPort())
                                 << "TransportError" << QString();
    }
    void unreachableProvider() {
        QFETCH(QByteArray, origin);
        QFETCH(QString, type);
        QFETCH(QString, description);
        useProvider(QStringLiteral("Grok"));
        qputenv("ZELVANE_XAI_ORIGIN", origin);
        const Outcome outcome = QCoro::waitFor(generate(*service));
        const auto keyTestOutcome = QCoro::waitFor(keyTest(*service));
        qputenv("ZELVANE_XAI_ORIGIN", server.origin().toUtf8());
        QCOMPARE(outcome.errorType, type);
        QVERIFY(std::holds_alternative<QString>(keyTestOutcome));
        if (!description.isEmpty()) {
            QCOMPARE(outcome.error, description);
            QCOMPARE(std::get<QString>(keyTestOutcome), description);
        }
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

    // A provider that redirects elsewhere would hand the key to whoever answers there.
    void redirectsElsewhereAreRefused_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QByteArray>("keyHeader");
        QTest::addColumn<int>("status");
        const QList<std::pair<const char *, QByteArray>> providers{
            {"Claude", "x-api-key"}, {"OpenAI", "authorization"}, {"Gemini", "x-goog-api-key"}};
        for (const auto &[provider, header] : providers)
            for (int status : {302, 307})
                QTest::addRow("%s %d", provider, status)
                    << QString::fromLatin1(provider) << header << status;
    }
    void redirectsElsewhereAreRefused() {
        QFETCH(QString, provider);
        QFETCH(QByteArray, keyHeader);
        QFETCH(int, status);
        LoopbackHttpServer elsewhere;
        QVERIFY(elsewhere.start());
        elsewhere.respondWith(Response::json(claudeToolReply));
        useProvider(provider);
        server.respondWith(
            Response::redirect(status, elsewhere.origin().toUtf8() + "/v1/messages"));
        const QString refused =
            QStringLiteral("The provider redirected the request; check the address");

        QCOMPARE(QCoro::waitFor(generate(*service)).error, refused);
        QCOMPARE(std::get<QString>(QCoro::waitFor(keyTest(*service))), refused);
        QCOMPARE(server.requests().size(), 2);
        QVERIFY(server.requests().first().header(keyHeader).contains(key.toUtf8()));
        // The other origin never hears from the client, so never sees the key.
        QVERIFY(elsewhere.requests().isEmpty());
    }

    // Within the provider's own origin a redirect is followed, key and body included.
    void redirectsWithinTheOriginAreFollowed() {
        useProvider(QStringLiteral("Claude"));
        server.setHandler([](const LoopbackHttpServer::Request &request) {
            return request.target == "/v1/messages" ? Response::redirect(307, "/v1/messages-moved")
                                                    : Response::json(claudeToolReply);
        });
        const Outcome outcome = QCoro::waitFor(generate(*service));
        QCOMPARE(outcome.error, QString());
        QCOMPARE(*outcome.response, expectedBriefing());
        QCOMPARE(server.requests().size(), 2);
        const auto &moved = server.requests().last();
        QCOMPARE(moved.target, QByteArray("/v1/messages-moved"));
        QCOMPARE(moved.method, QByteArray("POST"));
        QCOMPARE(moved.header("x-api-key"), key.toUtf8());
        QCOMPARE(moved.body, server.requests().first().body);
    }

    void keyTestRequests_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("authHeader");
        QTest::addColumn<QByteArray>("authValue");
        QTest::newRow("claude") << "Claude" << QByteArray("POST") << QByteArray("/v1/messages")
                                << QByteArray("x-api-key") << key.toUtf8();
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
        if (method == "POST")
            QCOMPARE(bodyOf(request),
                     (QJsonObject{{"model", "claude-sonnet-4-20250514"},
                                  {"max_tokens", 10},
                                  {"messages",
                                   QJsonArray{QJsonObject{{"role", "user"}, {"content", "Hi"}}}}}));

        server.respondWith(Response::text("forbidden", 403));
        QCOMPARE(std::get<bool>(QCoro::waitFor(keyTest(*service))), false);
    }
};

QTEST_GUILESS_MAIN(TestLLMService)
#include "tst_llm_service.moc"
