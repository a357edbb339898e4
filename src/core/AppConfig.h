#pragma once

#include <QString>
#include <QUrl>
#include <optional>

// Addresses of the product backend: $ZELVANE_BACKEND_ORIGIN when set, else the backend the
// user chose under Accounts, else the production host.
namespace AppConfig {
QString backendOrigin();
// The user's choice (empty: none); set at start and whenever it changes.
void setChosenBackendOrigin(const QString &origin);
// A typed backend address as an origin ("https://host[:port]"), or nothing when it is not
// one. Plain http only reaches this machine: the backend credential travels with each request.
std::optional<QString> backendOriginFrom(const QString &typed);
QString backendBase(); // origin + "/functions/v1/api/"
std::optional<QUrl> backendURL(const QString &path);
std::optional<QUrl> proxyURL(const QString &path);
QString slackCallbackURL();

// An origin from the environment, or the fallback when unset or empty; no trailing slash.
QString originFromEnvironment(const char *variable, const QString &fallback);
} // namespace AppConfig
