#include "FeedParser.h"

#include "ProxyRecords.h"
#include "core/MeetingLinkParser.h"

#include <QHash>
#include <QTimeZone>

extern "C" {
#include <libical/ical.h>
}

#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

QString FeedError::description() const {
    switch (m_reason) {
    case Reason::unreachable:
        return QStringLiteral("The calendar feed could not be reached.");
    case Reason::httpStatus:
        return QStringLiteral("The calendar feed answered with HTTP status %1.").arg(m_status);
    case Reason::notICalendar:
        return QStringLiteral("The address does not lead to an iCalendar feed.");
    case Reason::tooLarge:
        return QStringLiteral("The calendar feed is larger than 20 MB.");
    case Reason::badAddress:
        return QStringLiteral("Use an https:// or webcal:// address, or a file on this computer.");
    case Reason::unreadable:
        return QStringLiteral("The calendar file could not be read.");
    }
    return {};
}

namespace {
using Component = std::unique_ptr<icalcomponent, decltype(&icalcomponent_free)>;

// Recurrence rules of events started years ago still end; this bounds a hostile rule that
// would otherwise iterate (nearly) forever inside the window.
constexpr int maximumInstancesPerEvent = 5000;

// One VCALENDAR, as one or more pieces that libical read apart.
using Calendar = QList<icalcomponent *>;

// Resolves TZIDs once per feed: the feed's own VTIMEZONE first, then the tz database (IANA
// names, or Windows names as Outlook writes them). Safe to share between threads.
class Zones {
public:
    explicit Zones(const Calendar &calendar)
        : m_calendar(calendar) {}

    // The zone of a DATE-TIME property, or null for UTC and floating times.
    icaltimezone *zoneOf(icalproperty *property) {
        icalparameter *tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
        if (!tzid)
            return nullptr;
        const char *name = icalparameter_get_tzid(tzid);
        if (!name)
            return nullptr;
        const QByteArray key(name);
        // libical sorts the calendar's zones on first look-up.
        const std::lock_guard lock(m_mutex);
        const auto cached = m_zones.constFind(key);
        if (cached != m_zones.cend())
            return *cached;
        icaltimezone *zone = nullptr;
        for (icalcomponent *piece : m_calendar)
            if (!zone)
                zone = icalcomponent_get_timezone(piece, name);
        if (!zone)
            zone = icaltimezone_get_builtin_timezone(name);
        if (!zone) {
            const QByteArray iana = QTimeZone::windowsIdToDefaultIanaId(key);
            if (!iana.isEmpty())
                zone = icaltimezone_get_builtin_timezone(iana.constData());
        }
        m_zones.insert(key, zone);
        return zone;
    }

private:
    Calendar m_calendar;
    std::mutex m_mutex;
    QHash<QByteArray, icaltimezone *> m_zones;
};

// A wall-clock time of the feed as an instant: UTC, in its zone, or floating (local time).
QDateTime instant(const icaltimetype &t, icaltimezone *zone) {
    if (icaltime_is_utc(t))
        return QDateTime::fromSecsSinceEpoch(icaltime_as_timet(t), Qt::UTC);
    if (zone)
        return QDateTime::fromSecsSinceEpoch(icaltime_as_timet_with_zone(t, zone), Qt::UTC);
    return QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second),
                     Qt::LocalTime);
}

QString addressOf(const char *value) {
    QString address = QString::fromUtf8(value).trimmed();
    if (address.startsWith(u"mailto:", Qt::CaseInsensitive))
        address.remove(0, 7);
    return address;
}

// What a VEVENT says, found in one pass over its properties. Text is converted only for events
// that fall inside the window: most of a feed is past meetings.
struct EventText {
    QString uid;
    icalproperty *summary = nullptr, *location = nullptr, *description = nullptr, *url = nullptr;
    icalproperty *organizer = nullptr;
    bool cancelled = false;
    QList<icalproperty *> attendees;
    std::optional<QUrl> conferencingLink;
    icalproperty *dtstart = nullptr, *dtend = nullptr, *duration = nullptr, *recurrenceId = nullptr;
    QList<icalproperty *> rrules, rdates, exdates;

    // The text every occurrence shares, converted on first use.
    struct Details {
        std::optional<QString> summary, location, description, organizer;
        QStringList attendees;
    };
    const Details &details() const {
        if (!converted) {
            const auto text = [](icalproperty *p, const char *(*get)(const icalproperty *)) {
                return p ? std::optional(QString::fromUtf8(get(p))) : std::nullopt;
            };
            Details d{text(summary, &icalproperty_get_summary),
                      text(location, &icalproperty_get_location),
                      text(description, &icalproperty_get_description),
                      std::nullopt,
                      {}};
            for (icalproperty *p : attendees)
                if (const QString a = addressOf(icalproperty_get_attendee(p)); !a.isEmpty())
                    d.attendees.append(a);
            if (organizer)
                if (const QString a = addressOf(icalproperty_get_organizer(organizer));
                    !a.isEmpty())
                    d.organizer = a;
            converted = std::move(d);
        }
        return *converted;
    }
    mutable std::optional<Details> converted;

    // Looked for once and kept: every occurrence of a series has the same link.
    const std::optional<QUrl> &meetingLink() const {
        if (!foundLink) {
            std::optional<QUrl> link = conferencingLink;
            const std::optional<QString> address =
                url ? std::optional(QString::fromUtf8(icalproperty_get_url(url))) : std::nullopt;
            for (const auto *field : {&details().location, &address, &details().description})
                if (!link && *field)
                    link = MeetingLinkParser::extractLink(**field);
            foundLink = std::move(link);
        }
        return *foundLink;
    }
    mutable std::optional<std::optional<QUrl>> foundLink;
};

EventText readEvent(icalcomponent *event) {
    EventText e;
    // The conferencing properties calendars write, best first.
    static const char *const conferencing[] = {"CONFERENCE", "X-GOOGLE-CONFERENCE",
                                               "X-MICROSOFT-ONLINEMEETING-CONFLINK",
                                               "X-MICROSOFT-SKYPETEAMSMEETINGURL"};
    int conferencingRank = std::size(conferencing);
    for (icalproperty *p = icalcomponent_get_first_property(event, ICAL_ANY_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_ANY_PROPERTY)) {
        switch (icalproperty_isa(p)) {
        case ICAL_UID_PROPERTY:
            e.uid = QString::fromUtf8(icalproperty_get_uid(p));
            break;
        case ICAL_SUMMARY_PROPERTY:
            e.summary = p;
            break;
        case ICAL_LOCATION_PROPERTY:
            e.location = p;
            break;
        case ICAL_DESCRIPTION_PROPERTY:
            e.description = p;
            break;
        case ICAL_URL_PROPERTY:
            e.url = p;
            break;
        case ICAL_STATUS_PROPERTY:
            e.cancelled = icalproperty_get_status(p) == ICAL_STATUS_CANCELLED;
            break;
        case ICAL_ATTENDEE_PROPERTY:
            e.attendees.append(p);
            break;
        case ICAL_ORGANIZER_PROPERTY:
            e.organizer = p;
            break;
        case ICAL_DTSTART_PROPERTY:
            e.dtstart = p;
            break;
        case ICAL_DTEND_PROPERTY:
            e.dtend = p;
            break;
        case ICAL_DURATION_PROPERTY:
            e.duration = p;
            break;
        case ICAL_RECURRENCEID_PROPERTY:
            e.recurrenceId = p;
            break;
        case ICAL_RRULE_PROPERTY:
            e.rrules.append(p);
            break;
        case ICAL_RDATE_PROPERTY:
            e.rdates.append(p);
            break;
        case ICAL_EXDATE_PROPERTY:
            e.exdates.append(p);
            break;
        default: {
            const char *name = icalproperty_get_property_name(p);
            for (int rank = 0; name && rank < conferencingRank; ++rank) {
                if (qstricmp(name, conferencing[rank]) != 0)
                    continue;
                icalvalue *value = icalproperty_get_value(p);
                const char *text = value ? icalvalue_as_ical_string(value) : nullptr;
                if (auto link = text ? MeetingLinkParser::joinTarget(QString::fromUtf8(text))
                                     : std::nullopt) {
                    e.conferencingLink = std::move(link);
                    conferencingRank = rank;
                }
                break;
            }
        }
        }
    }
    return e;
}

// Below this many events a second thread costs more than it saves.
constexpr qsizetype parallelExpansionEvents = 256;

// Runs `there` on a second thread while `here` runs on this one; returns when both are done.
template <typename There, typename Here> void sideBySide(There &&there, Here &&here) {
    const std::jthread worker(std::forward<There>(there));
    here();
}

// An instance of a series, by UID and original start.
QString instanceKey(const QString &uid, qint64 start) {
    return uid + QLatin1Char('\n') + QString::number(start);
}

class Expander {
public:
    Expander(const Calendar &calendar, const FeedOwner &owner, const QDateTime &from,
             const QDateTime &to)
        : m_calendar(calendar)
        , m_zones(calendar)
        , m_owner(owner)
        , m_from(from.toSecsSinceEpoch())
        , m_to(to.toSecsSinceEpoch()) {}

    void run(QList<CalendarEvent> &out) {
        QList<icalcomponent *> masters, overrides;
        for (icalcomponent *piece : std::as_const(m_calendar))
            for (icalcomponent *c = icalcomponent_get_first_component(piece, ICAL_VEVENT_COMPONENT);
                 c; c = icalcomponent_get_next_component(piece, ICAL_VEVENT_COMPONENT)) {
                if (icalcomponent_get_first_property(c, ICAL_RECURRENCEID_PROPERTY))
                    overrides.append(c);
                else
                    masters.append(c);
            }
        // Instances replaced by an override, by UID and original start.
        for (icalcomponent *c : std::as_const(overrides)) {
            const EventText text = readEvent(c);
            const icaltimetype rid = icalproperty_get_recurrenceid(text.recurrenceId);
            if (icaltime_is_null_time(rid))
                continue;
            const qint64 original =
                instant(rid, m_zones.zoneOf(text.recurrenceId)).toSecsSinceEpoch();
            m_replaced.insert(instanceKey(text.uid, original));
            if (const auto times = timesOf(text); times && !text.cancelled)
                append(text, instant(times->start, times->zone), original, times->durationSecs,
                       out);
        }
        // Walking the recurrence rules is most of the work, and each event's walk stands alone:
        // a large feed walks its two halves side by side. Text is converted afterwards, in order,
        // on this thread.
        std::vector<Occurrences> found(size_t(masters.size()));
        const auto walk = [this, &masters, &found](qsizetype begin, qsizetype end) {
            for (qsizetype i = begin; i < end; ++i)
                found[size_t(i)] = occurrencesOf(masters[i]);
        };
        const qsizetype half = masters.size() / 2;
        if (masters.size() >= parallelExpansionEvents)
            sideBySide([&] { walk(0, half); }, [&] { walk(half, masters.size()); });
        else
            walk(0, masters.size());
        for (const Occurrences &o : found)
            for (qint64 start : o.starts)
                if (!o.recurring || !m_replaced.contains(instanceKey(o.text.uid, start)))
                    append(o.text, QDateTime::fromSecsSinceEpoch(start, Qt::UTC), start,
                           o.durationSecs, out);
    }

private:
    struct Times {
        icaltimetype start;
        icaltimezone *zone;
        qint64 durationSecs;
    };

    // The starts of one event, as instants, in order; a single event's is its own start.
    struct Occurrences {
        EventText text;
        bool recurring = false;
        qint64 durationSecs = 0;
        QList<qint64> starts;
    };

    std::optional<Times> timesOf(const EventText &text) {
        if (!text.dtstart)
            return std::nullopt;
        const icaltimetype start = icalproperty_get_dtstart(text.dtstart);
        // All-day events never remind.
        if (icaltime_is_null_time(start) || start.is_date)
            return std::nullopt;
        icaltimezone *zone = m_zones.zoneOf(text.dtstart);
        qint64 duration = 0;
        if (text.dtend) {
            const icaltimetype end = icalproperty_get_dtend(text.dtend);
            if (!icaltime_is_null_time(end))
                duration = instant(start, zone).secsTo(instant(end, m_zones.zoneOf(text.dtend)));
        } else if (text.duration) {
            duration = icaldurationtype_as_int(icalproperty_get_duration(text.duration));
        }
        return Times{start, zone, duration};
    }

    // Runs on either thread: it reads only its own event, and zones through their lock.
    Occurrences occurrencesOf(icalcomponent *event) {
        Occurrences o;
        o.text = readEvent(event);
        const EventText &text = o.text;
        o.recurring = !text.rrules.isEmpty() || !text.rdates.isEmpty();
        const auto times = text.cancelled ? std::nullopt : timesOf(text);
        if (!times)
            return o;
        o.durationSecs = times->durationSecs;
        if (!o.recurring) {
            o.starts.append(instant(times->start, times->zone).toSecsSinceEpoch());
            return o;
        }
        QSet<qint64> excluded;
        for (icalproperty *p : text.exdates) {
            const icaltimetype t = icalproperty_get_exdate(p);
            if (!icaltime_is_null_time(t))
                excluded.insert(instant(t, m_zones.zoneOf(p)).toSecsSinceEpoch());
        }
        QList<qint64> &starts = o.starts;
        const auto consider = [&](const icaltimetype &t, icaltimezone *zone) {
            const qint64 start = instant(t, zone).toSecsSinceEpoch();
            if (!excluded.contains(start))
                starts.append(start);
        };
        consider(times->start, times->zone);
        for (icalproperty *p : text.rdates) {
            const icaldatetimeperiodtype rdate = icalproperty_get_rdate(p);
            if (!icaltime_is_null_time(rdate.time) && !rdate.time.is_date)
                consider(rdate.time, m_zones.zoneOf(p));
        }
        // A day of slack on both sides covers floating times in any local zone.
        const qint64 last = m_to + 86400;
        for (icalproperty *p : text.rrules) {
            struct icalrecurrencetype rule = icalproperty_get_rrule(p);
            icalrecur_iterator *it = icalrecur_iterator_new(rule, times->start);
            if (!it)
                continue;
            if (rule.count == 0) {
                // Jump close to the window instead of walking from a start years ago.
                const icaltimetype jump = icaltime_from_timet_with_zone(
                    time_t(m_from - 86400 - times->durationSecs), 0,
                    times->zone ? times->zone : icaltimezone_get_utc_timezone());
                if (icaltime_compare(jump, times->start) > 0) {
                    icaltimetype local = jump;
                    local.zone = times->start.zone;
                    local.is_date = 0;
                    icalrecur_iterator_set_start(it, local);
                }
            }
            for (int n = 0; n < maximumInstancesPerEvent; ++n) {
                const icaltimetype next = icalrecur_iterator_next(it);
                if (icaltime_is_null_time(next))
                    break;
                const qint64 start = instant(next, times->zone).toSecsSinceEpoch();
                if (start > last)
                    break;
                if (!excluded.contains(start))
                    starts.append(start);
            }
            icalrecur_iterator_free(it);
        }
        std::sort(starts.begin(), starts.end());
        starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
        return o;
    }

    void append(const EventText &text, const QDateTime &start, qint64 original, qint64 durationSecs,
                QList<CalendarEvent> &out) {
        const qint64 startSecs = start.toSecsSinceEpoch();
        if (startSecs >= m_to || startSecs + std::max<qint64>(durationSecs, 0) < m_from)
            return;
        CalendarEvent e;
        e.id = QStringLiteral("feed_%1_%2_%3")
                   .arg(m_owner.accountId, text.uid, QString::number(original));
        const EventText::Details &details = text.details();
        e.title = details.summary.value_or(QStringLiteral("(No title)"));
        e.startDate = start.toUTC();
        e.endDate = e.startDate.addSecs(durationSecs);
        e.calendarTitle = m_owner.calendarTitle;
        e.calendarColor = systemBlue();
        e.calendarId = m_owner.calendarId;
        e.provider = CalendarProvider::feed;
        e.accountId = m_owner.accountId;
        e.location = details.location;
        e.notes = details.description;
        e.meetingLink = text.meetingLink();
        e.attendeeEmails = details.attendees;
        // The organiser is a person to prepare for as much as any attendee.
        if (details.organizer &&
            !e.attendeeEmails.contains(*details.organizer, Qt::CaseInsensitive))
            e.attendeeEmails.append(*details.organizer);
        e.organizerEmail = details.organizer;
        out.append(std::move(e));
    }

    Calendar m_calendar;
    Zones m_zones;
    const FeedOwner &m_owner;
    qint64 m_from, m_to;
    QSet<QString> m_replaced;
};
} // namespace

namespace {
// Below this size a second thread costs more than it saves.
constexpr qsizetype parallelParseSize = 512 * 1024;

bool lineStartsWith(const char *line, const char *end, const char *word) {
    const size_t n = std::strlen(word);
    return size_t(end - line) >= n && qstrnicmp(line, word, n) == 0;
}

// Where a large feed of one calendar can be cut in two for libical to parse side by side: the
// start of the first VEVENT line past the middle. 0 when it cannot, or need not, be cut.
qsizetype splitPoint(const QByteArray &data) {
    if (data.size() < parallelParseSize)
        return 0;
    const char *begin = data.constData();
    const char *end = begin + data.size();
    int calendars = 0;
    qsizetype split = 0;
    for (const char *line = begin; line < end;) {
        if (lineStartsWith(line, end, "BEGIN:VCALENDAR"))
            ++calendars;
        else if (!split && line - begin >= data.size() / 2 &&
                 lineStartsWith(line, end, "BEGIN:VEVENT"))
            split = line - begin;
        const void *newline = std::memchr(line, '\n', size_t(end - line));
        line = newline ? static_cast<const char *>(newline) + 1 : end;
    }
    return calendars == 1 ? split : 0;
}

Component parseText(const QByteArray &text) {
    // libical reads up to the first NUL; QByteArray always ends in one.
    return Component(icalparser_parse_string(text.constData()), icalcomponent_free);
}

// Parses the feed, a large one in two halves on two threads: two VCALENDARs that together
// hold what the one would. Empty when libical read nothing.
std::vector<Component> parseFeed(const QByteArray &data) {
    std::vector<Component> pieces;
    const qsizetype split = splitPoint(data);
    if (split) {
        const QByteArray head = data.first(split) + "END:VCALENDAR\r\n";
        const QByteArray tail = "BEGIN:VCALENDAR\r\n" + data.sliced(split);
        Component first(nullptr, icalcomponent_free), second(nullptr, icalcomponent_free);
        sideBySide([&] { second = parseText(tail); }, [&] { first = parseText(head); });
        pieces.push_back(std::move(first));
        pieces.push_back(std::move(second));
        const bool whole = std::all_of(pieces.begin(), pieces.end(), [](const Component &c) {
            return c && icalcomponent_isa(c.get()) == ICAL_VCALENDAR_COMPONENT;
        });
        if (whole)
            return pieces;
        pieces.clear();
    }
    if (Component root = parseText(data))
        pieces.push_back(std::move(root));
    return pieces;
}

// Freeing a large feed is a tenth of the work: its two halves go side by side.
void freePieces(std::vector<Component> &pieces) {
    if (pieces.size() < 2)
        return;
    sideBySide([&] { pieces.back().reset(); }, [&] { pieces.front().reset(); });
}
} // namespace

bool FeedParser::looksLikeICalendar(const QByteArray &data) {
    qsizetype at = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (at < data.size() && std::isspace(static_cast<unsigned char>(data[at])))
        ++at;
    const QByteArrayView head =
        QByteArrayView(data).sliced(at).first(std::min<qsizetype>(15, data.size() - at));
    return head.compare("BEGIN:VCALENDAR", Qt::CaseInsensitive) == 0;
}

QList<CalendarEvent> FeedParser::parse(const QByteArray &data, const FeedOwner &owner,
                                       const QDateTime &from, const QDateTime &to) {
    if (!looksLikeICalendar(data))
        throw FeedError(FeedError::Reason::notICalendar);
    std::vector<Component> pieces = parseFeed(data);
    if (pieces.empty())
        throw FeedError(FeedError::Reason::notICalendar);
    QList<Calendar> calendars;
    icalcomponent *root = pieces.front().get();
    if (pieces.size() > 1)
        calendars.append(Calendar{root, pieces.back().get()});
    else if (icalcomponent_isa(root) == ICAL_VCALENDAR_COMPONENT)
        calendars.append(Calendar{root});
    else
        for (icalcomponent *c = icalcomponent_get_first_component(root, ICAL_VCALENDAR_COMPONENT);
             c; c = icalcomponent_get_next_component(root, ICAL_VCALENDAR_COMPONENT))
            calendars.append(Calendar{c});
    if (calendars.isEmpty())
        throw FeedError(FeedError::Reason::notICalendar);
    QList<CalendarEvent> events;
    for (const Calendar &calendar : std::as_const(calendars))
        Expander(calendar, owner, from, to).run(events);
    freePieces(pieces);
    return events;
}
