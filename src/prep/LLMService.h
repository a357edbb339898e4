#pragma once

#include "BriefingResponse.h"
#include "LLMError.h"
#include "LLMProvider.h"
#include "ProviderKeyStatus.h"
#include "sync/HttpExchange.h"

#include <QCoroTask>
#include <QObject>
#include <chrono>
#include <optional>

class QNetworkAccessManager;
class SecretStore;
struct ProviderRequest;

// Turns a system and a user prompt into a structured briefing through the provider the user
// chose, and tests a stored key. Key and provider are read at every call, never kept; whether
// the key worked is recorded in `keyStatus` after each call that reached the provider or tried
// to.
class LLMService : public QObject {
    Q_OBJECT

public:
    // `generationLimit` bounds a whole generation; the losing request is aborted.
    LLMService(SecretStore &secrets, ProviderKeyStatus &keyStatus,
               std::chrono::milliseconds generationLimit = std::chrono::seconds(90),
               QObject *parent = nullptr);
    ~LLMService() override;

    // Throws LLMError, TransportError or DecodingError.
    QCoro::Task<BriefingResponse> generateBriefing(QString systemPrompt, QString userPrompt);
    // True when the provider answers the cheap request with 200; throws LLMError::noAPIKey,
    // LLMError::invalidResponse, LLMError::redirected or TransportError.
    QCoro::Task<bool> testConnection();

    // Whether the stored key worked with each provider the last time it was used.
    ProviderKeyStatus &keyStatus() const { return m_keyStatus; }

    // The stored choice; anything unrecognised means Claude.
    QCoro::Task<LLMProvider> provider();

private:
    // Sends through the shared request helper; a redirect becomes LLMError::redirected and
    // transport error texts lose the key.
    QCoro::Task<HttpReply> send(ProviderRequest request, QString apiKey, HttpLimits limits);

    struct Choice {
        QString apiKey;
        LLMProvider provider;
    };
    // The stored key and provider; throws LLMError::noAPIKey without a key.
    QCoro::Task<Choice> choice();
    // Records how a use of the key ended: working without `failure`.
    void noteOutcome(ProviderKeyStatus::Use use, LLMProvider provider,
                     std::optional<QString> failure);

    SecretStore &m_secrets;
    ProviderKeyStatus &m_keyStatus;
    // Requests aborted while this service ends say nothing about the key.
    bool m_closing = false;
    std::chrono::milliseconds m_limit;
    QNetworkAccessManager *m_network;
};
