#pragma once

#include "BackendState.h"
#include "HttpRequest.h"
#include "HttpResponse.h"

#include <optional>

// The product endpoints outside the calendar proxy: text messages and the Slack sign-in relay.
class ProductRoutes {
public:
    ProductRoutes(BackendState &state, std::optional<QString> credential)
        : m_state(state)
        , m_credential(std::move(credential)) {}

    // Nothing when `endpoint` (relative to the API base) is not one of these routes.
    std::optional<HttpResponse> handle(const QString &endpoint, const HttpRequest &request);

private:
    HttpResponse sms(const HttpRequest &request);
    HttpResponse slackExchange(const HttpRequest &request);

    BackendState &m_state;
    std::optional<QString> m_credential;
};
