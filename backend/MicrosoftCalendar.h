#pragma once

#include "BackendConfig.h"
#include "OAuthProvider.h"

#include <QJsonObject>
#include <QUrlQuery>

// Microsoft accounts through the identity platform's "common" tenant (authorization code with
// PKCE) and Microsoft Graph v1.0 (me/calendars, calendarView with times in UTC, me/messages
// with $search).
class MicrosoftCalendar : public OAuthProvider {
public:
    static inline const QString defaultScopes =
        QStringLiteral("offline_access openid email profile "
                       "https://graph.microsoft.com/Calendars.Read "
                       "https://graph.microsoft.com/Mail.Read");

    MicrosoftCalendar(MicrosoftSettings settings, UpstreamClient &upstream)
        : OAuthProvider("Microsoft", settings.client, upstream)
        , m_settings(std::move(settings)) {}

    QCoro::Task<bool> revoke(QString refreshToken, QDeadlineTimer deadline) override;
    QCoro::Task<ProviderPage> calendars(QString accessToken, std::optional<QString> pageToken,
                                        QDeadlineTimer deadline) override;
    QCoro::Task<ProviderPage> events(QString accessToken, EventQuery query,
                                     QDeadlineTimer deadline) override;
    QCoro::Task<ProviderPage> messages(QString accessToken, MessageQuery query,
                                       QDeadlineTimer deadline) override;

    static QJsonObject calendarRecord(const QJsonObject &item);
    static QJsonObject eventRecord(const QJsonObject &item, const QString &calendarId);
    static QJsonObject messageRecord(const QJsonObject &item);

protected:
    QUrl consentPage() const override;
    QUrl tokenEndpoint() const override;
    QString scopes() const override { return defaultScopes; }
    Fields consentExtras() const override;
    Fields tokenExtras() const override;

private:
    // GET of a Graph address: a path under v1.0 with its query, or a next link Graph issued.
    QCoro::Task<QJsonObject> get(QUrl url, QString accessToken, QDeadlineTimer deadline);
    QUrl graphUrl(const QString &path) const;
    // A cursor handed back by the app, accepted only when it is one of Graph's own addresses
    // (the access token goes wherever it points).
    std::optional<QUrl> nextLink(const QString &cursor) const;
    static ProviderPage page(const QJsonObject &answer, QJsonArray data);

    MicrosoftSettings m_settings;
};
