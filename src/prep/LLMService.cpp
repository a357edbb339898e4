#include "LLMService.h"

#include "ChatCompletionsDialect.h"
#include "ClaudeDialect.h"
#include "GeminiDialect.h"
#include "sync/KeychainService.h"

#include <QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStringDecoder>
#include <QTimer>
#include <memory>

using namespace std::chrono_literals;

namespace {
using Vendor = ChatCompletionsDialect::Vendor;

struct LaterDeleter {
    void operator()(QObject *object) const { object->deleteLater(); }
};

// Providers sometimes echo what they were sent; a key must never reach an error text.
QString redacted(QString text, const QString &apiKey) {
    if (!apiKey.isEmpty())
        text.replace(apiKey, QStringLiteral("[redacted]"));
    return text;
}

QString bodyText(const QByteArray &body) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(body);
    if (decoder.hasError())
        return QStringLiteral("Unknown error");
    return text;
}
} // namespace

LLMService::LLMService(SecretSource secrets, std::chrono::milliseconds generationLimit,
                       QObject *parent)
    : QObject(parent)
    , m_secrets(std::move(secrets))
    , m_limit(generationLimit)
    , m_network(new QNetworkAccessManager(this)) {}

LLMService::~LLMService() {
    // Finishing every request lets the awaiting coroutines end instead of waiting forever.
    const auto replies = m_network->findChildren<QNetworkReply *>();
    for (QNetworkReply *reply : replies)
        reply->abort();
}

LLMService &LLMService::shared() {
    static LLMService *instance = new LLMService;
    return *instance;
}

SecretSource LLMService::defaultSecretSource() {
    return [](const QString &key) { return KeychainService::load(key); };
}

LLMProvider LLMService::provider() const {
    const auto raw = m_secrets(QString::fromLatin1(KeychainService::llmProvider));
    if (!raw)
        return LLMProvider::claude;
    return LLMProviders::fromRawValue(*raw).value_or(LLMProvider::claude);
}

QCoro::Task<BriefingResponse> LLMService::generateBriefing(QString systemPrompt,
                                                           QString userPrompt) {
    const std::optional<QString> key = m_secrets(QString::fromLatin1(KeychainService::llmApiKey));
    if (!key)
        throw LLMError::noAPIKey();
    const LLMProvider chosen = provider();

    ProviderRequest request;
    switch (chosen) {
    case LLMProvider::claude:
        request = ClaudeDialect::generationRequest(ClaudeDialect::origin(), systemPrompt,
                                                   userPrompt, *key);
        break;
    case LLMProvider::openai:
    case LLMProvider::grok: {
        const Vendor vendor = chosen == LLMProvider::grok ? Vendor::grok : Vendor::openai;
        request = ChatCompletionsDialect::generationRequest(
            vendor, ChatCompletionsDialect::origin(vendor), systemPrompt, userPrompt, *key);
        break;
    }
    case LLMProvider::gemini:
        request = GeminiDialect::generationRequest(GeminiDialect::origin(), systemPrompt,
                                                   userPrompt, *key);
        break;
    }

    const Exchange exchange = co_await send(std::move(request), *key, 120s, m_limit);
    if (!exchange.status)
        throw LLMError::invalidResponse();
    if (*exchange.status != 200) {
        const QString text = bodyText(exchange.body);
        QString message;
        switch (chosen) {
        case LLMProvider::claude:
            message = ClaudeDialect::errorMessage(*exchange.status, text);
            break;
        case LLMProvider::openai:
            message = ChatCompletionsDialect::errorMessage(Vendor::openai, text);
            break;
        case LLMProvider::grok:
            message = ChatCompletionsDialect::errorMessage(Vendor::grok, text);
            break;
        case LLMProvider::gemini:
            message = GeminiDialect::errorMessage(text);
            break;
        }
        throw LLMError::apiError(redacted(message, *key));
    }
    switch (chosen) {
    case LLMProvider::claude:
        co_return ClaudeDialect::parseResponse(exchange.body);
    case LLMProvider::gemini:
        co_return GeminiDialect::parseResponse(exchange.body);
    case LLMProvider::openai:
    case LLMProvider::grok:
        break;
    }
    co_return ChatCompletionsDialect::parseResponse(exchange.body);
}

QCoro::Task<bool> LLMService::testConnection() {
    const std::optional<QString> key = m_secrets(QString::fromLatin1(KeychainService::llmApiKey));
    if (!key)
        throw LLMError::noAPIKey();
    const LLMProvider chosen = provider();

    ProviderRequest request;
    switch (chosen) {
    case LLMProvider::claude:
        request = ClaudeDialect::keyTestRequest(ClaudeDialect::origin(), *key);
        break;
    case LLMProvider::openai:
        request = ChatCompletionsDialect::keyTestRequest(
            ChatCompletionsDialect::origin(Vendor::openai), *key);
        break;
    case LLMProvider::grok:
        request = ChatCompletionsDialect::keyTestRequest(
            ChatCompletionsDialect::origin(Vendor::grok), *key);
        break;
    case LLMProvider::gemini:
        request = GeminiDialect::keyTestRequest(GeminiDialect::origin(), *key);
        break;
    }
    const Exchange exchange = co_await send(std::move(request), *key, 60s, std::nullopt);
    co_return exchange.status == 200;
}

QCoro::Task<LLMService::Exchange> LLMService::send(ProviderRequest request, QString apiKey,
                                                   std::chrono::milliseconds transferTimeout,
                                                   std::optional<std::chrono::milliseconds> limit) {
    QNetworkRequest networkRequest(request.url);
    for (const auto &[name, value] : request.headers)
        networkRequest.setRawHeader(name, value);
    networkRequest.setTransferTimeout(int(transferTimeout.count()));
    const std::unique_ptr<QNetworkReply, LaterDeleter> reply(
        request.method == "GET"
            ? m_network->get(networkRequest)
            : m_network->sendCustomRequest(networkRequest, request.method, request.body));

    // The race: whichever comes first, the reply or the limit; the limit aborts the request.
    QTimer limitTimer;
    bool timedOut = false;
    if (limit) {
        limitTimer.setSingleShot(true);
        QNetworkReply *raw = reply.get();
        QObject::connect(&limitTimer, &QTimer::timeout, raw, [&timedOut, raw] {
            timedOut = true;
            raw->abort();
        });
        limitTimer.start(*limit);
    }
    co_await reply.get();
    limitTimer.stop();

    if (timedOut)
        throw LLMError::apiError(QString::fromLatin1(timeoutMessage));
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool http = status.isValid();
    // A status other than 200 is the provider's answer; any other network failure is not.
    if (reply->error() != QNetworkReply::NoError && (!http || status.toInt() == 200))
        throw LLMTransportError(int(reply->error()), redacted(reply->errorString(), apiKey));
    if (!http)
        co_return Exchange{std::nullopt, {}};
    co_return Exchange{status.toInt(), reply->readAll()};
}
