#pragma once

#include "BackendState.h"
#include "HttpRequest.h"
#include "HttpResponse.h"

#include <optional>

// The pages a browser meets during sign-in: the calendar provider's consent page and Slack's
// authorization page. Each page's one link leads to a "continue" address with the same query,
// which redirects with a fresh code, so tests can skip the page and request that address.
class BrowserPages {
public:
    explicit BrowserPages(BackendState &state)
        : m_state(state) {}

    // Nothing when `path` is not one of these pages.
    std::optional<HttpResponse> handle(const QString &path, const HttpRequest &request);

private:
    HttpResponse signInPage(const HttpRequest &request);
    HttpResponse signInContinue(const HttpRequest &request);
    HttpResponse slackAuthorizePage(const HttpRequest &request);
    HttpResponse slackAllow(const HttpRequest &request);

    BackendState &m_state;
};
