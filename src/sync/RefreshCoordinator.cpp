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
#include <QThreadPool>
#include <QtConcurrent>
#include <algorithm>
#include <bit>
#include <numeric>

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
        // Taken at once: a batch still being prepared from an earlier refresh is older.
        ++m_batchGenerations[account.id];
        m_batches.insert(
            account.id,
            prepareBatch(AccountBatch{
                account, m_desktop.listedCalendars(), {}, m_desktop.events(account.id)}));
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

QCoro::Task<> RefreshCoordinator::restoreCache() {
    QPointer<RefreshCoordinator> self(this);
    QFuture<void> loaded = m_cache.loaded();
    co_await loaded;
    if (!self)
        co_return;
    QSet<QString> connected;
    for (const ConnectedAccount &account : m_accounts.accounts())
        connected.insert(account.id);
    m_cache.keepOnly(connected);
    bool restored = false;
    for (const ConnectedAccount &account : m_accounts.accounts()) {
        const auto kept = m_cache.lists().constFind(account.id);
        // A refresh or the desktop's store may have been quicker than the disk.
        if (kept == m_cache.lists().cend() || m_batches.contains(account.id))
            continue;
        // Stamped with the account as it is now, whatever the file says.
        QList<CalendarEvent> events = *kept;
        for (CalendarEvent &event : events) {
            event.accountId = account.id;
            event.provider = account.provider;
        }
        m_batches.insert(account.id,
                         prepareBatch(AccountBatch{account, {}, {}, std::move(events)}));
        restored = true;
    }
    if (restored)
        publishBatches();
}

void RefreshCoordinator::forgetAccount(const ConnectedAccount &account) {
    m_cache.drop(account.id);
    m_batchGenerations.remove(account.id);
    // Its meetings leave at once, not after a refresh that may be waiting on a slow feed.
    if (m_batches.remove(account.id))
        publishBatches();
    refreshInBackground();
}

void RefreshCoordinator::publishEvents(QList<CalendarEvent> events) {
    QList<CalendarEvent> replaced = std::exchange(m_events, std::move(events));
    Q_EMIT eventsChanged();
    // Letting go of thousands of records is left to a worker; their texts are shared, and
    // shared safely, with the lists the main thread keeps.
    if (!replaced.isEmpty())
        QThreadPool::globalInstance()->start(
            [replaced = std::move(replaced)]() mutable { replaced = QList<CalendarEvent>(); });
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
    // The kept lists first: a fresh one must not be overwritten by what the disk held.
    QFuture<void> loaded = m_cache.loaded();
    co_await loaded;
    if (!self)
        co_return;
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
    // Once per refresh, not per account: the file holds every account's events.
    if (self)
        co_await m_cache.save();
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
    co_await takeBatch(std::move(batch));
}

QCoro::Task<> RefreshCoordinator::takeBatch(AccountBatch batch) {
    QPointer<RefreshCoordinator> self(this);
    const QString accountId = batch.account.id;
    const quint64 generation = ++m_batchGenerations[accountId];
    // Converting and ordering thousands of events is the bulk of a refresh; the main thread
    // only interleaves the accounts' prepared lists.
    QFuture<PreparedBatch> preparing =
        QtConcurrent::run([batch = std::move(batch)] { return prepareBatch(batch); });
    PreparedBatch prepared = co_await preparing;
    if (!self || !m_accounts.contains(accountId) ||
        m_batchGenerations.value(accountId) != generation)
        co_return;
    m_cache.replace(accountId, prepared.events);
    m_batches.insert(accountId, std::move(prepared));
    publishBatches();
}

void RefreshCoordinator::publishBatches() {
    QList<PreparedBatch> batches;
    batches.reserve(m_batches.size());
    for (const ConnectedAccount &account : m_accounts.accounts())
        if (const auto found = m_batches.constFind(account.id); found != m_batches.cend())
            batches.append(*found);
    publishEvents(mergePrepared(batches, m_clock.now(), m_settings.disabledCalendarIds()));
}

QList<CalendarEvent> RefreshCoordinator::mergeEvents(const QList<AccountBatch> &batches,
                                                     const QDateTime &now,
                                                     const QSet<QString> &disabledCalendars) {
    QList<PreparedBatch> prepared;
    prepared.reserve(batches.size());
    for (const AccountBatch &batch : batches)
        prepared.append(prepareBatch(batch));
    return mergePrepared(prepared, now, disabledCalendars);
}

RefreshCoordinator::PreparedBatch RefreshCoordinator::prepareBatch(const AccountBatch &batch) {
    QList<CalendarEvent> collected;
    collected.reserve(batch.events.size() + batch.converted.size());
    CalendarEventConverter converter(batch.account.id, batch.account.provider, batch.calendars);
    for (const ProxyEvent &proxyEvent : batch.events)
        if (CalendarEventConverter::converts(proxyEvent))
            converter.convertInto(proxyEvent, collected.emplace_back());
    collected.append(batch.converted);

    const auto count = size_t(collected.size());
    std::vector<PreparedBatch::Key> keys(count);
    for (size_t i = 0; i < count; ++i) {
        const CalendarEvent &event = collected[qsizetype(i)];
        keys[i] = {event.startDate.toMSecsSinceEpoch(), event.endDate.toMSecsSinceEpoch(),
                   qHash(event.id)};
    }
    std::vector<quint32> order(count);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&keys](quint32 a, quint32 b) { return keys[a].start < keys[b].start; });

    PreparedBatch prepared;
    prepared.events.reserve(collected.size());
    prepared.keys.reserve(count);
    for (const quint32 i : order) {
        prepared.events.append(std::move(collected[i]));
        prepared.keys.push_back(keys[i]);
    }
    QSet<QStringView> ids;
    ids.reserve(prepared.events.size());
    for (const CalendarEvent &event : std::as_const(prepared.events))
        ids.insert(event.id);
    if (ids.size() != prepared.events.size()) {
        // Where each collected event went, in the order collected.
        prepared.collected.resize(count);
        for (size_t sorted = 0; sorted < count; ++sorted)
            prepared.collected[order[sorted]] = quint32(sorted);
    }
    return prepared;
}

namespace {
// The ids seen so far, by the hashes the batches carry: no id is hashed on the main thread and
// only equal hashes compare the text.
class SeenIds {
public:
    explicit SeenIds(size_t count)
        : m_slots(std::bit_ceil(std::max<size_t>(2 * count, 16))) {}

    // Whether `id` is new; it is noted either way.
    bool firstSighting(const QString &id, size_t hash) {
        const size_t mask = m_slots.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot &slot = m_slots[i];
            if (!slot.id) {
                slot = {hash, &id};
                return true;
            }
            if (slot.hash == hash && *slot.id == id)
                return false;
        }
    }

private:
    struct Slot {
        size_t hash = 0;
        const QString *id = nullptr;
    };
    std::vector<Slot> m_slots;
};
} // namespace

QList<CalendarEvent> RefreshCoordinator::mergePrepared(const QList<PreparedBatch> &batches,
                                                       const QDateTime &now,
                                                       const QSet<QString> &disabledCalendars) {
    size_t total = 0;
    for (const PreparedBatch &batch : batches)
        total += batch.keys.size();
    const qint64 nowMs = now.toMSecsSinceEpoch();
    // Which events are kept is decided batch by batch in the order collected, so that of the
    // events sharing an id the first collected one stays.
    SeenIds seen(total);
    // Per batch, the positions of its kept events, in order of start.
    std::vector<std::vector<quint32>> kept(size_t(batches.size()));
    qsizetype keptCount = 0;
    for (qsizetype b = 0; b < batches.size(); ++b) {
        const PreparedBatch &batch = batches[b];
        std::vector<quint32> &keep = kept[size_t(b)];
        keep.reserve(batch.keys.size());
        for (size_t n = 0; n < batch.keys.size(); ++n) {
            const quint32 i = batch.collected.empty() ? quint32(n) : batch.collected[n];
            const PreparedBatch::Key &key = batch.keys[i];
            const CalendarEvent &event = batch.events[i];
            // A meeting stays until it ends: it can still be joined.
            if (event.isAllDay || key.end <= nowMs)
                continue;
            if (event.calendarId && disabledCalendars.contains(*event.calendarId))
                continue;
            if (seen.firstSighting(event.id, key.idHash))
                keep.push_back(i);
        }
        if (!batch.collected.empty())
            std::sort(keep.begin(), keep.end());
        keptCount += qsizetype(keep.size());
    }
    // The batches are each ordered by start already; interleaving them keeps the batches' order
    // among equal starts.
    QList<CalendarEvent> sorted;
    sorted.reserve(keptCount);
    std::vector<size_t> next(kept.size(), 0);
    for (;;) {
        size_t from = kept.size();
        qint64 earliest = 0;
        for (size_t b = 0; b < kept.size(); ++b) {
            if (next[b] == kept[b].size())
                continue;
            const qint64 start = batches[qsizetype(b)].keys[kept[b][next[b]]].start;
            if (from == kept.size() || start < earliest) {
                from = b;
                earliest = start;
            }
        }
        if (from == kept.size())
            break;
        sorted.append(batches[qsizetype(from)].events[kept[from][next[from]++]]);
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
