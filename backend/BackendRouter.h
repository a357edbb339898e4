#pragma once

#include "AdminRoutes.h"
#include "BackendState.h"
#include "BrowserPages.h"
#include "FaultInjector.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "NylasRoutes.h"
#include "ProductRoutes.h"
#include "RequestLog.h"
#include "SlackApi.h"

#include <optional>

// Sends each request to its routes. Everything outside /_admin/ is logged, may meet an
// installed fault first, and under nylas/ must carry the credential when one is required.
// /_admin/ exists only when asked for: it hands out what other clients sent.
class BackendRouter {
public:
    static inline const QString apiBase = QStringLiteral("/functions/v1/api/");
    static inline const QString adminBase = QStringLiteral("/_admin/");

    BackendRouter(std::optional<QString> credential, bool adminEnabled);

    void setOrigin(const QString &origin) { m_nylas.setOrigin(origin); }
    HttpResponse handle(const HttpRequest &request);

    // The name faults use: the path under the API base, or the path without its leading "/".
    static QString endpointName(const QString &path);

private:
    HttpResponse route(const QString &endpoint, const HttpRequest &request);

    std::optional<QString> m_credential;
    bool m_adminEnabled;
    BackendState m_state;
    FaultInjector m_faults;
    RequestLog m_log;
    NylasRoutes m_nylas;
    ProductRoutes m_product;
    BrowserPages m_pages;
    SlackApi m_slack;
    AdminRoutes m_admin;
};
