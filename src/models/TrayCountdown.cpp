#include "TrayCountdown.h"

#include "core/Clock.h"
#include "core/ClockTime.h"
#include "sync/CalendarService.h"

#include <algorithm>

TrayCountdown::TrayCountdown(CalendarService &calendar, Clock &clock, QObject *parent)
    : QObject(parent)
    , m_calendar(&calendar)
    , m_clock(clock) {
    connect(&calendar, &CalendarService::eventsChanged, this, &TrayCountdown::refresh);
    m_status = statusAt(calendar.events(), m_clock.now());
    planRefresh();
}

void TrayCountdown::refresh() {
    if (!m_calendar)
        return;
    TrayStatus next = statusAt(m_calendar->events(), m_clock.now());
    planRefresh();
    if (next == m_status)
        return;
    m_status = std::move(next);
    Q_EMIT statusChanged(m_status);
}

void TrayCountdown::planRefresh() {
    m_timer.reset();
    if (!m_calendar)
        return;
    const QDateTime now = m_clock.now();
    const std::optional<QDateTime> change = nextChange(m_calendar->events(), now);
    if (!change)
        return;
    m_timer = std::make_unique<QObject>();
    // At least a millisecond on: a change due now has been seen already.
    const auto wait =
        std::max(std::chrono::milliseconds(now.msecsTo(*change)), std::chrono::milliseconds(1));
    m_clock.after(wait, m_timer.get(), [this] { refresh(); });
}

std::optional<QDateTime> TrayCountdown::nextChange(const QList<CalendarEvent> &events,
                                                   const QDateTime &now) {
    using namespace std::chrono;
    const auto next = std::find_if(events.cbegin(), events.cend(),
                                   [&now](const CalendarEvent &e) { return e.isUpcoming(now); });
    if (next == events.cend())
        return std::nullopt;
    const milliseconds untilStart = next->timeUntilStart(now);
    // The date turning changes "at 14:30" to "No more meetings today" and back.
    const QDate today = now.toLocalTime().date();
    QDateTime change = QDateTime(today.addDays(1), QTime(0, 0)).toUTC();
    const auto consider = [&change](const QDateTime &at) { change = std::min(change, at); };
    if (untilStart > duration_cast<milliseconds>(markHorizon)) {
        consider(next->startDate.addSecs(-duration_cast<seconds>(markHorizon).count()));
    } else {
        // The whole minutes left drop once the time left is below the current count; the mark
        // turns urgent on a whole minute too.
        const milliseconds whole = floor<minutes>(untilStart);
        consider(now.addMSecs((untilStart - whole).count() + 1));
    }
    return change;
}

TrayStatus TrayCountdown::statusAt(const QList<CalendarEvent> &events, const QDateTime &now,
                                   const QLocale &locale) {
    const auto next = std::find_if(events.cbegin(), events.cend(),
                                   [&now](const CalendarEvent &e) { return e.isUpcoming(now); });
    TrayStatus status;
    if (next == events.cend()) {
        status.toolTip = tr("No more meetings today");
        return status;
    }
    const std::chrono::milliseconds untilStart = next->timeUntilStart(now);
    if (untilStart <= markHorizon) {
        const int minutes = int(std::chrono::floor<std::chrono::minutes>(untilStart).count());
        status.minutesLeft = minutes;
        status.urgent = untilStart <= urgentWithin;
        status.toolTip = minutes == 0 ? tr("%1 in less than a minute").arg(next->title)
                                      : tr("%1 in %n min", nullptr, minutes).arg(next->title);
        return status;
    }
    if (next->startDate.toLocalTime().date() != now.toLocalTime().date()) {
        status.toolTip = tr("No more meetings today");
        return status;
    }
    status.toolTip =
        tr("%1 at %2")
            .arg(next->title, ClockTime::format(next->startDate.toLocalTime().time(), locale));
    return status;
}
