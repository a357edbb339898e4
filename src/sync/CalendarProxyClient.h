#pragma once

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

    static constexpr std::chrono::milliseconds defaultTimeout{60'000};
    static constexpr int pageLimit = 200;
    static constexpr int maxPages = 5;
    static constexpr qint64 windowSeconds = 7'776'000; // 90 days

    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

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
    std::chrono::milliseconds m_timeout = defaultTimeout;
};
