#include "GeminiDialect.h"

#include "LLMError.h"
#include "core/AppConfig.h"
#include "core/JsonRead.h"

#include <QJsonArray>

namespace {
QJsonObject typed(const char *type) {
    return {{QStringLiteral("type"), QLatin1String(type)}};
}

QJsonObject stringArray() {
    return {{QStringLiteral("type"), QStringLiteral("ARRAY")},
            {QStringLiteral("items"), typed("STRING")}};
}

[[noreturn]] void structuralFailure() {
    throw LLMError::parseError(QStringLiteral("Could not parse Gemini response"));
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
} // namespace

QString GeminiDialect::origin() {
    return AppConfig::originFromEnvironment(
        "ZELVANE_GEMINI_ORIGIN", QStringLiteral("https://generativelanguage.googleapis.com"));
}

QJsonObject GeminiDialect::briefingSchema() {
    QJsonObject profileProperties;
    for (const char *key : {"email", "name", "role", "company", "company_description",
                            "recent_news", "linkedin_url", "notes"})
        profileProperties.insert(QLatin1String(key), typed("STRING"));
    const QJsonObject profile{{QStringLiteral("type"), QStringLiteral("OBJECT")},
                              {QStringLiteral("properties"), profileProperties},
                              {QStringLiteral("required"), QJsonArray{QStringLiteral("email")}}};
    return {{QStringLiteral("type"), QStringLiteral("OBJECT")},
            {QStringLiteral("properties"),
             QJsonObject{{QStringLiteral("summary"), stringArray()},
                         {QStringLiteral("attendee_profiles"),
                          QJsonObject{{QStringLiteral("type"), QStringLiteral("ARRAY")},
                                      {QStringLiteral("items"), profile}}},
                         {QStringLiteral("talking_points"), stringArray()}}},
            {QStringLiteral("required"),
             QJsonArray{QStringLiteral("summary"), QStringLiteral("attendee_profiles"),
                        QStringLiteral("talking_points")}}};
}

ProviderRequest GeminiDialect::generationRequest(const QString &origin, const QString &systemPrompt,
                                                 const QString &userPrompt, const QString &apiKey) {
    const auto url = ProviderEndpoint::url(origin, QLatin1String(modelPath));
    if (!url)
        throw LLMError::invalidResponse();
    const QJsonObject declaration{
        {QStringLiteral("name"), QLatin1String(BriefingTool::name)},
        {QStringLiteral("description"), QLatin1String(BriefingTool::longDescription)},
        {QStringLiteral("parameters"), briefingSchema()}};
    const QJsonObject body{
        {QStringLiteral("system_instruction"),
         QJsonObject{{QStringLiteral("parts"),
                      QJsonArray{QJsonObject{{QStringLiteral("text"), systemPrompt}}}}}},
        {QStringLiteral("contents"),
         QJsonArray{QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                                {QStringLiteral("parts"),
                                 QJsonArray{QJsonObject{{QStringLiteral("text"), userPrompt}}}}}}},
        {QStringLiteral("tools"),
         QJsonArray{
             QJsonObject{{QStringLiteral("google_search"), QJsonObject{}}},
             QJsonObject{{QStringLiteral("function_declarations"), QJsonArray{declaration}}}}},
        {QStringLiteral("generationConfig"),
         QJsonObject{{QStringLiteral("maxOutputTokens"), 4096}}}};
    return {*url,
            "POST",
            {{"Content-Type", "application/json"}, {"x-goog-api-key", apiKey.toUtf8()}},
            QJsonDocument(body).toJson(QJsonDocument::Compact)};
}

ProviderRequest GeminiDialect::keyTestRequest(const QString &origin, const QString &apiKey) {
    const auto url = ProviderEndpoint::url(origin, QStringLiteral("/v1beta/models"));
    if (!url)
        throw LLMError::invalidResponse();
    return {*url, "GET", {{"x-goog-api-key", apiKey.toUtf8()}}, {}};
}

QString GeminiDialect::errorMessage(const QString &bodyText) {
    return QStringLiteral("Gemini error: ") + bodyText;
}

BriefingResponse GeminiDialect::parseResponse(const QByteArray &body) {
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
