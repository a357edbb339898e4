#include "ProviderJson.h"

#include "CalendarProvider.h"

#include <QDateTime>
#include <QJsonDocument>

namespace ProviderJson {

namespace {
[[noreturn]] void malformed(const QString &what) {
    throw ProviderError(ProviderError::Kind::upstream,
                        QStringLiteral("malformed provider answer: %1").arg(what).toStdString());
}
} // namespace

QJsonObject object(const QByteArray &body) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        malformed(QStringLiteral("not a JSON object"));
    return document.object();
}

QString requiredString(const QJsonObject &object, const QString &key) {
    const QJsonValue value = object.value(key);
    if (!value.isString())
        malformed(key);
    return value.toString();
}

std::optional<QString> optionalString(const QJsonObject &object, const QString &key) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isString())
        malformed(key);
    return value.toString();
}

QJsonObject optionalObject(const QJsonObject &object, const QString &key) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return {};
    if (!value.isObject())
        malformed(key);
    return value.toObject();
}

QJsonArray requiredArray(const QJsonObject &object, const QString &key) {
    const QJsonValue value = object.value(key);
    if (!value.isArray())
        malformed(key);
    return value.toArray();
}

QJsonArray optionalArray(const QJsonObject &object, const QString &key) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        return {};
    return requiredArray(object, key);
}

qint64 instant(const QString &text) {
    const QDateTime when = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!when.isValid() || !text.contains(u'T'))
        malformed(QStringLiteral("time ") + text.left(40));
    return when.toSecsSinceEpoch();
}

std::optional<QString> idTokenEmail(const QString &idToken) {
    const QStringList parts = idToken.split(u'.');
    if (parts.size() != 3)
        malformed(QStringLiteral("id_token"));
    const QByteArray payload = QByteArray::fromBase64(
        parts[1].toLatin1(), QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    const QJsonObject claims = object(payload);
    if (const auto email = optionalString(claims, QStringLiteral("email")))
        return email;
    // Microsoft accounts name their address here when they carry no "email" claim.
    const auto name = optionalString(claims, QStringLiteral("preferred_username"));
    if (name && name->contains(u'@'))
        return name;
    return std::nullopt;
}

} // namespace ProviderJson
