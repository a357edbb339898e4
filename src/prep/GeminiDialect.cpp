#include "LLMError.h"
#include "ProviderDialect.h"
#include "core/JsonRead.h"

#include <QCoreApplication>
#include <QJsonArray>

namespace {
// The same schema with its type names in upper case, as Gemini's dialect spells them.
QJsonValue upperCaseTypes(const QJsonValue &schema) {
    if (schema.isArray()) {
        QJsonArray items;
        for (const QJsonValue &item : schema.toArray())
            items.append(upperCaseTypes(item));
        return items;
    }
    if (!schema.isObject())
        return schema;
    QJsonObject object = schema.toObject();
    for (auto it = object.begin(); it != object.end(); ++it)
        it.value() = it.key() == u"type" && it->isString() ? QJsonValue(it->toString().toUpper())
                                                           : upperCaseTypes(it.value());
    return object;
}

[[noreturn]] void structuralFailure() {
    throw LLMError::parseError(
        QCoreApplication::translate("LLMError", "Could not parse Gemini response"));
}

QJsonArray arrayOfObjects(const QJsonValue &value) {
    if (!value.isArray())
        structuralFailure();
    const QJsonArray array = value.toArray();
    for (const QJsonValue &item : array)
        if (!item.isObject())
            structuralFailure();
    return array;
}

// Google's Gemini generateContent: Google search plus the briefing function declaration,
// in the schema dialect with upper-case type names. The key travels in x-goog-api-key.
class GeminiDialect final : public ProviderDialect {
public:
    ProviderRequest generationRequest(const LLMProviderInfo &provider, const QString &systemPrompt,
                                      const QString &userPrompt,
                                      const QString &apiKey) const override {
        const QUrl url =
            endpoint(provider, QStringLiteral("/v1beta/models/") + QLatin1String(provider.model) +
                                   QStringLiteral(":generateContent"));
        const QJsonObject declaration{
            {QStringLiteral("name"), QLatin1String(BriefingTool::name)},
            {QStringLiteral("description"), QLatin1String(BriefingTool::longDescription)},
            {QStringLiteral("parameters"), upperCaseTypes(BriefingTool::parametersSchema())}};
        const QJsonObject body{
            {QStringLiteral("system_instruction"),
             QJsonObject{{QStringLiteral("parts"),
                          QJsonArray{QJsonObject{{QStringLiteral("text"), systemPrompt}}}}}},
            {QStringLiteral("contents"),
             QJsonArray{
                 QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                             {QStringLiteral("parts"),
                              QJsonArray{QJsonObject{{QStringLiteral("text"), userPrompt}}}}}}},
            {QStringLiteral("tools"),
             QJsonArray{
                 QJsonObject{{QStringLiteral("google_search"), QJsonObject{}}},
                 QJsonObject{{QStringLiteral("function_declarations"), QJsonArray{declaration}}}}},
            {QStringLiteral("generationConfig"),
             QJsonObject{{QStringLiteral("maxOutputTokens"), 4096}}}};
        return {url,
                "POST",
                {{"Content-Type", "application/json"}, {"x-goog-api-key", apiKey.toUtf8()}},
                QJsonDocument(body).toJson(QJsonDocument::Compact)};
    }

    ProviderRequest keyTestRequest(const LLMProviderInfo &provider,
                                   const QString &apiKey) const override {
        return {endpoint(provider, QStringLiteral("/v1beta/models")),
                "GET",
                {{"x-goog-api-key", apiKey.toUtf8()}},
                {}};
    }

    // Throws LLMError::parseError without a first candidate's list of parts.
    BriefingResponse parseResponse(const QByteArray &body) const override {
        const QJsonDocument document = JsonRead::document(body);
        if (!document.isObject())
            structuralFailure();
        const QJsonArray candidates = arrayOfObjects(document.object().value(u"candidates"));
        if (candidates.isEmpty())
            structuralFailure();
        const QJsonValue content = candidates.first().toObject().value(u"content");
        if (!content.isObject())
            structuralFailure();
        const QJsonArray parts = arrayOfObjects(content.toObject().value(u"parts"));

        for (const QJsonValue &value : parts) {
            const QJsonValue call = value.toObject().value(u"functionCall");
            if (call.isObject() &&
                call.toObject().value(u"name") == QLatin1String(BriefingTool::name) &&
                call.toObject().value(u"args").isObject())
                return BriefingTool::parseInput(call.toObject().value(u"args").toObject());
        }
        QStringList texts;
        for (const QJsonValue &value : parts)
            if (value.toObject().value(u"text").isString())
                texts.append(value.toObject().value(u"text").toString());
        return BriefingResponse::fromText(texts.join(u'\n'));
    }
};
} // namespace

const ProviderDialect &ProviderDialects::gemini() {
    static const GeminiDialect dialect;
    return dialect;
}
