#pragma once

#include "TokenCipher.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <optional>

// A provider account connected through the backend. `owner` is the tag of the backend
// credential that created it; only that credential may use it.
struct StoredGrant {
    QString id;
    QByteArray owner;
    QString provider;
    QString email;
    QString refreshToken;
    QString accessToken;
    qint64 accessExpiresSecs = 0;
};

// A sign-in between nylas/auth-url and nylas/exchange-token: the app's loopback listener does
// not hand "state" back, so the exchange finds it by its credential and redirect address.
struct PendingSignIn {
    QString state;
    QByteArray owner;
    QString provider;
    QString redirectUri;
    QString verifier; // PKCE code verifier
    qint64 expiresSecs = 0;
};

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Grants, pending sign-ins and each credential's text messages of the day, in one SQLite file
// (write-ahead log, so several processes may share it) or one PostgreSQL database. Tokens and
// PKCE verifiers are sealed by the cipher before they are written. The schema carries its
// version and is brought up to date when the store opens.
class GrantStore {
public:
    static constexpr int schemaVersion = 2;
    static constexpr int maxSignInsPerOwner = 20;

    // `database` is a file (SQLite) or a postgresql:// address. Throws StoreError when it
    // cannot be opened or migrated.
    GrantStore(const QString &database, const TokenCipher &cipher);
    ~GrantStore();
    GrantStore(const GrantStore &) = delete;
    GrantStore &operator=(const GrantStore &) = delete;

    void insertGrant(const StoredGrant &grant);
    std::optional<StoredGrant> grant(const QString &id);
    // A refresh's result; an empty `refreshToken` keeps the stored one.
    void updateTokens(const QString &id, const QString &accessToken, qint64 expiresSecs,
                      const QString &refreshToken);
    bool removeGrant(const QString &id);

    void addSignIn(const PendingSignIn &signIn);
    // The newest unexpired sign-in of `owner` for this redirect address (any address when
    // empty), removed so it serves once. Expired sign-ins are dropped on the way.
    std::optional<PendingSignIn> takeSignIn(const QByteArray &owner, const QString &redirectUri,
                                            qint64 nowSecs);

    // Takes one of the day's `allowance` messages for `owner` (a UTC day number) and returns
    // how many remain, or nothing when none did.
    std::optional<int> reserveSms(const QByteArray &owner, qint64 day, int allowance);
    // Gives back a reserved message that was not sent.
    void releaseSms(const QByteArray &owner, qint64 day);

    int version();

private:
    void openPostgres(const QString &address);
    void migrate();

    const TokenCipher &m_cipher;
    QString m_connection;
    bool m_postgres;
};
