#include "SlackService.h"

#include "BackendAPIClient.h"
#include "HttpExchange.h"
#include "SignInListener.h"
#include "SyncLog.h"
#include "core/AppConfig.h"
#include "core/Clock.h"
#include "core/JsonRead.h"
#include "platform/BrowserLauncher.h"
#include "platform/SecretStore.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSet>
#include <QUrlQuery>

namespace {
QString tokenKey() {
    return QString::fromLatin1(SecretStore::slackToken);
}

// Everything but ':' and '/' is encoded, so "&", "=" and "+" survive as data.
QString encoded(const QString &value) {
    return QString::fromLatin1(QUrl::toPercentEncoding(value, ":/"));
}
} // namespace

SlackService::SlackService(BackendAPIClient &backend, SecretStore &secrets, Clock &clock,
                           QObject *parent)
    : QObject(parent)
    , m_backend(backend)
    , m_secrets(secrets)
    , m_clock(clock) {}

SlackService::~SlackService() = default;

QString SlackService::origin() {
    return AppConfig::originFromEnvironment("ZELVANE_SLACK_ORIGIN",
                                            QStringLiteral("https://slack.com"));
}

QCoro::Task<bool> SlackService::isConnected() {
    co_return (co_await m_secrets.load(tokenKey())).has_value();
}

QCoro::Task<> SlackService::disconnect() {
    co_await m_secrets.remove(tokenKey());
}

QUrl SlackService::authorizeURL(const QString &state) {
    QUrl url(origin() + QStringLiteral("/oauth/v2/authorize"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("client_id"), encoded(QString::fromLatin1(clientId)));
    query.addQueryItem(QStringLiteral("user_scope"), encoded(QString::fromLatin1(userScopes)));
    query.addQueryItem(QStringLiteral("redirect_uri"), encoded(AppConfig::slackCallbackURL()));
    query.addQueryItem(QStringLiteral("state"), encoded(state));
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    url.setQuery(query);
    return url;
}

QCoro::Task<> SlackService::authenticate() {
    QPointer<SlackService> self(this);
    auto handler = std::make_unique<SlackSignInListener>();
    handler->start();
    const QUrl url = authorizeURL(handler->state());
    if (!url.isValid())
        throw SlackError::authFailed();
    BrowserLauncher::openPage(url);

    // The time limit races the listener; whichever ends first decides, and ends the other.
    SlackSignInListener *raw = handler.get();
    m_clock.after(signInLimit, raw, [raw] { raw->fail(SlackError::authTimeout()); });
    m_waitingSignIn = raw;
    const QString code = co_await handler->waitForCode();
    handler.reset();
    if (!self)
        throw SlackError::authFailed();

    const QString token = co_await m_backend.exchangeSlackCode(code, AppConfig::slackCallbackURL());
    if (!self)
        throw SlackError::authFailed();
    try {
        co_await m_secrets.save(tokenKey(), token);
    } catch (const SecretStoreError &error) {
        // Without a store the sign-in still counts as done; the next search will say so.
        qCWarning(lcSync) << "Slack sign-in: keeping the token failed:" << error.message();
    }
}

void SlackService::cancelSignIn() {
    if (m_waitingSignIn)
        m_waitingSignIn->fail(SlackError::cancelled());
}

QList<SlackMessage> SlackService::parseSearchReply(const QByteArray &body) {
    const QJsonDocument doc = JsonRead::document(body);
    const QJsonObject root = doc.isObject() ? doc.object() : QJsonObject();
    const QJsonValue ok = root.value(u"ok");
    if (!ok.isBool() || !ok.toBool()) {
        const QJsonValue message = root.value(u"error");
        throw SlackError::apiError(
            message.isString() ? message.toString()
                               : QCoreApplication::translate("SlackError", "Unknown error"));
    }
    const QJsonValue matches = root.value(u"messages").toObject().value(u"matches");
    if (!root.value(u"messages").isObject() || !matches.isArray())
        return {};

    QList<SlackMessage> messages;
    for (const QJsonValue &value : matches.toArray()) {
        const QJsonObject match = value.toObject();
        const QJsonValue text = match.value(u"text"),
                         channel = match.value(u"channel").toObject().value(u"name"),
                         username = match.value(u"username"), ts = match.value(u"ts"),
                         permalink = match.value(u"permalink");
        if (!text.isString() || !channel.isString() || !username.isString() || !ts.isString() ||
            !permalink.isString())
            continue;
        messages.append({text.toString(), channel.toString(), username.toString(), ts.toString(),
                         permalink.toString()});
    }
    return messages;
}

QCoro::Task<QList<SlackMessage>> SlackService::searchMessages(QString query) {
    QPointer<SlackService> self(this);
    const auto token = co_await m_secrets.load(tokenKey());
    if (!self || !token)
        throw SlackError::notConnected();
    QUrl url(origin() + QStringLiteral("/api/search.messages"));
    QUrlQuery items;
    items.addQueryItem(QStringLiteral("query"), encoded(query));
    items.addQueryItem(QStringLiteral("sort"), QStringLiteral("timestamp"));
    items.addQueryItem(QStringLiteral("sort_dir"), QStringLiteral("desc"));
    items.addQueryItem(QStringLiteral("count"), QString::number(pageSize));
    url.setQuery(items);
    if (!url.isValid())
        throw SlackError::requestFailed();

    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
    const HttpLimits limits{m_timeout, std::nullopt};
    const HttpReply reply = co_await sendRequest(m_network, request, HttpVerb::get, {}, limits);
    if (reply.status != 200)
        throw SlackError::requestFailed();
    co_return parseSearchReply(reply.body);
}

QCoro::Task<QHash<QString, QList<SlackMessage>>>
SlackService::fetchContextForAttendees(QStringList emails) {
    QPointer<SlackService> self(this);
    QHash<QString, QList<SlackMessage>> result;
    for (const QString &email : std::as_const(emails)) {
        QList<SlackMessage> found;
        for (const QString &direction : {QStringLiteral("from:<"), QStringLiteral("to:<")}) {
            if (!self)
                co_return result;
            try {
                found.append(co_await searchMessages(direction + email + QLatin1Char('>')));
            } catch (const std::exception &error) {
                // A failing query just contributes nothing.
                qCWarning(lcSync) << "Slack search for an attendee failed:" << error.what();
            }
        }
        QSet<QString> permalinks;
        QList<SlackMessage> unique;
        for (SlackMessage &message : found)
            if (!permalinks.contains(message.permalink)) {
                permalinks.insert(message.permalink);
                unique.append(std::move(message));
            }
        if (!unique.isEmpty())
            result.insert(email, std::move(unique));
    }
    co_return result;
}
