#pragma once

#include "core/CalendarEvent.h"
#include "core/Clock.h"
#include "core/MeetingBrief.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <chrono>
#include <optional>

class AppSettings;
#include "prep/AttendeeResearchService.h"

// Decides when each event's lead times fire, re-delivers snoozed reminders and starts
// research for meetings within the hour, keeping the briefs it gets back.
class ReminderScheduler : public QObject {
    Q_OBJECT

public:
    ReminderScheduler(CalendarService &calendarService, AttendeeResearchService &researchService,
                      AppSettings &settings, Clock &clock, QObject *parent = nullptr);
    ~ReminderScheduler() override;

    void start();
    void scheduleSnooze(const CalendarEvent &event);
    // Drops the meeting's pending snooze, if any: the user dismissed its reminder.
    void cancelSnooze(const QString &eventId);
    // Starts research now, whatever was triggered before (the menu's prep action uses it too).
    void triggerResearch(const CalendarEvent &event);

    const QHash<QString, MeetingBrief> &briefs() const { return m_briefs; }
    // The research service's set: one record of what is being researched.
    const QSet<QString> &researching() const;

    static constexpr std::chrono::seconds beat{15};
    static constexpr std::chrono::seconds snoozeDelay{60};
    static constexpr std::chrono::hours researchHorizon{1};
    static constexpr std::chrono::seconds coldStartDelay{2};

Q_SIGNALS:
    // `leadTime` is the lead time that fell due; none for a snoozed re-delivery.
    void reminderFired(const CalendarEvent &event, std::optional<std::chrono::seconds> leadTime,
                       const std::optional<MeetingBrief> &brief);
    void briefsChanged();
    void researchingChanged();

private:
    void check();
    void checkReminders();
    void checkResearch(bool coldStart = false);
    std::optional<MeetingBrief> storedBrief(const QString &eventId) const;
    void deliver(const CalendarEvent &event, std::chrono::seconds leadTime);
    QCoro::Task<> runResearch(CalendarEvent event);

    QPointer<CalendarService> m_calendarService;
    QPointer<AttendeeResearchService> m_researchService;
    AppSettings &m_settings;
    Clock &m_clock;
    QSet<QString> m_firedReminders;
    // A pending snooze's timer context, by event id.
    QHash<QString, QObject *> m_snoozes;
    QSet<QString> m_researchTriggered;
    QHash<QString, MeetingBrief> m_briefs;
    bool m_started = false;
};
