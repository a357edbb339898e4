#include "prep/ChatCompletionsDialect.h"
#include "prep/ClaudeDialect.h"
#include "prep/GeminiDialect.h"
#include "prep/LLMError.h"
#include "sync/HttpExchange.h"

#include <QJsonDocument>
#include <QTest>

namespace {
BriefingResponse parseArguments(const QByteArray &json) {
    return BriefingTool::parseInput(QJsonDocument::fromJson(json).object());
}

BriefingResponse textOnly(const QString &text) {
    return BriefingResponse::fromText(text);
}
} // namespace

Q_DECLARE_METATYPE(BriefingResponse)

// Bodies stay outside the class: moc cannot skip raw JSON literals inside a class body.
class TestReplyParsers : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void citationsAndWhitespace_data();
    void citationsAndWhitespace();
    void argumentsParseLeniently();
    void profilesMustAllBeObjects();
    void claudeReplies_data();
    void claudeReplies();
    void claudeMalformed_data();
    void claudeMalformed();
    void chatCompletionReplies();
    void geminiReplies_data();
    void geminiReplies();
    void geminiMalformed_data();
    void geminiMalformed();
};

void TestReplyParsers::citationsAndWhitespace_data() {
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("cleaned");
    QTest::newRow("tags with attributes")
        << "  Acme raised <cite index=\"1-2\" x=\"y\">$20M</cite> in May\t"
        << "Acme raised $20M in May";
    QTest::newRow("line break kept") << " first\nsecond \n"
                                     << "first\nsecond \n";
    QTest::newRow("prefix match, other tags kept") << "<cited> <b>bold</b>"
                                                   << "<b>bold</b>";
    QTest::newRow("unclosed opening") << "text <cite index=1"
                                      << "text <cite index=1";
}

void TestReplyParsers::citationsAndWhitespace() {
    QFETCH(QString, raw);
    QFETCH(QString, cleaned);
    QCOMPARE(BriefingTool::cleanCitations(raw), cleaned);
}

void TestReplyParsers::argumentsParseLeniently() {
    const BriefingResponse r = parseArguments(R"({
        "summary": ["  <cite index=\"3\">Series B</cite> closed ", ""],
        "talking_points": ["Ask about hiring", 7],
        "attendee_profiles": [
            {"name": "No Email", "linkedin_url": "not a url at all",
             "notes": "<cite>kept</cite>"},
            {"email": "ana@acme.io", "name": 5, "company_description": "Widgets",
             "recent_news": "IPO", "linkedin_url": "https://www.linkedin.com/in/ana"}
        ]})");
    QCOMPARE(r.summary, (QStringList{"Series B closed", ""}));
    // One number spoils the whole list, not the rest of the arguments.
    QCOMPARE(r.talkingPoints, QStringList());
    QCOMPARE(r.attendeeProfiles.size(), 2);
    const auto &first = r.attendeeProfiles[0];
    QCOMPARE(first.email, QString());
    QCOMPARE(first.name, QStringLiteral("No Email"));
    QCOMPARE(first.linkedInURL, std::nullopt);
    QCOMPARE(first.notes, QStringLiteral("<cite>kept</cite>"));
    const auto &second = r.attendeeProfiles[1];
    QCOMPARE(second.email, QStringLiteral("ana@acme.io"));
    QCOMPARE(second.name, std::nullopt);
    QCOMPARE(second.companyDescription, QStringLiteral("Widgets"));
    QCOMPARE(second.recentNews, QStringLiteral("IPO"));
    QCOMPARE(second.linkedInURL, QUrl(QStringLiteral("https://www.linkedin.com/in/ana")));
}

void TestReplyParsers::profilesMustAllBeObjects() {
    const BriefingResponse r =
        parseArguments(R"({"attendee_profiles": [{"email": "a@b.c"}, "x"], "summary": "s"})");
    QVERIFY(r.attendeeProfiles.isEmpty());
    QVERIFY(r.summary.isEmpty());
}

void TestReplyParsers::claudeReplies_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<BriefingResponse>("expected");
    QTest::newRow("other tool then text")
        << QByteArray(R"({"content":[{"type":"tool_use","name":"web_search","input":{}},
                                    {"type":"text","text":"Only text"}]})")
        << textOnly("Only text");
    QTest::newRow("texts joined") << QByteArray(R"({"content":[{"type":"text","text":"a"},
            {"type":"server_tool_use","name":"web_search"},{"type":"text","text":"b"}]})")
                                  << textOnly("a\nb");
    QTest::newRow("empty content") << QByteArray(R"({"content":[]})") << textOnly("");
    QTest::newRow("tool input not an object")
        << QByteArray(R"({"content":[{"type":"tool_use","name":"finalize_briefing",
                                      "input":"{}"},{"type":"text","text":"t"}]})")
        << textOnly("t");
    QTest::newRow("first matching tool wins") << QByteArray(R"({"content":[
            {"type":"tool_use","name":"finalize_briefing","input":{"summary":["one"]}},
            {"type":"tool_use","name":"finalize_briefing","input":{"summary":["two"]}}]})")
                                              << BriefingResponse{{"one"}, {}, {}};
}

void TestReplyParsers::claudeReplies() {
    QFETCH(QByteArray, body);
    QFETCH(BriefingResponse, expected);
    QCOMPARE(ClaudeDialect::parseResponse(body), expected);
}

void TestReplyParsers::claudeMalformed_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("array top level") << QByteArray("[]");
    QTest::newRow("content not array") << QByteArray(R"({"content":{}})");
    QTest::newRow("block not object") << QByteArray(R"({"content":[1]})");
}

void TestReplyParsers::claudeMalformed() {
    QFETCH(QByteArray, body);
    try {
        ClaudeDialect::parseResponse(body);
        QFAIL("parsed");
    } catch (const LLMError &e) {
        QCOMPARE(e.description(), QStringLiteral("Parse error: No content in response"));
    }
}

void TestReplyParsers::chatCompletionReplies() {
    // Only the first tool call counts, even when it names another function.
    const QByteArray twoCalls = R"({"choices":[{"message":{"tool_calls":[
        {"function":{"name":"lookup","arguments":"{\"summary\":[\"first\"]}"}},
        {"function":{"name":"finalize_briefing","arguments":"{\"summary\":[\"second\"]}"}}
    ]}}]})";
    QCOMPARE(ChatCompletionsDialect::parseResponse(twoCalls).summary, QStringList{"first"});

    const QByteArray badArguments =
        "{\"choices\":[{\"message\":{\"tool_calls\":[{\"function\":{\"arguments\":"
        "\"{nope\"}}]}}]}";
    QVERIFY_THROWS_EXCEPTION(DecodingError, ChatCompletionsDialect::parseResponse(badArguments));

    for (const QByteArray &body :
         {QByteArray(
              R"({"choices":[{"message":{"tool_calls":[{"function":{"arguments":"[1]"}}]}}]})"),
          QByteArray(R"({"choices":[{"message":{"tool_calls":[]}}]})"),
          QByteArray(R"({"choices":[{"message":{"tool_calls":[{"function":{"arguments":{}}}]}}]})"),
          QByteArray(R"({"choices":[1]})")}) {
        try {
            ChatCompletionsDialect::parseResponse(body);
            QFAIL(body.constData());
        } catch (const LLMError &e) {
            QCOMPARE(e.kind(), LLMError::Kind::parseError);
            QCOMPARE(e.message(), QStringLiteral("Could not parse OpenAI tool call response"));
        }
    }
}

void TestReplyParsers::geminiReplies_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<BriefingResponse>("expected");
    QTest::newRow("other function skipped") << QByteArray(R"({"candidates":[{"content":{"parts":[
            {"functionCall":{"name":"lookup","args":{"summary":["no"]}}},
            {"functionCall":{"name":"finalize_briefing","args":{"summary":["yes"]}}}]}}]})")
                                            << BriefingResponse{{"yes"}, {}, {}};
    QTest::newRow("args missing falls back to text")
        << QByteArray(R"({"candidates":[{"content":{"parts":[{"text":"one"},
            {"functionCall":{"name":"finalize_briefing"}},{"text":"two"}]}}]})")
        << textOnly("one\ntwo");
    QTest::newRow("empty parts") << QByteArray(R"({"candidates":[{"content":{"parts":[]}}]})")
                                 << textOnly("");
}

void TestReplyParsers::geminiReplies() {
    QFETCH(QByteArray, body);
    QFETCH(BriefingResponse, expected);
    QCOMPARE(GeminiDialect::parseResponse(body), expected);
}

void TestReplyParsers::geminiMalformed_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("no candidates") << QByteArray("{}");
    QTest::newRow("no content") << QByteArray(R"({"candidates":[{}]})");
    QTest::newRow("parts not objects")
        << QByteArray(R"({"candidates":[{"content":{"parts":["x"]}}]})");
}

void TestReplyParsers::geminiMalformed() {
    QFETCH(QByteArray, body);
    try {
        GeminiDialect::parseResponse(body);
        QFAIL("parsed");
    } catch (const LLMError &e) {
        QCOMPARE(e.description(), QStringLiteral("Parse error: Could not parse Gemini response"));
    }
}

QTEST_GUILESS_MAIN(TestReplyParsers)
#include "tst_reply_parsers.moc"
