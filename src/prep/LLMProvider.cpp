#include "LLMProvider.h"

const QList<LLMProvider> &LLMProviders::all() {
    static const QList<LLMProvider> providers{LLMProvider::claude, LLMProvider::openai,
                                              LLMProvider::gemini, LLMProvider::grok};
    return providers;
}

QString LLMProviders::toString(LLMProvider provider) {
    switch (provider) {
    case LLMProvider::claude:
        return QStringLiteral("Claude");
    case LLMProvider::openai:
        return QStringLiteral("OpenAI");
    case LLMProvider::gemini:
        return QStringLiteral("Gemini");
    case LLMProvider::grok:
        return QStringLiteral("Grok");
    }
    return {};
}

std::optional<LLMProvider> LLMProviders::fromString(QStringView raw) {
    for (LLMProvider provider : all())
        if (toString(provider) == raw)
            return provider;
    return std::nullopt;
}

QString LLMProviders::setupInstructions(LLMProvider provider) {
    switch (provider) {
    case LLMProvider::claude:
        return QStringLiteral("Sign in or create a free account at console.anthropic.com, then "
                              "create an API key. New accounts include free credits.");
    case LLMProvider::openai:
        return QStringLiteral("Sign in to your OpenAI account (the same one you use for "
                              "ChatGPT), then create an API key.");
    case LLMProvider::gemini:
        return QStringLiteral(
            "Sign in with your Google account. API keys are free with generous usage limits.");
    case LLMProvider::grok:
        return QStringLiteral("Sign in with your X (Twitter) account, then create an API key.");
    }
    return {};
}

QString LLMProviders::apiKeyButtonLabel(LLMProvider provider) {
    switch (provider) {
    case LLMProvider::claude:
        return QStringLiteral("Open Anthropic Console");
    case LLMProvider::openai:
        return QStringLiteral("Open OpenAI Dashboard");
    case LLMProvider::gemini:
        return QStringLiteral("Open Google AI Studio");
    case LLMProvider::grok:
        return QStringLiteral("Open xAI Console");
    }
    return {};
}

QUrl LLMProviders::apiKeyURL(LLMProvider provider) {
    QString address;
    switch (provider) {
    case LLMProvider::claude:
        address = QStringLiteral("https://console.anthropic.com/settings/keys");
        break;
    case LLMProvider::openai:
        address = QStringLiteral("https://platform.openai.com/api-keys");
        break;
    case LLMProvider::gemini:
        address = QStringLiteral("https://aistudio.google.com/app/apikey");
        break;
    case LLMProvider::grok:
        address = QStringLiteral("https://console.x.ai");
        break;
    }
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return QUrl(QStringLiteral("https://www.anthropic.com"));
    return url;
}
