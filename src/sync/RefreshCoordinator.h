#pragma once

#include "EventCache.h"
#include "ProxyRecords.h"
#include "core/CalendarEvent.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPromise>
#include <QSet>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

class AccountRegistry;
class AppSettings;
class CalendarProxyClient;
class Clock;
class DesktopCalendars;
class FeedPoller;

// Fetches every account's events, side by side, and publishes them merged and sorted as each
// account's arrive; refreshes on a timer and coalesces refreshes asked for during a run. Each
// account's last good events are kept on disk and published from there at start, until the
// account's first good refresh replaces them.
class RefreshCoordinator : public QObject {
    Q_OBJECT

public:
    using AccountCalendars = QHash<QString, QList<ProxyCalendar>>;

    // One account's fetched material for a refresh: proxy records, or events already
    // converted (a feed's, or those kept on disk).
    struct AccountBatch {
        ConnectedAccount account;
        QList<ProxyCalendar> calendars;
        QList<ProxyEvent> events;
        QList<CalendarEvent> converted;
    };

    // One account's events as the merge takes them, made off the main thread: every event
    // converted once and ordered by start (the collected order among equal starts), with what
    // the merge compares read out beforehand.
    struct PreparedBatch {
        struct Key {
            qint64 start; // ms since the epoch
            qint64 end;
            size_t idHash;
        };
        QList<CalendarEvent> events;
        std::vector<Key> keys;
        // The events' positions in the order they were collected, kept only when an id repeats
        // within the batch (which copy is kept depends on that order); empty otherwise.
        std::vector<quint32> collected;
    };

    static constexpr std::chrono::seconds interval{120};

    // The last good events are kept in `cacheFolder`, or in memory when it is empty.
    RefreshCoordinator(AccountRegistry &accounts, CalendarProxyClient &proxy, FeedPoller &feeds,
                       DesktopCalendars &desktop, AppSettings &settings, Clock &clock,
                       const QString &cacheFolder = {}, QObject *parent = nullptr);
    ~RefreshCoordinator() override;

    const QList<CalendarEvent> &events() const { return m_events; }
    // Replaces the published list; the refresh publishes through here.
    void publishEvents(QList<CalendarEvent> events);
    bool isLoading() const { return m_isLoading; }
    const AccountCalendars &accountCalendars() const { return m_accountCalendars; }
    std::optional<CalendarEvent> nextEvent() const;

    // A refresh now, then one every interval.
    void startMonitoring();
    void stopMonitoring();
    // The refresh; never fails (failing accounts keep their last events). One runs at a time:
    // asked for during a run, it waits for one follow-up run, shared by everyone who asked
    // meanwhile, and isLoading stays true until the last run has published.
    QCoro::Task<> fetchEvents();
    // A refresh nobody waits for.
    void refreshInBackground();
    // Lists every account's calendars into accountCalendars; never fails.
    QCoro::Task<> fetchCalendars();

    // Converts, filters (all-day, ended, disabled calendar, repeated id) and sorts by start,
    // keeping the collected order among equal starts. A meeting under way stays until its end.
    // Of the events that share an id, the first collected is kept.
    static QList<CalendarEvent> mergeEvents(const QList<AccountBatch> &batches,
                                            const QDateTime &now,
                                            const QSet<QString> &disabledCalendars);
    // mergeEvents in two steps: the costly one, per account and on any thread, then the
    // filtering and interleaving, which is all a refresh leaves to the main thread.
    static PreparedBatch prepareBatch(const AccountBatch &batch);
    static QList<CalendarEvent> mergePrepared(const QList<PreparedBatch> &batches,
                                              const QDateTime &now,
                                              const QSet<QString> &disabledCalendars);

Q_SIGNALS:
    void eventsChanged();
    void isLoadingChanged();
    void accountCalendarsChanged();

private:
    QCoro::Task<AccountCalendars> listCalendars();
    QCoro::Task<> refreshOnce();
    QCoro::Task<> refreshAccount(ConnectedAccount account, QList<ProxyCalendar> calendars);
    // Prepares the batch on a worker and then takes it, unless the account went or a newer
    // batch was taken meanwhile.
    QCoro::Task<> takeBatch(AccountBatch batch);
    // Publishes the last batch of every connected account.
    void publishBatches();
    void forgetAccount(const ConnectedAccount &account);
    // Once the file is read, publishes the kept events of the connected accounts; the rest are
    // dropped.
    QCoro::Task<> restoreCache();
    // The desktop's calendars changed on their own: their account's batch is replaced now.
    void takeDesktopEvents();
    void takeDesktopCalendars();
    void setLoading(bool loading);
    void setAccountCalendars(AccountCalendars calendars);

    AccountRegistry &m_accounts;
    CalendarProxyClient &m_proxy;
    FeedPoller &m_feeds;
    DesktopCalendars &m_desktop;
    AppSettings &m_settings;
    Clock &m_clock;
    EventCache m_cache;
    QList<CalendarEvent> m_events;
    bool m_isLoading = false;
    AccountCalendars m_accountCalendars;
    // Each connected account's last fetched batch, by account id. Its events are the list the
    // cache keeps too: one copy, shared.
    QHash<QString, PreparedBatch> m_batches;
    // Advanced whenever an account's batch is replaced or dropped, so a batch prepared on a
    // worker is not published over one taken meanwhile.
    QHash<QString, quint64> m_batchGenerations;
    bool m_refreshing = false;
    // Finished when the follow-up run has published; present once someone asked for one.
    std::unique_ptr<QPromise<void>> m_followUp;
    // The polling timer lives as long as this object does.
    std::unique_ptr<QObject> m_monitor;
};
