#pragma once

#include "BriefingResponse.h"
#include "LLMError.h"
#include "LLMProvider.h"
#include "ProviderRequest.h"

#include <QCoroTask>
#include <QObject>
#include <chrono>
#include <optional>

class QNetworkAccessManager;
class SecretStore;

// Turns a system and a user prompt into a structured briefing through the provider the user
// chose, and tests a stored key. Key and provider are read at every call, never kept.
class LLMService : public QObject {
    Q_OBJECT

public:
    // `generationLimit` bounds a whole generation; the losing request is aborted.
    explicit LLMService(SecretStore &secrets,
                        std::chrono::milliseconds generationLimit = std::chrono::seconds(90),
                        QObject *parent = nullptr);
    ~LLMService() override;

    // Throws LLMError, LLMTransportError or LLMJsonError.
    QCoro::Task<BriefingResponse> generateBriefing(QString systemPrompt, QString userPrompt);
    // True when the provider answers the cheap request with 200; throws LLMError::noAPIKey,
    // LLMError::invalidResponse or LLMTransportError.
    QCoro::Task<bool> testConnection();

    // The stored choice; anything unrecognised means Claude.
    QCoro::Task<LLMProvider> provider();

    static constexpr auto timeoutMessage = "Research timed out after 90 seconds";

private:
    struct Exchange {
        std::optional<int> status; // absent when the reply was not HTTP
        QByteArray body;
    };

    QCoro::Task<Exchange> send(ProviderRequest request, QString apiKey,
                               std::chrono::milliseconds transferTimeout,
                               std::optional<std::chrono::milliseconds> limit);

    struct Choice {
        QString apiKey;
        LLMProvider provider;
    };
    // The stored key and provider; throws LLMError::noAPIKey without a key.
    QCoro::Task<Choice> choice();

    SecretStore &m_secrets;
    std::chrono::milliseconds m_limit;
    QNetworkAccessManager *m_network;
};
