#include "LLMService.h"

#include "ChatCompletionsDialect.h"
#include "ClaudeDialect.h"
#include "GeminiDialect.h"
#include "platform/SecretStore.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QStringDecoder>
#include <functional>

namespace {
using Vendor = ChatCompletionsDialect::Vendor;

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

TransportError cancelled() {
    return TransportError(QNetworkReply::OperationCanceledError,
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
    const ProviderRequest request = dialect.generationRequest(systemPrompt, userPrompt, key);
    const HttpLimits limits{generationIdleLimit, m_limit};
    HttpReply reply;
    try {
        reply = co_await send(request, key, limits);
    } catch (const TimeLimitError &) {
        throw LLMError::apiError(QString::fromLatin1(timeoutMessage));
    }
    if (reply.status != 200)
        throw LLMError::apiError(
            redacted(dialect.errorMessage(reply.status, bodyText(reply.body)), key));
    co_return dialect.parseResponse(reply.body);
}

QCoro::Task<bool> LLMService::testConnection() {
    const auto [key, chosen] = co_await choice();
    const ProviderRequest request = dialectFor(chosen).keyTestRequest(key);
    const HttpReply reply = co_await send(request, key, keyTestLimits);
    co_return reply.status == 200;
}

QCoro::Task<HttpReply> LLMService::send(ProviderRequest request, QString apiKey,
                                        HttpLimits limits) {
    QNetworkRequest networkRequest(request.url);
    for (const auto &[name, value] : request.headers)
        networkRequest.setRawHeader(name, value);
    try {
        co_return co_await sendRequest(*m_network, networkRequest, request.method, request.body,
                                       limits);
    } catch (const RedirectError &) {
        throw LLMError::redirected();
    } catch (const TimeLimitError &) {
        throw;
    } catch (const TransportError &error) {
        // Providers sometimes echo what they were sent; the key must not reach the text.
        throw TransportError(error.code(), redacted(error.description(), apiKey));
    }
}
