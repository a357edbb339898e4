#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>
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

namespace ProviderEndpoint {
// origin + path, or nothing when the result is not an absolute address with a host.
std::optional<QUrl> url(const QString &origin, const QString &path);
} // namespace ProviderEndpoint
