#include "SlackOAuth.h"

#include "BackendLog.h"
#include "CalendarProvider.h"
#include "ProviderJson.h"
#include "RequestHelpers.h"

using namespace ProviderJson;
using namespace RequestHelpers;

QCoro::Task<QString> SlackOAuth::exchange(QString code, QString redirectUri,
                                          QDeadlineTimer deadline) {
    QUrl url = m_settings.origin;
    url.setPath(url.path() + QStringLiteral("/api/oauth.v2.access"));
    const UpstreamClient::Form form{
        {QStringLiteral("code"), code},
        {QStringLiteral("redirect_uri"), redirectUri},
        {QStringLiteral("client_id"), m_settings.client.clientId},
        {QStringLiteral("client_secret"), m_settings.client.clientSecret}};
    const QNetworkRequest request(url);
    const UpstreamReply reply = co_await m_upstream.postForm(request, form, deadline);
    if (reply.status != 200) {
        qCWarning(lcBackend) << "Slack oauth.v2.access answered" << reply.status;
        throw ProviderError(ProviderError::Kind::upstream,
                            QStringLiteral("Slack failed (%1)").arg(reply.status).toStdString());
    }
    // Slack answers 200 either way and says in "ok" whether it worked.
    const QJsonObject answer = object(reply.body);
    if (!answer.value(QStringLiteral("ok")).toBool()) {
        const QString error = optionalString(answer, QStringLiteral("error")).value_or(QString());
        static const QStringList refusals{
            QStringLiteral("invalid_code"), QStringLiteral("code_already_used"),
            QStringLiteral("code_expired"), QStringLiteral("bad_redirect_uri"),
            QStringLiteral("invalid_grant_type")};
        if (refusals.contains(error))
            throw ProviderError(ProviderError::Kind::revoked, "Slack refused the code");
        // invalid_client_id, bad_client_secret, ...: the backend's own setup.
        qCWarning(lcBackend).noquote() << "Slack refused the exchange:" << error.left(64);
        throw ProviderError(ProviderError::Kind::upstream, "Slack refused the backend's app");
    }
    const QString token = requiredString(optionalObject(answer, QStringLiteral("authed_user")),
                                         QStringLiteral("access_token"));
    if (token.isEmpty())
        throw ProviderError(ProviderError::Kind::upstream, "malformed provider answer: token");
    co_return token;
}

HttpResponse SlackOAuth::callback(const HttpRequest &request) {
    const QString state = queryValue(request, QStringLiteral("state")).value_or(QString());
    const qsizetype colon = state.lastIndexOf(QLatin1Char(':'));
    const auto port = colon < 0 ? std::nullopt : parseInteger(state.mid(colon + 1), 1, 65535);
    if (!port)
        return HttpResponse::html(
            QStringLiteral("Slack sign-in failed"),
            QStringLiteral("<h1>Slack sign-in failed</h1>\n<p>The sign-in did not say where "
                           "Zelvane is listening. Start the Slack connection again from "
                           "Zelvane's settings.</p>"),
            400);
    QList<std::pair<QString, QString>> items;
    for (const QString &key :
         {QStringLiteral("code"), QStringLiteral("state"), QStringLiteral("error")})
        if (const auto value = queryValue(request, key))
            items.append({key, *value});
    const QUrl target(QStringLiteral("http://127.0.0.1:%1/slack/callback").arg(*port));
    return HttpResponse::redirect(withQueryItems(target, items));
}
