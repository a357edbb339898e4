#include "NylasRoutes.h"

#include "DemoData.h"
#include "RequestHelpers.h"

#include <QDateTime>
#include <QTimeZone>
#include <QUrl>
#include <QUuid>
#include <variant>

using namespace RequestHelpers;

namespace {

const QString cursorPrefix = QStringLiteral("page-");

struct PageRequest {
    qsizetype offset = 0;
    qsizetype limit = NylasRoutes::defaultPageSize;
};

// Reads "limit" and "page_token"; the error answer when either is unusable.
std::variant<PageRequest, HttpResponse> pageRequest(const HttpRequest &request) {
    PageRequest page;
    if (const auto limit = queryValue(request, QStringLiteral("limit"))) {
        const auto value = parseInteger(*limit, 1, NylasRoutes::maxPageSize);
        if (!value)
            return HttpResponse::error(400, QStringLiteral("invalid limit"));
        page.limit = *value;
    }
    if (const auto token = queryValue(request, QStringLiteral("page_token"))) {
        const auto offset = token->startsWith(cursorPrefix)
                                ? parseInteger(token->mid(cursorPrefix.size()), 1, 1'000'000'000)
                                : std::nullopt;
        if (!offset)
            return HttpResponse::error(400, QStringLiteral("invalid page_token"));
        page.offset = *offset;
    }
    return page;
}

HttpResponse listEnvelope(const QJsonArray &items, const PageRequest &page) {
    QJsonArray data;
    for (qsizetype i = page.offset; i < items.size() && i < page.offset + page.limit; ++i)
        data.append(items.at(i));
    QJsonObject envelope{
        {QStringLiteral("request_id"), QUuid::createUuid().toString(QUuid::WithoutBraces)},
        {QStringLiteral("data"), data}};
    if (page.offset + page.limit < items.size())
        envelope.insert(QStringLiteral("next_cursor"),
                        cursorPrefix + QString::number(page.offset + page.limit));
    return HttpResponse::json(envelope);
}

HttpResponse paged(const QJsonArray &items, const HttpRequest &request) {
    const auto page = pageRequest(request);
    if (const auto *error = std::get_if<HttpResponse>(&page))
        return *error;
    return listEnvelope(items, std::get<PageRequest>(page));
}

// The span an event occupies, when its "when" says; all-day dates cover whole UTC days.
std::optional<std::pair<qint64, qint64>> eventSpan(const QJsonValue &event) {
    const QJsonObject when = event.toObject().value(QStringLiteral("when")).toObject();
    const QJsonValue start = when.value(QStringLiteral("start_time"));
    if (start.isDouble()) {
        const QJsonValue end = when.value(QStringLiteral("end_time"));
        return std::pair{start.toInteger(), end.isDouble() ? end.toInteger() : start.toInteger()};
    }
    const QString first = when.value(QStringLiteral("date")).isString()
                              ? when.value(QStringLiteral("date")).toString()
                              : when.value(QStringLiteral("start_date")).toString();
    const QString last = when.value(QStringLiteral("end_date")).isString()
                             ? when.value(QStringLiteral("end_date")).toString()
                             : first;
    const QDate firstDay = QDate::fromString(first, Qt::ISODate);
    const QDate lastDay = QDate::fromString(last, Qt::ISODate);
    if (!firstDay.isValid() || !lastDay.isValid())
        return std::nullopt;
    return std::pair{firstDay.startOfDay(QTimeZone::utc()).toSecsSinceEpoch(),
                     lastDay.addDays(1).startOfDay(QTimeZone::utc()).toSecsSinceEpoch()};
}

QStringList messageAddresses(const QJsonObject &message) {
    QStringList addresses;
    for (const QString &field :
         {QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("cc")})
        for (const QJsonValue &who : message.value(field).toArray())
            addresses.append(who.toObject().value(QStringLiteral("email")).toString());
    return addresses;
}

bool messageMatches(const QJsonObject &message, const QString &query) {
    if (query.isEmpty())
        return true;
    if (query.contains(QLatin1Char('@')))
        return messageAddresses(message).contains(query, Qt::CaseInsensitive);
    return message.value(QStringLiteral("subject"))
               .toString()
               .contains(query, Qt::CaseInsensitive) ||
           message.value(QStringLiteral("snippet")).toString().contains(query, Qt::CaseInsensitive);
}

} // namespace

std::optional<HttpResponse> NylasRoutes::handle(const QString &endpoint,
                                                const HttpRequest &request) {
    using Route = HttpResponse (NylasRoutes::*)(const HttpRequest &);
    static const QHash<QString, std::pair<QString, Route>> routes{
        {QStringLiteral("auth-url"), {QStringLiteral("POST"), &NylasRoutes::authUrl}},
        {QStringLiteral("exchange-token"), {QStringLiteral("POST"), &NylasRoutes::exchangeToken}},
        {QStringLiteral("calendars"), {QStringLiteral("GET"), &NylasRoutes::calendars}},
        {QStringLiteral("events"), {QStringLiteral("GET"), &NylasRoutes::events}},
        {QStringLiteral("messages"), {QStringLiteral("GET"), &NylasRoutes::messages}},
        {QStringLiteral("grant"), {QStringLiteral("DELETE"), &NylasRoutes::revokeGrant}},
    };
    const auto route = routes.constFind(endpoint);
    if (route == routes.constEnd())
        return std::nullopt;
    if (request.method != route->first)
        return HttpResponse::error(405, QStringLiteral("method not allowed"));
    return (this->*route->second)(request);
}

HttpResponse NylasRoutes::authUrl(const HttpRequest &request) {
    const auto body = jsonObjectBody(request);
    const auto provider = body ? stringMember(*body, QStringLiteral("provider")) : std::nullopt;
    if (!provider ||
        (*provider != QLatin1String("google") && *provider != QLatin1String("microsoft")))
        return HttpResponse::error(400, QStringLiteral("provider must be google or microsoft"));
    QString url = m_origin + QStringLiteral("/signin?provider=") + *provider;
    const QJsonValue redirect = body->value(QStringLiteral("redirectURI"));
    if (redirect.isString())
        url += QStringLiteral("&redirect_uri=") +
               QString::fromLatin1(QUrl::toPercentEncoding(redirect.toString()));
    else if (!redirect.isUndefined())
        return HttpResponse::error(400, QStringLiteral("redirectURI must be a string"));
    return HttpResponse::json(QJsonObject{{QStringLiteral("authUrl"), url}});
}

HttpResponse NylasRoutes::exchangeToken(const HttpRequest &request) {
    const auto body = jsonObjectBody(request);
    const auto code = body ? stringMember(*body, QStringLiteral("code")) : std::nullopt;
    const auto provider = code ? m_state.redeemSignInCode(*code) : std::nullopt;
    if (!provider)
        return HttpResponse::error(400, QStringLiteral("invalid_grant"));
    const Grant &grant = m_state.createGrant(
        {DemoData::userEmail, *provider, std::nullopt, DemoData::defaultMinutesUntilFirst},
        QDateTime::currentSecsSinceEpoch());
    return HttpResponse::json(grant.toJson());
}

HttpResponse NylasRoutes::calendars(const HttpRequest &request) {
    const Grant *grant =
        m_state.grant(queryValue(request, QStringLiteral("grantId")).value_or(QString()));
    if (!grant)
        return HttpResponse::error(404, QStringLiteral("grant not found"));
    return paged(grant->calendars, request);
}

HttpResponse NylasRoutes::events(const HttpRequest &request) {
    const Grant *grant =
        m_state.grant(queryValue(request, QStringLiteral("grantId")).value_or(QString()));
    if (!grant)
        return HttpResponse::error(404, QStringLiteral("grant not found"));

    const QString requested = queryValue(request, QStringLiteral("calendarId")).value_or(QString());
    QString calendarId;
    QStringList known;
    for (const QJsonValue &calendar : grant->calendars) {
        const QJsonObject object = calendar.toObject();
        const QString id = object.value(QStringLiteral("id")).toString();
        known.append(id);
        const bool wanted = requested == QLatin1String("primary")
                                ? object.value(QStringLiteral("is_primary")).toBool()
                                : requested == id;
        if (wanted && calendarId.isEmpty())
            calendarId = id;
    }
    if (calendarId.isEmpty())
        return HttpResponse::error(404, QStringLiteral("calendar not found"));

    constexpr qint64 limit = qint64(1) << 40;
    std::optional<qint64> start = -limit;
    std::optional<qint64> end = limit;
    if (const auto text = queryValue(request, QStringLiteral("start")))
        start = parseInteger(*text, -limit, limit);
    if (const auto text = queryValue(request, QStringLiteral("end")))
        end = parseInteger(*text, -limit, limit);
    if (!start || !end)
        return HttpResponse::error(400, QStringLiteral("start and end must be Unix seconds"));

    // Events of the grant's other calendars are left out; events that name no calendar of the
    // grant (as tests may install) belong to every calendar.
    QJsonArray inWindow;
    for (const QJsonValue &event : grant->events) {
        const QString eventCalendar =
            event.toObject().value(QStringLiteral("calendar_id")).toString();
        if (eventCalendar != calendarId && known.contains(eventCalendar))
            continue;
        const auto span = eventSpan(event);
        if (span && (span->second < *start || span->first > *end))
            continue;
        inWindow.append(event);
    }
    return paged(inWindow, request);
}

HttpResponse NylasRoutes::messages(const HttpRequest &request) {
    const Grant *grant =
        m_state.grant(queryValue(request, QStringLiteral("grantId")).value_or(QString()));
    if (!grant)
        return HttpResponse::error(404, QStringLiteral("grant not found"));
    const QString query = queryValue(request, QStringLiteral("q")).value_or(QString()).trimmed();
    QJsonArray matches;
    for (const QJsonValue &message : grant->messages)
        if (messageMatches(message.toObject(), query))
            matches.append(message);
    return paged(matches, request);
}

HttpResponse NylasRoutes::revokeGrant(const HttpRequest &request) {
    const auto body = jsonObjectBody(request);
    const auto grantId = body ? stringMember(*body, QStringLiteral("grant_id")) : std::nullopt;
    if (!grantId)
        return HttpResponse::error(400, QStringLiteral("grant_id is required"));
    if (!m_state.removeGrant(*grantId))
        return HttpResponse::error(404, QStringLiteral("grant not found"));
    return HttpResponse::json(QJsonObject{{QStringLiteral("success"), true}});
}
