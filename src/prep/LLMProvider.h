#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

// The hosted model providers the user can choose from; the raw value is stored and shown.
enum class LLMProvider { claude, openai, gemini, grok };

class ProviderDialect;

// What the app knows of one provider; LLMProvider.cpp holds one for each.
struct LLMProviderInfo {
    const char *name; // stored and shown
    // The environment variable that, when set, replaces the public API origin.
    const char *originVariable;
    const char *publicOrigin;
    const char *model;
    const char *setupInstructions;
    const char *apiKeyButtonLabel;
    const char *apiKeyPage;
    const ProviderDialect &dialect;

    // $originVariable or the public API origin; read at every call.
    QString origin() const;
};

namespace LLMProviders {
// In the order the settings list them.
const QList<LLMProvider> &all();
const LLMProviderInfo &info(LLMProvider provider);
QString toString(LLMProvider provider);
// Exact, case-sensitive match on the raw value.
std::optional<LLMProvider> fromString(QStringView raw);

QString setupInstructions(LLMProvider provider);
QString apiKeyButtonLabel(LLMProvider provider);
// The provider's key page; the Anthropic home page if that address ever fails to parse.
QUrl apiKeyURL(LLMProvider provider);
} // namespace LLMProviders
