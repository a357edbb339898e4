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
}

void TrayCountdown::refresh() {
    if (!m_calendar)
        return;
    TrayStatus next = statusAt(m_calendar->events(), m_clock.now());
    if (next == m_status)
        return;
    m_status = std::move(next);
    Q_EMIT statusChanged(m_status);
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
