#include "RequestLog.h"

namespace {
// "Bearer s3cret" becomes "Bearer [redacted]": tests still see which scheme was sent.
QString redacted(const QString &authorization) {
    const QString scheme = authorization.section(u' ', 0, 0, QString::SectionSkipEmpty);
    return scheme + QStringLiteral(" [redacted]");
}

QString cut(const QString &body) {
    if (body.size() * 3 <= RequestLog::maxBodyBytes)
        return body;
    return QString::fromUtf8(body.toUtf8().left(RequestLog::maxBodyBytes));
}
} // namespace

void RequestLog::record(const HttpRequest &request) {
    const std::optional<QString> authorization = request.header("authorization");
    if (qsizetype(m_entries.size()) >= maxEntries)
        m_entries.pop_front();
    m_entries.push_back(QJsonObject{
        {QStringLiteral("method"), request.method},
        {QStringLiteral("path"), request.path},
        {QStringLiteral("query"), request.rawQuery},
        {QStringLiteral("authorization"),
         authorization ? QJsonValue(redacted(*authorization)) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("body"), cut(request.body)},
    });
}

QJsonArray RequestLog::entries() const {
    QJsonArray array;
    for (const QJsonObject &entry : m_entries)
        array.append(entry);
    return array;
}
