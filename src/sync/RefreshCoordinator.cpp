#include "RefreshCoordinator.h"

#include "AccountRegistry.h"
#include "CalendarProxyClient.h"
#include "DesktopCalendars.h"
#include "FeedPoller.h"
#include "SyncLog.h"
#include "core/AppSettings.h"
#include "core/Clock.h"

#include <QCoroFuture>
#include <QPointer>
#include <algorithm>

RefreshCoordinator::RefreshCoordinator(AccountRegistry &accounts, CalendarProxyClient &proxy,
                                       FeedPoller &feeds, DesktopCalendars &desktop,
                                       AppSettings &settings, Clock &clock,
                                       const QString &cacheFolder, QObject *parent)
    : QObject(parent)
    , m_accounts(accounts)
    , m_proxy(proxy)
    , m_feeds(feeds)
    , m_desktop(desktop)
    , m_settings(settings)
    , m_clock(clock)
    , m_cache(cacheFolder) {
    connect(&m_accounts, &AccountRegistry::accountRemoved, this,
            &RefreshCoordinator::forgetAccount);
    connect(&m_desktop, &DesktopCalendars::eventsChanged, this,
            &RefreshCoordinator::takeDesktopEvents);
    connect(&m_desktop, &DesktopCalendars::calendarsChanged, this,
            &RefreshCoordinator::takeDesktopCalendars);
    restoreCache();
}

void RefreshCoordinator::takeDesktopEvents() {
    bool taken = false;
    for (const ConnectedAccount &account : m_accounts.accounts()) {
        if (account.provider != CalendarProvider::desktop)
            continue;
        m_batches.insert(
            account.id,
            AccountBatch{account, m_desktop.listedCalendars(), {}, m_desktop.events(account.id)});
        taken = true;
    }
    if (taken)
        publishBatches();
}

void RefreshCoordinator::takeDesktopCalendars() {
    AccountCalendars calendars = m_accountCalendars;
    bool taken = false;
    for (const ConnectedAccount &account : m_accounts.accounts()) {
        if (account.provider != CalendarProvider::desktop)
            continue;
        calendars.insert(account.id, m_desktop.listedCalendars());
        taken = true;
    }
    if (taken)
        setAccountCalendars(std::move(calendars));
}

RefreshCoordinator::~RefreshCoordinator() {
    stopMonitoring();
}

void RefreshCoordinator::restoreCache() {
    QSet<QString> connected;
    for (const ConnectedAccount &account : m_accounts.accounts())
        connected.insert(account.id);
    m_cache.keepOnly(connected);
    bool restored = false;
    for (const ConnectedAccount &account : m_accounts.accounts()) {
        const auto kept = m_cache.lists().constFind(account.id);
        if (kept == m_cache.lists().cend())
            continue;
        // Stamped with the account as it is now, whatever the file says.
        QList<CalendarEvent> events = *kept;
        for (CalendarEvent &event : events) {
            event.accountId = account.id;
            event.provider = account.provider;
        }
        m_batches.insert(account.id, AccountBatch{account, {}, {}, std::move(events)});
        restored = true;
    }
    if (restored)
        publishBatches();
}

void RefreshCoordinator::forgetAccount(const ConnectedAccount &account) {
    m_cache.drop(account.id);
    // Its meetings leave at once, not after a refresh that may be waiting on a slow feed.
    if (m_batches.remove(account.id))
        publishBatches();
    refreshInBackground();
}

void RefreshCoordinator::publishEvents(QList<CalendarEvent> events) {
    m_events = std::move(events);
    Q_EMIT eventsChanged();
}

void RefreshCoordinator::setLoading(bool loading) {
    m_isLoading = loading;
    Q_EMIT isLoadingChanged();
}

void RefreshCoordinator::setAccountCalendars(AccountCalendars calendars) {
    m_accountCalendars = std::move(calendars);
    Q_EMIT accountCalendarsChanged();
}

void RefreshCoordinator::refreshInBackground() {
    // fetchEvents catches its own failures, so nothing escapes this unawaited task.
    fetchEvents();
}

void RefreshCoordinator::startMonitoring() {
    stopMonitoring();
    m_monitor = std::make_unique<QObject>();
    refreshInBackground();
    QPointer<RefreshCoordinator> self(this);
    m_clock.every(interval, m_monitor.get(), [self] {
        if (self)
            self->refreshInBackground();
    });
}

void RefreshCoordinator::stopMonitoring() {
    m_monitor.reset();
}

QCoro::Task<RefreshCoordinator::AccountCalendars> RefreshCoordinator::listCalendars() {
    QPointer<RefreshCoordinator> self(this);
    const QList<ConnectedAccount> accounts = m_accounts.accounts();
    AccountCalendars result;
    for (const ConnectedAccount &account : accounts) {
        if (account.provider == CalendarProvider::feed) {
            result.insert(account.id, {FeedPoller::calendarOf(account)});
            continue;
        }
        if (account.provider == CalendarProvider::desktop) {
            result.insert(account.id, m_desktop.listedCalendars());
            continue;
        }
        if (account.grantId.isEmpty())
            continue;
        try {
            auto calendars = co_await m_proxy.fetchCalendars(account.grantId);
            result.insert(account.id, std::move(calendars));
        } catch (const std::exception &error) {
            // An account whose calendars cannot be listed loses its entry.
            qCWarning(lcSync) << "Listing the calendars of account" << account.id
                              << "failed:" << error.what();
        }
        if (!self)
            co_return result;
    }
    co_return result;
}

QCoro::Task<> RefreshCoordinator::fetchCalendars() {
    QPointer<RefreshCoordinator> self(this);
    AccountCalendars calendars = co_await listCalendars();
    if (self)
        self->setAccountCalendars(std::move(calendars));
}

QCoro::Task<> RefreshCoordinator::fetchEvents() {
    if (m_refreshing) {
        if (!m_followUp) {
            m_followUp = std::make_unique<QPromise<void>>();
            m_followUp->start();
        }
        // Also ends, cancelled, when this service goes away first.
        QFuture<void> followUpDone = m_followUp->future();
        co_await followUpDone;
        co_return;
    }
    QPointer<RefreshCoordinator> self(this);
    m_refreshing = true;
    setLoading(true);
    // Those who asked during a run are answered by the next one.
    std::unique_ptr<QPromise<void>> answered;
    do {
        co_await refreshOnce();
        if (!self)
            co_return;
        if (answered)
            answered->finish();
        answered = std::move(m_followUp);
    } while (answered);
    m_refreshing = false;
    setLoading(false);
}

QCoro::Task<> RefreshCoordinator::refreshOnce() {
    QPointer<RefreshCoordinator> self(this);
    AccountCalendars calendars = co_await listCalendars();
    if (!self)
        co_return;
    setAccountCalendars(calendars);

    // Every account is fetched at once and published as it arrives, so a slow feed holds up
    // only its own events. The tasks start eagerly; awaiting them in turn waits for all.
    std::vector<QCoro::Task<>> fetches;
    for (const ConnectedAccount &account : m_accounts.accounts())
        fetches.push_back(refreshAccount(account, calendars.value(account.id)));
    for (QCoro::Task<> &fetch : fetches)
        co_await std::move(fetch);
}

QCoro::Task<> RefreshCoordinator::refreshAccount(ConnectedAccount account,
                                                 QList<ProxyCalendar> calendars) {
    QPointer<RefreshCoordinator> self(this);
    AccountBatch batch{account, std::move(calendars), {}, {}};
    if (account.provider == CalendarProvider::feed) {
        batch.calendars = {FeedPoller::calendarOf(account)};
        batch.converted = co_await m_feeds.poll(account);
        // A failed poll hands back the feed's last good events, or none: the batch published
        // before (perhaps from disk) stays.
        if (!self || m_feeds.errors().contains(account.id))
            co_return;
    } else if (account.provider == CalendarProvider::desktop) {
        // Kept current by the store's views; the poll only moves the window on.
        m_desktop.refresh();
        batch.calendars = m_desktop.listedCalendars();
        batch.converted = m_desktop.events(account.id);
    } else {
        if (account.grantId.isEmpty())
            co_return;
        try {
            batch.events = co_await m_proxy.fetchEvents(account.grantId, QStringLiteral("primary"));
        } catch (const std::exception &error) {
            qCWarning(lcSync) << "Fetching the events of account" << account.id
                              << "failed:" << error.what();
            co_return;
        }
    }
    if (!self || !m_accounts.contains(account.id))
        co_return;
    m_cache.store(account.id, convertBatch(batch));
    m_batches.insert(account.id, std::move(batch));
    publishBatches();
}

QList<CalendarEvent> RefreshCoordinator::convertBatch(const AccountBatch &batch) {
    QList<CalendarEvent> events;
    events.reserve(batch.events.size() + batch.converted.size());
    CalendarEventConverter converter(batch.account.id, batch.account.provider, batch.calendars);
    for (const ProxyEvent &proxyEvent : batch.events)
        if (auto event = converter.convert(proxyEvent))
            events.append(std::move(*event));
    events.append(batch.converted);
    return events;
}

void RefreshCoordinator::publishBatches() {
    QList<AccountBatch> batches;
    for (const ConnectedAccount &account : m_accounts.accounts())
        if (const auto found = m_batches.constFind(account.id); found != m_batches.cend())
            batches.append(*found);
    publishEvents(mergeEvents(batches, m_clock.now(), m_settings.disabledCalendarIds()));
}

QList<CalendarEvent> RefreshCoordinator::mergeEvents(const QList<AccountBatch> &batches,
                                                     const QDateTime &now,
                                                     const QSet<QString> &disabledCalendars) {
    // What is kept is decided first, on starts and positions alone; the kept events are then
    // made (or copied) straight into their sorted places, so no large record is moved around.
    struct Kept {
        qint64 start; // ms since the epoch
        qsizetype batch;
        qsizetype index; // in the batch's proxy events, or past them in its converted ones
    };
    qsizetype total = 0;
    for (const AccountBatch &batch : batches)
        total += batch.events.size() + batch.converted.size();
    const qint64 nowMs = now.toMSecsSinceEpoch();
    std::vector<Kept> kept;
    kept.reserve(size_t(total));
    // Views of the batches' own ids: nothing is copied or counted per event.
    QSet<QStringView> seen;
    seen.reserve(total);
    // One look-up per event: whether the id is new is whether the set grew.
    const auto firstSighting = [&seen](QStringView id) {
        const qsizetype before = seen.size();
        seen.insert(id);
        return seen.size() != before;
    };
    for (qsizetype b = 0; b < batches.size(); ++b) {
        const AccountBatch &batch = batches[b];
        for (qsizetype i = 0; i < batch.events.size(); ++i) {
            // Proxy events are never all-day. A meeting stays until it ends: it can still be
            // joined.
            const ProxyEvent &proxyEvent = batch.events[i];
            if (!CalendarEventConverter::converts(proxyEvent) ||
                *proxyEvent.when->endTime * 1000 <= nowMs)
                continue;
            if (proxyEvent.calendarId && disabledCalendars.contains(*proxyEvent.calendarId))
                continue;
            if (firstSighting(proxyEvent.id))
                kept.push_back({*proxyEvent.when->startTime * 1000, b, i});
        }
        for (qsizetype i = 0; i < batch.converted.size(); ++i) {
            const CalendarEvent &event = batch.converted[i];
            if (event.isAllDay || event.endDate.toMSecsSinceEpoch() <= nowMs)
                continue;
            if (event.calendarId && disabledCalendars.contains(*event.calendarId))
                continue;
            if (firstSighting(event.id))
                kept.push_back({event.startDate.toMSecsSinceEpoch(), b, batch.events.size() + i});
        }
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const Kept &a, const Kept &b) { return a.start < b.start; });
    std::vector<std::optional<CalendarEventConverter>> converters(size_t(batches.size()));
    QList<CalendarEvent> sorted;
    sorted.reserve(qsizetype(kept.size()));
    for (const Kept &k : kept) {
        const AccountBatch &batch = batches[k.batch];
        if (k.index >= batch.events.size()) {
            sorted.append(batch.converted[k.index - batch.events.size()]);
            continue;
        }
        std::optional<CalendarEventConverter> &converter = converters[size_t(k.batch)];
        if (!converter)
            converter.emplace(batch.account.id, batch.account.provider, batch.calendars);
        converter->convertInto(batch.events[k.index], sorted.emplace_back());
    }
    return sorted;
}

std::optional<CalendarEvent> RefreshCoordinator::nextEvent() const {
    const QDateTime now = m_clock.now();
    for (const CalendarEvent &event : m_events)
        if (event.isUpcoming(now))
            return event;
    return std::nullopt;
}
