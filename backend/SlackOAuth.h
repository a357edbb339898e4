#pragma once

#include "BackendConfig.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "UpstreamClient.h"

#include <QCoroTask>
#include <QDeadlineTimer>

// The backend's side of "Sign in with Slack": Slack sends the browser to slack/callback, which
// hands the code on to the app's loopback listener, and the app sends the code back to
// slack/exchange, which turns it into the user's token through oauth.v2.access.
class SlackOAuth {
public:
    SlackOAuth(SlackSettings settings, UpstreamClient &upstream)
        : m_settings(std::move(settings))
        , m_upstream(upstream) {}

    // The user token (authed_user.access_token). Throws ProviderError: `revoked` when Slack
    // refuses the code or redirect address, `upstream` for anything else.
    QCoro::Task<QString> exchange(QString code, QString redirectUri, QDeadlineTimer deadline);

    // The browser's redirect to the app's listener, whose port ends "state" ("<uuid>:<port>").
    static HttpResponse callback(const HttpRequest &request);

private:
    SlackSettings m_settings;
    UpstreamClient &m_upstream;
};
