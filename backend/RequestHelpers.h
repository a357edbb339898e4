#pragma once

#include "HttpRequest.h"

#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <optional>

// Small readers shared by the route classes; each treats its input as untrusted.
namespace RequestHelpers {

// The body as a JSON object, or nothing when it is not one.
std::optional<QJsonObject> jsonObjectBody(const HttpRequest &request);

// The fully decoded value of the first query item with this key.
std::optional<QString> queryValue(const HttpRequest &request, const QString &key);

// A decimal integer in [min, max], or nothing.
std::optional<qint64> parseInteger(const QString &text, qint64 min, qint64 max);

// A string member of a JSON object, or nothing when absent or of another type.
std::optional<QString> stringMember(const QJsonObject &object, const QString &key);

// `target` with extra query items appended after any it already has.
QUrl withQueryItems(const QUrl &target, const QList<std::pair<QString, QString>> &items);

} // namespace RequestHelpers
