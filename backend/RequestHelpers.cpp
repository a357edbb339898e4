#include "RequestHelpers.h"

#include <QJsonDocument>
#include <QUrlQuery>

namespace RequestHelpers {

std::optional<QJsonObject> jsonObjectBody(const HttpRequest &request) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(request.body.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

std::optional<QString> queryValue(const HttpRequest &request, const QString &key) {
    const QUrlQuery query(request.rawQuery);
    if (!query.hasQueryItem(key))
        return std::nullopt;
    return query.queryItemValue(key, QUrl::FullyDecoded);
}

std::optional<qint64> parseInteger(const QString &text, qint64 min, qint64 max) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<QString> stringMember(const QJsonObject &object, const QString &key) {
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

QUrl withQueryItems(const QUrl &target, const QList<std::pair<QString, QString>> &items) {
    QUrl url = target;
    QUrlQuery query(url);
    for (const auto &[key, value] : items)
        query.addQueryItem(QString::fromLatin1(QUrl::toPercentEncoding(key)),
                           QString::fromLatin1(QUrl::toPercentEncoding(value, ":@/")));
    url.setQuery(query);
    return url;
}

} // namespace RequestHelpers
