#include "AppConfig.h"

#include <QtGlobal>

QString AppConfig::originFromEnvironment(const char *variable, const QString &fallback) {
    QString origin = qEnvironmentVariable(variable);
    if (origin.isEmpty())
        origin = fallback;
    while (origin.endsWith(u'/'))
        origin.chop(1);
    return origin;
}

QString AppConfig::backendOrigin() {
    return originFromEnvironment("ZELVANE_BACKEND_ORIGIN",
                                 QStringLiteral("https://api.zelvane.app"));
}

QString AppConfig::backendBase() {
    return backendOrigin() + QStringLiteral("/functions/v1/api/");
}

std::optional<QUrl> AppConfig::backendURL(const QString &path) {
    const QUrl url(backendBase() + path, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

std::optional<QUrl> AppConfig::proxyURL(const QString &path) {
    return backendURL(QStringLiteral("nylas/") + path);
}

QString AppConfig::slackCallbackURL() {
    return backendBase() + QStringLiteral("slack/callback");
}
