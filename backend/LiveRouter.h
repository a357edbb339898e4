#pragma once

#include "BackendConfig.h"
#include "CalendarProvider.h"
#include "CredentialSet.h"
#include "GrantStore.h"
#include "HttpServer.h"
#include "SlackOAuth.h"
#include "SmsGateway.h"
#include "UpstreamClient.h"

#include <chrono>
#include <functional>
#include <memory>

// The backend contract served from the providers' own APIs. Every nylas/ request must carry
// an accepted credential as a bearer token, and a grant answers only to the credential that
// created it (any other is told it does not exist). sms carries the credential in its body;
// the Slack endpoints need none (Slack itself binds a code to this backend's app).
class LiveRouter {
public:
    // A provider call, retries included, ends within this; the app waits 60 s.
    static constexpr std::chrono::seconds requestBudget{25};
    static constexpr qint64 signInLifetimeSecs = 600;
    // An access token this close to expiry is renewed before use.
    static constexpr qint64 refreshMarginSecs = 60;
    // How often a request takes a refresh token another request rotated before giving up, and
    // how long it waits for a racing renewal to be stored.
    static constexpr int maxRereads = 8;
    static constexpr int rotationLooks = 5;
    static constexpr std::chrono::milliseconds rotationWait{100};
    static constexpr qsizetype maxTokenChars = 4096;
    static constexpr qsizetype maxQueryChars = 512;
    // Gmail costs one call per message found, so a search is served this many at most.
    static constexpr int maxMessages = 50;

    LiveRouter(const BackendConfig &config, const CredentialSet &credentials, GrantStore &store,
               UpstreamClient &upstream);
    ~LiveRouter();

    void handle(const HttpRequest &request, const HttpServer::Responder &respond);

private:
    using ProviderCall = std::function<QCoro::Task<ProviderPage>(QString accessToken)>;

    QCoro::Task<> serve(HttpRequest request, HttpServer::Responder respond);
    QCoro::Task<HttpResponse> route(const HttpRequest &request, QDeadlineTimer deadline);
    QCoro::Task<HttpResponse> exchangeToken(const HttpRequest &request, QByteArray owner,
                                            QDeadlineTimer deadline);
    QCoro::Task<HttpResponse> calendars(const HttpRequest &request, StoredGrant grant,
                                        QDeadlineTimer deadline);
    QCoro::Task<HttpResponse> events(const HttpRequest &request, StoredGrant grant,
                                     QDeadlineTimer deadline);
    QCoro::Task<HttpResponse> messages(const HttpRequest &request, StoredGrant grant,
                                       QDeadlineTimer deadline);
    QCoro::Task<HttpResponse> revokeGrant(StoredGrant grant, QDeadlineTimer deadline);
    QCoro::Task<HttpResponse> product(const QString &endpoint, const HttpRequest &request,
                                      QDeadlineTimer deadline);
    QCoro::Task<HttpResponse> sms(const HttpRequest &request, QDeadlineTimer deadline);
    QCoro::Task<HttpResponse> slackExchange(const HttpRequest &request, QDeadlineTimer deadline);
    HttpResponse authUrl(const HttpRequest &request, const QByteArray &owner);

    // Runs `call` with a fresh access token, renewing it once more when the provider refuses
    // it. A refresh token the provider refused ends the grant, unless the store already holds
    // a newer one.
    QCoro::Task<ProviderPage> withAccess(StoredGrant grant, ProviderCall call,
                                         QDeadlineTimer deadline);
    QCoro::Task<QString> accessToken(StoredGrant grant, bool renew, QDeadlineTimer deadline);

    CalendarProvider *provider(const QString &name) const;

    const CredentialSet &m_credentials;
    GrantStore &m_store;
    std::unique_ptr<CalendarProvider> m_google;
    std::unique_ptr<CalendarProvider> m_microsoft;
    std::unique_ptr<SlackOAuth> m_slack;
    std::unique_ptr<SmsGateway> m_sms;
    int m_smsAllowance = 0;
};
