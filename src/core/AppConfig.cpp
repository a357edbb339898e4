#include "AppConfig.h"

#include <QMutex>
#include <QtGlobal>

QString AppConfig::originFromEnvironment(const char *variable, const QString &fallback) {
    QString origin = qEnvironmentVariable(variable);
    if (origin.isEmpty())
        origin = fallback;
    while (origin.endsWith(u'/'))
        origin.chop(1);
    return origin;
}

namespace {
// Written on the GUI thread, read by requests that may start elsewhere.
QMutex chosenLock;
QString chosenOrigin;
} // namespace

QString AppConfig::backendOrigin() {
    QString fallback;
    {
        const QMutexLocker locker(&chosenLock);
        fallback = chosenOrigin;
    }
    if (fallback.isEmpty())
        fallback = QStringLiteral("https://api.zelvane.app");
    return originFromEnvironment("ZELVANE_BACKEND_ORIGIN", fallback);
}

void AppConfig::setChosenBackendOrigin(const QString &origin) {
    const QMutexLocker locker(&chosenLock);
    chosenOrigin = backendOriginFrom(origin).value_or(QString());
}

std::optional<QString> AppConfig::backendOriginFrom(const QString &typed) {
    const QString text = typed.trimmed();
    if (text.isEmpty() || text.size() > 2048)
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    const QString host = url.host();
    const bool loopback = host == QLatin1String("127.0.0.1") || host == QLatin1String("::1") ||
                          host == QLatin1String("localhost");
    const bool scheme = url.scheme() == QLatin1String("https") ||
                        (url.scheme() == QLatin1String("http") && loopback);
    if (!url.isValid() || !scheme || host.isEmpty() || !url.userInfo().isEmpty() ||
        url.hasQuery() || url.hasFragment() || (!url.path().isEmpty() && url.path() != u"/"))
        return std::nullopt;
    return url.adjusted(QUrl::RemovePath).toString(QUrl::FullyEncoded);
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
