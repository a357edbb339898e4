#include "CalendarService.h"

#include <QPointer>

CalendarService::CalendarService(AppSettings &settings, CalendarProxyClient &proxy,
                                 SecretStore &secrets, CalendarSignInListener &authHandler,
                                 Clock &clock, QObject *parent)
    : QObject(parent)
    , m_accounts(settings)
    , m_feeds(secrets, clock)
    , m_refresh(m_accounts, proxy, m_feeds, settings, clock)
    , m_signIn(m_accounts, proxy, authHandler, m_refresh)
    , m_email(m_accounts, proxy) {
    connect(&m_accounts, &AccountRegistry::accountsChanged, this,
            &CalendarService::accountsChanged);
    connect(&m_accounts, &AccountRegistry::accountRemoved, &m_feeds,
            [this](const ConnectedAccount &account) {
                if (account.provider == CalendarProvider::feed)
                    m_feeds.forget(account.id);
            });
    connect(&m_feeds, &FeedPoller::errorsChanged, this, &CalendarService::feedErrorsChanged);
    connect(&m_feeds, &FeedPoller::addressesChanged, this, &CalendarService::feedAddressesChanged);
    connect(&m_refresh, &RefreshCoordinator::eventsChanged, this, &CalendarService::eventsChanged);
    connect(&m_refresh, &RefreshCoordinator::isLoadingChanged, this,
            &CalendarService::isLoadingChanged);
    connect(&m_refresh, &RefreshCoordinator::accountCalendarsChanged, this,
            &CalendarService::accountCalendarsChanged);
    connect(&m_signIn, &SignInCoordinator::signInFinished, this, &CalendarService::signInFinished);
    connect(&m_signIn, &SignInCoordinator::signInFailed, this, &CalendarService::signInFailed);
}

QCoro::Task<ConnectedAccount> CalendarService::addFeed(QString address, QString displayName) {
    QPointer<CalendarService> self(this);
    const ConnectedAccount account = co_await m_feeds.add(address, displayName);
    if (self) {
        m_accounts.add(account);
        m_refresh.refreshInBackground();
    }
    co_return account;
}

void CalendarService::removeAccount(ConnectedAccount account) {
    m_accounts.remove(account.id);
}

void CalendarService::disconnectProvider(CalendarProvider provider) {
    const QList<ConnectedAccount> snapshot = accounts();
    for (const ConnectedAccount &account : snapshot)
        if (account.provider == provider)
            removeAccount(account);
}
