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
// It reads the time when told to (on the scheduler's beat) and when the events change, so it
// never wakes the process by itself.
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

Q_SIGNALS:
    void statusChanged(const TrayStatus &status);

private:
    QPointer<CalendarService> m_calendar;
    Clock &m_clock;
    TrayStatus m_status;
};
