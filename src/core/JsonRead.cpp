#include "JsonRead.h"

#include <QCoreApplication>
#include <QJsonParseError>
#include <cmath>

QString DecodingError::description() const {
    return QCoreApplication::translate(
        "DecodingError", "The data couldn't be read because it isn't in the correct format.");
}

namespace JsonRead {
namespace {
[[noreturn]] void fail(QStringView key, const char *problem) {
    throw DecodingError(key.toString() + QLatin1String(": ") + QLatin1String(problem));
}

std::optional<qint64> asInteger(const QJsonValue &v) {
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    // Within the range a double holds exactly, and without a fraction.
    if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) > 9007199254740992.0)
        return std::nullopt;
    return qint64(d);
}
} // namespace

QJsonDocument document(const QByteArray &body) {
    QJsonParseError error;
    QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodingError(error.errorString() + QStringLiteral(" at offset ") +
                            QString::number(error.offset));
    return doc;
}

QJsonObject object(const QByteArray &body) {
    const QJsonDocument doc = document(body);
    if (!doc.isObject())
        throw DecodingError(QStringLiteral("top level is not an object"));
    return doc.object();
}

QJsonArray array(const QByteArray &body) {
    const QJsonDocument doc = document(body);
    if (!doc.isArray())
        throw DecodingError(QStringLiteral("top level is not an array"));
    return doc.array();
}

QJsonObject object(const QJsonValue &value, QStringView what) {
    if (!value.isObject())
        fail(what, "not an object");
    return value.toObject();
}

QJsonArray array(const QJsonValue &value, QStringView what) {
    if (!value.isArray())
        fail(what, "not an array");
    return value.toArray();
}

QStringList stringList(const QJsonValue &value, QStringView what) {
    QStringList list;
    for (const QJsonValue &item : array(value, what)) {
        if (!item.isString())
            fail(what, "not an array of strings");
        list.append(item.toString());
    }
    return list;
}

std::optional<QJsonValue> optionalMember(const QJsonObject &o, QStringView key) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined() || v.isNull())
        return std::nullopt;
    return v;
}

QString string(const QJsonObject &o, QStringView key) {
    const QJsonValue v = o.value(key);
    if (!v.isString())
        fail(key, v.isUndefined() ? "missing" : "not a string");
    return v.toString();
}

std::optional<QString> optionalString(const QJsonObject &o, QStringView key) {
    const auto v = optionalMember(o, key);
    if (!v)
        return std::nullopt;
    if (!v->isString())
        fail(key, "not a string");
    return v->toString();
}

std::optional<QUrl> optionalUrl(const QJsonObject &o, QStringView key) {
    const auto text = optionalString(o, key);
    if (!text)
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid())
        fail(key, "not an address");
    return url;
}

std::optional<bool> optionalBool(const QJsonObject &o, QStringView key) {
    const auto v = optionalMember(o, key);
    if (!v)
        return std::nullopt;
    if (!v->isBool())
        fail(key, "not a boolean");
    return v->toBool();
}

std::optional<qint64> optionalInteger(const QJsonObject &o, QStringView key) {
    const auto v = optionalMember(o, key);
    if (!v)
        return std::nullopt;
    const auto n = asInteger(*v);
    if (!n)
        fail(key, "not an integer");
    return n;
}

bool boolean(const QJsonObject &o, QStringView key) {
    const QJsonValue v = o.value(key);
    if (!v.isBool())
        fail(key, v.isUndefined() ? "missing" : "not a boolean");
    return v.toBool();
}

qint64 integer(const QJsonObject &o, QStringView key) {
    return integer(o.value(key), key);
}

qint64 integer(const QJsonValue &value, QStringView what) {
    const auto n = asInteger(value);
    if (!n)
        fail(what, "missing or not an integer");
    return *n;
}

double number(const QJsonObject &o, QStringView key) {
    const QJsonValue v = o.value(key);
    if (!v.isDouble())
        fail(key, v.isUndefined() ? "missing" : "not a number");
    return v.toDouble();
}
} // namespace JsonRead
