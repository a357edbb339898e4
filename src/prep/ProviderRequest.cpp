#include "ProviderRequest.h"

std::optional<QUrl> ProviderEndpoint::url(const QString &origin, const QString &path) {
    const QUrl url(origin + path, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return std::nullopt;
    return url;
}
