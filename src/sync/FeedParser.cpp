#include "FeedParser.h"

#include "ProxyRecords.h"
#include "core/MeetingLinkParser.h"

#include <QCoreApplication>
#include <QHash>
#include <QTimeZone>

extern "C" {
#include <libical/ical.h>
}

#include <QtConcurrent>
#include <atomic>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>

QString FeedError::description() const {
    switch (m_reason) {
    case Reason::unreachable:
        return QCoreApplication::translate("FeedError", "The calendar feed could not be reached.");
    case Reason::httpStatus:
        return QCoreApplication::translate("FeedError",
                                           "The calendar feed answered with HTTP status %1.")
            .arg(m_status);
    case Reason::notICalendar:
        return QCoreApplication::translate("FeedError",
                                           "The address does not lead to an iCalendar feed.");
    case Reason::tooLarge:
        return QCoreApplication::translate("FeedError", "The calendar feed is larger than 20 MB.");
    case Reason::badAddress:
        return QCoreApplication::translate(
            "FeedError", "Use an https:// or webcal:// address, or a file on this computer.");
    case Reason::unreadable:
        return QCoreApplication::translate("FeedError", "The calendar file could not be read.");
    case Reason::tooDeep:
        return QCoreApplication::translate(
            "FeedError", "The calendar feed is malformed: its entries are nested too deeply.");
    case Reason::tooComplex:
        return QCoreApplication::translate(
            "FeedError",
            "The calendar feed repeats its events too often to be read. Ask its owner to "
            "simplify the recurring events.");
    case Reason::tooSlow:
        return QCoreApplication::translate(
            "FeedError", "The calendar feed took longer than a minute to arrive.");
    case Reason::stopped:
        return QCoreApplication::translate("FeedError", "Reading the calendar feed was stopped.");
    }
    return {};
}

namespace {
using Component = std::unique_ptr<icalcomponent, decltype(&icalcomponent_free)>;

// Dates one recurrence rule may yield: a rule of an event started years ago still ends.
constexpr int maximumInstancesPerRule = 5000;
// RFC 5545 asks for one RRULE per event; a few more are read, not sixty.
constexpr qsizetype maximumRulesPerEvent = 8;
// An event of more lines than this is no meeting (a thousand attendees is a few thousand).
constexpr int maximumLinesPerEvent = 20'000;
// The VTIMEZONEs of one calendar, in lines.
constexpr int maximumZoneLines = 20'000;

// Resolves TZIDs once per calendar: the feed's own VTIMEZONE first, then the tz database (IANA
// names, or Windows names as Outlook writes them). Safe to share between threads.
class Zones {
public:
    // `zones` is a VCALENDAR holding the calendar's VTIMEZONEs, or null.
    explicit Zones(icalcomponent *zones)
        : m_root(zones) {}

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
        icaltimezone *zone = m_root ? icalcomponent_get_timezone(m_root, name) : nullptr;
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
    icalcomponent *m_root;
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

// An instance of a series, by UID and original start.
QString instanceKey(const QString &uid, qint64 start) {
    return uid + QLatin1Char('\n') + QString::number(start);
}

// Where the feed's components lie, found by reading its lines before libical does.
struct Block {
    qsizetype begin = 0;
    qsizetype end = 0;
    qsizetype calendar = 0;
    // Carries a RECURRENCE-ID: it replaces one instance of a series.
    bool override = false;
};

struct Layout {
    QList<Block> events;
    // Per VCALENDAR: a VCALENDAR of its VTIMEZONEs, or empty when it has none.
    QList<QByteArray> zones;
};

bool nameIs(QByteArrayView line, QByteArrayView word) {
    return line.size() >= word.size() &&
           line.first(word.size()).compare(word, Qt::CaseInsensitive) == 0;
}

// The component a BEGIN: or END: line names; empty for any other line.
QByteArrayView componentName(QByteArrayView line, QByteArrayView keyword) {
    if (!nameIs(line, keyword))
        return {};
    QByteArrayView name = line.sliced(keyword.size());
    while (!name.isEmpty() && std::isspace(static_cast<unsigned char>(name.back())))
        name.chop(1);
    return name;
}

// A content line of the property `name`: the name ends at its parameters or its value.
bool isProperty(QByteArrayView line, QByteArrayView name) {
    return nameIs(line, name) &&
           (line.size() == name.size() || line[name.size()] == ':' || line[name.size()] == ';');
}

bool sameName(QByteArrayView name, QByteArrayView word) {
    return name.compare(word, Qt::CaseInsensitive) == 0;
}

// Reads the feed line by line (folded lines joined) and notes where each event and zone lies.
// Throws FeedError(tooDeep) for nesting no calendar needs: libical builds and frees its tree
// recursively, so depth is what could overflow a thread's stack.
Layout layoutOf(const QByteArray &data) {
    Layout layout;
    QList<QByteArray> zoneText;
    const char *const begin = data.constData();
    const char *const end = begin + data.size();
    int depth = 0;
    enum class Inside { nothing, event, zone } inside = Inside::nothing;
    Block block;
    int blockLines = 0;
    qsizetype zoneLines = 0;
    qsizetype calendar = -1;
    // A zone changes offset once or twice a year. A zone rule of another frequency would have
    // libical list its changes by the minute, for centuries.
    bool zoneUsable = true;
    // The first bytes of a logical line, unfolded: enough to tell BEGIN:VTIMEZONE,
    // RECURRENCE-ID and a zone's RRULE from other lines.
    char head[48];
    for (const char *line = begin; line < end;) {
        qsizetype headSize = 0;
        const char *next = line;
        bool first = true;
        do {
            const char *from = first ? next : next + 1;
            const void *newline = std::memchr(next, '\n', size_t(end - next));
            const char *stop = newline ? static_cast<const char *>(newline) : end;
            for (const char *c = from; c < stop && headSize < qsizetype(sizeof head); ++c)
                if (*c != '\r')
                    head[headSize++] = *c;
            next = newline ? stop + 1 : end;
            first = false;
        } while (next < end && (*next == ' ' || *next == '\t'));
        const qsizetype lineStart = line - begin;
        line = next;
        const QByteArrayView text(head, headSize);
        if (inside != Inside::nothing)
            ++blockLines;
        if (const QByteArrayView name = componentName(text, "BEGIN:"); !name.isEmpty()) {
            if (++depth > FeedParser::maximumDepth)
                throw FeedError(FeedError::Reason::tooDeep);
            if (depth == 1 && sameName(name, "VCALENDAR")) {
                ++calendar;
                layout.zones.append(QByteArray());
                zoneText.append(QByteArray());
            } else if (depth == 2 && calendar >= 0 && inside == Inside::nothing) {
                if (sameName(name, "VEVENT") || sameName(name, "VTIMEZONE")) {
                    inside = sameName(name, "VEVENT") ? Inside::event : Inside::zone;
                    block = Block{lineStart, 0, calendar, false};
                    blockLines = 1;
                    zoneUsable = true;
                }
            }
            continue;
        }
        if (!componentName(text, "END:").isEmpty()) {
            depth = std::max(depth - 1, 0);
            if (depth != 1 || inside == Inside::nothing)
                continue;
            block.end = line - begin;
            if (inside == Inside::event && blockLines <= maximumLinesPerEvent) {
                layout.events.append(block);
            } else if (inside == Inside::zone && zoneUsable &&
                       (zoneLines += blockLines) <= maximumZoneLines) {
                zoneText[block.calendar] +=
                    QByteArrayView(begin + block.begin, block.end - block.begin);
                zoneText[block.calendar] += "\r\n";
            }
            inside = Inside::nothing;
            continue;
        }
        if (inside == Inside::event && depth == 2 && isProperty(text, "RECURRENCE-ID"))
            block.override = true;
        if (inside == Inside::zone && isProperty(text, "RRULE") &&
            QByteArrayView(text).indexOf("FREQ=YEARLY") < 0 &&
            QByteArrayView(text).indexOf("freq=yearly") < 0)
            zoneUsable = false;
    }
    for (qsizetype i = 0; i < zoneText.size(); ++i)
        if (!zoneText[i].isEmpty())
            layout.zones[i] = "BEGIN:VCALENDAR\r\n" + zoneText[i] + "END:VCALENDAR\r\n";
    return layout;
}

Component parseText(const QByteArray &text) {
    // libical reads up to the first NUL; QByteArray always ends in one.
    return Component(icalparser_parse_string(text.constData()), icalcomponent_free);
}

// What the whole feed may spend, shared by every thread that expands it. Once spent, work
// stops at the next check and the feed is refused.
class Budget {
public:
    explicit Budget(std::stop_token stop)
        : m_stop(std::move(stop))
        , m_deadline(std::chrono::steady_clock::now() + FeedParser::maximumWork) {}

    // Between two steps of a walk: false once stopped, out of time or out of occurrences.
    bool proceed() {
        if (m_failure.load(std::memory_order_relaxed) != ok)
            return false;
        if (m_stop.stop_requested())
            fail(FeedError::Reason::stopped);
        else if (std::chrono::steady_clock::now() > m_deadline)
            fail(FeedError::Reason::tooComplex);
        return m_failure.load(std::memory_order_relaxed) == ok;
    }
    // Takes one occurrence inside the window from the feed's share.
    bool keep() {
        if (m_kept.fetch_add(1, std::memory_order_relaxed) >= FeedParser::maximumOccurrences)
            fail(FeedError::Reason::tooComplex);
        return proceed();
    }
    std::optional<FeedError::Reason> failure() const {
        const int failure = m_failure.load();
        return failure == ok ? std::nullopt : std::optional(FeedError::Reason(failure));
    }

private:
    static constexpr int ok = -1;
    void fail(FeedError::Reason reason) {
        int expected = ok;
        m_failure.compare_exchange_strong(expected, int(reason));
    }

    std::stop_token m_stop;
    std::chrono::steady_clock::time_point m_deadline;
    std::atomic<int> m_kept{0};
    std::atomic<int> m_failure{ok};
};

bool listed(const short *values, int size, int value) {
    for (int i = 0; i < size && values[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i)
        if (values[i] == value)
            return true;
    return false;
}

bool unlisted(const short *values) {
    return values[0] == ICAL_RECURRENCE_ARRAY_MAX;
}

// Whether a date can hold an instance of the rule, judged by its BYMONTH, BYMONTHDAY,
// BYYEARDAY and BYDAY parts alone. Every instance's date passes (those parts limit or expand to
// dates that match them), so a window in which no date passes holds no instance. libical
// would search centuries for a date that can never match (30 February) before giving up.
bool datePasses(const icalrecurrencetype &rule, const QDate &date) {
    if (!unlisted(rule.by_month) && !listed(rule.by_month, ICAL_BY_MONTH_SIZE, date.month()))
        return false;
    if (!unlisted(rule.by_month_day) &&
        !listed(rule.by_month_day, ICAL_BY_MONTHDAY_SIZE, date.day()) &&
        !listed(rule.by_month_day, ICAL_BY_MONTHDAY_SIZE, date.day() - date.daysInMonth() - 1))
        return false;
    if (!unlisted(rule.by_year_day) &&
        !listed(rule.by_year_day, ICAL_BY_YEARDAY_SIZE, date.dayOfYear()) &&
        !listed(rule.by_year_day, ICAL_BY_YEARDAY_SIZE, date.dayOfYear() - date.daysInYear() - 1))
        return false;
    if (unlisted(rule.by_day))
        return true;
    for (int i = 0; i < ICAL_BY_DAY_SIZE && rule.by_day[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
        // libical counts Sunday as 1, Qt counts Monday as 1.
        const int weekday = int(icalrecurrencetype_day_day_of_week(rule.by_day[i]));
        if ((weekday + 5) % 7 + 1 == date.dayOfWeek())
            return true;
    }
    return false;
}

bool anyDatePasses(const icalrecurrencetype &rule, const QDate &first, const QDate &last) {
    for (QDate d = first; d <= last; d = d.addDays(1))
        if (datePasses(rule, d))
            return true;
    return false;
}

bool timePasses(const icalrecurrencetype &rule, qint64 secondOfDay) {
    return (unlisted(rule.by_hour) ||
            listed(rule.by_hour, ICAL_BY_HOUR_SIZE, int(secondOfDay / 3600))) &&
           (unlisted(rule.by_minute) ||
            listed(rule.by_minute, ICAL_BY_MINUTE_SIZE, int(secondOfDay / 60 % 60))) &&
           (unlisted(rule.by_second) ||
            listed(rule.by_second, ICAL_BY_SECOND_SIZE, int(secondOfDay % 60)));
}

class Expander {
public:
    Expander(const QByteArray &data, const Layout &layout, const FeedOwner &owner,
             const QDateTime &from, const QDateTime &to, Budget &budget)
        : m_data(data)
        , m_layout(layout)
        , m_owner(owner)
        , m_from(from.toSecsSinceEpoch())
        , m_to(to.toSecsSinceEpoch())
        , m_budget(budget) {
        for (const QByteArray &zones : layout.zones) {
            m_zoneTrees.push_back(zones.isEmpty() ? Component(nullptr, icalcomponent_free)
                                                  : parseText(zones));
            m_zones.push_back(std::make_unique<Zones>(m_zoneTrees.back().get()));
        }
    }

    QList<CalendarEvent> run() {
        QList<Block> overrides, masters;
        for (const Block &block : m_layout.events)
            (block.override ? overrides : masters).append(block);
        // Overrides first: they name the instances that the series below leave out.
        QList<CalendarEvent> out;
        for (Outcome &o : acrossBlocks(overrides, [this](const EventText &text, Zones &zones) {
                 return readOverride(text, zones);
             })) {
            m_replaced.unite(o.replaced);
            out.append(std::move(o.events));
        }
        for (Outcome &o : acrossBlocks(masters, [this](const EventText &text, Zones &zones) {
                 return readSeries(text, zones);
             }))
            out.append(std::move(o.events));
        return out;
    }

private:
    struct Outcome {
        QList<CalendarEvent> events;
        QSet<QString> replaced;
    };

    struct Times {
        icaltimetype start;
        icaltimezone *zone;
        qint64 durationSecs;
    };

    // Below this many events a worker thread costs more than it saves.
    static constexpr qsizetype blocksPerTask = 128;

    // `read` applied to every block's event, on the pool's threads for a large feed; in feed
    // order.
    template <typename Read> QList<Outcome> acrossBlocks(const QList<Block> &blocks, Read read) {
        QList<QPair<qsizetype, qsizetype>> ranges;
        for (qsizetype at = 0; at < blocks.size(); at += blocksPerTask)
            ranges.append({at, std::min(at + blocksPerTask, blocks.size())});
        const auto readRange = [&](const QPair<qsizetype, qsizetype> &range) {
            Outcome merged;
            for (qsizetype i = range.first; i < range.second && m_budget.proceed(); ++i) {
                // Each event is parsed, read and freed on its own.
                const Component event = parseBlock(blocks[i]);
                if (!event)
                    continue;
                Outcome o = read(readEvent(event.get()), zonesOf(blocks[i]));
                merged.events.append(std::move(o.events));
                merged.replaced.unite(o.replaced);
            }
            return merged;
        };
        if (ranges.size() < 2)
            return ranges.isEmpty() ? QList<Outcome>() : QList<Outcome>{readRange(ranges.first())};
        return QtConcurrent::blockingMapped<QList<Outcome>>(ranges, readRange);
    }

    Component parseBlock(const Block &block) const {
        Component event = parseText(m_data.sliced(block.begin, block.end - block.begin));
        if (event && icalcomponent_isa(event.get()) != ICAL_VEVENT_COMPONENT)
            event.reset();
        return event;
    }

    Zones &zonesOf(const Block &block) { return *m_zones[size_t(block.calendar)]; }

    Outcome readOverride(const EventText &text, Zones &zones) {
        Outcome o;
        if (!text.recurrenceId)
            return o;
        const icaltimetype rid = icalproperty_get_recurrenceid(text.recurrenceId);
        if (icaltime_is_null_time(rid))
            return o;
        const qint64 original = instant(rid, zones.zoneOf(text.recurrenceId)).toSecsSinceEpoch();
        o.replaced.insert(instanceKey(text.uid, original));
        if (const auto times = timesOf(text, zones); times && !text.cancelled) {
            const qint64 start = instant(times->start, times->zone).toSecsSinceEpoch();
            if (inWindow(start, times->durationSecs) && m_budget.keep())
                append(text, start, original, times->durationSecs, o.events);
        }
        return o;
    }

    Outcome readSeries(const EventText &text, Zones &zones) {
        Outcome o;
        const auto times = text.cancelled ? std::nullopt : timesOf(text, zones);
        if (!times)
            return o;
        const bool recurring = !text.rrules.isEmpty() || !text.rdates.isEmpty();
        for (qint64 start : startsOf(text, *times, zones))
            if (!recurring || !m_replaced.contains(instanceKey(text.uid, start)))
                append(text, start, start, times->durationSecs, o.events);
        return o;
    }

    bool inWindow(qint64 start, qint64 durationSecs) const {
        return start < m_to && start + std::max<qint64>(durationSecs, 0) >= m_from;
    }

    std::optional<Times> timesOf(const EventText &text, Zones &zones) {
        if (!text.dtstart)
            return std::nullopt;
        const icaltimetype start = icalproperty_get_dtstart(text.dtstart);
        // All-day events never remind.
        if (icaltime_is_null_time(start) || start.is_date)
            return std::nullopt;
        icaltimezone *zone = zones.zoneOf(text.dtstart);
        qint64 duration = 0;
        if (text.dtend) {
            const icaltimetype end = icalproperty_get_dtend(text.dtend);
            if (!icaltime_is_null_time(end))
                duration = instant(start, zone).secsTo(instant(end, zones.zoneOf(text.dtend)));
        } else if (text.duration) {
            duration = icaldurationtype_as_int(icalproperty_get_duration(text.duration));
        }
        return Times{start, zone, duration};
    }

    // The starts of one event that overlap the window, sorted and distinct; each one taken
    // from the feed's budget.
    QList<qint64> startsOf(const EventText &text, const Times &times, Zones &zones) {
        QSet<qint64> excluded;
        for (icalproperty *p : text.exdates) {
            const icaltimetype t = icalproperty_get_exdate(p);
            if (!icaltime_is_null_time(t))
                excluded.insert(instant(t, zones.zoneOf(p)).toSecsSinceEpoch());
        }
        QList<qint64> starts;
        const auto consider = [&](qint64 start) {
            if (inWindow(start, times.durationSecs) && !excluded.contains(start) && m_budget.keep())
                starts.append(start);
        };
        consider(instant(times.start, times.zone).toSecsSinceEpoch());
        for (icalproperty *p : text.rdates) {
            const icaldatetimeperiodtype rdate = icalproperty_get_rdate(p);
            if (!icaltime_is_null_time(rdate.time) && !rdate.time.is_date)
                consider(instant(rdate.time, zones.zoneOf(p)).toSecsSinceEpoch());
        }
        for (icalproperty *p :
             text.rrules.first(std::min(text.rrules.size(), maximumRulesPerEvent))) {
            const icalrecurrencetype rule = icalproperty_get_rrule(p);
            if (!anyDatePasses(rule,
                               QDateTime::fromSecsSinceEpoch(m_from, Qt::UTC).date().addDays(-2),
                               QDateTime::fromSecsSinceEpoch(m_to, Qt::UTC).date().addDays(2)))
                continue;
            if (rule.freq == ICAL_SECONDLY_RECURRENCE || rule.freq == ICAL_MINUTELY_RECURRENCE ||
                rule.freq == ICAL_HOURLY_RECURRENCE)
                walkWithinDays(rule, times, consider);
            else
                walkRule(rule, times, consider);
        }
        std::sort(starts.begin(), starts.end());
        starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
        return starts;
    }

    // A day of slack on both sides covers floating times in any local zone.
    qint64 walkEnd() const { return m_to + 86400; }

    template <typename Consider>
    void walkRule(const icalrecurrencetype &rule, const Times &times, Consider &consider) {
        icalrecur_iterator *it = icalrecur_iterator_new(rule, times.start);
        if (!it)
            return;
        if (rule.count == 0) {
            // Jump close to the window instead of walking from a start years ago.
            const icaltimetype jump = icaltime_from_timet_with_zone(
                time_t(m_from - 86400 - times.durationSecs), 0,
                times.zone ? times.zone : icaltimezone_get_utc_timezone());
            if (icaltime_compare(jump, times.start) > 0) {
                icaltimetype local = jump;
                local.zone = times.start.zone;
                local.is_date = 0;
                icalrecur_iterator_set_start(it, local);
            }
        }
        for (int n = 0; n < maximumInstancesPerRule && m_budget.proceed(); ++n) {
            const icaltimetype next = icalrecur_iterator_next(it);
            if (icaltime_is_null_time(next))
                break;
            const qint64 start = instant(next, times.zone).toSecsSinceEpoch();
            if (start > walkEnd())
                break;
            consider(start);
        }
        icalrecur_iterator_free(it);
    }

    // Hourly, minutely and secondly rules are walked here, a local day at a time: libical
    // steps through every second of the centuries ahead looking for a match that may never
    // come. Steps keep to the rule's interval from DTSTART; BYSETPOS and BYWEEKNO, which no
    // meeting uses with these, are not applied.
    template <typename Consider>
    void walkWithinDays(const icalrecurrencetype &rule, const Times &times, Consider &consider) {
        const qint64 unit = rule.freq == ICAL_HOURLY_RECURRENCE     ? 3600
                            : rule.freq == ICAL_MINUTELY_RECURRENCE ? 60
                                                                    : 1;
        const qint64 step = unit * std::max<qint64>(rule.interval, 1);
        const qint64 first = instant(times.start, times.zone).toSecsSinceEpoch();
        const qint64 until =
            icaltime_is_null_time(rule.until)
                ? walkEnd()
                : std::min(walkEnd(), instant(rule.until, times.zone).toSecsSinceEpoch());
        const auto localMidnight = [&](const QDate &day) {
            icaltimetype t = times.start;
            t.year = day.year();
            t.month = day.month();
            t.day = day.day();
            t.hour = t.minute = t.second = 0;
            return instant(t, times.zone).toSecsSinceEpoch();
        };
        // Counted rules count from DTSTART; others start a day before the window.
        const qint64 walkFrom = rule.count > 0 ? first : std::max(first, m_from - 86400);
        icaltimetype startDay = icaltime_from_timet_with_zone(
            time_t(walkFrom), 0, times.zone ? times.zone : icaltimezone_get_utc_timezone());
        int counted = 0;
        for (QDate day(startDay.year, startDay.month, startDay.day); day.isValid();
             day = day.addDays(1)) {
            if (!m_budget.proceed())
                return;
            const qint64 dayStart = localMidnight(day);
            if (dayStart > until)
                return;
            if (!datePasses(rule, day))
                continue;
            const qint64 dayEnd = localMidnight(day.addDays(1));
            qint64 t = first + std::max<qint64>(0, (dayStart - first + step - 1) / step) * step;
            for (; t < dayEnd && t <= until; t += step) {
                if (!timePasses(rule, t - dayStart))
                    continue;
                if (rule.count > 0 && ++counted > rule.count)
                    return;
                consider(t);
                if (!m_budget.proceed())
                    return;
            }
        }
    }

    void append(const EventText &text, qint64 startSecs, qint64 original, qint64 durationSecs,
                QList<CalendarEvent> &out) {
        if (!inWindow(startSecs, durationSecs))
            return;
        CalendarEvent e;
        e.id = QStringLiteral("feed_%1_%2_%3")
                   .arg(m_owner.accountId, text.uid, QString::number(original));
        const EventText::Details &details = text.details();
        e.title = details.summary.value_or(QStringLiteral("(No title)"));
        e.startDate = QDateTime::fromSecsSinceEpoch(startSecs, Qt::UTC);
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

    const QByteArray &m_data;
    const Layout &m_layout;
    const FeedOwner &m_owner;
    qint64 m_from, m_to;
    Budget &m_budget;
    std::vector<Component> m_zoneTrees;
    std::vector<std::unique_ptr<Zones>> m_zones;
    QSet<QString> m_replaced;
};
} // namespace

namespace {
// Undoes the escapes of an iCalendar TEXT value; a line break becomes a space.
QByteArray unescapedText(QByteArrayView value) {
    QByteArray text;
    text.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        const char next = value[++i];
        text += next == 'n' || next == 'N' ? ' ' : next;
    }
    return text;
}

// Control characters and bidirectional overrides become spaces: the name is shown as one line
// and must not turn the text around it. Joiners stay, for emoji sequences.
QString cleanedName(QString name) {
    for (QChar &c : name) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control ||
            (category == QChar::Other_Format && c != QChar(0x200D)))
            c = u' ';
    }
    name = name.simplified();
    if (name.size() > FeedParser::maximumNameLength) {
        name.truncate(FeedParser::maximumNameLength);
        if (name.back().isHighSurrogate())
            name.chop(1);
        name = name.trimmed();
    }
    return name;
}
} // namespace

std::optional<QString> FeedParser::calendarName(const QByteArray &data) {
    // A real header has a dozen lines of a few dozen bytes; the rest of a line is not needed.
    constexpr qsizetype maximumLineBytes = 4096;
    constexpr int maximumHeaderLines = 1000;
    const QByteArrayView all(data);
    qsizetype at = all.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    bool inCalendar = false;
    for (int lines = 0; at < all.size() && lines < maximumHeaderLines; ++lines) {
        // One logical line: a line that starts with a space or a tab continues the one before.
        QByteArray line;
        for (bool first = true;; first = false) {
            const qsizetype newline = all.indexOf('\n', at);
            const qsizetype stop = newline < 0 ? all.size() : newline;
            QByteArrayView piece = all.sliced(at, stop - at);
            if (!first)
                piece = piece.sliced(1);
            if (piece.endsWith('\r'))
                piece.chop(1);
            line += piece.first(std::min(piece.size(), maximumLineBytes - line.size()));
            at = stop + 1;
            if (at >= all.size() || (all[at] != ' ' && all[at] != '\t'))
                break;
        }
        if (const QByteArrayView name = componentName(line, "BEGIN:"); !name.isEmpty()) {
            // The calendar's own lines end where its first component begins.
            if (inCalendar)
                return std::nullopt;
            inCalendar = sameName(name, "VCALENDAR");
            continue;
        }
        if (!componentName(line, "END:").isEmpty())
            return std::nullopt;
        if (!inCalendar || !isProperty(line, "X-WR-CALNAME"))
            continue;
        // The value follows the first colon outside a quoted parameter value.
        bool quoted = false;
        for (qsizetype i = 0; i < line.size(); ++i) {
            if (line[i] == '"') {
                quoted = !quoted;
            } else if (line[i] == ':' && !quoted) {
                const QString name = cleanedName(
                    QString::fromUtf8(unescapedText(QByteArrayView(line).sliced(i + 1))));
                return name.isEmpty() ? std::nullopt : std::optional(name);
            }
        }
        return std::nullopt;
    }
    return std::nullopt;
}

bool FeedParser::looksLikeICalendar(const QByteArray &data) {
    qsizetype at = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (at < data.size() && std::isspace(static_cast<unsigned char>(data[at])))
        ++at;
    const QByteArrayView head =
        QByteArrayView(data).sliced(at).first(std::min<qsizetype>(15, data.size() - at));
    return head.compare("BEGIN:VCALENDAR", Qt::CaseInsensitive) == 0;
}

QList<CalendarEvent> FeedParser::parse(const QByteArray &data, const FeedOwner &owner,
                                       const QDateTime &from, const QDateTime &to,
                                       std::stop_token stop) {
    if (!looksLikeICalendar(data))
        throw FeedError(FeedError::Reason::notICalendar);
    const Layout layout = layoutOf(data);
    if (layout.zones.isEmpty())
        throw FeedError(FeedError::Reason::notICalendar);
    Budget budget(std::move(stop));
    QList<CalendarEvent> events = Expander(data, layout, owner, from, to, budget).run();
    if (const auto failure = budget.failure())
        throw FeedError(*failure);
    return events;
}
