#pragma once

#include "CalendarFeedClient.h"
#include "ProxyRecords.h"
#include "core/CalendarEvent.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QUrl>
#include <chrono>
#include <optional>

class Clock;
class SecretStore;

// Reads the calendar feeds: adds one after a first good read, polls each conditionally and
// keeps its last good events, and says why a feed's last poll failed.
class FeedPoller : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::seconds window = std::chrono::days(90);
    // An unchanged feed is expanded again after this long, so the window moves on.
    static constexpr std::chrono::seconds reexpandAge = std::chrono::hours(12);

    FeedPoller(SecretStore &secrets, Clock &clock, QObject *parent = nullptr);

    // Reads the feed once and, when it is a calendar, returns an account named `displayName`
    // (not yet registered); its address goes to the keyring only. Throws FeedError or
    // SecretStoreError.
    QCoro::Task<ConnectedAccount> add(QString address, QString displayName);
    // The feed's events now, or its last good ones when this poll fails.
    QCoro::Task<QList<CalendarEvent>> poll(ConnectedAccount account);
    // Drops what is kept of the feed, its address in the keyring included.
    void forget(const QString &accountId);

    // Why each failing feed's last poll failed, by account id; absent once it succeeds.
    const QHash<QString, QString> &errors() const { return m_errors; }
    // The feed's address once added or first read from the keyring this session.
    std::optional<QUrl> address(const QString &accountId) const;

    // The keyring key that holds a feed account's address.
    static QString secretKey(const QString &accountId);
    // A feed is one calendar, named like its account, so it can be switched off like any other.
    static ProxyCalendar calendarOf(const ConnectedAccount &account);

Q_SIGNALS:
    void errorsChanged();
    void addressesChanged();

private:
    void setError(const QString &accountId, std::optional<QString> error);

    // What the last good read of a feed left behind.
    struct FeedState {
        QUrl address;
        FeedValidators validators;
        QList<CalendarEvent> events;
        QDateTime expandedAt;
        // The fingerprint of a body refused as too deep or too complex.
        std::optional<size_t> refused;
    };

    SecretStore &m_secrets;
    Clock &m_clock;
    CalendarFeedClient m_client;
    QHash<QString, FeedState> m_feeds;
    QHash<QString, QString> m_errors;
};
