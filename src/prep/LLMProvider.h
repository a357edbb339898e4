#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

// The hosted model providers the user can choose from; the raw value is stored and shown.
enum class LLMProvider { claude, openai, gemini, grok };

namespace LLMProviders {
const QList<LLMProvider> &all();
QString toString(LLMProvider provider);
// Exact, case-sensitive match on the raw value.
std::optional<LLMProvider> fromString(QStringView raw);

QString setupInstructions(LLMProvider provider);
QString apiKeyButtonLabel(LLMProvider provider);
// The provider's key page; the Anthropic home page if that address ever fails to parse.
QUrl apiKeyURL(LLMProvider provider);
} // namespace LLMProviders
