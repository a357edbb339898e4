#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <optional>

// Readers for provider answers. A provider is an outside service: an answer that is not the
// documented shape throws ProviderError (upstream) instead of being half understood.
namespace ProviderJson {

QJsonObject object(const QByteArray &body);
QString requiredString(const QJsonObject &object, const QString &key);
// Absent or null gives nothing; any other type than a string throws.
std::optional<QString> optionalString(const QJsonObject &object, const QString &key);
QJsonObject optionalObject(const QJsonObject &object, const QString &key);
QJsonArray requiredArray(const QJsonObject &object, const QString &key);
// Absent gives an empty list; any other type than a list throws.
QJsonArray optionalArray(const QJsonObject &object, const QString &key);
// An RFC 3339 instant in Unix seconds.
qint64 instant(const QString &text);

// The "email" claim (else an address in "preferred_username") of an OpenID Connect ID token
// received straight from the token endpoint over TLS (so its signature need not be checked);
// nothing when it has none.
std::optional<QString> idTokenEmail(const QString &idToken);

} // namespace ProviderJson
