#include "FeedPoller.h"

#include "SyncLog.h"
#include "core/Clock.h"
#include "platform/SecretStore.h"

#include <QCoreApplication>
#include <QPointer>

namespace {
FeedOwner feedOwner(const ConnectedAccount &account) {
    return {account.id, account.id, account.email};
}
} // namespace

FeedPoller::FeedPoller(SecretStore &secrets, Clock &clock, QObject *parent)
    : QObject(parent)
    , m_secrets(secrets)
    , m_clock(clock) {}

ProxyCalendar FeedPoller::calendarOf(const ConnectedAccount &account) {
    return {account.id, account.email, std::nullopt, true};
}

QString FeedPoller::secretKey(const QString &accountId) {
    return QStringLiteral("calendar_feed_") + accountId;
}

QCoro::Task<ConnectedAccount> FeedPoller::add(QString address, QString displayName) {
    QPointer<FeedPoller> self(this);
    const auto url = CalendarFeedClient::normalizedAddress(address);
    if (!url)
        throw FeedError(FeedError::Reason::badAddress);
    const FeedValidators none;
    const FeedDownload download = co_await m_client.download(*url, none);
    // Without a name from the user, the feed's own tells it apart from the others.
    displayName = displayName.trimmed();
    if (displayName.isEmpty())
        displayName = FeedParser::calendarName(download.body).value_or(tr("Calendar Feed"));
    ConnectedAccount account =
        ConnectedAccount::create(CalendarProvider::feed, displayName, QString());
    const QDateTime from = m_clock.now(), to = from.addSecs(window.count());
    const FeedOwner owner = feedOwner(account);
    QList<CalendarEvent> events = co_await m_client.parse(download.body, owner, from, to);
    if (!self)
        co_return account;
    const QString key = secretKey(account.id);
    co_await m_secrets.save(key, url->toString(QUrl::FullyEncoded));
    if (!self)
        co_return account;
    FeedState state;
    state.address = *url;
    state.validators = download.validators;
    state.events = std::move(events);
    state.expandedAt = from;
    m_feeds.insert(account.id, std::move(state));
    Q_EMIT addressesChanged();
    co_return account;
}

void FeedPoller::setError(const QString &accountId, std::optional<QString> error) {
    if (error ? m_errors.value(accountId) == *error : !m_errors.contains(accountId))
        return;
    if (error)
        m_errors.insert(accountId, *error);
    else
        m_errors.remove(accountId);
    Q_EMIT errorsChanged();
}

QCoro::Task<QList<CalendarEvent>> FeedPoller::poll(ConnectedAccount account) {
    QPointer<FeedPoller> self(this);
    FeedState state = m_feeds.value(account.id);
    if (state.address.isEmpty()) {
        const QString key = secretKey(account.id);
        const auto stored = co_await m_secrets.load(key);
        if (!self)
            co_return {};
        const auto url = stored ? CalendarFeedClient::normalizedAddress(*stored) : std::nullopt;
        if (!url) {
            setError(account.id,
                     QCoreApplication::translate(
                         "FeedError", "The feed's address is missing from the keyring."));
            co_return state.events;
        }
        state.address = *url;
        m_feeds[account.id].address = *url;
        Q_EMIT addressesChanged();
    }
    const QDateTime now = m_clock.now();
    // Expanding anew now and then lets instances enter the window's far end.
    const bool stale =
        !state.expandedAt.isValid() || state.expandedAt.secsTo(now) >= reexpandAge.count();
    try {
        // Arguments are plain locals: GCC 12 mishandles temporaries inside co_await.
        const FeedValidators validators = stale ? FeedValidators() : state.validators;
        const FeedDownload download = co_await m_client.download(state.address, validators);
        if (!self)
            co_return {};
        if (download.notModified) {
            setError(account.id, std::nullopt);
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
            events = co_await m_client.parse(download.body, owner, now, to);
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
        setError(account.id, std::nullopt);
        co_return events;
    } catch (const Error &error) {
        if (!self)
            co_return {};
        qCWarning(lcSync) << "calendar feed" << account.id << "failed:" << error.description();
        setError(account.id, error.description());
    } catch (const std::exception &error) {
        if (!self)
            co_return {};
        qCWarning(lcSync) << "calendar feed" << account.id << "failed:" << error.what();
        setError(account.id, FeedError(FeedError::Reason::unreachable).description());
    }
    co_return m_feeds.value(account.id).events;
}

void FeedPoller::forget(const QString &accountId) {
    m_secrets.remove(secretKey(accountId));
    if (m_feeds.remove(accountId))
        Q_EMIT addressesChanged();
    setError(accountId, std::nullopt);
}

std::optional<QUrl> FeedPoller::address(const QString &accountId) const {
    const auto found = m_feeds.constFind(accountId);
    if (found == m_feeds.cend() || found->address.isEmpty())
        return std::nullopt;
    return found->address;
}
