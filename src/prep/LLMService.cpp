#include "LLMService.h"

#include "ProviderDialect.h"
#include "platform/SecretStore.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QStringDecoder>

namespace {
constexpr auto timeoutMessage =
    QT_TRANSLATE_NOOP("LLMError", "Research timed out after 90 seconds");
constexpr std::chrono::seconds generationIdleLimit{120};
constexpr HttpLimits keyTestLimits{std::chrono::seconds(60), std::chrono::seconds(120)};

// Providers sometimes echo what they were sent; a key must never reach an error text.
QString redacted(QString text, const QString &apiKey) {
    if (!apiKey.isEmpty())
        text.replace(apiKey, QStringLiteral("[redacted]"));
    return text;
}

TransportError cancelled() {
    return TransportError(QNetworkReply::OperationCanceledError,
                          QCoreApplication::translate("TransportError", "Operation canceled"));
}

QString bodyText(const QByteArray &body) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(body);
    if (decoder.hasError())
        return QCoreApplication::translate("LLMError", "Unknown error");
    return text;
}
} // namespace

LLMService::LLMService(SecretStore &secrets, ProviderKeyStatus &keyStatus,
                       std::chrono::milliseconds generationLimit, QObject *parent)
    : QObject(parent)
    , m_secrets(secrets)
    , m_keyStatus(keyStatus)
    , m_limit(generationLimit)
    , m_network(new QNetworkAccessManager(this)) {}

LLMService::~LLMService() {
    // Finishing every request lets the awaiting coroutines end instead of waiting forever.
    m_closing = true;
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

void LLMService::noteOutcome(ProviderKeyStatus::Use use, LLMProvider provider,
                             std::optional<QString> failure) {
    if (m_closing)
        return;
    if (failure)
        m_keyStatus.recordFailure(use, provider, *failure);
    else
        m_keyStatus.recordWorking(use, provider);
}

QCoro::Task<BriefingResponse> LLMService::generateBriefing(QString systemPrompt,
                                                           QString userPrompt) {
    QPointer<LLMService> self(this);
    const ProviderKeyStatus::Use use = m_keyStatus.beginUse();
    const auto [key, chosen] = co_await choice();
    const LLMProviderInfo &provider = LLMProviders::info(chosen);
    const ProviderRequest request =
        provider.dialect.generationRequest(provider, systemPrompt, userPrompt, key);
    const HttpLimits limits{generationIdleLimit, m_limit};
    HttpReply reply;
    std::optional<LLMError> timedOut;
    try {
        reply = co_await send(request, key, limits);
    } catch (const TimeLimitError &) {
        timedOut = LLMError::apiError(QCoreApplication::translate("LLMError", timeoutMessage));
    } catch (const Error &error) {
        if (self)
            noteOutcome(use, chosen, error.description());
        throw;
    }
    if (timedOut) {
        if (self)
            noteOutcome(use, chosen, timedOut->description());
        throw *timedOut;
    }
    if (reply.status != 200) {
        const LLMError error = LLMError::apiError(redacted(
            provider.dialect.errorMessage(provider, reply.status, bodyText(reply.body)), key));
        if (self)
            noteOutcome(use, chosen, error.description());
        throw error;
    }
    // The provider took the key, whatever the model made of the request.
    if (self)
        noteOutcome(use, chosen, std::nullopt);
    co_return provider.dialect.parseResponse(reply.body);
}

QCoro::Task<bool> LLMService::testConnection() {
    QPointer<LLMService> self(this);
    const ProviderKeyStatus::Use use = m_keyStatus.beginUse();
    const auto [key, chosen] = co_await choice();
    const LLMProviderInfo &provider = LLMProviders::info(chosen);
    const ProviderRequest request = provider.dialect.keyTestRequest(provider, key);
    HttpReply reply;
    try {
        reply = co_await send(request, key, keyTestLimits);
    } catch (const Error &error) {
        if (self)
            noteOutcome(use, chosen, error.description());
        throw;
    }
    const bool accepted = reply.status == 200;
    if (self)
        noteOutcome(use, chosen,
                    accepted
                        ? std::nullopt
                        : std::optional(redacted(provider.dialect.errorMessage(
                                                     provider, reply.status, bodyText(reply.body)),
                                                 key)));
    co_return accepted;
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
