#pragma once

#include <QCoroTask>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QString>
#include <QUrl>
#include <optional>
#include <stdexcept>

// Why a provider call did not give what was asked.
class ProviderError : public std::runtime_error {
public:
    enum class Kind {
        unauthorized,   // the access token was refused
        revoked,        // the refresh token or the code was refused: the user must sign in again
        notFound,       // the calendar or item does not exist for this account
        invalidRequest, // the app's request cannot be put to this provider
        upstream,       // no usable answer within the request's time: failure, limit, bad JSON
    };
    ProviderError(Kind kind, const std::string &what)
        : std::runtime_error(what)
        , m_kind(kind) {}
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// Tokens a provider issued. `refreshToken` is empty when a refresh kept the old one.
struct IssuedTokens {
    QString accessToken;
    QString refreshToken;
    qint64 expiresSecs = 0;
    QString email;
};

// One page of the contract's records and the provider's token for the next one.
struct ProviderPage {
    QJsonArray data;
    std::optional<QString> nextCursor;
};

struct EventQuery {
    QString calendarId;
    std::optional<qint64> startSecs;
    std::optional<qint64> endSecs;
    int limit = 50;
    std::optional<QString> pageToken;
};

struct MessageQuery {
    QString text; // the provider's own search words; empty lists the newest
    int limit = 10;
};

// A calendar and mail provider reached with OAuth 2.0: builds its consent address and answers
// in the contract's records (calendars, events, messages) from its own API.
class CalendarProvider {
public:
    virtual ~CalendarProvider() = default;

    virtual QUrl authorizationUrl(const QString &redirectUri, const QString &state,
                                  const QString &codeChallenge) const = 0;
    virtual QCoro::Task<IssuedTokens> exchangeCode(QString code, QString redirectUri,
                                                   QString verifier, QDeadlineTimer deadline) = 0;
    virtual QCoro::Task<IssuedTokens> refresh(QString refreshToken, QDeadlineTimer deadline) = 0;
    // True when the provider no longer honours the token (it also counts an unknown one).
    virtual QCoro::Task<bool> revoke(QString refreshToken, QDeadlineTimer deadline) = 0;
    virtual QCoro::Task<ProviderPage>
    calendars(QString accessToken, std::optional<QString> pageToken, QDeadlineTimer deadline) = 0;
    virtual QCoro::Task<ProviderPage> events(QString accessToken, EventQuery query,
                                             QDeadlineTimer deadline) = 0;
    // The newest messages matching the query, at most `limit`; no cursor.
    virtual QCoro::Task<ProviderPage> messages(QString accessToken, MessageQuery query,
                                               QDeadlineTimer deadline) = 0;
};
