#include "LLMService.h"

#include "ChatCompletionsDialect.h"
#include "ClaudeDialect.h"
#include "GeminiDialect.h"
#include "platform/SecretStore.h"

#include <QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QStringDecoder>
#include <QTimer>
#include <functional>
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

// One provider's requests, error wording and reply shape.
struct Dialect {
    std::function<ProviderRequest(const QString &system, const QString &user, const QString &key)>
        generationRequest;
    std::function<ProviderRequest(const QString &key)> keyTestRequest;
    std::function<QString(int status, const QString &bodyText)> errorMessage;
    std::function<BriefingResponse(const QByteArray &body)> parseResponse;
};

Dialect dialectFor(LLMProvider provider) {
    switch (provider) {
    case LLMProvider::claude:
        return {[](const QString &system, const QString &user, const QString &key) {
                    return ClaudeDialect::generationRequest(ClaudeDialect::origin(), system, user,
                                                            key);
                },
                [](const QString &key) {
                    return ClaudeDialect::keyTestRequest(ClaudeDialect::origin(), key);
                },
                &ClaudeDialect::errorMessage, &ClaudeDialect::parseResponse};
    case LLMProvider::openai:
    case LLMProvider::grok: {
        const Vendor vendor = provider == LLMProvider::grok ? Vendor::grok : Vendor::openai;
        return {[vendor](const QString &system, const QString &user, const QString &key) {
                    return ChatCompletionsDialect::generationRequest(
                        vendor, ChatCompletionsDialect::origin(vendor), system, user, key);
                },
                [vendor](const QString &key) {
                    return ChatCompletionsDialect::keyTestRequest(
                        ChatCompletionsDialect::origin(vendor), key);
                },
                [vendor](int, const QString &text) {
                    return ChatCompletionsDialect::errorMessage(vendor, text);
                },
                &ChatCompletionsDialect::parseResponse};
    }
    case LLMProvider::gemini:
        break;
    }
    return {[](const QString &system, const QString &user, const QString &key) {
                return GeminiDialect::generationRequest(GeminiDialect::origin(), system, user, key);
            },
            [](const QString &key) {
                return GeminiDialect::keyTestRequest(GeminiDialect::origin(), key);
            },
            [](int, const QString &text) { return GeminiDialect::errorMessage(text); },
            &GeminiDialect::parseResponse};
}

LLMTransportError cancelled() {
    return LLMTransportError(int(QNetworkReply::OperationCanceledError),
                             QStringLiteral("Operation canceled"));
}

QString bodyText(const QByteArray &body) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(body);
    if (decoder.hasError())
        return QStringLiteral("Unknown error");
    return text;
}
} // namespace

LLMService::LLMService(SecretStore &secrets, std::chrono::milliseconds generationLimit,
                       QObject *parent)
    : QObject(parent)
    , m_secrets(secrets)
    , m_limit(generationLimit)
    , m_network(new QNetworkAccessManager(this)) {}

LLMService::~LLMService() {
    // Finishing every request lets the awaiting coroutines end instead of waiting forever.
    const auto replies = m_network->findChildren<QNetworkReply *>();
    for (QNetworkReply *reply : replies)
        reply->abort();
}

QCoro::Task<LLMProvider> LLMService::provider() {
    const auto raw = co_await m_secrets.load(QString::fromLatin1(SecretStore::llmProvider));
    if (!raw)
        co_return LLMProvider::claude;
    co_return LLMProviders::fromString(*raw).value_or(LLMProvider::claude);
}

QCoro::Task<LLMService::Choice> LLMService::choice() {
    QPointer<LLMService> self(this);
    const auto key = co_await m_secrets.load(QString::fromLatin1(SecretStore::llmApiKey));
    if (!key)
        throw LLMError::noAPIKey();
    if (!self)
        throw cancelled();
    const LLMProvider chosen = co_await provider();
    if (!self)
        throw cancelled();
    co_return Choice{*key, chosen};
}

QCoro::Task<BriefingResponse> LLMService::generateBriefing(QString systemPrompt,
                                                           QString userPrompt) {
    const auto [key, chosen] = co_await choice();
    const Dialect dialect = dialectFor(chosen);
    const Exchange exchange =
        co_await send(dialect.generationRequest(systemPrompt, userPrompt, key), key, 120s, m_limit);
    if (!exchange.status)
        throw LLMError::invalidResponse();
    if (*exchange.status != 200)
        throw LLMError::apiError(
            redacted(dialect.errorMessage(*exchange.status, bodyText(exchange.body)), key));
    co_return dialect.parseResponse(exchange.body);
}

QCoro::Task<bool> LLMService::testConnection() {
    const auto [key, chosen] = co_await choice();
    const Exchange exchange =
        co_await send(dialectFor(chosen).keyTestRequest(key), key, 60s, std::nullopt);
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
