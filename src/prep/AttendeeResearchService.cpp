#include "AttendeeResearchService.h"

#include "PrepLog.h"
#include "ResearchCache.h"
#include "ResearchPrompt.h"
#include "platform/SecretStore.h"

#include <QThread>
#include <algorithm>

using Profile = MeetingBrief::AttendeeProfile;

AttendeeResearchService::AttendeeResearchService(LLMService &llm, ResearchCache &cache,
                                                 CalendarService &calendar, SlackService &slack,
                                                 SecretStore &secrets, Clock &clock,
                                                 QObject *parent)
    : QObject(parent)
    , m_llm(&llm)
    , m_cache(cache)
    , m_calendarService(&calendar)
    , m_slack(&slack)
    , m_secrets(secrets)
    , m_clock(clock) {}

AttendeeResearchService::~AttendeeResearchService() = default;

MeetingBrief AttendeeResearchService::buildBriefFromCache(const CalendarEvent &event,
                                                          const QList<Profile> &profiles) const {
    return {event.id,
            m_clock.now(),
            {tr("Meeting with %n known attendee(s). Research loaded from cache.", nullptr,
                int(profiles.size()))},
            profiles,
            {}};
}

QSet<QString> AttendeeResearchService::userDomains() const {
    return m_calendarService ? m_calendarService->userDomains() : QSet<QString>{};
}

QCoro::Task<QHash<QString, QList<EmailThread>>>
AttendeeResearchService::emailContext(QStringList addresses) {
    QPointer<CalendarService> calendar = m_calendarService;
    if (!calendar)
        co_return {};
    co_return co_await calendar->fetchEmailContext(std::move(addresses));
}

QCoro::Task<bool> AttendeeResearchService::slackConnected() {
    QPointer<SlackService> slack = m_slack;
    if (!slack)
        co_return false;
    co_return co_await slack->isConnected();
}

QCoro::Task<QHash<QString, QList<SlackMessage>>>
AttendeeResearchService::slackContext(QStringList addresses) {
    QPointer<SlackService> slack = m_slack;
    if (!slack)
        co_return {};
    co_return co_await slack->fetchContextForAttendees(std::move(addresses));
}

void AttendeeResearchService::endProgress(const QString &eventId, quint64 run) {
    const auto it = m_runOf.constFind(eventId);
    if (it == m_runOf.constEnd() || *it != run)
        return;
    m_runOf.erase(it);
    m_researching.remove(eventId);
    Q_EMIT researchingChanged();
}

QCoro::Task<std::optional<MeetingBrief>>
AttendeeResearchService::researchMeeting(CalendarEvent event) {
    // `researching` is only ever touched on this object's thread, so it needs no lock.
    Q_ASSERT(QThread::currentThread() == thread());
    if (m_researching.contains(event.id))
        co_return std::nullopt;
    const quint64 run = ++m_lastRun;
    m_researching.insert(event.id);
    m_runOf.insert(event.id, run);
    Q_EMIT researchingChanged();
    // Only the progress indication times out; the run itself goes on.
    const QString id = event.id;
    m_clock.after(progressTimeout, this, [this, id, run] { endProgress(id, run); });

    QPointer<AttendeeResearchService> self(this);
    std::optional<MeetingBrief> brief;
    try {
        brief = co_await prepareBrief(event);
    } catch (const std::exception &error) {
        // Research is best effort; a failure that slipped through the run means no brief.
        qCWarning(lcPrep) << "Researching event" << event.id << "failed:" << error.what();
        brief = std::nullopt;
    }
    if (self) {
        Q_ASSERT(QThread::currentThread() == thread());
        endProgress(id, run);
    }
    co_return brief;
}

QCoro::Task<std::optional<MeetingBrief>>
AttendeeResearchService::prepareBrief(CalendarEvent event) {
    QPointer<AttendeeResearchService> self(this);
    const auto key = co_await m_secrets.load(QString::fromLatin1(SecretStore::llmApiKey));
    if (!self || !key || key->isEmpty())
        co_return std::nullopt;
    co_return co_await research(event);
}

QCoro::Task<std::optional<MeetingBrief>> AttendeeResearchService::research(CalendarEvent event) {
    QPointer<AttendeeResearchService> self(this);
    const QSet<QString> domains = userDomains();

    QStringList internal, external;
    for (const QString &address : event.attendeeEmails) {
        if (Attendee(address, std::nullopt, domains).isExternal)
            external.append(address);
        else
            internal.append(address);
    }
    if (external.size() > maxAttendeesPerMeeting)
        external.resize(maxAttendeesPerMeeting);

    QList<Profile> internalProfiles;
    for (const QString &address : internal)
        internalProfiles.append(ResearchPrompt::colleagueProfile(address));

    QList<Profile> cachedProfiles;
    QStringList uncached;
    for (const QString &address : external) {
        if (const auto hit = m_cache.get(Attendee(address, std::nullopt, domains).id))
            cachedProfiles.append(hit->profile);
        else
            uncached.append(address);
    }

    if (uncached.isEmpty() && !cachedProfiles.isEmpty())
        co_return buildBriefFromCache(event, cachedProfiles + internalProfiles);

    const QStringList contextAddresses = external + internal;
    QString emailSection, slackSection;
    if (!contextAddresses.isEmpty()) {
        try {
            emailSection = ResearchPrompt::emailSection(co_await emailContext(contextAddresses));
        } catch (const std::exception &error) {
            // The e-mail context is optional; the prompt goes without it.
            qCWarning(lcPrep) << "E-mail context for event" << event.id
                              << "failed:" << error.what();
        }
        if (!self)
            co_return std::nullopt;
        const bool withSlack = co_await slackConnected();
        if (!self)
            co_return std::nullopt;
        if (withSlack) {
            try {
                slackSection =
                    ResearchPrompt::slackSection(co_await slackContext(contextAddresses));
            } catch (const std::exception &error) {
                // Likewise for Slack.
                qCWarning(lcPrep) << "Slack context for event" << event.id
                                  << "failed:" << error.what();
            }
            if (!self)
                co_return std::nullopt;
        }
    }

    const QString header = ResearchPrompt::meetingHeader(event);
    const QString internalSection = ResearchPrompt::internalSection(internal);
    const bool topicMode = uncached.isEmpty() && cachedProfiles.isEmpty();
    const QString systemPrompt =
        topicMode ? ResearchPrompt::topicSystemPrompt() : ResearchPrompt::attendeeSystemPrompt();
    const QString userPrompt =
        topicMode
            ? ResearchPrompt::topicUserPrompt(header, internalSection, emailSection, slackSection)
            : ResearchPrompt::attendeeUserPrompt(header, uncached, cachedProfiles, internalSection,
                                                 emailSection, slackSection);

    std::optional<BriefingResponse> response;
    if (QPointer<LLMService> llm = m_llm) {
        try {
            response = co_await llm->generateBriefing(systemPrompt, userPrompt);
        } catch (const std::exception &error) {
            // Any model failure falls back to what is already known.
            qCWarning(lcPrep) << "The briefing for event" << event.id << "failed:" << error.what();
        }
    }
    if (!self)
        co_return std::nullopt;

    if (!response) {
        const QList<Profile> known = cachedProfiles + internalProfiles;
        if (known.isEmpty())
            co_return std::nullopt;
        co_return buildBriefFromCache(event, known);
    }

    // The model may name anyone; only this meeting's external participants are kept, under
    // the address the event gives them, so the cache finds them again.
    QList<Profile> modelProfiles;
    for (BriefingResponse::Profile p : response->attendeeProfiles) {
        const auto own = std::find_if(external.cbegin(), external.cend(), [&](const QString &a) {
            return a.compare(p.email, Qt::CaseInsensitive) == 0;
        });
        if (own == external.cend())
            continue;
        p.email = *own;
        const QString id = Attendee(p.email, std::nullopt, domains).id;
        m_cache.store(id, CachedResearch(id, p, event.id, m_clock.now()));
        modelProfiles.append(p);
    }
    co_return MeetingBrief{event.id, m_clock.now(), response->summary,
                           cachedProfiles + modelProfiles + internalProfiles,
                           response->talkingPoints};
}
