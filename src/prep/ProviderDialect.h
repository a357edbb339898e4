#pragma once

#include "BriefingResponse.h"
#include "LLMProvider.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <utility>

// One HTTP exchange a provider dialect asks for; LLMService sends it.
struct ProviderRequest {
    QUrl url;
    QByteArray method;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body; // empty for GET

    QByteArray header(const QByteArray &name) const {
        for (const auto &[key, value] : headers)
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        return {};
    }
};

// How one family of provider APIs is spoken: its requests, error wording and reply shape.
// The provider's origin, model and name come from `provider`.
class ProviderDialect {
public:
    virtual ~ProviderDialect() = default;

    // Both throw LLMError::invalidResponse when the endpoint address does not parse.
    virtual ProviderRequest generationRequest(const LLMProviderInfo &provider,
                                              const QString &systemPrompt,
                                              const QString &userPrompt,
                                              const QString &apiKey) const = 0;
    virtual ProviderRequest keyTestRequest(const LLMProviderInfo &provider,
                                           const QString &apiKey) const = 0;

    // "<name> error: <body>".
    virtual QString errorMessage(const LLMProviderInfo &provider, int status,
                                 const QString &bodyText) const;
    // Throws DecodingError for a body that is not JSON and LLMError::parseError for one
    // without the parts the dialect answers with.
    virtual BriefingResponse parseResponse(const QByteArray &body) const = 0;

protected:
    // origin + path; throws LLMError::invalidResponse unless that is an absolute address with
    // a host.
    static QUrl endpoint(const LLMProviderInfo &provider, const QString &path);
};

namespace ProviderDialects {
// The Anthropic Messages API.
const ProviderDialect &claude();
// The chat-completions API that OpenAI and xAI share.
const ProviderDialect &chatCompletions();
// Google's Gemini generateContent.
const ProviderDialect &gemini();
} // namespace ProviderDialects
