#include "ProxyRecords.h"

#include "core/HexColor.h"
#include "core/MeetingLinkParser.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <algorithm>

namespace {
template <typename T, typename Decode>
QList<T> decodeArray(const QJsonValue &value, QStringView key, Decode decode) {
    const QJsonArray array = JsonRead::array(value, key);
    QList<T> items;
    items.reserve(array.size());
    for (const QJsonValue &item : array)
        items.append(decode(item));
    return items;
}

template <typename T, typename Decode>
std::optional<T> optionalObject(const QJsonObject &o, QStringView key, Decode decode) {
    const auto v = JsonRead::optionalMember(o, key);
    if (!v)
        return std::nullopt;
    return decode(JsonRead::object(*v, key));
}

std::optional<QDateTime> fromUnix(std::optional<qint64> seconds) {
    if (!seconds)
        return std::nullopt;
    return QDateTime::fromSecsSinceEpoch(*seconds, Qt::UTC);
}
} // namespace

std::optional<QDateTime> ProxyEvent::EventTime::startDate() const {
    return fromUnix(startTime);
}

std::optional<QDateTime> ProxyEvent::EventTime::endDate() const {
    return fromUnix(endTime);
}

ProxyCalendar ProxyCalendar::fromJson(const QJsonValue &value) {
    const QJsonObject o = JsonRead::object(value, u"calendar");
    return {JsonRead::string(o, u"id"), JsonRead::string(o, u"name"),
            JsonRead::optionalString(o, u"hex_color"), JsonRead::optionalBool(o, u"is_primary")};
}

ProxyEvent ProxyEvent::fromJson(const QJsonValue &value) {
    const QJsonObject o = JsonRead::object(value, u"event");
    ProxyEvent e;
    e.id = JsonRead::string(o, u"id");
    e.calendarId = JsonRead::optionalString(o, u"calendar_id");
    e.title = JsonRead::optionalString(o, u"title");
    e.description = JsonRead::optionalString(o, u"description");
    e.status = JsonRead::optionalString(o, u"status");
    e.when = optionalObject<EventTime>(o, u"when", [](const QJsonObject &w) {
        return EventTime{JsonRead::optionalInteger(w, u"start_time"),
                         JsonRead::optionalInteger(w, u"end_time")};
    });
    e.location = JsonRead::optionalString(o, u"location");
    e.conferencing = optionalObject<Conferencing>(o, u"conferencing", [](const QJsonObject &c) {
        return Conferencing{
            JsonRead::optionalString(c, u"provider"),
            optionalObject<ConferencingDetails>(c, u"details", [](const QJsonObject &d) {
                return ConferencingDetails{JsonRead::optionalString(d, u"url")};
            })};
    });
    if (const auto list = JsonRead::optionalMember(o, u"participants"))
        e.participants = decodeArray<Participant>(*list, u"participants", [](const QJsonValue &v) {
            const QJsonObject p = JsonRead::object(v, u"participant");
            return Participant{JsonRead::string(p, u"email"), JsonRead::optionalString(p, u"name"),
                               JsonRead::optionalString(p, u"status")};
        });
    e.organizer = optionalObject<Organizer>(o, u"organizer", [](const QJsonObject &p) {
        return Organizer{JsonRead::string(p, u"email"), JsonRead::optionalString(p, u"name")};
    });
    return e;
}

ProxyMessage ProxyMessage::fromJson(const QJsonValue &value) {
    const QJsonObject o = JsonRead::object(value, u"message");
    ProxyMessage m;
    m.id = JsonRead::string(o, u"id");
    m.subject = JsonRead::optionalString(o, u"subject");
    if (const auto list = JsonRead::optionalMember(o, u"from"))
        m.from = decodeArray<Participant>(*list, u"from", [](const QJsonValue &v) {
            const QJsonObject p = JsonRead::object(v, u"from");
            return Participant{JsonRead::string(p, u"email"), JsonRead::optionalString(p, u"name")};
        });
    m.date = JsonRead::optionalInteger(o, u"date");
    m.snippet = JsonRead::optionalString(o, u"snippet");
    m.threadId = JsonRead::optionalString(o, u"thread_id");
    return m;
}

ProxyGrant ProxyGrant::fromJson(const QByteArray &body) {
    const QJsonObject o = JsonRead::object(body);
    return {JsonRead::string(o, u"grantId"), JsonRead::string(o, u"provider"),
            JsonRead::string(o, u"email")};
}

template <typename T> ProxyListResponse<T> ProxyListResponse<T>::decode(const QByteArray &body) {
    const QJsonObject o = JsonRead::object(body);
    ProxyListResponse response;
    response.data = decodeArray<T>(o.value(u"data"), u"data", &T::fromJson);
    response.nextCursor = JsonRead::optionalString(o, u"next_cursor");
    return response;
}

template struct ProxyListResponse<ProxyCalendar>;
template struct ProxyListResponse<ProxyEvent>;
template struct ProxyListResponse<ProxyMessage>;

QString ProxyError::description() const {
    return QCoreApplication::translate("SignInError", "Invalid authentication URL received");
}

QColor systemBlue() {
    return QColor(0, 122, 255);
}

std::optional<CalendarEvent> makeCalendarEvent(const ProxyEvent &event, const QString &accountId,
                                               CalendarProvider provider,
                                               const QList<ProxyCalendar> &calendars) {
    return CalendarEventConverter(accountId, provider, calendars).convert(event);
}

CalendarEventConverter::CalendarEventConverter(QString accountId, CalendarProvider provider,
                                               const QList<ProxyCalendar> &calendars)
    : m_accountId(std::move(accountId))
    , m_provider(provider) {
    m_calendars.reserve(calendars.size());
    for (const ProxyCalendar &c : calendars) {
        const auto hex = c.hexColor ? std::optional<QStringView>(*c.hexColor) : std::nullopt;
        m_calendars.append({c.id, c.name, colorFromSixDigitHex(hex).value_or(systemBlue())});
    }
}

bool CalendarEventConverter::converts(const ProxyEvent &event) {
    return !(event.status && *event.status == u"cancelled") && event.when &&
           event.when->startTime && event.when->endTime;
}

std::optional<CalendarEvent> CalendarEventConverter::convert(const ProxyEvent &event) {
    if (!converts(event))
        return std::nullopt;
    CalendarEvent e;
    convertInto(event, e);
    return e;
}

void CalendarEventConverter::convertInto(const ProxyEvent &event, CalendarEvent &e) {
    e.startDate = QDateTime::fromSecsSinceEpoch(*event.when->startTime, Qt::UTC);
    e.endDate = QDateTime::fromSecsSinceEpoch(*event.when->endTime, Qt::UTC);
    // Made at its final size at once: thousands of events are converted at every refresh.
    static constexpr QStringView idPrefix = u"nylas_";
    e.id = QString(idPrefix.size() + event.id.size(), Qt::Uninitialized);
    QChar *id = e.id.data();
    std::copy_n(idPrefix.data(), idPrefix.size(), id);
    std::copy_n(event.id.constData(), event.id.size(), id + idPrefix.size());
    e.title = event.title.value_or(QStringLiteral("(No title)"));

    const Calendar *calendar = nullptr;
    if (event.calendarId)
        for (const Calendar &c : std::as_const(m_calendars))
            if (c.id == *event.calendarId) {
                calendar = &c;
                break;
            }
    if (calendar) {
        e.calendarTitle = calendar->name;
        e.calendarColor = calendar->color;
    } else {
        e.calendarTitle = m_provider == CalendarProvider::google ? QStringLiteral("Google Calendar")
                                                                 : QStringLiteral("Outlook");
        e.calendarColor = systemBlue();
    }
    e.isAllDay = false;
    if (event.conferencing)
        e.conferencingProvider = event.conferencing->provider;

    if (event.conferencing && event.conferencing->details && event.conferencing->details->url) {
        const QString &text = *event.conferencing->details->url;
        auto cached = m_conferencingLinks.constFind(text);
        if (cached == m_conferencingLinks.cend())
            cached = m_conferencingLinks.insert(text, MeetingLinkParser::joinTarget(text));
        e.meetingLink = *cached;
    }
    if (!e.meetingLink && event.location)
        e.meetingLink = MeetingLinkParser::extractLink(*event.location);
    if (!e.meetingLink && event.description)
        e.meetingLink = MeetingLinkParser::extractLink(*event.description);

    if (event.participants) {
        e.attendeeEmails.reserve(event.participants->size());
        for (const auto &p : *event.participants)
            e.attendeeEmails.append(p.email);
    }
    if (event.organizer)
        e.organizerEmail = event.organizer->email;
    e.location = event.location;
    e.notes = event.description;
    e.calendarId = event.calendarId;
    e.provider = m_provider;
    e.accountId = m_accountId;
}
