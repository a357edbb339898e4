#pragma once

#include "CalendarFeedClient.h"
#include "ProxyRecords.h"
#include "core/CalendarEvent.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPromise>
#include <QSet>
#include <QUrl>
#include <chrono>
#include <memory>

class AppSettings;
class Clock;
class CalendarProxyClient;
class CalendarSignInListener;
class SecretStore;

// Owns the connected accounts and publishes every account's upcoming events, sorted by start.
class CalendarService : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<CalendarEvent> events READ events NOTIFY eventsChanged)
    Q_PROPERTY(QList<ConnectedAccount> accounts READ accounts NOTIFY accountsChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(
        AccountCalendars accountCalendars READ accountCalendars NOTIFY accountCalendarsChanged)
    Q_PROPERTY(QHash<QString, QString> feedErrors READ feedErrors NOTIFY feedErrorsChanged)

public:
    using AccountCalendars = QHash<QString, QList<ProxyCalendar>>;

    // One account's fetched material for a refresh: proxy records, or a feed's events.
    struct AccountBatch {
        ConnectedAccount account;
        QList<ProxyCalendar> calendars;
        QList<ProxyEvent> events;
        QList<CalendarEvent> feedEvents;
    };

    static constexpr std::chrono::seconds refreshInterval{120};
    static constexpr int emailLimit = 5;
    static constexpr std::chrono::seconds window = std::chrono::days(90);
    // An unchanged feed is expanded again after this long, so the window moves on.
    static constexpr std::chrono::seconds feedReexpandAge = std::chrono::hours(12);

    CalendarService(AppSettings &settings, CalendarProxyClient &proxy, SecretStore &secrets,
                    CalendarSignInListener &authHandler, Clock &clock, QObject *parent = nullptr);
    ~CalendarService() override;

    const QList<CalendarEvent> &events() const { return m_events; }
    // Replaces the published list; the refresh publishes through here.
    void publishEvents(QList<CalendarEvent> events);

    const QList<ConnectedAccount> &accounts() const { return m_accounts; }
    bool isLoading() const { return m_isLoading; }
    const AccountCalendars &accountCalendars() const { return m_accountCalendars; }
    bool isConnected() const { return !m_accounts.isEmpty(); }
    QSet<CalendarProvider> connectedProviders() const;
    // Lower-case domains of the accounts' addresses.
    QSet<QString> userDomains() const;

    // Starts the sign-in: listens for the redirect, opens the provider's page in the browser
    // and returns its address. The account is added when the redirect arrives. Throws
    // BrowserError at once when no browser can be opened.
    QCoro::Task<QUrl> addAccount(CalendarProvider provider);
    QCoro::Task<> completeConnection(QString code, CalendarProvider provider);
    // Reads the feed once and, when it is a calendar, adds it as an account named
    // `displayName`; its address goes to the keyring only. Throws FeedError or
    // SecretStoreError.
    QCoro::Task<ConnectedAccount> addFeed(QString address, QString displayName);
    // Takes a copy: removing replaces the list a caller's reference may point into.
    void removeAccount(ConnectedAccount account);
    void disconnectProvider(CalendarProvider provider);

    // A refresh now, then one every 120 s.
    void startMonitoring();
    void stopMonitoring();

    // The refresh; never fails (failing accounts are skipped). One runs at a time: asked for
    // during a run, it waits for one follow-up run, shared by everyone who asked meanwhile,
    // and isLoading stays true until the last run has published.
    QCoro::Task<> fetchEvents();
    // Lists every account's calendars into accountCalendars; never fails.
    QCoro::Task<> fetchCalendars();
    std::optional<CalendarEvent> nextEvent() const;
    // Recent e-mail with each address, from every account; never fails.
    QCoro::Task<QHash<QString, QList<EmailThread>>> fetchEmailContext(QStringList emails);

    // Converts, filters (all-day, started, disabled calendar, repeated id) and sorts by start,
    // keeping the collected order among equal starts.
    static QList<CalendarEvent> mergeEvents(const QList<AccountBatch> &batches,
                                            const QDateTime &now,
                                            const QSet<QString> &disabledCalendars);
    static EmailThread emailThread(const ProxyMessage &message);
    // The keyring key that holds a feed account's address.
    static QString feedSecretKey(const QString &accountId);

    // Why each failing feed's last poll failed, by account id; absent once it succeeds.
    const QHash<QString, QString> &feedErrors() const { return m_feedErrors; }

Q_SIGNALS:
    void eventsChanged();
    void accountsChanged();
    void isLoadingChanged();
    void accountCalendarsChanged();
    // The browser came back to the sign-in listener: with an added account, or without one.
    void signInFinished(bool connected);
    // Emitted before signInFinished(false) when the browser brought a code but turning it into
    // an account failed; `error` is the failure's text for the user.
    void signInFailed(const QString &error);
    void feedErrorsChanged();

private:
    QCoro::Task<AccountCalendars> listCalendars();
    QCoro::Task<> refreshOnce();
    QCoro::Task<> refreshAccount(ConnectedAccount account, QList<ProxyCalendar> calendars);
    bool isConnected(const QString &accountId) const;
    // Publishes the last batch of every connected account.
    void publishBatches();
    void setLoading(bool loading);
    void setAccountCalendars(AccountCalendars calendars);
    void setAccounts(QList<ConnectedAccount> accounts);
    void saveAccounts();
    void loadAccounts();
    void refreshInBackground();
    void onCodeReceived(const QString &code, CalendarProvider provider);
    QCoro::Task<QList<CalendarEvent>> pollFeed(ConnectedAccount account);
    void setFeedError(const QString &accountId, std::optional<QString> error);

    // What the last good read of a feed left behind.
    struct FeedState {
        QUrl address;
        FeedValidators validators;
        QList<CalendarEvent> events;
        QDateTime expandedAt;
        // The fingerprint of a body refused as too deep or too complex.
        std::optional<size_t> refused;
    };

    AppSettings &m_settings;
    CalendarProxyClient &m_proxy;
    SecretStore &m_secrets;
    CalendarSignInListener &m_authHandler;
    Clock &m_clock;
    QList<CalendarEvent> m_events;
    QList<ConnectedAccount> m_accounts;
    bool m_isLoading = false;
    AccountCalendars m_accountCalendars;
    CalendarFeedClient m_feedClient;
    QHash<QString, FeedState> m_feeds;
    // Each connected account's last fetched batch, by account id.
    QHash<QString, AccountBatch> m_batches;
    QHash<QString, QString> m_feedErrors;
    bool m_refreshing = false;
    // Finished when the follow-up run has published; present once someone asked for one.
    std::unique_ptr<QPromise<void>> m_followUp;
    // The polling timer lives as long as this object does.
    std::unique_ptr<QObject> m_monitor;
};
