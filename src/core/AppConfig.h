#pragma once

#include <QString>
#include <QUrl>
#include <optional>

// Addresses of the product backend. The origin defaults to the production host and is
// replaced by $ZELVANE_BACKEND_ORIGIN.
namespace AppConfig {
QString backendOrigin();
QString backendBase(); // origin + "/functions/v1/api/"
std::optional<QUrl> backendURL(const QString &path);
std::optional<QUrl> proxyURL(const QString &path);
QString slackCallbackURL();

// An origin from the environment, or the fallback when unset or empty; no trailing slash.
QString originFromEnvironment(const char *variable, const QString &fallback);
} // namespace AppConfig
