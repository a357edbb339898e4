#include "BackendRouter.h"

namespace {

HttpResponse faultResponse(const Fault &fault) {
    if (!fault.body)
        return HttpResponse::error(*fault.status, QStringLiteral("Injected fault"));
    HttpResponse response;
    response.status = fault.status.value_or(200);
    response.contentType = "application/json";
    response.body = fault.body->toUtf8();
    return response;
}

} // namespace

BackendRouter::BackendRouter(std::optional<QString> credential, bool adminEnabled)
    : m_credential(credential)
    , m_adminEnabled(adminEnabled)
    , m_nylas(m_state)
    , m_product(m_state, std::move(credential))
    , m_pages(m_state)
    , m_admin(m_state, m_faults, m_log) {}

QString BackendRouter::endpointName(const QString &path) {
    if (path.startsWith(apiBase))
        return path.mid(apiBase.size());
    return path.mid(1);
}

HttpResponse BackendRouter::handle(const HttpRequest &request) {
    if (m_adminEnabled && request.path.startsWith(adminBase))
        return m_admin.handle(request.path.mid(adminBase.size()), request);

    m_log.record(request);
    const QString endpoint = endpointName(request.path);
    const std::optional<Fault> fault = m_faults.take(endpoint);
    if (fault && (fault->status || fault->body)) {
        HttpResponse response = faultResponse(*fault);
        response.delay = fault->delay;
        return response;
    }
    HttpResponse response = route(endpoint, request);
    if (fault)
        response.delay = fault->delay;
    return response;
}

HttpResponse BackendRouter::route(const QString &endpoint, const HttpRequest &request) {
    if (request.path.startsWith(apiBase)) {
        if (endpoint.startsWith(QLatin1String("nylas/"))) {
            if (m_credential &&
                request.header("authorization") != QStringLiteral("Bearer ") + *m_credential)
                return HttpResponse::error(401, QStringLiteral("Unauthorized"));
            if (auto response = m_nylas.handle(endpoint.mid(6), request))
                return *response;
        } else if (auto response = m_product.handle(endpoint, request)) {
            return *response;
        }
    } else if (auto response = m_pages.handle(request.path, request)) {
        return *response;
    } else if (auto response = m_slack.handle(request.path, request)) {
        return *response;
    }
    return HttpResponse::error(404, QStringLiteral("Not found"));
}
