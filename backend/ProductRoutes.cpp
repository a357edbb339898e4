#include "ProductRoutes.h"

#include "RequestHelpers.h"
#include "SlackOAuth.h"

#include <QRandomGenerator>

using namespace RequestHelpers;

std::optional<HttpResponse> ProductRoutes::handle(const QString &endpoint,
                                                  const HttpRequest &request) {
    const auto onlyWith = [&](const char *method, auto &&answer) -> HttpResponse {
        if (request.method != QLatin1String(method))
            return HttpResponse::error(405, QStringLiteral("method not allowed"));
        return answer();
    };
    if (endpoint == QLatin1String("sms"))
        return onlyWith("POST", [&] { return sms(request); });
    if (endpoint == QLatin1String("slack/exchange"))
        return onlyWith("POST", [&] { return slackExchange(request); });
    if (endpoint == QLatin1String("slack/callback"))
        return onlyWith("GET", [&] { return SlackOAuth::callback(request); });
    return std::nullopt;
}

HttpResponse ProductRoutes::sms(const HttpRequest &request) {
    const auto body = jsonObjectBody(request);
    if (!body)
        return HttpResponse::error(400, QStringLiteral("Request body must be a JSON object"));
    const auto credential = stringMember(*body, QStringLiteral("credential"));
    const auto to = stringMember(*body, QStringLiteral("to"));
    const auto text = stringMember(*body, QStringLiteral("body"));
    if (!credential || !to || !text)
        return HttpResponse::error(400, QStringLiteral("credential, to and body are required"));
    if (m_credential && *credential != *m_credential)
        return HttpResponse::error(401, QStringLiteral("Invalid credential"));
    if (to->trimmed().isEmpty())
        return HttpResponse::error(400, QStringLiteral("Missing phone number"));
    const std::optional<int> remaining = m_state.sendSms({*to, *text, *credential});
    if (!remaining)
        return HttpResponse::error(429, QStringLiteral("SMS limit reached"));
    return HttpResponse::json(
        QJsonObject{{QStringLiteral("success"), true}, {QStringLiteral("remaining"), *remaining}});
}

HttpResponse ProductRoutes::slackExchange(const HttpRequest &request) {
    const auto body = jsonObjectBody(request);
    const auto code = body ? stringMember(*body, QStringLiteral("code")) : std::nullopt;
    const auto redirect = body ? stringMember(*body, QStringLiteral("redirect_uri")) : std::nullopt;
    if (!code || !redirect || !m_state.redeemSlackCode(*code, *redirect))
        return HttpResponse::error(400, QStringLiteral("invalid_code"));
    const QString token =
        QStringLiteral("xoxp-demo-%1")
            .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    return HttpResponse::json(QJsonObject{{QStringLiteral("accessToken"), token}});
}
