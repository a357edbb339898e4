#pragma once

#include "BackendConfig.h"
#include "CalendarProvider.h"
#include "UpstreamClient.h"

#include <QJsonObject>
#include <QUrlQuery>

// Google through its OAuth 2.0 endpoints, Calendar API v3 (calendarList, events.list with
// single events ordered by start, cancelled ones included) and the Gmail API (messages.list
// with a search, then each message's metadata).
class GoogleCalendar : public CalendarProvider {
public:
    static inline const QString scopes =
        QStringLiteral("openid email https://www.googleapis.com/auth/calendar.readonly "
                       "https://www.googleapis.com/auth/gmail.readonly");

    GoogleCalendar(GoogleSettings settings, UpstreamClient &upstream)
        : m_settings(std::move(settings))
        , m_upstream(upstream) {}

    QUrl authorizationUrl(const QString &redirectUri, const QString &state,
                          const QString &codeChallenge) const override;
    QCoro::Task<IssuedTokens> exchangeCode(QString code, QString redirectUri, QString verifier,
                                           QDeadlineTimer deadline) override;
    QCoro::Task<IssuedTokens> refresh(QString refreshToken, QDeadlineTimer deadline) override;
    QCoro::Task<bool> revoke(QString refreshToken, QDeadlineTimer deadline) override;
    QCoro::Task<ProviderPage> calendars(QString accessToken, std::optional<QString> pageToken,
                                        QDeadlineTimer deadline) override;
    QCoro::Task<ProviderPage> events(QString accessToken, EventQuery query,
                                     QDeadlineTimer deadline) override;
    QCoro::Task<ProviderPage> messages(QString accessToken, MessageQuery query,
                                       QDeadlineTimer deadline) override;

    // Google's records in the contract's shape; throw ProviderError on a malformed item.
    static QJsonObject calendarRecord(const QJsonObject &item);
    static QJsonObject eventRecord(const QJsonObject &item, const QString &calendarId);
    static QJsonObject messageRecord(const QJsonObject &item);

private:
    QCoro::Task<IssuedTokens> requestTokens(QList<std::pair<QString, QString>> form,
                                            QDeadlineTimer deadline);
    QCoro::Task<QJsonObject> get(QString path, QUrlQuery query, QString accessToken,
                                 QDeadlineTimer deadline);
    // One message's metadata; nothing when it was deleted since the search listed it.
    QCoro::Task<std::optional<QJsonObject>> message(QString id, QString accessToken,
                                                    QDeadlineTimer deadline);

    GoogleSettings m_settings;
    UpstreamClient &m_upstream;
};
