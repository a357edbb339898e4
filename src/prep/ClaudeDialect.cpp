#include "ClaudeDialect.h"

#include "LLMError.h"
#include "core/AppConfig.h"
#include "core/JsonRead.h"

#include <QJsonArray>

namespace {
ProviderRequest messagesRequest(const QString &origin, const QString &apiKey,
                                const QJsonObject &body) {
    const auto url = ProviderEndpoint::url(origin, QStringLiteral("/v1/messages"));
    if (!url)
        throw LLMError::invalidResponse();
    return {*url,
            "POST",
            {{"Content-Type", "application/json"},
             {"x-api-key", apiKey.toUtf8()},
             {"anthropic-version", ClaudeDialect::apiVersion}},
            QJsonDocument(body).toJson(QJsonDocument::Compact)};
}
} // namespace

QString ClaudeDialect::origin() {
    return AppConfig::originFromEnvironment("ZELVANE_ANTHROPIC_ORIGIN",
                                            QStringLiteral("https://api.anthropic.com"));
}

QJsonObject ClaudeDialect::finalizeBriefingToolSchema() {
    return {{QStringLiteral("name"), QLatin1String(BriefingTool::name)},
            {QStringLiteral("description"), QLatin1String(BriefingTool::longDescription)},
            {QStringLiteral("input_schema"), BriefingTool::parametersSchema()}};
}

ProviderRequest ClaudeDialect::generationRequest(const QString &origin, const QString &systemPrompt,
                                                 const QString &userPrompt, const QString &apiKey) {
    const QJsonObject webSearch{{QStringLiteral("type"), QStringLiteral("web_search_20250305")},
                                {QStringLiteral("name"), QStringLiteral("web_search")},
                                {QStringLiteral("max_uses"), 10}};
    const QJsonObject body{
        {QStringLiteral("model"), QLatin1String(model)},
        {QStringLiteral("max_tokens"), 4096},
        {QStringLiteral("system"), systemPrompt},
        {QStringLiteral("tools"), QJsonArray{webSearch, finalizeBriefingToolSchema()}},
        {QStringLiteral("messages"),
         QJsonArray{QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                                {QStringLiteral("content"), userPrompt}}}}};
    return messagesRequest(origin, apiKey, body);
}

ProviderRequest ClaudeDialect::keyTestRequest(const QString &origin, const QString &apiKey) {
    const QJsonObject body{
        {QStringLiteral("model"), QLatin1String(model)},
        {QStringLiteral("max_tokens"), 10},
        {QStringLiteral("messages"),
         QJsonArray{QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                                {QStringLiteral("content"), QStringLiteral("Hi")}}}}};
    return messagesRequest(origin, apiKey, body);
}

QString ClaudeDialect::errorMessage(int status, const QString &bodyText) {
    return QStringLiteral("Claude API error ") + QString::number(status) + QStringLiteral(": ") +
           bodyText;
}

BriefingResponse ClaudeDialect::parseResponse(const QByteArray &body) {
    const QJsonDocument document = JsonRead::document(body);
    const QJsonValue content = document.object().value(u"content");
    bool wellFormed = document.isObject() && content.isArray();
    const QJsonArray blocks = content.toArray();
    for (const QJsonValue &block : blocks)
        wellFormed = wellFormed && block.isObject();
    if (!wellFormed)
        throw LLMError::parseError(QStringLiteral("No content in response"));

    for (const QJsonValue &value : blocks) {
        const QJsonObject block = value.toObject();
        if (block.value(u"type") == QLatin1String("tool_use") &&
            block.value(u"name") == QLatin1String(BriefingTool::name) &&
            block.value(u"input").isObject())
            return BriefingTool::parseInput(block.value(u"input").toObject());
    }
    QStringList texts;
    for (const QJsonValue &value : blocks) {
        const QJsonObject block = value.toObject();
        if (block.value(u"type") == QLatin1String("text") && block.value(u"text").isString())
            texts.append(block.value(u"text").toString());
    }
    return BriefingResponse::fromText(texts.join(u'\n'));
}
