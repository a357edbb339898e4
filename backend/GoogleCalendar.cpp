#include "GoogleCalendar.h"

#include "BackendLog.h"
#include "ProviderJson.h"

#include <QDateTime>
#include <QJsonArray>
#include <QTimeZone>

using namespace ProviderJson;

namespace {

QString rfc3339(qint64 secs) {
    return QDateTime::fromSecsSinceEpoch(secs, Qt::UTC).toString(Qt::ISODate);
}

QString participantStatus(const QString &responseStatus) {
    if (responseStatus == QLatin1String("accepted"))
        return QStringLiteral("yes");
    if (responseStatus == QLatin1String("declined"))
        return QStringLiteral("no");
    if (responseStatus == QLatin1String("tentative"))
        return QStringLiteral("maybe");
    return QStringLiteral("noreply");
}

// Google's start/end pair: timed events in Unix seconds, all-day ones by date (Google's end
// date is exclusive, the contract's inclusive).
QJsonObject when(const QJsonObject &start, const QJsonObject &end) {
    if (const auto dateTime = optionalString(start, QStringLiteral("dateTime"))) {
        const qint64 startSecs = instant(*dateTime);
        const auto endTime = optionalString(end, QStringLiteral("dateTime"));
        return {{QStringLiteral("start_time"), startSecs},
                {QStringLiteral("end_time"), endTime ? instant(*endTime) : startSecs}};
    }
    const QDate first = QDate::fromString(
        optionalString(start, QStringLiteral("date")).value_or(QString()), Qt::ISODate);
    if (!first.isValid())
        return {};
    const QDate after = QDate::fromString(
        optionalString(end, QStringLiteral("date")).value_or(QString()), Qt::ISODate);
    const QDate last = after.isValid() && after > first ? after.addDays(-1) : first;
    if (last == first)
        return {{QStringLiteral("date"), first.toString(Qt::ISODate)}};
    return {{QStringLiteral("start_date"), first.toString(Qt::ISODate)},
            {QStringLiteral("end_date"), last.toString(Qt::ISODate)}};
}

// hangoutLink, or else the first video entry point of the conference data.
QJsonObject conferencing(const QJsonObject &item) {
    if (const auto meet = optionalString(item, QStringLiteral("hangoutLink")))
        return {{QStringLiteral("provider"), QStringLiteral("Google Meet")},
                {QStringLiteral("details"), QJsonObject{{QStringLiteral("url"), *meet}}}};
    const QJsonObject data = optionalObject(item, QStringLiteral("conferenceData"));
    for (const QJsonValue &entry : data.value(QStringLiteral("entryPoints")).toArray()) {
        const QJsonObject point = entry.toObject();
        if (optionalString(point, QStringLiteral("entryPointType")) != QLatin1String("video"))
            continue;
        const auto uri = optionalString(point, QStringLiteral("uri"));
        if (!uri)
            continue;
        QJsonObject record{{QStringLiteral("details"), QJsonObject{{QStringLiteral("url"), *uri}}}};
        if (const auto name = optionalString(
                optionalObject(data, QStringLiteral("conferenceSolution")), QStringLiteral("name")))
            record.insert(QStringLiteral("provider"), *name);
        return record;
    }
    return {};
}

// A From header: "Name <address>", "\"Last, First\" <address>" or a bare address.
std::optional<QJsonObject> mailbox(const QString &header) {
    const QString text = header.trimmed();
    const qsizetype open = text.lastIndexOf(u'<');
    if (open >= 0 && text.endsWith(u'>')) {
        const QString email = text.mid(open + 1, text.size() - open - 2).trimmed();
        if (!email.contains(u'@'))
            return std::nullopt;
        QJsonObject who{{QStringLiteral("email"), email}};
        QString name = text.left(open).trimmed();
        if (name.size() >= 2 && name.startsWith(u'"') && name.endsWith(u'"'))
            name = name.mid(1, name.size() - 2).replace(QLatin1String("\\\""), QLatin1String("\""));
        if (!name.isEmpty())
            who.insert(QStringLiteral("name"), name);
        return who;
    }
    if (!text.contains(u'@') || text.contains(u' '))
        return std::nullopt;
    return QJsonObject{{QStringLiteral("email"), text}};
}

// Gmail's snippets are HTML-escaped text; the contract's are plain.
QString unescapeHtml(const QString &text) {
    static const QHash<QString, QChar> named{
        {QStringLiteral("amp"), u'&'},   {QStringLiteral("lt"), u'<'},
        {QStringLiteral("gt"), u'>'},    {QStringLiteral("quot"), u'"'},
        {QStringLiteral("apos"), u'\''}, {QStringLiteral("nbsp"), QChar(0xa0)}};
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype end = text.at(i) == u'&' ? text.indexOf(u';', i) : -1;
        if (end > i && end - i <= 10) {
            const QString entity = text.mid(i + 1, end - i - 1);
            bool ok = false;
            const uint code = entity.startsWith(u'#') ? (entity.startsWith(QLatin1String("#x"))
                                                             ? entity.mid(2).toUInt(&ok, 16)
                                                             : entity.mid(1).toUInt(&ok, 10))
                                                      : 0;
            if (ok && code > 0 && code <= 0x10ffff && QChar::isPrint(char32_t(code))) {
                plain += QString::fromUcs4(reinterpret_cast<const char32_t *>(&code), 1);
                i = end;
                continue;
            }
            if (const auto known = named.constFind(entity); known != named.constEnd()) {
                plain += *known;
                i = end;
                continue;
            }
        }
        plain += text.at(i);
    }
    return plain;
}

void insertIfSet(QJsonObject &record, const QString &key, const std::optional<QString> &value) {
    if (value)
        record.insert(key, *value);
}

} // namespace

QUrl GoogleCalendar::consentPage() const {
    QUrl url = m_settings.authOrigin;
    url.setPath(url.path() + QStringLiteral("/o/oauth2/v2/auth"));
    return url;
}

QUrl GoogleCalendar::tokenEndpoint() const {
    QUrl url = m_settings.tokenOrigin;
    url.setPath(url.path() + QStringLiteral("/token"));
    return url;
}

// Offline access gives a refresh token; consent asks again so a second sign-in gets one too.
OAuthProvider::Fields GoogleCalendar::consentExtras() const {
    return {{QStringLiteral("access_type"), QStringLiteral("offline")},
            {QStringLiteral("prompt"), QStringLiteral("consent")}};
}

QCoro::Task<bool> GoogleCalendar::revoke(QString refreshToken, QDeadlineTimer deadline) {
    QUrl url = m_settings.tokenOrigin;
    url.setPath(url.path() + QStringLiteral("/revoke"));
    const UpstreamClient::Form form{{QStringLiteral("token"), refreshToken}};
    const QNetworkRequest request(url);
    const UpstreamReply reply = co_await upstream().postForm(request, form, deadline);
    // 400 (invalid_token): already revoked or expired, which is what was wanted.
    co_return reply.status == 200 || reply.status == 400;
}

QCoro::Task<QJsonObject> GoogleCalendar::get(QString path, QUrlQuery query, QString accessToken,
                                             QDeadlineTimer deadline) {
    QUrl url = m_settings.apiOrigin;
    url.setPath(url.path() + path);
    url.setQuery(query);
    const QNetworkRequest request(url);
    co_return co_await getJson(request, accessToken, deadline);
}

QCoro::Task<ProviderPage> GoogleCalendar::calendars(QString accessToken,
                                                    std::optional<QString> pageToken,
                                                    QDeadlineTimer deadline) {
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("maxResults"), QStringLiteral("250"));
    if (pageToken)
        query.addQueryItem(QStringLiteral("pageToken"),
                           QString::fromLatin1(QUrl::toPercentEncoding(*pageToken)));
    const QString path = QStringLiteral("/calendar/v3/users/me/calendarList");
    const QJsonObject answer = co_await get(path, query, accessToken, deadline);
    ProviderPage page;
    for (const QJsonValue &item : optionalArray(answer, QStringLiteral("items")))
        page.data.append(calendarRecord(item.toObject()));
    page.nextCursor = optionalString(answer, QStringLiteral("nextPageToken"));
    co_return page;
}

QCoro::Task<ProviderPage> GoogleCalendar::events(QString accessToken, EventQuery request,
                                                 QDeadlineTimer deadline) {
    QUrlQuery query;
    const auto add = [&query](const QString &key, const QString &value) {
        query.addQueryItem(key, QString::fromLatin1(QUrl::toPercentEncoding(value)));
    };
    add(QStringLiteral("singleEvents"), QStringLiteral("true"));
    add(QStringLiteral("orderBy"), QStringLiteral("startTime"));
    add(QStringLiteral("showDeleted"), QStringLiteral("true"));
    add(QStringLiteral("maxResults"), QString::number(request.limit));
    if (request.startSecs)
        add(QStringLiteral("timeMin"), rfc3339(*request.startSecs));
    if (request.endSecs)
        add(QStringLiteral("timeMax"), rfc3339(*request.endSecs));
    if (request.pageToken)
        add(QStringLiteral("pageToken"), *request.pageToken);
    const QString path = QStringLiteral("/calendar/v3/calendars/%1/events")
                             .arg(QString::fromLatin1(QUrl::toPercentEncoding(request.calendarId)));
    const QJsonObject answer = co_await get(path, query, accessToken, deadline);
    ProviderPage page;
    for (const QJsonValue &item : optionalArray(answer, QStringLiteral("items")))
        page.data.append(eventRecord(item.toObject(), request.calendarId));
    page.nextCursor = optionalString(answer, QStringLiteral("nextPageToken"));
    co_return page;
}

QJsonObject GoogleCalendar::calendarRecord(const QJsonObject &item) {
    QJsonObject record{{QStringLiteral("id"), requiredString(item, QStringLiteral("id"))}};
    record.insert(
        QStringLiteral("name"),
        optionalString(item, QStringLiteral("summaryOverride"))
            .value_or(optionalString(item, QStringLiteral("summary")).value_or(QString())));
    insertIfSet(record, QStringLiteral("hex_color"),
                optionalString(item, QStringLiteral("backgroundColor")));
    record.insert(QStringLiteral("is_primary"), item.value(QStringLiteral("primary")).toBool());
    return record;
}

QJsonObject GoogleCalendar::eventRecord(const QJsonObject &item, const QString &calendarId) {
    QJsonObject record{{QStringLiteral("id"), requiredString(item, QStringLiteral("id"))},
                       {QStringLiteral("calendar_id"), calendarId}};
    insertIfSet(record, QStringLiteral("title"), optionalString(item, QStringLiteral("summary")));
    insertIfSet(record, QStringLiteral("description"),
                optionalString(item, QStringLiteral("description")));
    insertIfSet(record, QStringLiteral("status"), optionalString(item, QStringLiteral("status")));
    insertIfSet(record, QStringLiteral("location"),
                optionalString(item, QStringLiteral("location")));

    // A cancelled occurrence of a series may carry only the start it would have had.
    const QJsonObject start = item.contains(QStringLiteral("start"))
                                  ? optionalObject(item, QStringLiteral("start"))
                                  : optionalObject(item, QStringLiteral("originalStartTime"));
    const QJsonObject span = when(start, optionalObject(item, QStringLiteral("end")));
    if (!span.isEmpty())
        record.insert(QStringLiteral("when"), span);

    const QJsonObject meeting = conferencing(item);
    if (!meeting.isEmpty())
        record.insert(QStringLiteral("conferencing"), meeting);

    QJsonArray participants;
    for (const QJsonValue &value : item.value(QStringLiteral("attendees")).toArray()) {
        const QJsonObject attendee = value.toObject();
        const auto email = optionalString(attendee, QStringLiteral("email"));
        if (!email)
            continue; // Google leaves it out for some resources and hidden guests.
        QJsonObject participant{
            {QStringLiteral("email"), *email},
            {QStringLiteral("status"),
             participantStatus(
                 optionalString(attendee, QStringLiteral("responseStatus")).value_or(QString()))}};
        insertIfSet(participant, QStringLiteral("name"),
                    optionalString(attendee, QStringLiteral("displayName")));
        participants.append(participant);
    }
    if (!participants.isEmpty())
        record.insert(QStringLiteral("participants"), participants);

    const QJsonObject organizer = optionalObject(item, QStringLiteral("organizer"));
    if (const auto email = optionalString(organizer, QStringLiteral("email"))) {
        QJsonObject who{{QStringLiteral("email"), *email}};
        insertIfSet(who, QStringLiteral("name"),
                    optionalString(organizer, QStringLiteral("displayName")));
        record.insert(QStringLiteral("organizer"), who);
    }
    return record;
}

QCoro::Task<ProviderPage> GoogleCalendar::messages(QString accessToken, MessageQuery request,
                                                   QDeadlineTimer deadline) {
    QUrlQuery query;
    if (!request.text.isEmpty())
        query.addQueryItem(QStringLiteral("q"),
                           QString::fromLatin1(QUrl::toPercentEncoding(request.text)));
    query.addQueryItem(QStringLiteral("maxResults"), QString::number(request.limit));
    const QJsonObject answer =
        co_await get(QStringLiteral("/gmail/v1/users/me/messages"), query, accessToken, deadline);
    const QJsonArray found = optionalArray(answer, QStringLiteral("messages"));
    // Gmail lists only ids: the metadata reads run side by side.
    std::vector<QCoro::Task<std::optional<QJsonObject>>> reads;
    for (const QJsonValue &item : found) {
        if (int(reads.size()) == request.limit)
            break;
        reads.push_back(
            message(requiredString(item.toObject(), QStringLiteral("id")), accessToken, deadline));
    }
    ProviderPage page;
    std::exception_ptr failure;
    for (auto &read : reads) {
        try {
            if (const auto record = co_await read)
                page.data.append(*record);
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
    co_return page;
}

QCoro::Task<std::optional<QJsonObject>> GoogleCalendar::message(QString id, QString accessToken,
                                                                QDeadlineTimer deadline) {
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("format"), QStringLiteral("metadata"));
    query.addQueryItem(QStringLiteral("metadataHeaders"), QStringLiteral("Subject"));
    query.addQueryItem(QStringLiteral("metadataHeaders"), QStringLiteral("From"));
    const QString path = QStringLiteral("/gmail/v1/users/me/messages/") +
                         QString::fromLatin1(QUrl::toPercentEncoding(id));
    try {
        co_return messageRecord(co_await get(path, query, accessToken, deadline));
    } catch (const ProviderError &error) {
        if (error.kind() != ProviderError::Kind::notFound)
            throw;
    }
    co_return std::nullopt;
}

QJsonObject GoogleCalendar::messageRecord(const QJsonObject &item) {
    QJsonObject record{{QStringLiteral("id"), requiredString(item, QStringLiteral("id"))}};
    insertIfSet(record, QStringLiteral("thread_id"),
                optionalString(item, QStringLiteral("threadId")));
    if (const auto snippet = optionalString(item, QStringLiteral("snippet")))
        record.insert(QStringLiteral("snippet"), unescapeHtml(*snippet));
    if (const auto internalDate = optionalString(item, QStringLiteral("internalDate"))) {
        bool ok = false;
        const qint64 millis = internalDate->toLongLong(&ok);
        if (!ok)
            throw ProviderError(ProviderError::Kind::upstream,
                                "malformed provider answer: internalDate");
        record.insert(QStringLiteral("date"), millis / 1000);
    }
    const QJsonArray headers =
        optionalArray(optionalObject(item, QStringLiteral("payload")), QStringLiteral("headers"));
    for (const QJsonValue &value : headers) {
        const QJsonObject header = value.toObject();
        const QString name = optionalString(header, QStringLiteral("name")).value_or(QString());
        const QString text = optionalString(header, QStringLiteral("value")).value_or(QString());
        if (name.compare(QLatin1String("Subject"), Qt::CaseInsensitive) == 0 &&
            !record.contains(QStringLiteral("subject")))
            record.insert(QStringLiteral("subject"), text);
        else if (name.compare(QLatin1String("From"), Qt::CaseInsensitive) == 0 &&
                 !record.contains(QStringLiteral("from")))
            if (const auto who = mailbox(text))
                record.insert(QStringLiteral("from"), QJsonArray{*who});
    }
    return record;
}
