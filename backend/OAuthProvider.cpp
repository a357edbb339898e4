#include "OAuthProvider.h"

#include "BackendLog.h"
#include "ProviderJson.h"

#include <QDateTime>
#include <QUrlQuery>

using namespace ProviderJson;

QUrl OAuthProvider::authorizationUrl(const QString &redirectUri, const QString &state,
                                     const QString &codeChallenge) const {
    QUrl url = consentPage();
    QUrlQuery query;
    Fields fields{{QStringLiteral("client_id"), m_client.clientId},
                  {QStringLiteral("redirect_uri"), redirectUri},
                  {QStringLiteral("response_type"), QStringLiteral("code")},
                  {QStringLiteral("scope"), scopes()},
                  {QStringLiteral("state"), state},
                  {QStringLiteral("code_challenge"), codeChallenge},
                  {QStringLiteral("code_challenge_method"), QStringLiteral("S256")}};
    fields += consentExtras();
    for (const auto &[key, value] : fields)
        query.addQueryItem(key, QString::fromLatin1(QUrl::toPercentEncoding(value)));
    url.setQuery(query);
    return url;
}

QCoro::Task<IssuedTokens> OAuthProvider::exchangeCode(QString code, QString redirectUri,
                                                      QString verifier, QDeadlineTimer deadline) {
    Fields form{{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
                {QStringLiteral("code"), code},
                {QStringLiteral("redirect_uri"), redirectUri},
                {QStringLiteral("code_verifier"), verifier}};
    co_return co_await requestTokens(form, deadline);
}

QCoro::Task<IssuedTokens> OAuthProvider::refresh(QString refreshToken, QDeadlineTimer deadline) {
    Fields form{{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                {QStringLiteral("refresh_token"), refreshToken}};
    co_return co_await requestTokens(form, deadline);
}

QCoro::Task<IssuedTokens> OAuthProvider::requestTokens(Fields form, QDeadlineTimer deadline) {
    form.append({QStringLiteral("client_id"), m_client.clientId});
    form.append({QStringLiteral("client_secret"), m_client.clientSecret});
    form += tokenExtras();
    const QNetworkRequest request(tokenEndpoint());
    const UpstreamReply reply = co_await m_upstream.postForm(request, form, deadline);
    if (reply.status == 400 || reply.status == 401) {
        // invalid_grant: the code or refresh token is spent, expired or revoked. Anything
        // else at this endpoint (invalid_client, ...) is the backend's own setup.
        const QJsonObject error = object(reply.body);
        if (error.value(QStringLiteral("error")).toString() == QLatin1String("invalid_grant"))
            throw ProviderError(ProviderError::Kind::revoked,
                                std::string(m_name) + " refused the grant");
    }
    if (reply.status != 200)
        upstreamFailure(QStringLiteral("token endpoint"), reply.status);
    const QJsonObject answer = object(reply.body);
    IssuedTokens tokens;
    tokens.accessToken = requiredString(answer, QStringLiteral("access_token"));
    // Absent when a refresh keeps the old one; Microsoft rotates it on every refresh.
    tokens.refreshToken =
        optionalString(answer, QStringLiteral("refresh_token")).value_or(QString());
    const QJsonValue expiresIn = answer.value(QStringLiteral("expires_in"));
    if (!expiresIn.isDouble() || expiresIn.toDouble() <= 0)
        throw ProviderError(ProviderError::Kind::upstream, "malformed provider answer: expires_in");
    tokens.expiresSecs = QDateTime::currentSecsSinceEpoch() + qint64(expiresIn.toDouble());
    if (const auto idToken = optionalString(answer, QStringLiteral("id_token")))
        tokens.email = idTokenEmail(*idToken).value_or(QString());
    co_return tokens;
}

QCoro::Task<QJsonObject> OAuthProvider::getJson(QNetworkRequest request, QString accessToken,
                                                QDeadlineTimer deadline) {
    request.setRawHeader("Authorization", "Bearer " + accessToken.toUtf8());
    const UpstreamReply reply =
        co_await m_upstream.send(QByteArrayLiteral("GET"), request, QByteArray(), deadline);
    if (reply.status == 401)
        throw ProviderError(ProviderError::Kind::unauthorized,
                            std::string(m_name) + " refused the access token");
    if (reply.status == 404 || reply.status == 410)
        throw ProviderError(ProviderError::Kind::notFound, std::string("not found at ") + m_name);
    if (reply.status != 200)
        upstreamFailure(request.url().path().section(u'/', 0, 3), reply.status);
    co_return object(reply.body);
}

void OAuthProvider::upstreamFailure(const QString &what, int status) const {
    qCWarning(lcBackend).noquote() << m_name << what << "answered" << status;
    throw ProviderError(ProviderError::Kind::upstream, QStringLiteral("%1 %2 failed (%3)")
                                                           .arg(QLatin1String(m_name), what)
                                                           .arg(status)
                                                           .toStdString());
}
