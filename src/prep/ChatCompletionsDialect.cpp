#include "LLMError.h"
#include "ProviderDialect.h"
#include "core/JsonRead.h"

#include <QCoreApplication>
#include <QJsonArray>

namespace {
QList<std::pair<QByteArray, QByteArray>> bearer(const QString &apiKey) {
    return {{"Content-Type", "application/json"}, {"Authorization", "Bearer " + apiKey.toUtf8()}};
}

[[noreturn]] void structuralFailure() {
    throw LLMError::parseError(
        QCoreApplication::translate("LLMError", "Could not parse OpenAI tool call response"));
}

// The first element of a non-empty array of objects, or a structural failure.
QJsonObject firstObject(const QJsonValue &value) {
    if (!value.isArray())
        structuralFailure();
    const QJsonArray array = value.toArray();
    if (array.isEmpty())
        structuralFailure();
    for (const QJsonValue &item : array)
        if (!item.isObject())
            structuralFailure();
    return array.first().toObject();
}

QJsonObject objectAt(const QJsonObject &o, QStringView key) {
    const QJsonValue value = o.value(key);
    if (!value.isObject())
        structuralFailure();
    return value.toObject();
}

QJsonObject finalizeBriefingFunctionSchema() {
    return {{QStringLiteral("name"), QLatin1String(BriefingTool::name)},
            {QStringLiteral("description"), QLatin1String(BriefingTool::shortDescription)},
            {QStringLiteral("parameters"), BriefingTool::parametersSchema()}};
}

// The chat-completions dialect that OpenAI and xAI (Grok) share: the briefing function is
// forced through "tool_choice"; no web search is offered.
class ChatCompletionsDialect final : public ProviderDialect {
public:
    ProviderRequest generationRequest(const LLMProviderInfo &provider, const QString &systemPrompt,
                                      const QString &userPrompt,
                                      const QString &apiKey) const override {
        const QUrl url = endpoint(provider, QStringLiteral("/v1/chat/completions"));
        const QJsonObject body{
            {QStringLiteral("model"), QLatin1String(provider.model)},
            {QStringLiteral("messages"),
             QJsonArray{QJsonObject{{QStringLiteral("role"), QStringLiteral("system")},
                                    {QStringLiteral("content"), systemPrompt}},
                        QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                                    {QStringLiteral("content"), userPrompt}}}},
            {QStringLiteral("tools"),
             QJsonArray{
                 QJsonObject{{QStringLiteral("type"), QStringLiteral("function")},
                             {QStringLiteral("function"), finalizeBriefingFunctionSchema()}}}},
            {QStringLiteral("tool_choice"),
             QJsonObject{
                 {QStringLiteral("type"), QStringLiteral("function")},
                 {QStringLiteral("function"),
                  QJsonObject{{QStringLiteral("name"), QLatin1String(BriefingTool::name)}}}}},
            {QStringLiteral("max_tokens"), 4096}};
        return {url, "POST", bearer(apiKey), QJsonDocument(body).toJson(QJsonDocument::Compact)};
    }

    ProviderRequest keyTestRequest(const LLMProviderInfo &provider,
                                   const QString &apiKey) const override {
        return {endpoint(provider, QStringLiteral("/v1/models")),
                "GET",
                {{"Authorization", "Bearer " + apiKey.toUtf8()}},
                {}};
    }

    // Also DecodingError when the arguments text is not JSON, and LLMError::parseError when
    // the first choice holds no usable tool call.
    BriefingResponse parseResponse(const QByteArray &body) const override {
        const QJsonDocument document = JsonRead::document(body);
        if (!document.isObject())
            structuralFailure();
        const QJsonObject choice = firstObject(document.object().value(u"choices"));
        const QJsonObject message = objectAt(choice, u"message");
        const QJsonObject call = firstObject(message.value(u"tool_calls"));
        const QJsonValue arguments = objectAt(call, u"function").value(u"arguments");
        if (!arguments.isString())
            structuralFailure();
        const QJsonDocument input = JsonRead::document(arguments.toString().toUtf8());
        if (!input.isObject())
            structuralFailure();
        return BriefingTool::parseInput(input.object());
    }
};
} // namespace

const ProviderDialect &ProviderDialects::chatCompletions() {
    static const ChatCompletionsDialect dialect;
    return dialect;
}
