#pragma once

#include "core/CalendarEvent.h"
#include "core/Clock.h"
#include "core/MeetingBrief.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <optional>

class AppSettings;
#include "prep/AttendeeResearchService.h"

// Decides when each event's lead times fire, re-delivers snoozed reminders and starts
// research for meetings within the hour, keeping the briefs it gets back.
class ReminderScheduler : public QObject {
    Q_OBJECT

public:
    ReminderScheduler(CalendarService &calendarService, AttendeeResearchService &researchService,
                      AppSettings &settings, Clock &clock = Clock::system(),
                      QObject *parent = nullptr);
    ~ReminderScheduler() override;

    void start();
    void scheduleSnooze(const CalendarEvent &event);
    // Starts research now, whatever was triggered before (the menu's prep action uses it too).
    void triggerResearch(const CalendarEvent &event);

    const QHash<QString, MeetingBrief> &briefs() const { return m_briefs; }
    const QSet<QString> &researching() const { return m_researching; }

    static constexpr double beatSeconds = 15.0;
    static constexpr double snoozeSeconds = 60.0;
    static constexpr double researchHorizonSeconds = 3600.0;
    static constexpr double researchProgressTimeoutSeconds = 120.0;
    static constexpr double coldStartDelaySeconds = 2.0;

Q_SIGNALS:
    // offset is the lead time in seconds, or -1 for a snoozed re-delivery.
    void reminderFired(const CalendarEvent &event, double offset,
                       const std::optional<MeetingBrief> &brief);
    void briefsChanged();
    void researchingChanged();

private:
    void check();
    void checkReminders();
    void checkResearch(bool coldStart = false);
    std::optional<MeetingBrief> storedBrief(const QString &eventId) const;
    void deliver(const CalendarEvent &event, double offset);
    QCoro::Task<> runResearch(CalendarEvent event);

    QPointer<CalendarService> m_calendarService;
    QPointer<AttendeeResearchService> m_researchService;
    AppSettings &m_settings;
    Clock &m_clock;
    QSet<QString> m_firedReminders;
    QSet<QString> m_researchTriggered;
    QHash<QString, MeetingBrief> m_briefs;
    QSet<QString> m_researching;
    bool m_started = false;
};
