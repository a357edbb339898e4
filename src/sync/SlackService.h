#pragma once

#include "SlackError.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <chrono>
#include <memory>

class BackendAPIClient;
class Clock;
class SecretStore;
class SlackSignInListener;

// One Slack search hit.
struct SlackMessage {
    QString text;
    QString channel;
    QString username;
    QString timestamp;
    QString permalink;

    bool operator==(const SlackMessage &) const = default;
};

// Connects Slack and searches it for recent messages with a person. The token lives in the
// secure store under "slack_token".
class SlackService : public QObject {
    Q_OBJECT

public:
    static constexpr auto clientId = "730914625581.29384756102947";
    static constexpr auto userScopes = "search:read,users:read,users:read.email";
    static constexpr std::chrono::seconds signInLimit{180};
    static constexpr int pageSize = 20;
    static constexpr std::chrono::milliseconds defaultTimeout{60'000};

    SlackService(BackendAPIClient &backend, SecretStore &secrets, Clock &clock,
                 QObject *parent = nullptr);
    ~SlackService() override;

    // $ZELVANE_SLACK_ORIGIN, else Slack's own host.
    static QString origin();

    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

    // Whether a token is stored.
    QCoro::Task<bool> isConnected();
    // Browser sign-in through a loopback listener, limited to 180 s; stores the token.
    QCoro::Task<> authenticate();
    // Ends the wait for the browser of the latest sign-in, which then fails with
    // SlackError::cancelled, and stops its listener.
    void cancelSignIn();
    QCoro::Task<> disconnect();
    QCoro::Task<QList<SlackMessage>> searchMessages(QString query);
    // Map e-mail address -> messages; never fails.
    QCoro::Task<QHash<QString, QList<SlackMessage>>> fetchContextForAttendees(QStringList emails);

    // The matches of a search.messages answer; throws SlackError::apiError when Slack refused,
    // DecodingError when the body is not JSON.
    static QList<SlackMessage> parseSearchReply(const QByteArray &body);
    // The authorization page with the listener's port carried in "state" as <uuid>:<port>.
    static QUrl authorizeURL(const QString &state);

private:
    BackendAPIClient &m_backend;
    SecretStore &m_secrets;
    Clock &m_clock;
    QNetworkAccessManager m_network;
    std::chrono::milliseconds m_timeout = defaultTimeout;
    QPointer<SlackSignInListener> m_waitingSignIn;
};
