#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

// A body or record that is not the JSON shape the reader expects.
class DecodingError : public Error {
public:
    explicit DecodingError(QString detail)
        : m_detail(std::move(detail)) {}
    // Names the member and what is wrong with it, never its value.
    const QString &detail() const { return m_detail; }
    QString description() const override;

private:
    QString m_detail;
};

// Strict JSON readers: a missing or mistyped member throws DecodingError. An optional member
// may be absent or null.
namespace JsonRead {
// Any JSON document; the parser's complaint and offset as the detail otherwise.
QJsonDocument document(const QByteArray &body);
QJsonObject object(const QByteArray &body);
QJsonArray array(const QByteArray &body);
QJsonObject object(const QJsonValue &value, QStringView what);
QJsonArray array(const QJsonValue &value, QStringView what);
// An array whose every element is a text.
QStringList stringList(const QJsonValue &value, QStringView what);
QString string(const QJsonObject &o, QStringView key);
std::optional<QString> optionalString(const QJsonObject &o, QStringView key);
// A text that parses as an address in strict mode.
std::optional<QUrl> optionalUrl(const QJsonObject &o, QStringView key);
std::optional<bool> optionalBool(const QJsonObject &o, QStringView key);
std::optional<qint64> optionalInteger(const QJsonObject &o, QStringView key);
bool boolean(const QJsonObject &o, QStringView key);
qint64 integer(const QJsonObject &o, QStringView key);
// An integer element of an array.
qint64 integer(const QJsonValue &value, QStringView what);
double number(const QJsonObject &o, QStringView key);
// The member when present and not null.
std::optional<QJsonValue> optionalMember(const QJsonObject &o, QStringView key);
} // namespace JsonRead
