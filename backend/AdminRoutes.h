#pragma once

#include "BackendState.h"
#include "FaultInjector.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "RequestLog.h"

// The test-control interface under /_admin/: faults, direct grants, event lists, and what the
// app has sent.
class AdminRoutes {
public:
    static constexpr int maxGeneratedEvents = 100'000;

    AdminRoutes(BackendState &state, FaultInjector &faults, RequestLog &log)
        : m_state(state)
        , m_faults(faults)
        , m_log(log) {}

    // `path` is relative to /_admin/.
    HttpResponse handle(const QString &path, const HttpRequest &request);

private:
    HttpResponse addFault(const HttpRequest &request);
    HttpResponse createGrant(const HttpRequest &request);
    HttpResponse replaceEvents(const HttpRequest &request);
    HttpResponse sms() const;

    BackendState &m_state;
    FaultInjector &m_faults;
    RequestLog &m_log;
};
