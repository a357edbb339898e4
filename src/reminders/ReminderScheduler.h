#pragma once

#include "FiredReminders.h"
#include "core/CalendarEvent.h"
#include "core/Clock.h"
#include "core/MeetingBrief.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <chrono>
#include <memory>
#include <optional>

class AppSettings;
#include "prep/AttendeeResearchService.h"

// Decides when each event's lead times fire, re-delivers snoozed reminders and starts
// research for meetings within the hour, keeping the briefs it gets back. A meeting whose
// reminder fell due while the app could not show it (the ten minutes before it started, or
// while the machine slept) gets one late reminder while it runs.
class ReminderScheduler : public QObject {
    Q_OBJECT

public:
    // The record of shown reminders is kept in `stateFolder`, or in memory when it is empty.
    ReminderScheduler(CalendarService &calendarService, AttendeeResearchService &researchService,
                      AppSettings &settings, Clock &clock, const QString &stateFolder = {},
                      QObject *parent = nullptr);
    ~ReminderScheduler() override;

    void start();
    void scheduleSnooze(const CalendarEvent &event);
    // The user dismissed the meeting's reminder: its pending snooze ends, and no late reminder
    // follows.
    void dismiss(const QString &eventId);
    // The app could not show reminders from `from` to `to` (the machine slept): those that
    // fell due meanwhile are shown late, and the calendars are read again at once.
    void noteMissedSpan(const QDateTime &from, const QDateTime &to);
    // The machine is about to sleep, and has woken: the time between is a missed span.
    void noteSleeping();
    void noteWoken();
    // The wall clock was set: a jump forward past the next planned wake is a missed span.
    void noteClockChanged();
    // Starts research now, whatever was triggered before (the menu's prep action uses it too).
    void triggerResearch(const CalendarEvent &event);

    const QHash<QString, MeetingBrief> &briefs() const { return m_briefs; }
    // The research service's set: one record of what is being researched.
    const QSet<QString> &researching() const;

    // A lead time fires from this long before it falls due until 30 s after.
    static constexpr std::chrono::seconds earlyWindow{15};
    // The scheduler sleeps until the next thing is due (a reminder's window, a meeting
    // entering the research hour), but never longer than this.
    static constexpr std::chrono::minutes longestSleep{30};
    static constexpr std::chrono::seconds snoozeDelay{60};
    static constexpr std::chrono::hours researchHorizon{1};
    static constexpr std::chrono::seconds coldStartDelay{2};
    // How far back before the app started a missed reminder is still shown.
    static constexpr std::chrono::minutes startUpReach{10};
    // Waking later than planned by more than this means the clock jumped or the machine slept.
    static constexpr std::chrono::seconds jumpThreshold{60};

Q_SIGNALS:
    // `leadTime` is the lead time that fell due; none for a snoozed re-delivery.
    void reminderFired(const CalendarEvent &event, std::optional<std::chrono::seconds> leadTime,
                       const std::optional<MeetingBrief> &brief);
    void briefsChanged();
    void researchingChanged();
    // Each planned wake, after its check.
    void ticked();

private:
    void check();
    void checkReminders();
    // Drops the record of reminders shown for events no calendar lists any more.
    void forgetRemovedEvents();
    void checkResearch(bool coldStart = false);
    std::optional<MeetingBrief> storedBrief(const QString &eventId) const;
    void deliver(const CalendarEvent &event, std::optional<std::chrono::seconds> leadTime);
    void cancelSnooze(const QString &eventId);
    void wake();
    // Arms the one timer for the next thing due.
    void planWake();
    QDateTime nextDue(const QDateTime &now) const;
    // Whether one of the event's lead times fell due, unshown, while reminders could not show.
    bool missedWhileAway(const CalendarEvent &event,
                         const QList<std::chrono::seconds> &offsets) const;
    QCoro::Task<> runResearch(CalendarEvent event);

    QPointer<CalendarService> m_calendarService;
    QPointer<AttendeeResearchService> m_researchService;
    AppSettings &m_settings;
    Clock &m_clock;
    FiredReminders m_fired;
    QDateTime m_startedAt;
    // Spans in which no reminder could show: the machine slept, or the clock jumped.
    QList<std::pair<QDateTime, QDateTime>> m_missedSpans;
    // When the clock was last seen live, and when the timer is next due.
    QDateTime m_lastSeen;
    QDateTime m_plannedWake;
    // Owns the pending wake's timer: replacing it cancels that timer.
    std::unique_ptr<QObject> m_wake;
    QDateTime m_sleptAt;
    // A pending snooze's timer context, by event id.
    QHash<QString, QObject *> m_snoozes;
    QSet<QString> m_researchTriggered;
    QHash<QString, MeetingBrief> m_briefs;
    bool m_started = false;
};
