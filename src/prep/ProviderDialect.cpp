#include "ProviderDialect.h"

#include "LLMError.h"

QUrl ProviderDialect::endpoint(const LLMProviderInfo &provider, const QString &path) {
    const QUrl url(provider.origin() + path, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        throw LLMError::invalidResponse();
    return url;
}

QString ProviderDialect::errorMessage(const LLMProviderInfo &provider, int,
                                      const QString &bodyText) const {
    return QLatin1String(provider.name) + QStringLiteral(" error: ") + bodyText;
}
