#pragma once

#include "BackendConfig.h"
#include "CalendarProvider.h"
#include "UpstreamClient.h"

#include <QJsonObject>
#include <QNetworkRequest>

// What Google and Microsoft do alike: the consent address with PKCE, the token endpoint
// (code exchange and refresh, "invalid_grant" for a code or refresh token no longer honoured),
// and bearer GETs whose statuses mean the same. Each provider adds its own addresses, extra
// parameters, and the mapping of its records.
class OAuthProvider : public CalendarProvider {
public:
    QUrl authorizationUrl(const QString &redirectUri, const QString &state,
                          const QString &codeChallenge) const override;
    QCoro::Task<IssuedTokens> exchangeCode(QString code, QString redirectUri, QString verifier,
                                           QDeadlineTimer deadline) override;
    QCoro::Task<IssuedTokens> refresh(QString refreshToken, QDeadlineTimer deadline) override;

protected:
    using Fields = UpstreamClient::Form;

    OAuthProvider(const char *name, OAuthClientSettings client, UpstreamClient &upstream)
        : m_name(name)
        , m_client(std::move(client))
        , m_upstream(upstream) {}

    virtual QUrl consentPage() const = 0;
    virtual QUrl tokenEndpoint() const = 0;
    virtual QString scopes() const = 0;
    // Parameters this provider adds to the consent address and to every token request.
    virtual Fields consentExtras() const = 0;
    virtual Fields tokenExtras() const { return {}; }

    // GET with the access token: 401 is `unauthorized`, 404 and 410 `notFound`, any other
    // failure `upstream`; the answer must be a JSON object.
    QCoro::Task<QJsonObject> getJson(QNetworkRequest request, QString accessToken,
                                     QDeadlineTimer deadline);
    [[noreturn]] void upstreamFailure(const QString &what, int status) const;

    UpstreamClient &upstream() const { return m_upstream; }

private:
    QCoro::Task<IssuedTokens> requestTokens(Fields form, QDeadlineTimer deadline);

    const char *m_name;
    OAuthClientSettings m_client;
    UpstreamClient &m_upstream;
};
