#include "RequestLog.h"

#include <QJsonObject>

void RequestLog::record(const HttpRequest &request) {
    const std::optional<QString> authorization = request.header("authorization");
    m_entries.append(QJsonObject{
        {QStringLiteral("method"), request.method},
        {QStringLiteral("path"), request.path},
        {QStringLiteral("query"), request.rawQuery},
        {QStringLiteral("authorization"),
         authorization ? QJsonValue(*authorization) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("body"), request.body},
    });
}
