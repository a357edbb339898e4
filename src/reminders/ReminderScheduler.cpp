#include "ReminderScheduler.h"

#include "ReminderLog.h"
#include "core/AppSettings.h"
#include "prep/AttendeeResearchService.h"
#include "sync/CalendarService.h"

#include <QMetaObject>
#include <deque>

namespace {
using namespace std::chrono_literals;

QString firedKey(const QString &eventId, std::chrono::seconds leadTime) {
    return eventId + u'-' + QString::number(leadTime.count());
}

// One late reminder per meeting; a dismissed meeting gets none.
QString lateKey(const QString &eventId) {
    return eventId + QStringLiteral("-late");
}
QString dismissedKey(const QString &eventId) {
    return eventId + QStringLiteral("-dismissed");
}

// Event ids may contain hyphens themselves, so the id is everything before the last one.
QStringView eventIdOfKey(const QString &key) {
    const qsizetype hyphen = key.lastIndexOf(u'-');
    return hyphen < 0 ? QStringView(key) : QStringView(key).left(hyphen);
}

// Each account's lead times for one pass, made on first use. The accounts are few and their
// events share the id's text, so a short list compared in turn beats hashing thousands of ids.
template <typename Offsets> class OffsetsByAccount {
public:
    explicit OffsetsByAccount(const QHash<QString, QList<ReminderOffset>> &accountReminders)
        : m_accountReminders(accountReminders) {}

    const Offsets &of(const QString &accountId) {
        // An account's events share its id's text: the same characters are found before any
        // text is compared.
        for (const auto &[id, offsets] : m_rows)
            if (id.constData() == accountId.constData() && id.size() == accountId.size())
                return offsets;
        for (const auto &[id, offsets] : m_rows)
            if (id == accountId)
                return offsets;
        Offsets offsets;
        for (const std::chrono::seconds offset :
             AppSettings::reminderOffsets(m_accountReminders, accountId))
            offsets.append(offset);
        m_rows.emplace_back(accountId, std::move(offsets));
        return m_rows.back().second;
    }

private:
    const QHash<QString, QList<ReminderOffset>> &m_accountReminders;
    std::deque<std::pair<QString, Offsets>> m_rows;
};
} // namespace

ReminderScheduler::ReminderScheduler(CalendarService &calendarService,
                                     AttendeeResearchService &researchService,
                                     AppSettings &settings, Clock &clock,
                                     const QString &stateFolder, QObject *parent)
    : QObject(parent)
    , m_calendarService(&calendarService)
    , m_researchService(&researchService)
    , m_settings(settings)
    , m_clock(clock)
    , m_fired(stateFolder) {
    connect(&researchService, &AttendeeResearchService::researchingChanged, this,
            &ReminderScheduler::researchingChanged);
}

const QSet<QString> &ReminderScheduler::researching() const {
    static const QSet<QString> none;
    return m_researchService ? m_researchService->researching() : none;
}

ReminderScheduler::~ReminderScheduler() = default;

void ReminderScheduler::start() {
    if (m_started)
        return;
    m_started = true;
    m_startedAt = m_clock.now();
    connect(m_calendarService, &CalendarService::eventsChanged, this, [this] {
        // Only a published list is news of removed events, not the empty one before it.
        forgetRemovedEvents();
        check();
    });
    check();
    m_clock.after(coldStartDelay, this, [this] { checkResearch(true); });
}

void ReminderScheduler::wake() {
    const QDateTime now = m_clock.now();
    // Far later than planned: the machine slept or the clock was set forward.
    if (m_plannedWake.isValid() &&
        m_plannedWake.secsTo(now) > std::chrono::seconds(jumpThreshold).count())
        noteMissedSpan(m_lastSeen, now);
    else
        check();
    Q_EMIT ticked();
}

void ReminderScheduler::noteClockChanged() {
    if (m_started)
        wake();
}

void ReminderScheduler::planWake() {
    const QDateTime now = m_clock.now();
    m_lastSeen = now;
    m_plannedWake = nextDue(now);
    m_wake = std::make_unique<QObject>();
    m_clock.after(std::chrono::milliseconds(now.msecsTo(m_plannedWake)), m_wake.get(),
                  [this] { wake(); });
}

QDateTime ReminderScheduler::nextDue(const QDateTime &now) const {
    const qint64 nowMs = now.toMSecsSinceEpoch();
    qint64 next = nowMs + std::chrono::milliseconds(longestSleep).count();
    const auto consider = [nowMs, &next](qint64 due) {
        if (due > nowMs && due < next)
            next = due;
    };
    if (!m_calendarService)
        return QDateTime::fromMSecsSinceEpoch(next, Qt::UTC);
    const auto accountReminders = m_settings.accountReminders();
    OffsetsByAccount<QList<std::chrono::milliseconds>> offsetsByAccount(accountReminders);
    static const QList<std::chrono::milliseconds> atStartOnly{0ms};
    const qint64 early = std::chrono::milliseconds(earlyWindow).count();
    const qint64 researchLead = std::chrono::milliseconds(researchHorizon).count();
    for (const CalendarEvent &event : m_calendarService->events()) {
        const qint64 start = event.startDate.toMSecsSinceEpoch();
        if (start <= nowMs)
            continue;
        const QList<std::chrono::milliseconds> &offsets =
            event.accountId ? offsetsByAccount.of(*event.accountId) : atStartOnly;
        for (const std::chrono::milliseconds offset : offsets)
            consider(start - offset.count() - early);
        // A lead time that fell due while reminders could not show comes late, at the start.
        if (!m_missedSpans.isEmpty())
            consider(start);
        // Looked up only when it would be the next thing due.
        const qint64 research = start - researchLead;
        if (research > nowMs && research < next && !event.attendeeEmails.isEmpty() &&
            !m_researchTriggered.contains(event.id))
            next = research;
    }
    return QDateTime::fromMSecsSinceEpoch(next, Qt::UTC);
}

void ReminderScheduler::noteMissedSpan(const QDateTime &from, const QDateTime &to) {
    qCInfo(lcReminders) << "Reminders could not show from" << from << "to" << to;
    m_missedSpans.append({from, to});
    // A day of spans is all a running meeting can need.
    m_missedSpans.removeIf([&to](const auto &span) { return span.second.secsTo(to) > 86400; });
    check();
    if (m_calendarService)
        m_calendarService->fetchEvents();
}

void ReminderScheduler::noteSleeping() {
    m_sleptAt = m_clock.now();
}

void ReminderScheduler::noteWoken() {
    const QDateTime now = m_clock.now();
    // The span covers the jump the planned wake would see; the check plans a new one.
    m_plannedWake = QDateTime();
    noteMissedSpan(m_sleptAt.isValid() ? std::exchange(m_sleptAt, QDateTime()) : now, now);
}

bool ReminderScheduler::missedWhileAway(const CalendarEvent &event,
                                        const QList<std::chrono::seconds> &offsets) const {
    // Started in the minutes before the app did (a login, a crash, an update's restart): every
    // lead time fell due before the start; one shown by the app's last run counts as shown.
    const bool startedBefore =
        event.startDate <= m_startedAt &&
        event.startDate.secsTo(m_startedAt) <= std::chrono::seconds(startUpReach).count();
    for (const std::chrono::seconds offset : offsets) {
        if (m_fired.contains(firedKey(event.id, offset)))
            continue;
        if (startedBefore)
            return true;
        const QDateTime due = event.startDate.addSecs(-offset.count());
        for (const auto &[from, to] : m_missedSpans)
            if (from <= due && due <= to)
                return true;
    }
    return false;
}

void ReminderScheduler::check() {
    checkReminders();
    checkResearch();
    if (m_started)
        planWake();
}

void ReminderScheduler::checkReminders() {
    if (!m_calendarService)
        return;
    const QDateTime now = m_clock.now();
    const qint64 nowMs = now.toMSecsSinceEpoch();
    const QList<CalendarEvent> &events = m_calendarService->events();
    const auto accountReminders = m_settings.accountReminders();
    OffsetsByAccount<QList<std::chrono::seconds>> offsetsByAccount(accountReminders);
    static const QList<std::chrono::seconds> atStartOnly{0s};
    // Times as milliseconds since the epoch: comparing QDateTimes costs more than the rest of
    // the pass over thousands of events.
    for (const CalendarEvent &event : events) {
        const std::chrono::milliseconds untilStart(event.startDate.toMSecsSinceEpoch() - nowMs);
        if (untilStart <= 0ms && event.endDate.toMSecsSinceEpoch() <= nowMs)
            continue;
        const QList<std::chrono::seconds> *offsets =
            event.accountId ? &offsetsByAccount.of(*event.accountId) : &atStartOnly;
        if (untilStart <= 0ms) {
            // Under way: only a reminder the app could not show in time comes now, once.
            if (!m_fired.contains(lateKey(event.id)) && !m_fired.contains(dismissedKey(event.id)) &&
                missedWhileAway(event, *offsets)) {
                m_fired.insert(lateKey(event.id), now);
                deliver(event, std::nullopt);
            }
            continue;
        }
        for (const std::chrono::seconds offset : *offsets) {
            // Due from earlyWindow before the fire time until 30 s after it. Checking the window
            // before the fired set spares building a key for every offset on every beat.
            const std::chrono::milliseconds delta = untilStart - offset;
            if (!(delta <= earlyWindow && delta > -30s))
                continue;
            const QString key = firedKey(event.id, offset);
            if (m_fired.contains(key))
                continue;
            m_fired.insert(key, now);
            deliver(event, offset);
        }
    }
}

void ReminderScheduler::forgetRemovedEvents() {
    if (!m_calendarService)
        return;
    if (m_fired.all().isEmpty())
        return;
    // The few events something was shown for, looked for among the many published.
    QSet<QStringView> fired;
    for (auto key = m_fired.all().keyBegin(); key != m_fired.all().keyEnd(); ++key)
        fired.insert(eventIdOfKey(*key));
    QSet<QStringView> present;
    for (const CalendarEvent &event : m_calendarService->events())
        if (fired.contains(event.id))
            present.insert(event.id);
    m_fired.removeIf(
        [&present](const QString &key) { return !present.contains(eventIdOfKey(key)); });
}

void ReminderScheduler::deliver(const CalendarEvent &event,
                                std::optional<std::chrono::seconds> leadTime) {
    const std::optional<MeetingBrief> brief = storedBrief(event.id);
    // Firings never run inside a check pass: a listener may open windows or snooze.
    QMetaObject::invokeMethod(
        this, [this, event, leadTime, brief] { Q_EMIT reminderFired(event, leadTime, brief); },
        Qt::QueuedConnection);
}

std::optional<MeetingBrief> ReminderScheduler::storedBrief(const QString &eventId) const {
    const auto it = m_briefs.constFind(eventId);
    return it == m_briefs.constEnd() ? std::nullopt : std::optional(*it);
}

void ReminderScheduler::scheduleSnooze(const CalendarEvent &event) {
    // One snooze per meeting: the latest replaces any still pending.
    cancelSnooze(event.id);
    auto *pending = new QObject(this);
    m_snoozes.insert(event.id, pending);
    m_clock.after(snoozeDelay, pending, [this, event, pending] {
        m_snoozes.remove(event.id);
        pending->deleteLater();
        Q_EMIT reminderFired(event, std::nullopt, storedBrief(event.id));
    });
}

void ReminderScheduler::dismiss(const QString &eventId) {
    cancelSnooze(eventId);
    m_fired.insert(dismissedKey(eventId), m_clock.now());
}

void ReminderScheduler::cancelSnooze(const QString &eventId) {
    // Deleting the context cancels the timer armed on it.
    delete m_snoozes.take(eventId);
}

void ReminderScheduler::checkResearch(bool coldStart) {
    if (!m_calendarService)
        return;
    const qint64 nowMs = m_clock.now().toMSecsSinceEpoch();
    // A copy: triggering research may publish changes that observers react to.
    const QList<CalendarEvent> events = m_calendarService->events();
    for (const CalendarEvent &event : events) {
        const std::chrono::milliseconds until(event.startDate.toMSecsSinceEpoch() - nowMs);
        if (until <= 0ms || until > researchHorizon || event.attendeeEmails.isEmpty())
            continue;
        // The cold-start pass runs regardless of what the first checks already started.
        if (coldStart || !m_researchTriggered.contains(event.id))
            triggerResearch(event);
    }
}

void ReminderScheduler::triggerResearch(const CalendarEvent &event) {
    m_researchTriggered.insert(event.id);
    // The research service marks the event as being researched, for as long as that lasts.
    runResearch(event);
}

QCoro::Task<> ReminderScheduler::runResearch(CalendarEvent event) {
    QPointer<ReminderScheduler> self(this);
    QPointer<AttendeeResearchService> service = m_researchService;
    if (!service)
        co_return;
    std::optional<MeetingBrief> brief;
    try {
        brief = co_await service->researchMeeting(event);
    } catch (const std::exception &error) {
        // Research is best effort: a failed run leaves no brief and is not retried.
        qCWarning(lcReminders) << "meeting research failed:" << error.what();
    } catch (...) {
        qCWarning(lcReminders) << "meeting research failed";
    }
    if (!self)
        co_return;
    if (brief) {
        m_briefs.insert(event.id, *brief);
        Q_EMIT briefsChanged();
    }
}
