#include "DesktopEventReader.h"

#include "ProxyRecords.h"
#include "core/HexColor.h"

namespace {
QString address(const char *value) {
    QString text = QString::fromUtf8(value).trimmed();
    if (text.startsWith(u"mailto:", Qt::CaseInsensitive))
        text.remove(0, 7);
    return text;
}

std::optional<QString> optionalText(const char *value) {
    if (!value)
        return std::nullopt;
    return QString::fromUtf8(value);
}

// The conferencing properties Google, Microsoft and RFC 7986 write, best first.
constexpr const char *conferencing[] = {
    "CONFERENCE", "X-GOOGLE-CONFERENCE", "X-MICROSOFT-ONLINEMEETINGCONFLINK",
    "X-MICROSOFT-ONLINEMEETING-CONFLINK", "X-MICROSOFT-SKYPETEAMSMEETINGURL"};
} // namespace

DesktopEventReader::DesktopEventReader(QString calendarId, QString calendarTitle,
                                       std::optional<QString> color, QSet<QString> ownAddresses)
    : m_calendarId(std::move(calendarId))
    , m_calendarTitle(std::move(calendarTitle))
    , m_color(colorFromSixDigitHex(color ? std::optional<QStringView>(*color) : std::nullopt)
                  .value_or(systemBlue()))
    , m_ownAddresses(std::move(ownAddresses)) {}

DesktopEventReader::Details DesktopEventReader::details(icalcomponent *event) const {
    Details d;
    d.title = optionalText(icalcomponent_get_summary(event)).value_or(QStringLiteral("(No title)"));
    d.location = optionalText(icalcomponent_get_location(event));
    d.notes = optionalText(icalcomponent_get_description(event));
    d.cancelled = icalcomponent_get_status(event) == ICAL_STATUS_CANCELLED;

    std::optional<QUrl> conference;
    int conferenceRank = int(std::size(conferencing));
    std::optional<QString> url;
    for (icalproperty *p = icalcomponent_get_first_property(event, ICAL_ANY_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_ANY_PROPERTY)) {
        switch (icalproperty_isa(p)) {
        case ICAL_ATTENDEE_PROPERTY: {
            const QString a = address(icalproperty_get_attendee(p));
            if (a.isEmpty())
                break;
            d.attendees.append(a);
            icalparameter *partstat = icalproperty_get_first_parameter(p, ICAL_PARTSTAT_PARAMETER);
            if (partstat && icalparameter_get_partstat(partstat) == ICAL_PARTSTAT_DECLINED &&
                m_ownAddresses.contains(a.toLower()))
                d.declined = true;
            break;
        }
        case ICAL_ORGANIZER_PROPERTY:
            if (const QString a = address(icalproperty_get_organizer(p)); !a.isEmpty())
                d.organizer = a;
            break;
        case ICAL_URL_PROPERTY:
            url = optionalText(icalproperty_get_url(p));
            break;
        default: {
            const char *name = icalproperty_get_property_name(p);
            for (int rank = 0; name && rank < conferenceRank; ++rank) {
                if (qstricmp(name, conferencing[rank]) != 0)
                    continue;
                const char *value = icalproperty_get_value_as_string(p);
                if (auto link =
                        value ? MeetingLinkParser::joinTarget(QString::fromUtf8(value).trimmed())
                              : std::nullopt) {
                    conference = std::move(link);
                    conferenceRank = rank;
                }
                break;
            }
        }
        }
    }
    d.meetingLink = conference;
    for (const auto *field : {&d.location, &url, &d.notes})
        if (!d.meetingLink && *field)
            d.meetingLink = MeetingLinkParser::extractLink(**field);
    // The organiser is a person to prepare for as much as any attendee.
    if (d.organizer && !d.attendees.contains(*d.organizer, Qt::CaseInsensitive))
        d.attendees.append(*d.organizer);
    return d;
}

CalendarEvent DesktopEventReader::event(const Details &details, const QString &uid, qint64 start,
                                        qint64 end, qint64 original) const {
    CalendarEvent e;
    e.id = eventId(m_calendarId, uid, original);
    e.title = details.title;
    e.startDate = QDateTime::fromSecsSinceEpoch(start, Qt::UTC);
    e.endDate = QDateTime::fromSecsSinceEpoch(std::max(start, end), Qt::UTC);
    e.calendarTitle = m_calendarTitle;
    e.calendarColor = m_color;
    e.calendarId = m_calendarId;
    e.provider = CalendarProvider::desktop;
    e.location = details.location;
    e.notes = details.notes;
    e.meetingLink = details.meetingLink;
    e.attendeeEmails = details.attendees;
    e.organizerEmail = details.organizer;
    return e;
}

std::optional<qint64> DesktopEventReader::seconds(const icaltimetype &time) {
    if (icaltime_is_null_time(time))
        return std::nullopt;
    if (icaltime_is_utc(time))
        return qint64(icaltime_as_timet(time));
    if (time.zone)
        return qint64(icaltime_as_timet_with_zone(time, const_cast<icaltimezone *>(time.zone)));
    return QDateTime(QDate(time.year, time.month, time.day),
                     QTime(time.hour, time.minute, time.second), Qt::LocalTime)
        .toSecsSinceEpoch();
}

std::optional<qint64>
DesktopEventReader::recurrenceId(icalcomponent *event,
                                 const std::function<icaltimezone *(const char *)> &zoneOf) {
    icalproperty *p = icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY);
    if (!p)
        return std::nullopt;
    icaltimetype rid = icalproperty_get_recurrenceid(p);
    if (!rid.zone && !icaltime_is_utc(rid)) {
        icalparameter *tzid = icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER);
        const char *name = tzid ? icalparameter_get_tzid(tzid) : nullptr;
        icaltimezone *zone = name ? icaltimezone_get_builtin_timezone_from_tzid(name) : nullptr;
        if (name && !zone)
            zone = icaltimezone_get_builtin_timezone(name);
        if (name && !zone && zoneOf)
            zone = zoneOf(name);
        rid.zone = zone;
    }
    return seconds(rid);
}

QString DesktopEventReader::eventId(const QString &calendarId, const QString &uid,
                                    qint64 original) {
    return QStringLiteral("desktop_%1_%2_%3").arg(calendarId, uid, QString::number(original));
}
