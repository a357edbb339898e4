#pragma once

#include "core/CalendarEvent.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>

class CalendarService;
class Clock;

// What the tray icon says about the next meeting: its tooltip, and the mark of minutes left
// the icon carries within the hour before it.
struct TrayStatus {
    QString toolTip;
    // Whole minutes until the next meeting starts, while that is at most an hour.
    std::optional<int> minutesLeft;
    // The meeting is five minutes away or less.
    bool urgent = false;

    bool operator==(const TrayStatus &) const = default;
};

// Follows the calendar and works out the tray's status; announces it only when it changes.
// It reads the time when the events change and wakes by itself only when the status will
// next change (a minute less to go, a meeting starting, the date turning), not on a beat.
class TrayCountdown : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::minutes markHorizon{60};
    static constexpr std::chrono::minutes urgentWithin{5};

    TrayCountdown(CalendarService &calendar, Clock &clock, QObject *parent = nullptr);

    const TrayStatus &status() const { return m_status; }
    // Reads the time and the events again.
    void refresh();

    // The next meeting that has not started: "Design review in 4 min" (at most an hour away,
    // whole minutes rounded down), "Design review at 14:30" (later today), or "No more
    // meetings today". `events` are sorted by start.
    static TrayStatus statusAt(const QList<CalendarEvent> &events, const QDateTime &now,
                               const QLocale &locale = QLocale());
    // When statusAt next gives another answer with the same events; none while no meeting is
    // ahead.
    static std::optional<QDateTime> nextChange(const QList<CalendarEvent> &events,
                                               const QDateTime &now);

Q_SIGNALS:
    void statusChanged(const TrayStatus &status);

private:
    void planRefresh();

    QPointer<CalendarService> m_calendar;
    Clock &m_clock;
    TrayStatus m_status;
    // Owns the pending refresh's timer: replacing it cancels that timer.
    std::unique_ptr<QObject> m_timer;
};
