#pragma once

#include "HttpRequest.h"
#include "HttpResponse.h"

#include <optional>

// Slack's Web API method search.messages over the demo workspace. Like Slack, it answers
// 200 with {"ok": false, "error": ...} for refusals; any "xoxp-" user token is accepted, so a
// token stored by an earlier run keeps working.
class SlackApi {
public:
    static constexpr int defaultCount = 20;
    static constexpr int maxCount = 100;

    // Nothing when `path` is not a method served here.
    std::optional<HttpResponse> handle(const QString &path, const HttpRequest &request) const;

private:
    static HttpResponse searchMessages(const HttpRequest &request);
};
