#pragma once

#include "BriefingResponse.h"
#include "ProviderRequest.h"

#include <QJsonObject>
#include <QString>

// The chat-completions dialect that OpenAI and xAI (Grok) share: the briefing function is
// forced through "tool_choice"; no web search is offered.
namespace ChatCompletionsDialect {
enum class Vendor { openai, grok };

// $ZELVANE_OPENAI_ORIGIN / $ZELVANE_XAI_ORIGIN or the public API host.
QString origin(Vendor vendor);
QString model(Vendor vendor);
QJsonObject finalizeBriefingFunctionSchema();

// Throw LLMError::invalidResponse when the endpoint address does not parse.
ProviderRequest generationRequest(Vendor vendor, const QString &origin, const QString &systemPrompt,
                                  const QString &userPrompt, const QString &apiKey);
ProviderRequest keyTestRequest(const QString &origin, const QString &apiKey);

QString errorMessage(Vendor vendor, const QString &bodyText);
// Throws DecodingError when the body or the arguments text is not JSON, and
// LLMError::parseError when the first choice holds no usable tool call.
BriefingResponse parseResponse(const QByteArray &body);
} // namespace ChatCompletionsDialect
