#pragma once

#include "BackendConfig.h"
#include "OAuthProvider.h"

#include <QJsonObject>
#include <QUrlQuery>

// Google through its OAuth 2.0 endpoints, Calendar API v3 (calendarList, events.list with
// single events ordered by start, cancelled ones included) and the Gmail API (messages.list
// with a search, then each message's metadata).
class GoogleCalendar : public OAuthProvider {
public:
    static inline const QString defaultScopes =
        QStringLiteral("openid email https://www.googleapis.com/auth/calendar.readonly "
                       "https://www.googleapis.com/auth/gmail.readonly");

    GoogleCalendar(GoogleSettings settings, UpstreamClient &upstream)
        : OAuthProvider("Google", settings.client, upstream)
        , m_settings(std::move(settings)) {}

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

protected:
    QUrl consentPage() const override;
    QUrl tokenEndpoint() const override;
    QString scopes() const override { return defaultScopes; }
    Fields consentExtras() const override;

private:
    QCoro::Task<QJsonObject> get(QString path, QUrlQuery query, QString accessToken,
                                 QDeadlineTimer deadline);
    // One message's metadata; nothing when it was deleted since the search listed it.
    QCoro::Task<std::optional<QJsonObject>> message(QString id, QString accessToken,
                                                    QDeadlineTimer deadline);

    GoogleSettings m_settings;
};
