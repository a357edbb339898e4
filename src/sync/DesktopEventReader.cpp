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
        case ICAL_CONFERENCE_PROPERTY:
        case ICAL_X_PROPERTY: {
            // Named without the copy icalproperty_get_property_name() makes of every name.
            const char *name = icalproperty_isa(p) == ICAL_CONFERENCE_PROPERTY
                                   ? "CONFERENCE"
                                   : icalproperty_get_x_name(p);
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
            break;
        }
        default:
            break;
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

namespace {
// The zone the store's expansion gives a date-time of `event`'s property `kind`. A date keeps
// what it has, as libical sets no zone on a date.
void placeInZone(icalcomponent *event, icaltimetype &time, icalproperty_kind kind,
                 const std::function<icaltimezone *(const char *)> &zoneOf,
                 icaltimezone *defaultZone) {
    if (time.is_date)
        return;
    // The zone a parsed time carries may belong to another component: only its TZID counts.
    if (time.zone != icaltimezone_get_utc_timezone())
        time.zone = nullptr;
    if (icaltime_is_utc(time))
        return;
    time.zone = defaultZone;
    icalproperty *p = icalcomponent_get_first_property(event, kind);
    // An end worked out from the start and a duration is in the start's zone.
    if (!p && kind == ICAL_DTEND_PROPERTY)
        p = icalcomponent_get_first_property(event, ICAL_DTSTART_PROPERTY);
    icalparameter *tzid = p ? icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER) : nullptr;
    const char *name = tzid ? icalparameter_get_tzid(tzid) : nullptr;
    if (!name || !*name)
        return;
    icaltimezone *zone = zoneOf ? zoneOf(name) : nullptr;
    time.zone = zone ? zone : defaultZone;
}

void addDuration(icaltimetype &time, qint64 days, qint64 seconds) {
    if (seconds != 0)
        time.is_date = 0;
    icaltime_adjust(&time, int(days), 0, 0, int(seconds));
}
} // namespace

std::optional<std::pair<icaltimetype, icaltimetype>> DesktopEventReader::onlyInstance(
    icalcomponent *event, const icaltimetype &from, const icaltimetype &to,
    const std::function<icaltimezone *(const char *)> &zoneOf, icaltimezone *defaultZone) {
    icaltimetype start = icalcomponent_get_dtstart(event);
    placeInZone(event, start, ICAL_DTSTART_PROPERTY, zoneOf, defaultZone);
    icaltimetype end = icalcomponent_get_dtend(event);
    if (icaltime_is_null_time(end)) {
        end = icalcomponent_get_due(event);
        if (icaltime_is_null_time(end)) {
            const icaldurationtype duration = icalcomponent_get_duration(event);
            if (!icaldurationtype_is_null_duration(duration)) {
                const qint64 days = qint64(duration.days) + 7 * qint64(duration.weeks);
                const qint64 seconds = qint64(duration.hours) * 3600 +
                                       qint64(duration.minutes) * 60 + duration.seconds;
                const int sign = duration.is_neg ? -1 : 1;
                end = start;
                addDuration(end, sign * (days + seconds / 86400), sign * (seconds % 86400));
            }
        }
        // Without an end, a date-time is a point in time and a date lasts the day.
        if (icaltime_is_null_time(end)) {
            end = start;
            if (end.is_date)
                icaltime_adjust(&end, 1, 0, 0, 0);
        }
    } else if (start.is_date && end.is_date && icaltime_compare_date_only(start, end) == 0) {
        icaltime_adjust(&end, 1, 0, 0, 0);
    }
    qint64 length = 0;
    if (!icaltime_is_null_time(end)) {
        placeInZone(event, end, ICAL_DTEND_PROPERTY, zoneOf, defaultZone);
        length = std::max<qint64>(0, qint64(icaltime_as_timet_with_zone(end, end.zone)) -
                                         qint64(icaltime_as_timet_with_zone(start, start.zone)));
    }
    // The end is the start moved on by the length in the start's own wall-clock time.
    icaltimetype instanceEnd = start;
    addDuration(instanceEnd, length / 86400, length % 86400);
    // An instant at the window's very start is in it.
    const bool instant = icaltime_compare(start, instanceEnd) == 0;
    if (icaltime_compare(start, to) >= 0 ||
        (instant ? icaltime_compare(from, start) > 0 : icaltime_compare(from, instanceEnd) >= 0))
        return std::nullopt;
    return std::pair{start, instanceEnd};
}

QString DesktopEventReader::eventId(const QString &calendarId, const QString &uid,
                                    qint64 original) {
    return QStringLiteral("desktop_%1_%2_%3").arg(calendarId, uid, QString::number(original));
}
