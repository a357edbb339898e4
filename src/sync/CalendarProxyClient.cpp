#include "CalendarProxyClient.h"

#include "BackendAPIClient.h"
#include "HttpExchange.h"
#include "core/AppConfig.h"
#include "core/JsonRead.h"

#include <QCoroFuture>
#include <QJsonDocument>
#include <QPointer>
#include <QtConcurrent>
#include <exception>

CalendarProxyClient::CalendarProxyClient(SecretStore &secrets, Clock &clock, QObject *parent)
    : QObject(parent)
    , m_secrets(secrets)
    , m_clock(clock) {}

QCoro::Task<QByteArray> CalendarProxyClient::exchange(QString path, QByteArray verb,
                                                      QUrlQuery query,
                                                      std::optional<QJsonObject> body) {
    auto url = AppConfig::proxyURL(path);
    if (!url)
        throw ProxyError::invalidAuthURL();
    if (!query.isEmpty()) {
        url->setQuery(query);
        if (!url->isValid())
            throw ProxyError::invalidAuthURL();
    }
    QNetworkRequest request = body ? jsonRequest(*url) : QNetworkRequest(*url);
    QPointer<CalendarProxyClient> self(this);
    const auto credential =
        co_await m_secrets.load(QString::fromLatin1(SecretStore::backendCredential));
    if (!self)
        throw TransportError(QNetworkReply::OperationCanceledError,
                             QCoreApplication::translate("TransportError", "Operation canceled"));
    if (credential)
        request.setRawHeader("Authorization", "Bearer " + credential->toUtf8());

    const QByteArray payload =
        body ? QJsonDocument(*body).toJson(QJsonDocument::Compact) : QByteArray();
    const HttpReply reply = co_await sendRequest(m_network, request, verb, payload, m_limits);
    if (reply.status != 200)
        throw BackendError::httpError(reply.status);
    co_return reply.body;
}

namespace {
struct DecodedPage {
    ProxyListResponse<ProxyEvent> page;
    std::exception_ptr failure;
};

// Query values are encoded fully so "+", "&" and "=" in them survive the trip.
QUrlQuery makeQuery(std::initializer_list<std::pair<QString, QString>> items) {
    QUrlQuery query;
    for (const auto &[key, value] : items)
        query.addQueryItem(key, QString::fromLatin1(QUrl::toPercentEncoding(value)));
    return query;
}
} // namespace

QCoro::Task<QUrl> CalendarProxyClient::getAuthURL(QString provider,
                                                  std::optional<QString> redirectURI) {
    QJsonObject body{{QStringLiteral("provider"), provider}};
    if (redirectURI)
        body.insert(QStringLiteral("redirectURI"), *redirectURI);
    const QByteArray answer =
        co_await exchange(QStringLiteral("auth-url"), HttpVerb::post, {}, std::move(body));
    const QString text = JsonRead::string(JsonRead::object(answer), u"authUrl");
    const QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid())
        throw ProxyError::invalidAuthURL();
    co_return url;
}

QCoro::Task<ProxyGrant> CalendarProxyClient::exchangeToken(QString code,
                                                           std::optional<QString> redirectURI) {
    QJsonObject body{{QStringLiteral("code"), code}};
    if (redirectURI)
        body.insert(QStringLiteral("redirectURI"), *redirectURI);
    const QByteArray answer =
        co_await exchange(QStringLiteral("exchange-token"), HttpVerb::post, {}, std::move(body));
    co_return ProxyGrant::fromJson(answer);
}

QCoro::Task<QList<ProxyCalendar>> CalendarProxyClient::fetchCalendars(QString grantId) {
    const QUrlQuery query = makeQuery({{QStringLiteral("grantId"), grantId}});
    const QByteArray answer =
        co_await exchange(QStringLiteral("calendars"), HttpVerb::get, query, {});
    co_return ProxyListResponse<ProxyCalendar>::decode(answer).data;
}

QCoro::Task<QList<ProxyEvent>> CalendarProxyClient::fetchEvents(QString grantId,
                                                                QString calendarId) {
    // One window for every page, fixed before the first request.
    const qint64 start = m_clock.now().toSecsSinceEpoch();
    const qint64 end = start + window.count();
    QList<ProxyEvent> events;
    std::optional<QString> cursor;
    for (int page = 1;; ++page) {
        QUrlQuery query = makeQuery({{QStringLiteral("grantId"), grantId},
                                     {QStringLiteral("calendarId"), calendarId},
                                     {QStringLiteral("start"), QString::number(start)},
                                     {QStringLiteral("end"), QString::number(end)},
                                     {QStringLiteral("limit"), QString::number(pageLimit)}});
        if (cursor)
            query.addQueryItem(QStringLiteral("page_token"),
                               QString::fromLatin1(QUrl::toPercentEncoding(*cursor)));
        const QByteArray answer =
            co_await exchange(QStringLiteral("events"), HttpVerb::get, query, {});
        // A page holds a few hundred events: read on a worker, so that a refresh of many
        // accounts leaves the main thread free. A malformed page fails as it would here.
        QFuture<DecodedPage> decoding = QtConcurrent::run([answer] {
            DecodedPage decoded;
            try {
                decoded.page = ProxyListResponse<ProxyEvent>::decode(answer);
            } catch (...) {
                decoded.failure = std::current_exception();
            }
            return decoded;
        });
        DecodedPage decoded = co_await decoding;
        if (decoded.failure)
            std::rethrow_exception(decoded.failure);
        ProxyListResponse<ProxyEvent> &response = decoded.page;
        events.append(std::move(response.data));
        if (!response.nextCursor || response.nextCursor->isEmpty() || page == maxPages)
            break;
        cursor = std::move(response.nextCursor);
    }
    co_return events;
}

QCoro::Task<QList<ProxyMessage>> CalendarProxyClient::searchMessages(QString grantId, QString query,
                                                                     int limit) {
    const QUrlQuery items = makeQuery({{QStringLiteral("grantId"), grantId},
                                       {QStringLiteral("q"), query},
                                       {QStringLiteral("limit"), QString::number(limit)}});
    const QByteArray answer =
        co_await exchange(QStringLiteral("messages"), HttpVerb::get, items, {});
    co_return ProxyListResponse<ProxyMessage>::decode(answer).data;
}

QCoro::Task<> CalendarProxyClient::revokeGrant(QString grantId) {
    QJsonObject body{{QStringLiteral("grant_id"), grantId}};
    co_await exchange(QStringLiteral("grant"), HttpVerb::del, {}, std::move(body));
}
