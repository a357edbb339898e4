#include "CalendarService.h"

#include <QPointer>

CalendarService::CalendarService(AppSettings &settings, CalendarProxyClient &proxy,
                                 SecretStore &secrets, CalendarSignInListener &authHandler,
                                 Clock &clock, const QString &cacheFolder, QObject *parent)
    : QObject(parent)
    , m_accounts(settings)
    , m_feeds(secrets, clock)
    , m_desktop(clock)
    , m_refresh(m_accounts, proxy, m_feeds, m_desktop, settings, clock, cacheFolder)
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
    connect(&m_accounts, &AccountRegistry::accountsChanged, this,
            &CalendarService::followDesktopAccount);
    connect(&m_desktop, &DesktopCalendars::availabilityChanged, this,
            &CalendarService::desktopCalendarsChanged);
    connect(&m_desktop, &DesktopCalendars::lostChanged, this,
            &CalendarService::desktopCalendarsChanged);
    connect(&m_desktop, &DesktopCalendars::calendarsChanged, this,
            &CalendarService::desktopCalendarsChanged);
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

void CalendarService::startMonitoring() {
    m_desktop.watch();
    followDesktopAccount();
    m_refresh.startMonitoring();
}

void CalendarService::followDesktopAccount() {
    if (connectedProviders().contains(CalendarProvider::desktop))
        m_desktop.open();
    else if (m_desktop.isOpen())
        m_desktop.close();
}

std::optional<QString> CalendarService::accountProblem(const QString &accountId) const {
    if (const auto found = feedErrors().constFind(accountId); found != feedErrors().cend())
        return *found;
    if (m_desktop.isLost())
        for (const ConnectedAccount &account : accounts())
            if (account.id == accountId && account.provider == CalendarProvider::desktop)
                return DesktopCalendars::problemText();
    return std::nullopt;
}

QHash<QString, QString> CalendarService::desktopCalendarGroups() const {
    QHash<QString, QString> groups;
    for (const DesktopCalendar &calendar : m_desktop.calendars())
        groups.insert(calendar.id, calendar.group);
    return groups;
}

ConnectedAccount CalendarService::addDesktopCalendars() {
    for (const ConnectedAccount &account : accounts())
        if (account.provider == CalendarProvider::desktop)
            return account;
    // Named after where the calendars come from; the row's second line names the kind.
    const ConnectedAccount account = ConnectedAccount::create(
        CalendarProvider::desktop, QStringLiteral("Evolution Data Server"), QString());
    m_accounts.add(account);
    m_refresh.refreshInBackground();
    return account;
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
