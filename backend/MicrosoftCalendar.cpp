#include "MicrosoftCalendar.h"

#include "BackendLog.h"
#include "ProviderJson.h"

#include <QDateTime>
#include <QJsonArray>
#include <QTimeZone>

using namespace ProviderJson;

namespace {

QString graphTime(qint64 secs) {
    return QDateTime::fromSecsSinceEpoch(secs, Qt::UTC).toString(Qt::ISODate);
}

// Graph's dateTimeTimeZone; times are asked for in UTC.
qint64 graphInstant(const QJsonObject &value) {
    const QString text = requiredString(value, QStringLiteral("dateTime"));
    const QString zone = optionalString(value, QStringLiteral("timeZone")).value_or(QString());
    QDateTime when = QDateTime::fromString(text.left(19), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    if (!when.isValid() || (!zone.isEmpty() && zone != QLatin1String("UTC")))
        throw ProviderError(ProviderError::Kind::upstream, "malformed provider answer: dateTime");
    when.setTimeZone(QTimeZone::utc());
    return when.toSecsSinceEpoch();
}

QString participantStatus(const QString &response) {
    if (response == QLatin1String("accepted") || response == QLatin1String("organizer"))
        return QStringLiteral("yes");
    if (response == QLatin1String("declined"))
        return QStringLiteral("no");
    if (response == QLatin1String("tentativelyAccepted"))
        return QStringLiteral("maybe");
    return QStringLiteral("noreply");
}

std::optional<QJsonObject> person(const QJsonObject &holder) {
    const QJsonObject address = optionalObject(holder, QStringLiteral("emailAddress"));
    const auto email = optionalString(address, QStringLiteral("address"));
    if (!email)
        return std::nullopt;
    QJsonObject who{{QStringLiteral("email"), *email}};
    if (const auto name = optionalString(address, QStringLiteral("name")))
        who.insert(QStringLiteral("name"), *name);
    return who;
}

} // namespace

QUrl MicrosoftCalendar::consentPage() const {
    QUrl url = m_settings.loginOrigin;
    url.setPath(url.path() + QStringLiteral("/common/oauth2/v2.0/authorize"));
    return url;
}

QUrl MicrosoftCalendar::tokenEndpoint() const {
    QUrl url = m_settings.loginOrigin;
    url.setPath(url.path() + QStringLiteral("/common/oauth2/v2.0/token"));
    return url;
}

OAuthProvider::Fields MicrosoftCalendar::consentExtras() const {
    return {{QStringLiteral("response_mode"), QStringLiteral("query")}};
}

// The identity platform wants the scopes again with every token request.
OAuthProvider::Fields MicrosoftCalendar::tokenExtras() const {
    return {{QStringLiteral("scope"), defaultScopes}};
}

// The identity platform has no endpoint that revokes one refresh token for an app (only every
// session of the user, which would sign them out everywhere): the grant is only forgotten.
QCoro::Task<bool> MicrosoftCalendar::revoke(QString, QDeadlineTimer) {
    co_return false;
}

QUrl MicrosoftCalendar::graphUrl(const QString &path) const {
    QUrl url = m_settings.graphOrigin;
    url.setPath(url.path() + QStringLiteral("/v1.0") + path);
    return url;
}

std::optional<QUrl> MicrosoftCalendar::nextLink(const QString &cursor) const {
    const QUrl url(cursor, QUrl::StrictMode);
    const QUrl base = graphUrl(QStringLiteral("/me/"));
    if (!url.isValid() || url.scheme() != base.scheme() || url.host() != base.host() ||
        url.port() != base.port() || !url.userInfo().isEmpty() || url.hasFragment() ||
        !url.path().startsWith(base.path()) || url.path().contains(QLatin1String("/..")))
        return std::nullopt;
    return url;
}

QCoro::Task<QJsonObject> MicrosoftCalendar::get(QUrl url, QString accessToken,
                                                QDeadlineTimer deadline) {
    QNetworkRequest request(url);
    request.setRawHeader("Prefer", "outlook.timezone=\"UTC\"");
    co_return co_await getJson(request, accessToken, deadline);
}

ProviderPage MicrosoftCalendar::page(const QJsonObject &answer, QJsonArray data) {
    ProviderPage result;
    result.data = std::move(data);
    result.nextCursor = optionalString(answer, QStringLiteral("@odata.nextLink"));
    return result;
}

QCoro::Task<ProviderPage> MicrosoftCalendar::calendars(QString accessToken,
                                                       std::optional<QString> pageToken,
                                                       QDeadlineTimer deadline) {
    QUrl url = graphUrl(QStringLiteral("/me/calendars"));
    if (pageToken) {
        const auto link = nextLink(*pageToken);
        if (!link)
            throw ProviderError(ProviderError::Kind::invalidRequest, "invalid page_token");
        url = *link;
    }
    const QJsonObject answer = co_await get(url, accessToken, deadline);
    const QJsonArray items = requiredArray(answer, QStringLiteral("value"));
    QJsonArray data;
    for (const QJsonValue &item : items)
        data.append(calendarRecord(item.toObject()));
    co_return page(answer, data);
}

QCoro::Task<ProviderPage> MicrosoftCalendar::events(QString accessToken, EventQuery request,
                                                    QDeadlineTimer deadline) {
    QUrl url;
    if (request.pageToken) {
        const auto link = nextLink(*request.pageToken);
        if (!link)
            throw ProviderError(ProviderError::Kind::invalidRequest, "invalid page_token");
        url = *link;
    } else {
        if (!request.startSecs || !request.endSecs)
            throw ProviderError(ProviderError::Kind::invalidRequest, "start and end are required");
        url = graphUrl(
            request.calendarId == QLatin1String("primary")
                ? QStringLiteral("/me/calendarView")
                : QStringLiteral("/me/calendars/%1/calendarView")
                      .arg(QString::fromLatin1(QUrl::toPercentEncoding(request.calendarId))));
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("startDateTime"), graphTime(*request.startSecs));
        query.addQueryItem(QStringLiteral("endDateTime"), graphTime(*request.endSecs));
        query.addQueryItem(QStringLiteral("$top"), QString::number(request.limit));
        query.addQueryItem(QStringLiteral("$orderby"), QStringLiteral("start/dateTime"));
        url.setQuery(query);
    }
    const QJsonObject answer = co_await get(url, accessToken, deadline);
    const QJsonArray items = requiredArray(answer, QStringLiteral("value"));
    QJsonArray data;
    for (const QJsonValue &item : items)
        data.append(eventRecord(item.toObject(), request.calendarId));
    co_return page(answer, data);
}

QJsonObject MicrosoftCalendar::calendarRecord(const QJsonObject &item) {
    QJsonObject record{
        {QStringLiteral("id"), requiredString(item, QStringLiteral("id"))},
        {QStringLiteral("name"), optionalString(item, QStringLiteral("name")).value_or(QString())},
        {QStringLiteral("is_primary"), item.value(QStringLiteral("isDefaultCalendar")).toBool()}};
    const QString colour = optionalString(item, QStringLiteral("hexColor")).value_or(QString());
    if (!colour.isEmpty())
        record.insert(QStringLiteral("hex_color"), colour);
    return record;
}

QJsonObject MicrosoftCalendar::eventRecord(const QJsonObject &item, const QString &calendarId) {
    QJsonObject record{{QStringLiteral("id"), requiredString(item, QStringLiteral("id"))},
                       {QStringLiteral("calendar_id"), calendarId}};
    if (const auto subject = optionalString(item, QStringLiteral("subject")))
        record.insert(QStringLiteral("title"), *subject);
    if (const auto preview = optionalString(item, QStringLiteral("bodyPreview")))
        record.insert(QStringLiteral("description"), *preview);
    record.insert(QStringLiteral("status"), item.value(QStringLiteral("isCancelled")).toBool()
                                                ? QStringLiteral("cancelled")
                                                : QStringLiteral("confirmed"));
    const QJsonObject start = optionalObject(item, QStringLiteral("start"));
    const QJsonObject end = optionalObject(item, QStringLiteral("end"));
    if (item.value(QStringLiteral("isAllDay")).toBool()) {
        const QDate first = QDateTime::fromSecsSinceEpoch(graphInstant(start), Qt::UTC).date();
        const QDate after = QDateTime::fromSecsSinceEpoch(graphInstant(end), Qt::UTC).date();
        const QDate last = after > first ? after.addDays(-1) : first;
        record.insert(QStringLiteral("when"),
                      last == first
                          ? QJsonObject{{QStringLiteral("date"), first.toString(Qt::ISODate)}}
                          : QJsonObject{{QStringLiteral("start_date"), first.toString(Qt::ISODate)},
                                        {QStringLiteral("end_date"), last.toString(Qt::ISODate)}});
    } else {
        record.insert(QStringLiteral("when"),
                      QJsonObject{{QStringLiteral("start_time"), graphInstant(start)},
                                  {QStringLiteral("end_time"), graphInstant(end)}});
    }
    if (const auto place = optionalString(optionalObject(item, QStringLiteral("location")),
                                          QStringLiteral("displayName"));
        place && !place->isEmpty())
        record.insert(QStringLiteral("location"), *place);
    if (const auto join = optionalString(optionalObject(item, QStringLiteral("onlineMeeting")),
                                         QStringLiteral("joinUrl"))) {
        QJsonObject meeting{
            {QStringLiteral("details"), QJsonObject{{QStringLiteral("url"), *join}}}};
        if (optionalString(item, QStringLiteral("onlineMeetingProvider")) ==
            QLatin1String("teamsForBusiness"))
            meeting.insert(QStringLiteral("provider"), QStringLiteral("Microsoft Teams"));
        record.insert(QStringLiteral("conferencing"), meeting);
    }
    QJsonArray participants;
    for (const QJsonValue &value : item.value(QStringLiteral("attendees")).toArray()) {
        const QJsonObject attendee = value.toObject();
        auto who = person(attendee);
        if (!who)
            continue;
        who->insert(
            QStringLiteral("status"),
            participantStatus(optionalString(optionalObject(attendee, QStringLiteral("status")),
                                             QStringLiteral("response"))
                                  .value_or(QString())));
        participants.append(*who);
    }
    if (!participants.isEmpty())
        record.insert(QStringLiteral("participants"), participants);
    if (const auto organizer = person(optionalObject(item, QStringLiteral("organizer"))))
        record.insert(QStringLiteral("organizer"), *organizer);
    return record;
}

QCoro::Task<ProviderPage> MicrosoftCalendar::messages(QString accessToken, MessageQuery request,
                                                      QDeadlineTimer deadline) {
    QUrl url = graphUrl(QStringLiteral("/me/messages"));
    QUrlQuery query;
    // $search takes one quoted phrase; a quote inside it would end the phrase.
    QString words = request.text;
    words.remove(u'"').remove(u'\\');
    if (!words.trimmed().isEmpty())
        query.addQueryItem(QStringLiteral("$search"),
                           QString::fromLatin1(QUrl::toPercentEncoding(u'"' + words + u'"')));
    query.addQueryItem(QStringLiteral("$top"), QString::number(request.limit));
    query.addQueryItem(
        QStringLiteral("$select"),
        QStringLiteral("id,subject,from,receivedDateTime,bodyPreview,conversationId"));
    url.setQuery(query);
    const QJsonObject answer = co_await get(url, accessToken, deadline);
    const QJsonArray items = requiredArray(answer, QStringLiteral("value"));
    ProviderPage result;
    for (const QJsonValue &item : items) {
        if (result.data.size() == request.limit)
            break;
        result.data.append(messageRecord(item.toObject()));
    }
    co_return result;
}

QJsonObject MicrosoftCalendar::messageRecord(const QJsonObject &item) {
    QJsonObject record{{QStringLiteral("id"), requiredString(item, QStringLiteral("id"))}};
    if (const auto subject = optionalString(item, QStringLiteral("subject")))
        record.insert(QStringLiteral("subject"), *subject);
    if (const auto sender = person(optionalObject(item, QStringLiteral("from"))))
        record.insert(QStringLiteral("from"), QJsonArray{*sender});
    if (const auto received = optionalString(item, QStringLiteral("receivedDateTime")))
        record.insert(QStringLiteral("date"), instant(*received));
    if (const auto preview = optionalString(item, QStringLiteral("bodyPreview")))
        record.insert(QStringLiteral("snippet"), *preview);
    if (const auto conversation = optionalString(item, QStringLiteral("conversationId")))
        record.insert(QStringLiteral("thread_id"), *conversation);
    return record;
}
