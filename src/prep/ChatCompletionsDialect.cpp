#include "ChatCompletionsDialect.h"

#include "LLMError.h"
#include "core/AppConfig.h"
#include "core/JsonRead.h"

#include <QJsonArray>

namespace {
QList<std::pair<QByteArray, QByteArray>> bearer(const QString &apiKey) {
    return {{"Content-Type", "application/json"}, {"Authorization", "Bearer " + apiKey.toUtf8()}};
}

[[noreturn]] void structuralFailure() {
    throw LLMError::parseError(QStringLiteral("Could not parse OpenAI tool call response"));
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
} // namespace

QString ChatCompletionsDialect::origin(Vendor vendor) {
    if (vendor == Vendor::grok)
        return AppConfig::originFromEnvironment("ZELVANE_XAI_ORIGIN",
                                                QStringLiteral("https://api.x.ai"));
    return AppConfig::originFromEnvironment("ZELVANE_OPENAI_ORIGIN",
                                            QStringLiteral("https://api.openai.com"));
}

QString ChatCompletionsDialect::model(Vendor vendor) {
    return vendor == Vendor::grok ? QStringLiteral("grok-3") : QStringLiteral("gpt-4o");
}

QJsonObject ChatCompletionsDialect::finalizeBriefingFunctionSchema() {
    return {{QStringLiteral("name"), QLatin1String(BriefingTool::name)},
            {QStringLiteral("description"), QLatin1String(BriefingTool::shortDescription)},
            {QStringLiteral("parameters"), BriefingTool::parametersSchema()}};
}

ProviderRequest ChatCompletionsDialect::generationRequest(Vendor vendor, const QString &origin,
                                                          const QString &systemPrompt,
                                                          const QString &userPrompt,
                                                          const QString &apiKey) {
    const auto url = ProviderEndpoint::url(origin, QStringLiteral("/v1/chat/completions"));
    if (!url)
        throw LLMError::invalidResponse();
    const QJsonObject body{
        {QStringLiteral("model"), model(vendor)},
        {QStringLiteral("messages"),
         QJsonArray{QJsonObject{{QStringLiteral("role"), QStringLiteral("system")},
                                {QStringLiteral("content"), systemPrompt}},
                    QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                                {QStringLiteral("content"), userPrompt}}}},
        {QStringLiteral("tools"),
         QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("function")},
                                {QStringLiteral("function"), finalizeBriefingFunctionSchema()}}}},
        {QStringLiteral("tool_choice"),
         QJsonObject{{QStringLiteral("type"), QStringLiteral("function")},
                     {QStringLiteral("function"),
                      QJsonObject{{QStringLiteral("name"), QLatin1String(BriefingTool::name)}}}}},
        {QStringLiteral("max_tokens"), 4096}};
    return {*url, "POST", bearer(apiKey), QJsonDocument(body).toJson(QJsonDocument::Compact)};
}

ProviderRequest ChatCompletionsDialect::keyTestRequest(const QString &origin,
                                                       const QString &apiKey) {
    const auto url = ProviderEndpoint::url(origin, QStringLiteral("/v1/models"));
    if (!url)
        throw LLMError::invalidResponse();
    return {*url, "GET", {{"Authorization", "Bearer " + apiKey.toUtf8()}}, {}};
}

QString ChatCompletionsDialect::errorMessage(Vendor vendor, const QString &bodyText) {
    return (vendor == Vendor::grok ? QStringLiteral("Grok error: ")
                                   : QStringLiteral("OpenAI error: ")) +
           bodyText;
}

BriefingResponse ChatCompletionsDialect::parseResponse(const QByteArray &body) {
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
