#pragma once

#include "BriefingResponse.h"
#include "ProviderRequest.h"

#include <QJsonObject>
#include <QString>

// The Anthropic Messages API: web search plus the briefing tool, the model finishes with it.
namespace ClaudeDialect {
inline constexpr auto model = "claude-sonnet-4-20250514";
inline constexpr auto apiVersion = "2023-06-01";

// $ZELVANE_ANTHROPIC_ORIGIN or the public API host.
QString origin();
QJsonObject finalizeBriefingToolSchema();

// Throw LLMError::invalidResponse when the endpoint address does not parse.
ProviderRequest generationRequest(const QString &origin, const QString &systemPrompt,
                                  const QString &userPrompt, const QString &apiKey);
ProviderRequest keyTestRequest(const QString &origin, const QString &apiKey);

QString errorMessage(int status, const QString &bodyText);
// Throws DecodingError for a body that is not JSON and LLMError::parseError without content.
BriefingResponse parseResponse(const QByteArray &body);
} // namespace ClaudeDialect
