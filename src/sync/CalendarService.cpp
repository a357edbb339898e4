#include "CalendarService.h"

#include "CalendarProxyClient.h"
#include "SignInListener.h"
#include "SyncLog.h"
#include "core/AppSettings.h"
#include "core/Clock.h"
#include "platform/BrowserLauncher.h"
#include "platform/SecretStore.h"

#include <QCoroFuture>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QLoggingCategory>
#include <QPointer>
#include <algorithm>

namespace {

// A feed is one calendar, named like its account, so it can be switched off like any other.
ProxyCalendar feedCalendar(const ConnectedAccount &account) {
    return {account.id, account.email, std::nullopt, true};
}

FeedOwner feedOwner(const ConnectedAccount &account) {
    return {account.id, account.id, account.email};
}
} // namespace

CalendarService::CalendarService(AppSettings &settings, CalendarProxyClient &proxy,
                                 SecretStore &secrets, CalendarSignInListener &authHandler,
                                 Clock &clock, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_proxy(proxy)
    , m_secrets(secrets)
    , m_authHandler(authHandler)
    , m_clock(clock) {
    loadAccounts();
    connect(&m_authHandler, &CalendarSignInListener::codeReceived, this,
            &CalendarService::onCodeReceived);
    connect(&m_authHandler, &CalendarSignInListener::failed, this,
            [this] { Q_EMIT signInFinished(false); });
}

CalendarService::~CalendarService() {
    stopMonitoring();
}

void CalendarService::publishEvents(QList<CalendarEvent> events) {
    m_events = std::move(events);
    Q_EMIT eventsChanged();
}

void CalendarService::setLoading(bool loading) {
    m_isLoading = loading;
    Q_EMIT isLoadingChanged();
}

void CalendarService::setAccountCalendars(AccountCalendars calendars) {
    m_accountCalendars = std::move(calendars);
    Q_EMIT accountCalendarsChanged();
}

void CalendarService::setAccounts(QList<ConnectedAccount> accounts) {
    m_accounts = std::move(accounts);
    saveAccounts();
    Q_EMIT accountsChanged();
}

void CalendarService::loadAccounts() {
    const QByteArray data = m_settings.value(AppSettings::Key::ConnectedAccounts).toByteArray();
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    if (!doc.isArray())
        return;
    QList<ConnectedAccount> accounts;
    for (const QJsonValue &value : doc.array()) {
        auto account = ConnectedAccount::fromJson(value);
        // One bad record makes the whole list unreadable.
        if (!account)
            return;
        accounts.append(std::move(*account));
    }
    m_accounts = std::move(accounts);
}

void CalendarService::saveAccounts() {
    QJsonArray array;
    for (const ConnectedAccount &account : std::as_const(m_accounts))
        array.append(account.toJson());
    m_settings.setValue(AppSettings::Key::ConnectedAccounts,
                        QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QSet<CalendarProvider> CalendarService::connectedProviders() const {
    QSet<CalendarProvider> providers;
    for (const ConnectedAccount &account : m_accounts)
        providers.insert(account.provider);
    return providers;
}

QSet<QString> CalendarService::userDomains() const {
    QSet<QString> domains;
    for (const ConnectedAccount &account : m_accounts) {
        // A feed's name is no address of the user's.
        if (account.provider == CalendarProvider::feed)
            continue;
        const QStringList parts = account.email.split(u'@');
        if (parts.size() == 2 && !parts.at(1).isEmpty())
            domains.insert(parts.at(1).toLower());
    }
    return domains;
}

QCoro::Task<QUrl> CalendarService::addAccount(CalendarProvider provider) {
    QPointer<CalendarService> self(this);
    const int port = co_await m_authHandler.startListening(provider);
    if (!self)
        throw SignInError();
    const QString redirect = QStringLiteral("http://127.0.0.1:") + QString::number(port) +
                             QStringLiteral("/nylas/callback");
    const QUrl url =
        co_await m_proxy.getAuthURL(CalendarProviders::toString(provider).toLower(), redirect);
    try {
        BrowserLauncher::openPage(url);
    } catch (const BrowserError &) {
        m_authHandler.stopListening();
        throw;
    }
    co_return url;
}

QCoro::Task<> CalendarService::completeConnection(QString code, CalendarProvider provider) {
    QPointer<CalendarService> self(this);
    const ProxyGrant grant = co_await m_proxy.exchangeToken(code, std::nullopt);
    if (!self)
        co_return;
    const ConnectedAccount account = ConnectedAccount::create(provider, grant.email, grant.grantId);
    QList<ConnectedAccount> accounts = m_accounts;
    accounts.append(account);
    setAccounts(std::move(accounts));
    m_settings.addDefaultReminders(account.id);
    co_await fetchEvents();
}

void CalendarService::onCodeReceived(const QString &code, CalendarProvider provider) {
    // The browser has already been told the account is connected; a failure here just means
    // the account does not appear.
    [](QPointer<CalendarService> self, QString code, CalendarProvider provider) -> QCoro::Task<> {
        bool connected = false;
        std::optional<QString> failure;
        try {
            if (self) {
                co_await self->completeConnection(code, provider);
                connected = true;
            }
        } catch (const Error &error) {
            failure = error.description();
        } catch (const std::exception &error) {
            failure = QString::fromUtf8(error.what());
        }
        if (failure)
            qCWarning(lcSync) << "Connecting the calendar account failed:" << *failure;
        if (!self)
            co_return;
        if (failure)
            Q_EMIT self->signInFailed(*failure);
        Q_EMIT self->signInFinished(connected);
    }(this, code, provider);
}

QString CalendarService::feedSecretKey(const QString &accountId) {
    return QStringLiteral("calendar_feed_") + accountId;
}

QCoro::Task<ConnectedAccount> CalendarService::addFeed(QString address, QString displayName) {
    QPointer<CalendarService> self(this);
    const auto url = CalendarFeedClient::normalizedAddress(address);
    if (!url)
        throw FeedError(FeedError::Reason::badAddress);
    displayName = displayName.trimmed();
    if (displayName.isEmpty())
        displayName = QStringLiteral("Calendar Feed");
    ConnectedAccount account =
        ConnectedAccount::create(CalendarProvider::feed, displayName, QString());
    const FeedValidators none;
    const FeedDownload download = co_await m_feedClient.download(*url, none);
    const QDateTime from = m_clock.now(), to = from.addSecs(window.count());
    const FeedOwner owner = feedOwner(account);
    QList<CalendarEvent> events = co_await m_feedClient.parse(download.body, owner, from, to);
    if (!self)
        co_return account;
    const QString secretKey = feedSecretKey(account.id);
    co_await m_secrets.save(secretKey, url->toString(QUrl::FullyEncoded));
    if (!self)
        co_return account;
    FeedState state;
    state.address = *url;
    state.validators = download.validators;
    state.events = std::move(events);
    state.expandedAt = from;
    m_feeds.insert(account.id, std::move(state));
    QList<ConnectedAccount> accounts = m_accounts;
    accounts.append(account);
    setAccounts(std::move(accounts));
    m_settings.addDefaultReminders(account.id);
    refreshInBackground();
    co_return account;
}

void CalendarService::setFeedError(const QString &accountId, std::optional<QString> error) {
    if (error ? m_feedErrors.value(accountId) == *error : !m_feedErrors.contains(accountId))
        return;
    if (error)
        m_feedErrors.insert(accountId, *error);
    else
        m_feedErrors.remove(accountId);
    Q_EMIT feedErrorsChanged();
}

QCoro::Task<QList<CalendarEvent>> CalendarService::pollFeed(ConnectedAccount account) {
    QPointer<CalendarService> self(this);
    FeedState state = m_feeds.value(account.id);
    if (state.address.isEmpty()) {
        const QString secretKey = feedSecretKey(account.id);
        const auto stored = co_await m_secrets.load(secretKey);
        if (!self)
            co_return {};
        const auto url = stored ? CalendarFeedClient::normalizedAddress(*stored) : std::nullopt;
        if (!url) {
            setFeedError(account.id,
                         QStringLiteral("The feed's address is missing from the keyring."));
            co_return state.events;
        }
        state.address = *url;
        m_feeds[account.id].address = *url;
    }
    const QDateTime now = m_clock.now();
    // Expanding anew now and then lets instances enter the window's far end.
    const bool stale =
        !state.expandedAt.isValid() || state.expandedAt.secsTo(now) >= feedReexpandAge.count();
    try {
        // Arguments are plain locals: GCC 12 mishandles temporaries inside co_await.
        const FeedValidators validators = stale ? FeedValidators() : state.validators;
        const FeedDownload download = co_await m_feedClient.download(state.address, validators);
        if (!self)
            co_return {};
        if (download.notModified) {
            setFeedError(account.id, std::nullopt);
            co_return m_feeds.value(account.id).events;
        }
        // A feed refused for what it holds is read again only once it changes.
        const size_t fingerprint = qHash(download.body);
        if (state.refused && *state.refused == fingerprint)
            co_return state.events;
        const QDateTime to = now.addSecs(window.count());
        const FeedOwner owner = feedOwner(account);
        QList<CalendarEvent> events;
        try {
            events = co_await m_feedClient.parse(download.body, owner, now, to);
        } catch (const FeedError &error) {
            const bool refused = error.reason() == FeedError::Reason::tooDeep ||
                                 error.reason() == FeedError::Reason::tooComplex;
            if (self && refused && m_feeds.contains(account.id))
                m_feeds[account.id].refused = fingerprint;
            throw;
        }
        if (!self)
            co_return {};
        if (!m_feeds.contains(account.id))
            co_return events;
        FeedState &kept = m_feeds[account.id];
        kept.validators = download.validators;
        kept.events = events;
        kept.expandedAt = now;
        kept.refused.reset();
        setFeedError(account.id, std::nullopt);
        co_return events;
    } catch (const Error &error) {
        if (!self)
            co_return {};
        qCWarning(lcSync) << "calendar feed" << account.id << "failed:" << error.description();
        setFeedError(account.id, error.description());
    } catch (const std::exception &error) {
        if (!self)
            co_return {};
        qCWarning(lcSync) << "calendar feed" << account.id << "failed:" << error.what();
        setFeedError(account.id, FeedError(FeedError::Reason::unreachable).description());
    }
    co_return m_feeds.value(account.id).events;
}

void CalendarService::removeAccount(ConnectedAccount account) {
    if (account.provider == CalendarProvider::feed) {
        m_secrets.remove(feedSecretKey(account.id));
        m_feeds.remove(account.id);
        setFeedError(account.id, std::nullopt);
    }
    if (!account.grantId.isEmpty()) {
        [](QPointer<CalendarProxyClient> proxy, QString grantId) -> QCoro::Task<> {
            try {
                if (proxy)
                    co_await proxy->revokeGrant(grantId);
            } catch (const std::exception &error) {
                qCWarning(lcSync) << "Revoking a removed account's grant failed:" << error.what();
            }
        }(&m_proxy, account.grantId);
    }
    QList<ConnectedAccount> remaining;
    for (const ConnectedAccount &a : std::as_const(m_accounts))
        if (a.id != account.id)
            remaining.append(a);
    setAccounts(std::move(remaining));
    m_settings.removeReminders(account.id);
    // Its meetings leave at once, not after a refresh that may be waiting on a slow feed.
    if (m_batches.remove(account.id))
        publishBatches();
    refreshInBackground();
}

void CalendarService::disconnectProvider(CalendarProvider provider) {
    const QList<ConnectedAccount> snapshot = m_accounts;
    for (const ConnectedAccount &account : snapshot)
        if (account.provider == provider)
            removeAccount(account);
}

void CalendarService::refreshInBackground() {
    // fetchEvents catches its own failures, so nothing escapes this unawaited task.
    fetchEvents();
}

void CalendarService::startMonitoring() {
    stopMonitoring();
    m_monitor = std::make_unique<QObject>();
    refreshInBackground();
    QPointer<CalendarService> self(this);
    m_clock.every(refreshInterval, m_monitor.get(), [self] {
        if (self)
            self->refreshInBackground();
    });
}

void CalendarService::stopMonitoring() {
    m_monitor.reset();
}

QCoro::Task<CalendarService::AccountCalendars> CalendarService::listCalendars() {
    QPointer<CalendarService> self(this);
    const QList<ConnectedAccount> accounts = m_accounts;
    AccountCalendars result;
    for (const ConnectedAccount &account : accounts) {
        if (account.provider == CalendarProvider::feed) {
            result.insert(account.id, {feedCalendar(account)});
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

QCoro::Task<> CalendarService::fetchCalendars() {
    QPointer<CalendarService> self(this);
    AccountCalendars calendars = co_await listCalendars();
    if (self)
        self->setAccountCalendars(std::move(calendars));
}

QCoro::Task<> CalendarService::fetchEvents() {
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
    QPointer<CalendarService> self(this);
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

QCoro::Task<> CalendarService::refreshOnce() {
    QPointer<CalendarService> self(this);
    AccountCalendars calendars = co_await listCalendars();
    if (!self)
        co_return;
    setAccountCalendars(calendars);

    // Every account is fetched at once and published as it arrives, so a slow feed holds up
    // only its own events. The tasks start eagerly; awaiting them in turn waits for all.
    std::vector<QCoro::Task<>> fetches;
    for (const ConnectedAccount &account : std::as_const(m_accounts))
        fetches.push_back(refreshAccount(account, calendars.value(account.id)));
    for (QCoro::Task<> &fetch : fetches)
        co_await std::move(fetch);
}

QCoro::Task<> CalendarService::refreshAccount(ConnectedAccount account,
                                              QList<ProxyCalendar> calendars) {
    QPointer<CalendarService> self(this);
    AccountBatch batch{account, std::move(calendars), {}, {}};
    if (account.provider == CalendarProvider::feed) {
        batch.calendars = {feedCalendar(account)};
        batch.feedEvents = co_await pollFeed(account);
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
    if (!self || !isConnected(account.id))
        co_return;
    m_batches.insert(account.id, std::move(batch));
    publishBatches();
}

bool CalendarService::isConnected(const QString &accountId) const {
    return std::any_of(m_accounts.cbegin(), m_accounts.cend(),
                       [&](const ConnectedAccount &a) { return a.id == accountId; });
}

void CalendarService::publishBatches() {
    QList<AccountBatch> batches;
    for (const ConnectedAccount &account : std::as_const(m_accounts))
        if (const auto found = m_batches.constFind(account.id); found != m_batches.cend())
            batches.append(*found);
    publishEvents(mergeEvents(batches, m_clock.now(), m_settings.disabledCalendarIds()));
}

QList<CalendarEvent> CalendarService::mergeEvents(const QList<AccountBatch> &batches,
                                                  const QDateTime &now,
                                                  const QSet<QString> &disabledCalendars) {
    qsizetype total = 0;
    for (const AccountBatch &batch : batches)
        total += batch.events.size() + batch.feedEvents.size();
    const qint64 nowMs = now.toMSecsSinceEpoch();
    QList<CalendarEvent> kept;
    kept.reserve(total);
    QSet<QString> seen;
    seen.reserve(total);
    for (const AccountBatch &batch : batches) {
        CalendarEventConverter converter(batch.account.id, batch.account.provider, batch.calendars);
        for (const ProxyEvent &proxyEvent : batch.events) {
            // The filters are decided on the proxy record, so only kept events pay for the
            // conversion (link parsing, colours). Proxy events are never all-day.
            if (!proxyEvent.when || !proxyEvent.when->startTime ||
                *proxyEvent.when->startTime * 1000 <= nowMs)
                continue;
            if (proxyEvent.calendarId && disabledCalendars.contains(*proxyEvent.calendarId))
                continue;
            if (seen.contains(proxyEvent.id))
                continue;
            auto event = converter.convert(proxyEvent);
            if (!event)
                continue;
            seen.insert(proxyEvent.id);
            kept.append(std::move(*event));
        }
        for (const CalendarEvent &event : batch.feedEvents) {
            if (event.isAllDay || event.startDate.toMSecsSinceEpoch() <= nowMs)
                continue;
            if (event.calendarId && disabledCalendars.contains(*event.calendarId))
                continue;
            if (seen.contains(event.id))
                continue;
            seen.insert(event.id);
            kept.append(event);
        }
    }
    // Sorting keys and positions keeps the large records from being moved around.
    std::vector<std::pair<qint64, qsizetype>> order;
    order.reserve(size_t(kept.size()));
    for (qsizetype i = 0; i < kept.size(); ++i)
        order.emplace_back(kept[i].startDate.toMSecsSinceEpoch(), i);
    std::stable_sort(order.begin(), order.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<CalendarEvent> sorted;
    sorted.reserve(kept.size());
    for (const auto &[start, index] : order)
        sorted.append(std::move(kept[index]));
    return sorted;
}

std::optional<CalendarEvent> CalendarService::nextEvent() const {
    const QDateTime now = m_clock.now();
    for (const CalendarEvent &event : m_events)
        if (event.isUpcoming(now))
            return event;
    return std::nullopt;
}

EmailThread CalendarService::emailThread(const ProxyMessage &message) {
    EmailThread thread;
    thread.id = message.threadId.value_or(message.id);
    thread.subject = message.subject.value_or(QStringLiteral("(No subject)"));
    if (message.from && !message.from->isEmpty())
        thread.from = message.from->first().email;
    if (message.date)
        thread.date = QLocale().toString(QDateTime::fromSecsSinceEpoch(*message.date).toLocalTime(),
                                         QLocale::ShortFormat);
    thread.snippet = message.snippet.value_or(QString());
    thread.messageCount = 1;
    return thread;
}

QCoro::Task<QHash<QString, QList<EmailThread>>>
CalendarService::fetchEmailContext(QStringList emails) {
    QPointer<CalendarService> self(this);
    const QList<ConnectedAccount> accounts = m_accounts;
    QHash<QString, QList<EmailThread>> result;
    for (const ConnectedAccount &account : accounts) {
        if (account.grantId.isEmpty())
            continue;
        for (const QString &email : std::as_const(emails)) {
            if (!self)
                co_return result;
            QList<ProxyMessage> messages;
            try {
                messages = co_await m_proxy.searchMessages(account.grantId, email, emailLimit);
            } catch (const std::exception &error) {
                qCWarning(lcSync) << "Searching the e-mail of account" << account.id
                                  << "failed:" << error.what();
                continue;
            }
            if (messages.isEmpty())
                continue;
            QList<EmailThread> &threads = result[email];
            for (const ProxyMessage &message : std::as_const(messages))
                threads.append(emailThread(message));
        }
    }
    co_return result;
}
