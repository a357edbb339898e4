#include "AdminRoutes.h"

#include "DemoData.h"
#include "RequestHelpers.h"

#include <QDateTime>
#include <cmath>

using namespace RequestHelpers;

namespace {

HttpResponse ok() {
    return HttpResponse::json(QJsonObject{{QStringLiteral("ok"), true}});
}

std::optional<int> wholeNumber(const QJsonValue &value, int min, int max) {
    const double number = value.toDouble();
    if (!value.isDouble() || !(number >= min && number <= max) || std::floor(number) != number)
        return std::nullopt;
    return int(number);
}

} // namespace

HttpResponse AdminRoutes::handle(const QString &path, const HttpRequest &request) {
    const QString &method = request.method;
    if (path == QLatin1String("faults") && method == QLatin1String("POST"))
        return addFault(request);
    if (path == QLatin1String("faults") && method == QLatin1String("DELETE")) {
        m_faults.clear();
        return ok();
    }
    if (path == QLatin1String("grants") && method == QLatin1String("POST"))
        return createGrant(request);
    if (path == QLatin1String("events") && method == QLatin1String("POST"))
        return replaceEvents(request);
    if (path == QLatin1String("sms") && method == QLatin1String("GET"))
        return sms();
    if (path == QLatin1String("requests") && method == QLatin1String("GET"))
        return HttpResponse::json(QJsonObject{{QStringLiteral("requests"), m_log.entries()}});
    if (path == QLatin1String("requests") && method == QLatin1String("DELETE")) {
        m_log.clear();
        return ok();
    }
    return HttpResponse::error(404, QStringLiteral("no such admin route"));
}

HttpResponse AdminRoutes::addFault(const HttpRequest &request) {
    const auto body = jsonObjectBody(request);
    if (!body)
        return HttpResponse::error(400, QStringLiteral("body must be a JSON object"));
    QString error;
    const std::optional<Fault> fault = Fault::fromJson(*body, &error);
    if (!fault)
        return HttpResponse::error(400, error);
    m_faults.add(*fault);
    return HttpResponse::json(fault->toJson());
}

HttpResponse AdminRoutes::createGrant(const HttpRequest &request) {
    const auto body = jsonObjectBody(request);
    if (!body)
        return HttpResponse::error(400, QStringLiteral("body must be a JSON object"));
    GrantRequest grant{DemoData::userEmail, QStringLiteral("google"), std::nullopt,
                       DemoData::defaultMinutesUntilFirst};
    const QJsonValue email = body->value(QStringLiteral("email"));
    const QJsonValue provider = body->value(QStringLiteral("provider"));
    const QJsonValue events = body->value(QStringLiteral("events"));
    const QJsonValue minutes = body->value(QStringLiteral("minutesUntilFirst"));
    if (email.isString())
        grant.email = email.toString();
    else if (!email.isUndefined())
        return HttpResponse::error(400, QStringLiteral("\"email\" must be a string"));
    if (provider.isString())
        grant.provider = provider.toString();
    else if (!provider.isUndefined())
        return HttpResponse::error(400, QStringLiteral("\"provider\" must be a string"));
    if (!events.isUndefined()) {
        grant.generatedEvents = wholeNumber(events, 0, maxGeneratedEvents);
        if (!grant.generatedEvents)
            return HttpResponse::error(400, QStringLiteral("\"events\" must be a count"));
    }
    if (!minutes.isUndefined()) {
        const auto value = wholeNumber(minutes, -100'000, 100'000);
        if (!value)
            return HttpResponse::error(400,
                                       QStringLiteral("\"minutesUntilFirst\" must be minutes"));
        grant.minutesUntilFirst = *value;
    }
    return HttpResponse::json(
        m_state.createGrant(grant, QDateTime::currentSecsSinceEpoch()).toJson());
}

HttpResponse AdminRoutes::replaceEvents(const HttpRequest &request) {
    const auto body = jsonObjectBody(request);
    const auto grantId = body ? stringMember(*body, QStringLiteral("grantId")) : std::nullopt;
    const QJsonValue events = body ? body->value(QStringLiteral("events")) : QJsonValue();
    if (!grantId || !events.isArray())
        return HttpResponse::error(400, QStringLiteral("\"grantId\" and \"events\" are required"));
    Grant *grant = m_state.grant(*grantId);
    if (!grant)
        return HttpResponse::error(404, QStringLiteral("grant not found"));
    // Kept verbatim, malformed entries included: tests use them to probe the client.
    grant->events = events.toArray();
    return ok();
}

HttpResponse AdminRoutes::sms() const {
    QJsonArray messages;
    for (const SmsMessage &message : m_state.smsMessages())
        messages.append(QJsonObject{{QStringLiteral("to"), message.to},
                                    {QStringLiteral("body"), message.body},
                                    {QStringLiteral("credential"), message.credential}});
    return HttpResponse::json(QJsonObject{{QStringLiteral("messages"), messages}});
}
