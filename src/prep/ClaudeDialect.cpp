#include "LLMError.h"
#include "ProviderDialect.h"
#include "core/JsonRead.h"

#include <QCoreApplication>
#include <QJsonArray>

namespace {
constexpr auto apiVersion = "2023-06-01";

ProviderRequest messagesRequest(const QUrl &url, const QString &apiKey, const QJsonObject &body) {
    return {url,
            "POST",
            {{"Content-Type", "application/json"},
             {"x-api-key", apiKey.toUtf8()},
             {"anthropic-version", apiVersion}},
            QJsonDocument(body).toJson(QJsonDocument::Compact)};
}

QJsonObject finalizeBriefingToolSchema() {
    return {{QStringLiteral("name"), QLatin1String(BriefingTool::name)},
            {QStringLiteral("description"), QLatin1String(BriefingTool::longDescription)},
            {QStringLiteral("input_schema"), BriefingTool::parametersSchema()}};
}

// The Anthropic Messages API: web search plus the briefing tool, the model finishes with it.
class ClaudeDialect final : public ProviderDialect {
public:
    ProviderRequest generationRequest(const LLMProviderInfo &provider, const QString &systemPrompt,
                                      const QString &userPrompt,
                                      const QString &apiKey) const override {
        const QJsonObject webSearch{{QStringLiteral("type"), QStringLiteral("web_search_20250305")},
                                    {QStringLiteral("name"), QStringLiteral("web_search")},
                                    {QStringLiteral("max_uses"), 10}};
        const QJsonObject body{
            {QStringLiteral("model"), QLatin1String(provider.model)},
            {QStringLiteral("max_tokens"), 4096},
            {QStringLiteral("system"), systemPrompt},
            {QStringLiteral("tools"), QJsonArray{webSearch, finalizeBriefingToolSchema()}},
            {QStringLiteral("messages"),
             QJsonArray{QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                                    {QStringLiteral("content"), userPrompt}}}}};
        return messagesRequest(endpoint(provider, QStringLiteral("/v1/messages")), apiKey, body);
    }

    ProviderRequest keyTestRequest(const LLMProviderInfo &provider,
                                   const QString &apiKey) const override {
        const QJsonObject body{
            {QStringLiteral("model"), QLatin1String(provider.model)},
            {QStringLiteral("max_tokens"), 10},
            {QStringLiteral("messages"),
             QJsonArray{QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                                    {QStringLiteral("content"), QStringLiteral("Hi")}}}}};
        return messagesRequest(endpoint(provider, QStringLiteral("/v1/messages")), apiKey, body);
    }

    QString errorMessage(const LLMProviderInfo &provider, int status,
                         const QString &bodyText) const override {
        return QLatin1String(provider.name) + QStringLiteral(" API error ") +
               QString::number(status) + QStringLiteral(": ") + bodyText;
    }

    // Throws LLMError::parseError without a list of content blocks.
    BriefingResponse parseResponse(const QByteArray &body) const override {
        const QJsonDocument document = JsonRead::document(body);
        const QJsonValue content = document.object().value(u"content");
        bool wellFormed = document.isObject() && content.isArray();
        const QJsonArray blocks = content.toArray();
        for (const QJsonValue &block : blocks)
            wellFormed = wellFormed && block.isObject();
        if (!wellFormed)
            throw LLMError::parseError(
                QCoreApplication::translate("LLMError", "No content in response"));

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
};
} // namespace

const ProviderDialect &ProviderDialects::claude() {
    static const ClaudeDialect dialect;
    return dialect;
}
