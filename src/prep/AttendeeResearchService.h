#pragma once

#include "LLMService.h"
#include "core/CalendarEvent.h"
#include "core/Clock.h"
#include "core/MeetingBrief.h"
#include "sync/CalendarService.h"
#include "sync/SlackService.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <chrono>
#include <optional>

class ResearchCache;
class SecretStore;

// Prepares the briefing for one upcoming meeting: sorts the participants into colleagues and
// external people, reuses cached research, and asks the model about the rest (or about the
// meeting's topic when nobody is external), with recent e-mail and Slack exchanges as context.
class AttendeeResearchService : public QObject {
    Q_OBJECT

public:
    AttendeeResearchService(LLMService &llm, ResearchCache &cache, CalendarService &calendar,
                            SlackService &slack, SecretStore &secrets, Clock &clock,
                            QObject *parent = nullptr);
    ~AttendeeResearchService() override;

    // The brief, or nothing; never throws. Call on the service's thread. While a run for the
    // event is in progress, another call returns nothing at once.
    QCoro::Task<std::optional<MeetingBrief>> researchMeeting(CalendarEvent event);

    // Ids of the events being researched right now, as the menu shows them. An id leaves when
    // its run ends or after progressTimeout, whichever comes first; the run itself goes on,
    // and a later call may start another.
    const QSet<QString> &researching() const { return m_researching; }

    static constexpr int maxAttendeesPerMeeting = 8;
    static constexpr std::chrono::seconds progressTimeout{120};

    // "Meeting with N known attendee(s). Research loaded from cache."
    MeetingBrief buildBriefFromCache(const CalendarEvent &event,
                                     const QList<MeetingBrief::AttendeeProfile> &profiles) const;

Q_SIGNALS:
    void researchingChanged();

protected:
    // One run: the brief when a model key is stored, or nothing.
    virtual QCoro::Task<std::optional<MeetingBrief>> prepareBrief(CalendarEvent event);

    // Where the user's domains and the e-mail and Slack context come from: the attached
    // calendar service and the Slack service.
    virtual QSet<QString> userDomains() const;
    virtual QCoro::Task<QHash<QString, QList<EmailThread>>> emailContext(QStringList addresses);
    virtual QCoro::Task<bool> slackConnected();
    virtual QCoro::Task<QHash<QString, QList<SlackMessage>>> slackContext(QStringList addresses);

private:
    QCoro::Task<std::optional<MeetingBrief>> research(CalendarEvent event);
    // Takes `eventId` out of researching() if the run `run` still holds it.
    void endProgress(const QString &eventId, quint64 run);

    QPointer<LLMService> m_llm;
    ResearchCache &m_cache;
    QPointer<CalendarService> m_calendarService;
    QPointer<SlackService> m_slack;
    SecretStore &m_secrets;
    Clock &m_clock;
    QSet<QString> m_researching;
    // The run each researching id belongs to, so a timed-out run cannot end a later one.
    QHash<QString, quint64> m_runOf;
    quint64 m_lastRun = 0;
};
