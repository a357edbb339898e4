#include "LLMProvider.h"

#include "ProviderDialect.h"
#include "core/AppConfig.h"

#include <QCoreApplication>

namespace {
const LLMProviderInfo claude{
    "Claude",
    "ZELVANE_ANTHROPIC_ORIGIN",
    "https://api.anthropic.com",
    "claude-sonnet-4-20250514",
    QT_TRANSLATE_NOOP(
        "LLMProviders",
        "Sign in or create a free account at console.anthropic.com, then create an API key. New "
        "accounts include free credits."),
    QT_TRANSLATE_NOOP("LLMProviders", "Open Anthropic Console"),
    "https://console.anthropic.com/settings/keys",
    ProviderDialects::claude()};

const LLMProviderInfo openai{
    "OpenAI",
    "ZELVANE_OPENAI_ORIGIN",
    "https://api.openai.com",
    "gpt-4o",
    QT_TRANSLATE_NOOP("LLMProviders", "Sign in to your OpenAI account (the same one you use for "
                                      "ChatGPT), then create an API key."),
    QT_TRANSLATE_NOOP("LLMProviders", "Open OpenAI Dashboard"),
    "https://platform.openai.com/api-keys",
    ProviderDialects::chatCompletions()};

const LLMProviderInfo gemini{
    "Gemini",
    "ZELVANE_GEMINI_ORIGIN",
    "https://generativelanguage.googleapis.com",
    "gemini-2.0-flash",
    QT_TRANSLATE_NOOP(
        "LLMProviders",
        "Sign in with your Google account. API keys are free with generous usage limits."),
    QT_TRANSLATE_NOOP("LLMProviders", "Open Google AI Studio"),
    "https://aistudio.google.com/app/apikey",
    ProviderDialects::gemini()};

const LLMProviderInfo grok{
    "Grok",
    "ZELVANE_XAI_ORIGIN",
    "https://api.x.ai",
    "grok-3",
    QT_TRANSLATE_NOOP("LLMProviders",
                      "Sign in with your X (Twitter) account, then create an API key."),
    QT_TRANSLATE_NOOP("LLMProviders", "Open xAI Console"),
    "https://console.x.ai",
    ProviderDialects::chatCompletions()};
} // namespace

QString LLMProviderInfo::origin() const {
    return AppConfig::originFromEnvironment(originVariable, QString::fromLatin1(publicOrigin));
}

const QList<LLMProvider> &LLMProviders::all() {
    static const QList<LLMProvider> providers{LLMProvider::claude, LLMProvider::openai,
                                              LLMProvider::gemini, LLMProvider::grok};
    return providers;
}

const LLMProviderInfo &LLMProviders::info(LLMProvider provider) {
    switch (provider) {
    case LLMProvider::claude:
        return claude;
    case LLMProvider::openai:
        return openai;
    case LLMProvider::gemini:
        return gemini;
    case LLMProvider::grok:
        return grok;
    }
    Q_UNREACHABLE();
}

QString LLMProviders::toString(LLMProvider provider) {
    return QString::fromLatin1(info(provider).name);
}

std::optional<LLMProvider> LLMProviders::fromString(QStringView raw) {
    for (LLMProvider provider : all())
        if (raw == QLatin1String(info(provider).name))
            return provider;
    return std::nullopt;
}

QString LLMProviders::setupInstructions(LLMProvider provider) {
    return QCoreApplication::translate("LLMProviders", info(provider).setupInstructions);
}

QString LLMProviders::apiKeyButtonLabel(LLMProvider provider) {
    return QCoreApplication::translate("LLMProviders", info(provider).apiKeyButtonLabel);
}

QUrl LLMProviders::apiKeyURL(LLMProvider provider) {
    const QUrl url(QString::fromLatin1(info(provider).apiKeyPage), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return QUrl(QStringLiteral("https://www.anthropic.com"));
    return url;
}
