#pragma once

#include "HttpExchange.h"
#include "ProxyRecords.h"
#include "core/Clock.h"
#include "platform/SecretStore.h"

#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QObject>
#include <QUrl>
#include <QUrlQuery>
#include <chrono>
#include <optional>

// Client of the backend's calendar and e-mail proxy (paths under nylas/). Every request
// carries the stored backend credential, read afresh each time.
class CalendarProxyClient : public QObject {
    Q_OBJECT

public:
    CalendarProxyClient(SecretStore &secrets, Clock &clock, QObject *parent = nullptr);

    // A stall of 30 s ends a request, and so does 60 s in all, however steadily it trickles.
    static constexpr HttpLimits defaultLimits{std::chrono::seconds(30), std::chrono::seconds(60)};
    static constexpr int pageLimit = 200;
    static constexpr int maxPages = 5;
    static constexpr std::chrono::seconds window = std::chrono::days(90);

    void setLimits(HttpLimits limits) { m_limits = limits; }

    QCoro::Task<QUrl> getAuthURL(QString provider, std::optional<QString> redirectURI);
    QCoro::Task<ProxyGrant> exchangeToken(QString code, std::optional<QString> redirectURI);
    QCoro::Task<QList<ProxyCalendar>> fetchCalendars(QString grantId);
    // Up to five pages of the next 90 days, in the order received.
    QCoro::Task<QList<ProxyEvent>> fetchEvents(QString grantId, QString calendarId);
    QCoro::Task<QList<ProxyMessage>> searchMessages(QString grantId, QString query, int limit);
    QCoro::Task<> revokeGrant(QString grantId);

private:
    QCoro::Task<QByteArray> exchange(QString path, QByteArray verb, QUrlQuery query,
                                     std::optional<QJsonObject> body);

    SecretStore &m_secrets;
    Clock &m_clock;
    QNetworkAccessManager m_network;
    HttpLimits m_limits = defaultLimits;
};
