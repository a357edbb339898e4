#pragma once

#include "AccountRegistry.h"
#include "DesktopCalendars.h"
#include "EmailContext.h"
#include "FeedPoller.h"
#include "RefreshCoordinator.h"
#include "SignInCoordinator.h"

#include <QCoroTask>
#include <QObject>

class AppSettings;
class Clock;
class CalendarProxyClient;
class CalendarSignInListener;
class SecretStore;

// The calendars as the rest of the app sees them: the connected accounts and every account's
// upcoming events, sorted by start. Each job is done by a part of its own (accounts, sign-in,
// feeds, refresh, e-mail context); this class owns them and speaks for them.
class CalendarService : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<CalendarEvent> events READ events NOTIFY eventsChanged)
    Q_PROPERTY(QList<ConnectedAccount> accounts READ accounts NOTIFY accountsChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(
        AccountCalendars accountCalendars READ accountCalendars NOTIFY accountCalendarsChanged)
    Q_PROPERTY(QHash<QString, QString> feedErrors READ feedErrors NOTIFY feedErrorsChanged)

public:
    using AccountCalendars = RefreshCoordinator::AccountCalendars;
    using AccountBatch = RefreshCoordinator::AccountBatch;
    using PreparedBatch = RefreshCoordinator::PreparedBatch;

    static constexpr std::chrono::seconds refreshInterval = RefreshCoordinator::interval;
    static constexpr int emailLimit = EmailContext::limit;
    static constexpr std::chrono::seconds window = FeedPoller::window;

    // Each account's last good events are kept in `cacheFolder` (memory only when empty) and
    // published from there at once, before the first refresh answers.
    CalendarService(AppSettings &settings, CalendarProxyClient &proxy, SecretStore &secrets,
                    CalendarSignInListener &authHandler, Clock &clock,
                    const QString &cacheFolder = {}, QObject *parent = nullptr);

    const QList<CalendarEvent> &events() const { return m_refresh.events(); }
    void publishEvents(QList<CalendarEvent> events) { m_refresh.publishEvents(std::move(events)); }
    const QList<ConnectedAccount> &accounts() const { return m_accounts.accounts(); }
    bool isLoading() const { return m_refresh.isLoading(); }
    const AccountCalendars &accountCalendars() const { return m_refresh.accountCalendars(); }
    bool isConnected() const { return !accounts().isEmpty(); }
    QSet<CalendarProvider> connectedProviders() const { return m_accounts.connectedProviders(); }
    QSet<QString> userDomains() const { return m_accounts.userDomains(); }
    std::optional<CalendarEvent> nextEvent() const { return m_refresh.nextEvent(); }
    const QHash<QString, QString> &feedErrors() const { return m_feeds.errors(); }
    // Why an account's calendars are not current (a failing feed, the desktop's calendar store
    // gone); absent when they are.
    std::optional<QString> accountProblem(const QString &accountId) const;

    // Whether the desktop's calendar store is on the session bus, so its calendars can be
    // connected; known once monitoring has started.
    DesktopCalendars::Availability desktopAvailability() const { return m_desktop.availability(); }
    // The group (online account or "On This Computer") of each desktop calendar, by id.
    QHash<QString, QString> desktopCalendarGroups() const;
    // Connects the desktop's calendars as one account; there is never more than one.
    ConnectedAccount addDesktopCalendars();
    // A feed account's address, known once the feed was added or first polled.
    std::optional<QUrl> feedAddress(const QString &accountId) const {
        return m_feeds.address(accountId);
    }

    QCoro::Task<QUrl> addAccount(CalendarProvider provider) {
        return m_signIn.addAccount(provider);
    }
    QCoro::Task<> completeConnection(QString code, CalendarProvider provider) {
        return m_signIn.completeConnection(std::move(code), provider);
    }
    // Reads the feed once and, when it is a calendar, adds it as an account named
    // `displayName`; its address goes to the keyring only. Throws FeedError or
    // SecretStoreError.
    QCoro::Task<ConnectedAccount> addFeed(QString address, QString displayName);
    // Takes a copy: removing replaces the list a caller's reference may point into.
    void removeAccount(ConnectedAccount account);
    void disconnectProvider(CalendarProvider provider);

    void startMonitoring();
    void stopMonitoring() { m_refresh.stopMonitoring(); }
    QCoro::Task<> fetchEvents() { return m_refresh.fetchEvents(); }
    QCoro::Task<> fetchCalendars() { return m_refresh.fetchCalendars(); }
    QCoro::Task<QHash<QString, QList<EmailThread>>> fetchEmailContext(QStringList emails) {
        return m_email.fetch(std::move(emails));
    }

    static QList<CalendarEvent> mergeEvents(const QList<AccountBatch> &batches,
                                            const QDateTime &now,
                                            const QSet<QString> &disabledCalendars) {
        return RefreshCoordinator::mergeEvents(batches, now, disabledCalendars);
    }
    static PreparedBatch prepareBatch(const AccountBatch &batch) {
        return RefreshCoordinator::prepareBatch(batch);
    }
    static QList<CalendarEvent> mergePrepared(const QList<PreparedBatch> &batches,
                                              const QDateTime &now,
                                              const QSet<QString> &disabledCalendars) {
        return RefreshCoordinator::mergePrepared(batches, now, disabledCalendars);
    }
    static EmailThread emailThread(const ProxyMessage &message) {
        return EmailContext::emailThread(message);
    }
    static QString feedSecretKey(const QString &accountId) {
        return FeedPoller::secretKey(accountId);
    }

Q_SIGNALS:
    void eventsChanged();
    void accountsChanged();
    void isLoadingChanged();
    void accountCalendarsChanged();
    void signInFinished(bool connected);
    void signInFailed(const QString &error);
    void feedErrorsChanged();
    void desktopCalendarsChanged();
    void feedAddressesChanged();

private:
    // The desktop's calendars are read while an account holds them.
    void followDesktopAccount();

    AccountRegistry m_accounts;
    FeedPoller m_feeds;
    DesktopCalendars m_desktop;
    RefreshCoordinator m_refresh;
    SignInCoordinator m_signIn;
    EmailContext m_email;
};
