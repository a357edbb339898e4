#pragma once

#include "core/CalendarEvent.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <chrono>
#include <optional>
#include <stop_token>

// A calendar feed that cannot be used; the description never carries the feed's address.
class FeedError : public Error {
public:
    enum class Reason {
        unreachable,
        httpStatus,
        notICalendar,
        tooLarge,
        badAddress,
        unreadable,
        tooDeep,
        tooComplex,
        tooSlow,
        stopped,
    };

    explicit FeedError(Reason reason, int status = 0)
        : m_reason(reason)
        , m_status(status) {}
    Reason reason() const { return m_reason; }
    QString description() const override;

private:
    Reason m_reason;
    int m_status;
};

// Who the feed's events belong to, and how they are labelled.
struct FeedOwner {
    QString accountId;
    QString calendarId;
    QString calendarTitle;
};

// Turns iCalendar text into the meetings of a time window: recurring events are expanded
// (RRULE, RDATE, EXDATE, instances overridden by RECURRENCE-ID), times are resolved through
// the feed's VTIMEZONEs or the tz database (floating times are local), all-day and cancelled
// events are left out.
//
// A feed is a stranger's input, so the work is bounded whatever it holds: each event is parsed
// on its own (memory follows the largest event, not the feed), nesting deeper than a calendar
// needs is refused before libical sees it, and the whole feed shares one budget of kept
// occurrences and of time.
namespace FeedParser {
inline constexpr qint64 maximumSize = 20 * 1024 * 1024;
// BEGIN/END nesting a feed may use; real calendars need four (VCALENDAR, VEVENT, VALARM...).
inline constexpr int maximumDepth = 64;
// Occurrences inside the window, across the whole feed.
inline constexpr int maximumOccurrences = 20'000;
// Time spent expanding one feed.
inline constexpr std::chrono::seconds maximumWork{10};

// Characters kept of a calendar's own name.
inline constexpr int maximumNameLength = 100;

// True when the data starts (after a byte-order mark and blank space) with BEGIN:VCALENDAR.
bool looksLikeICalendar(const QByteArray &data);
// The name the calendar gives itself (X-WR-CALNAME), read from the first calendar's own lines
// before its first component; escapes undone, control characters dropped, blank space
// collapsed and cut to maximumNameLength. Absent when the feed names none.
std::optional<QString> calendarName(const QByteArray &data);
// Every event instance that overlaps [from, to), in feed order. Throws FeedError: notICalendar
// when the data is no calendar, tooDeep or tooComplex past the bounds above, stopped once
// `stop` is requested.
QList<CalendarEvent> parse(const QByteArray &data, const FeedOwner &owner, const QDateTime &from,
                           const QDateTime &to, std::stop_token stop = {});
} // namespace FeedParser
