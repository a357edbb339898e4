#pragma once

#include "BriefingResponse.h"
#include "ProviderRequest.h"

#include <QJsonObject>
#include <QString>

// Google's Gemini generateContent: Google search plus the briefing function declaration,
// in the schema dialect with upper-case type names. The key travels in x-goog-api-key.
namespace GeminiDialect {
inline constexpr auto modelPath = "/v1beta/models/gemini-2.0-flash:generateContent";

// $ZELVANE_GEMINI_ORIGIN or the public API host.
QString origin();
QJsonObject briefingSchema();

// Throw LLMError::invalidResponse when the endpoint address does not parse.
ProviderRequest generationRequest(const QString &origin, const QString &systemPrompt,
                                  const QString &userPrompt, const QString &apiKey);
ProviderRequest keyTestRequest(const QString &origin, const QString &apiKey);

QString errorMessage(const QString &bodyText);
// Throws DecodingError for a body that is not JSON and LLMError::parseError without parts.
BriefingResponse parseResponse(const QByteArray &body);
} // namespace GeminiDialect
