#include "SlackApi.h"

#include "DemoData.h"
#include "RequestHelpers.h"

#include <QDateTime>
#include <QRegularExpression>
#include <algorithm>

using namespace RequestHelpers;

namespace {

HttpResponse refusal(const QString &error) {
    return HttpResponse::json(
        QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}});
}

// "from:<a@b>" and "to:<a@b>" pick by address; any other text must appear in the message.
bool matches(const QJsonObject &message, const QString &query) {
    static const QRegularExpression modifier(QStringLiteral("^(from|to):<?([^<>\\s]+)>?$"));
    const QRegularExpressionMatch match = modifier.match(query);
    if (match.hasMatch()) {
        const QString field = match.captured(1) == QLatin1String("from")
                                  ? QStringLiteral("fromEmail")
                                  : QStringLiteral("toEmail");
        return message.value(field).toString().compare(match.captured(2), Qt::CaseInsensitive) == 0;
    }
    return message.value(QStringLiteral("text")).toString().contains(query, Qt::CaseInsensitive);
}

} // namespace

std::optional<HttpResponse> SlackApi::handle(const QString &path,
                                             const HttpRequest &request) const {
    if (path != QLatin1String("/api/search.messages"))
        return std::nullopt;
    if (request.method != QLatin1String("GET") && request.method != QLatin1String("POST"))
        return HttpResponse::error(405, QStringLiteral("method not allowed"));
    return searchMessages(request);
}

HttpResponse SlackApi::searchMessages(const HttpRequest &request) {
    const QString authorization = request.header("authorization").value_or(QString());
    if (!authorization.startsWith(QLatin1String("Bearer ")))
        return refusal(QStringLiteral("not_authed"));
    if (!authorization.mid(7).startsWith(QLatin1String("xoxp-")))
        return refusal(QStringLiteral("invalid_auth"));
    const QString query =
        queryValue(request, QStringLiteral("query")).value_or(QString()).trimmed();
    if (query.isEmpty())
        return refusal(QStringLiteral("no_query"));
    int count = defaultCount;
    if (const auto text = queryValue(request, QStringLiteral("count"))) {
        const auto value = parseInteger(*text, 1, maxCount);
        if (!value)
            return refusal(QStringLiteral("invalid_arguments"));
        count = int(*value);
    }
    const bool ascending = queryValue(request, QStringLiteral("sort_dir")) == QStringLiteral("asc");

    QList<QJsonObject> found;
    for (const QJsonValue &value : DemoData::slackMessages(QDateTime::currentSecsSinceEpoch())) {
        QJsonObject message = value.toObject();
        if (!matches(message, query))
            continue;
        message.remove(QStringLiteral("fromEmail"));
        message.remove(QStringLiteral("toEmail"));
        found.append(message);
    }
    std::sort(found.begin(), found.end(), [ascending](const QJsonObject &a, const QJsonObject &b) {
        const double left = a.value(QStringLiteral("ts")).toString().toDouble();
        const double right = b.value(QStringLiteral("ts")).toString().toDouble();
        return ascending ? left < right : left > right;
    });
    QJsonArray page;
    for (qsizetype i = 0; i < found.size() && i < count; ++i)
        page.append(found.at(i));
    const qsizetype total = found.size();
    const qsizetype pages = std::max<qsizetype>(1, (total + count - 1) / count);
    return HttpResponse::json(QJsonObject{
        {QStringLiteral("ok"), true},
        {QStringLiteral("query"), query},
        {QStringLiteral("messages"),
         QJsonObject{{QStringLiteral("total"), total},
                     {QStringLiteral("paging"), QJsonObject{{QStringLiteral("count"), count},
                                                            {QStringLiteral("total"), total},
                                                            {QStringLiteral("page"), 1},
                                                            {QStringLiteral("pages"), pages}}},
                     {QStringLiteral("matches"), page}}},
    });
}
