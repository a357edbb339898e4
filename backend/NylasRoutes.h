#pragma once

#include "BackendState.h"
#include "HttpRequest.h"
#include "HttpResponse.h"

#include <optional>

// The calendar and e-mail proxy: every endpoint under nylas/.
class NylasRoutes {
public:
    static constexpr int defaultPageSize = 50;
    static constexpr int maxPageSize = 200;

    explicit NylasRoutes(BackendState &state)
        : m_state(state) {}

    // The origin that sign-in pages are served from, known once the server listens.
    void setOrigin(const QString &origin) { m_origin = origin; }

    // Nothing when `endpoint` (relative to nylas/) is not one of these routes.
    std::optional<HttpResponse> handle(const QString &endpoint, const HttpRequest &request);

private:
    HttpResponse authUrl(const HttpRequest &request);
    HttpResponse exchangeToken(const HttpRequest &request);
    HttpResponse calendars(const HttpRequest &request);
    HttpResponse events(const HttpRequest &request);
    HttpResponse messages(const HttpRequest &request);
    HttpResponse revokeGrant(const HttpRequest &request);

    BackendState &m_state;
    QString m_origin;
};
