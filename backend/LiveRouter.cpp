#include "LiveRouter.h"

#include "BackendLog.h"
#include "GoogleCalendar.h"
#include "MicrosoftCalendar.h"
#include "RequestHelpers.h"

#include <QCoroTimer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QUrl>
#include <sodium.h>

using namespace RequestHelpers;

namespace {

const QString apiBase = QStringLiteral("/functions/v1/api/");

QByteArray randomBytes(qsizetype count) {
    QByteArray raw(count, Qt::Uninitialized);
    randombytes_buf(raw.data(), size_t(raw.size()));
    return raw;
}

QString base64Url(const QByteArray &bytes) {
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// The app's own sign-in listener: plain HTTP on this machine, a port, a path.
bool isLoopbackRedirect(const QString &text) {
    const QUrl url(text, QUrl::StrictMode);
    const QString host = url.host();
    return text.size() <= 2048 && url.isValid() && url.scheme() == QLatin1String("http") &&
           url.port() > 0 && url.userInfo().isEmpty() && !url.hasFragment() &&
           (host == QLatin1String("127.0.0.1") || host == QLatin1String("::1") ||
            host == QLatin1String("localhost"));
}

std::optional<QString> bearer(const HttpRequest &request) {
    const QString value = request.header("authorization").value_or(QString());
    if (!value.startsWith(QLatin1String("Bearer ")))
        return std::nullopt;
    return value.mid(7);
}

// The contract's list: "data", and "next_cursor" when there is more.
HttpResponse envelope(const ProviderPage &page) {
    QJsonObject body{{QStringLiteral("data"), page.data}};
    if (page.nextCursor)
        body.insert(QStringLiteral("next_cursor"), *page.nextCursor);
    return HttpResponse::json(body);
}

bool validPageToken(const std::optional<QString> &token) {
    return !token || (!token->isEmpty() && token->size() <= LiveRouter::maxTokenChars);
}

HttpResponse upstreamError() {
    return HttpResponse::error(502, QStringLiteral("upstream_error"));
}

} // namespace

LiveRouter::LiveRouter(const BackendConfig &config, const CredentialSet &credentials,
                       GrantStore &store, UpstreamClient &upstream)
    : m_credentials(credentials)
    , m_store(store) {
    if (config.google)
        m_google = std::make_unique<GoogleCalendar>(*config.google, upstream);
    if (config.microsoft)
        m_microsoft = std::make_unique<MicrosoftCalendar>(*config.microsoft, upstream);
    if (config.slack)
        m_slack = std::make_unique<SlackOAuth>(*config.slack, upstream);
    if (config.sms) {
        m_sms = std::make_unique<SmsGateway>(*config.sms, upstream);
        m_smsAllowance = config.sms->dailyLimit;
    }
}

LiveRouter::~LiveRouter() = default;

CalendarProvider *LiveRouter::provider(const QString &name) const {
    if (name == QLatin1String("google"))
        return m_google.get();
    if (name == QLatin1String("microsoft"))
        return m_microsoft.get();
    return nullptr;
}

void LiveRouter::handle(const HttpRequest &request, const HttpServer::Responder &respond) {
    serve(request, respond);
}

// Each request's boundary: whatever goes wrong below becomes an answer and one log line.
QCoro::Task<> LiveRouter::serve(HttpRequest request, HttpServer::Responder respond) {
    QElapsedTimer timer;
    timer.start();
    HttpResponse response;
    try {
        const QDeadlineTimer deadline(requestBudget);
        response = co_await route(request, deadline);
    } catch (const ProviderError &error) {
        switch (error.kind()) {
        case ProviderError::Kind::invalidRequest:
            response = HttpResponse::error(400, QString::fromUtf8(error.what()));
            break;
        case ProviderError::Kind::notFound:
            response = HttpResponse::error(404, QStringLiteral("not found"));
            break;
        case ProviderError::Kind::revoked:
            response = HttpResponse::error(
                404, QStringLiteral("grant revoked at the provider; sign in again"));
            break;
        case ProviderError::Kind::unauthorized:
        case ProviderError::Kind::upstream:
            qCWarning(lcBackend) << request.path << error.what();
            response = upstreamError();
            break;
        }
    } catch (const std::exception &error) {
        qCCritical(lcBackend) << request.path << error.what();
        response = HttpResponse::error(500, QStringLiteral("internal error"));
    }
    qCInfo(lcBackend).noquote() << request.method << request.path << response.status
                                << timer.elapsed() << "ms";
    respond(response);
}

QCoro::Task<HttpResponse> LiveRouter::route(const HttpRequest &request, QDeadlineTimer deadline) {
    if (!request.path.startsWith(apiBase))
        co_return HttpResponse::error(404, QStringLiteral("Not found"));
    const QString endpoint = request.path.mid(apiBase.size());
    if (!endpoint.startsWith(QLatin1String("nylas/")))
        co_return co_await product(endpoint, request, deadline);

    const QString name = endpoint.mid(6);
    static const QHash<QString, QString> methods{
        {QStringLiteral("auth-url"), QStringLiteral("POST")},
        {QStringLiteral("exchange-token"), QStringLiteral("POST")},
        {QStringLiteral("calendars"), QStringLiteral("GET")},
        {QStringLiteral("events"), QStringLiteral("GET")},
        {QStringLiteral("messages"), QStringLiteral("GET")},
        {QStringLiteral("grant"), QStringLiteral("DELETE")},
    };
    const auto method = methods.constFind(name);
    if (method == methods.constEnd())
        co_return HttpResponse::error(404, QStringLiteral("Not found"));
    const auto credential = bearer(request);
    const auto owner = credential ? m_credentials.owner(*credential) : std::nullopt;
    if (!owner)
        co_return HttpResponse::error(401, QStringLiteral("Unauthorized"));
    if (request.method != *method)
        co_return HttpResponse::error(405, QStringLiteral("method not allowed"));

    if (name == QLatin1String("auth-url"))
        co_return authUrl(request, *owner);
    if (name == QLatin1String("exchange-token"))
        co_return co_await exchangeToken(request, *owner, deadline);

    std::optional<QString> grantId;
    if (name == QLatin1String("grant")) {
        const auto body = jsonObjectBody(request);
        grantId = body ? stringMember(*body, QStringLiteral("grant_id")) : std::nullopt;
        if (!grantId)
            co_return HttpResponse::error(400, QStringLiteral("grant_id is required"));
    } else {
        grantId = queryValue(request, QStringLiteral("grantId"));
    }
    std::optional<StoredGrant> grant =
        grantId && grantId->size() <= 64 ? m_store.grant(*grantId) : std::nullopt;
    if (!grant || grant->owner != *owner || !provider(grant->provider))
        co_return HttpResponse::error(404, QStringLiteral("grant not found"));

    if (name == QLatin1String("calendars"))
        co_return co_await calendars(request, *grant, deadline);
    if (name == QLatin1String("events"))
        co_return co_await events(request, *grant, deadline);
    if (name == QLatin1String("messages"))
        co_return co_await messages(request, *grant, deadline);
    co_return co_await revokeGrant(*grant, deadline);
}

HttpResponse LiveRouter::authUrl(const HttpRequest &request, const QByteArray &owner) {
    const auto body = jsonObjectBody(request);
    const auto name = body ? stringMember(*body, QStringLiteral("provider")) : std::nullopt;
    if (!name || (*name != QLatin1String("google") && *name != QLatin1String("microsoft")))
        return HttpResponse::error(400, QStringLiteral("provider must be google or microsoft"));
    CalendarProvider *calendar = provider(*name);
    if (!calendar)
        return HttpResponse::error(400, QStringLiteral("provider not configured: ") + *name);
    const auto redirect = stringMember(*body, QStringLiteral("redirectURI"));
    if (!redirect || !isLoopbackRedirect(*redirect))
        return HttpResponse::error(
            400, QStringLiteral("redirectURI must be an http address on this machine"));

    PendingSignIn signIn;
    signIn.state = base64Url(randomBytes(16));
    signIn.owner = owner;
    signIn.provider = *name;
    signIn.redirectUri = *redirect;
    signIn.verifier = base64Url(randomBytes(32));
    signIn.expiresSecs = QDateTime::currentSecsSinceEpoch() + signInLifetimeSecs;
    m_store.addSignIn(signIn);
    const QString challenge =
        base64Url(QCryptographicHash::hash(signIn.verifier.toLatin1(), QCryptographicHash::Sha256));
    const QUrl url = calendar->authorizationUrl(*redirect, signIn.state, challenge);
    return HttpResponse::json(
        QJsonObject{{QStringLiteral("authUrl"), QString::fromUtf8(url.toEncoded())}});
}

QCoro::Task<HttpResponse> LiveRouter::exchangeToken(const HttpRequest &request, QByteArray owner,
                                                    QDeadlineTimer deadline) {
    const auto body = jsonObjectBody(request);
    const auto code = body ? stringMember(*body, QStringLiteral("code")) : std::nullopt;
    if (!code || code->isEmpty() || code->size() > maxTokenChars)
        co_return HttpResponse::error(400, QStringLiteral("invalid_grant"));
    const QJsonValue redirectValue = body->value(QStringLiteral("redirectURI"));
    if (!redirectValue.isUndefined() && !redirectValue.isString())
        co_return HttpResponse::error(400, QStringLiteral("redirectURI must be a string"));
    const auto signIn =
        m_store.takeSignIn(owner, redirectValue.toString(), QDateTime::currentSecsSinceEpoch());
    if (!signIn)
        co_return HttpResponse::error(400, QStringLiteral("invalid_grant"));
    CalendarProvider *calendar = provider(signIn->provider);
    if (!calendar)
        co_return HttpResponse::error(400, QStringLiteral("invalid_grant"));

    IssuedTokens tokens;
    try {
        tokens =
            co_await calendar->exchangeCode(*code, signIn->redirectUri, signIn->verifier, deadline);
    } catch (const ProviderError &error) {
        if (error.kind() != ProviderError::Kind::revoked)
            throw;
        tokens = {};
    }
    if (tokens.accessToken.isEmpty())
        co_return HttpResponse::error(400, QStringLiteral("invalid_grant"));
    if (tokens.refreshToken.isEmpty() || tokens.email.isEmpty()) {
        qCWarning(lcBackend) << signIn->provider
                             << "issued no refresh token or no address; check the client's "
                                "offline access and scopes";
        co_return upstreamError();
    }
    StoredGrant grant;
    grant.id = QString::fromLatin1(randomBytes(16).toHex()); // 128 random bits
    grant.owner = owner;
    grant.provider = signIn->provider;
    grant.email = tokens.email;
    grant.refreshToken = tokens.refreshToken;
    grant.accessToken = tokens.accessToken;
    grant.accessExpiresSecs = tokens.expiresSecs;
    m_store.insertGrant(grant);
    co_return HttpResponse::json(QJsonObject{{QStringLiteral("grantId"), grant.id},
                                             {QStringLiteral("provider"), grant.provider},
                                             {QStringLiteral("email"), grant.email}});
}

QCoro::Task<QString> LiveRouter::accessToken(StoredGrant grant, bool renew,
                                             QDeadlineTimer deadline) {
    if (!renew && grant.accessExpiresSecs - refreshMarginSecs > QDateTime::currentSecsSinceEpoch())
        co_return grant.accessToken;
    const IssuedTokens tokens =
        co_await provider(grant.provider)->refresh(grant.refreshToken, deadline);
    m_store.updateTokens(grant.id, tokens.accessToken, tokens.expiresSecs, tokens.refreshToken);
    co_return tokens.accessToken;
}

QCoro::Task<ProviderPage> LiveRouter::withAccess(StoredGrant grant, ProviderCall call,
                                                 QDeadlineTimer deadline) {
    bool renew = false;
    for (int rereads = 0;;) {
        std::exception_ptr refusal;
        try {
            const QString token = co_await accessToken(grant, renew, deadline);
            co_return co_await call(token);
        } catch (const ProviderError &error) {
            if (error.kind() == ProviderError::Kind::revoked)
                refusal = std::current_exception();
            else if (error.kind() != ProviderError::Kind::unauthorized || renew)
                throw;
            renew = true;
        }
        if (!refusal)
            continue;
        // A provider that rotates refresh tokens refuses the old one once another request
        // (here or in another process) has renewed it; that request stores the new one a moment
        // later. Only a refusal of the token still stored ends the grant.
        std::optional<StoredGrant> stored;
        for (int look = 0; look < rotationLooks; ++look) {
            stored = m_store.grant(grant.id);
            if (!stored || stored->refreshToken != grant.refreshToken)
                break;
            co_await QCoro::sleepFor(rotationWait);
        }
        if (stored && stored->refreshToken != grant.refreshToken && ++rereads <= maxRereads) {
            grant = *stored;
            renew = false;
            continue;
        }
        if (stored)
            m_store.removeGrant(grant.id);
        qCInfo(lcBackend) << "a" << grant.provider << "grant was revoked and is removed";
        std::rethrow_exception(refusal);
    }
}

QCoro::Task<HttpResponse> LiveRouter::calendars(const HttpRequest &request, StoredGrant grant,
                                                QDeadlineTimer deadline) {
    const auto pageToken = queryValue(request, QStringLiteral("page_token"));
    if (!validPageToken(pageToken))
        co_return HttpResponse::error(400, QStringLiteral("invalid page_token"));
    CalendarProvider *calendar = provider(grant.provider);
    // Named, not a temporary: GCC 12 destroys a temporary argument of a coroutine twice when
    // the coroutine ends in an exception.
    const ProviderCall call = [calendar, pageToken, deadline](QString token) {
        return calendar->calendars(std::move(token), pageToken, deadline);
    };
    co_return envelope(co_await withAccess(grant, call, deadline));
}

QCoro::Task<HttpResponse> LiveRouter::events(const HttpRequest &request, StoredGrant grant,
                                             QDeadlineTimer deadline) {
    EventQuery query;
    query.calendarId = queryValue(request, QStringLiteral("calendarId")).value_or(QString());
    if (query.calendarId.isEmpty() || query.calendarId.size() > 1024)
        co_return HttpResponse::error(400, QStringLiteral("calendarId is required"));
    constexpr qint64 farSecs = qint64(1) << 40;
    for (auto [key, target] : {std::pair{QStringLiteral("start"), &query.startSecs},
                               std::pair{QStringLiteral("end"), &query.endSecs}}) {
        if (const auto text = queryValue(request, key)) {
            *target = parseInteger(*text, -farSecs, farSecs);
            if (!*target)
                co_return HttpResponse::error(400,
                                              QStringLiteral("start and end must be Unix seconds"));
        }
    }
    if (const auto limit = queryValue(request, QStringLiteral("limit"))) {
        const auto value = parseInteger(*limit, 1, 200);
        if (!value)
            co_return HttpResponse::error(400, QStringLiteral("invalid limit"));
        query.limit = int(*value);
    }
    query.pageToken = queryValue(request, QStringLiteral("page_token"));
    if (!validPageToken(query.pageToken))
        co_return HttpResponse::error(400, QStringLiteral("invalid page_token"));

    CalendarProvider *calendar = provider(grant.provider);
    const ProviderCall call = [calendar, query, deadline](QString token) {
        return calendar->events(std::move(token), query, deadline);
    };
    co_return envelope(co_await withAccess(grant, call, deadline));
}

QCoro::Task<HttpResponse> LiveRouter::messages(const HttpRequest &request, StoredGrant grant,
                                               QDeadlineTimer deadline) {
    MessageQuery query;
    query.text = queryValue(request, QStringLiteral("q")).value_or(QString()).trimmed();
    if (query.text.size() > maxQueryChars)
        co_return HttpResponse::error(400, QStringLiteral("q is too long"));
    if (const auto limit = queryValue(request, QStringLiteral("limit"))) {
        const auto value = parseInteger(*limit, 1, 200);
        if (!value)
            co_return HttpResponse::error(400, QStringLiteral("invalid limit"));
        query.limit = int(std::min<qint64>(*value, maxMessages));
    }
    CalendarProvider *mail = provider(grant.provider);
    const ProviderCall call = [mail, query, deadline](QString token) {
        return mail->messages(std::move(token), query, deadline);
    };
    co_return envelope(co_await withAccess(grant, call, deadline));
}

QCoro::Task<HttpResponse> LiveRouter::product(const QString &endpoint, const HttpRequest &request,
                                              QDeadlineTimer deadline) {
    const bool slack = endpoint.startsWith(QLatin1String("slack/"));
    if (endpoint != QLatin1String("sms") && endpoint != QLatin1String("slack/exchange") &&
        endpoint != QLatin1String("slack/callback"))
        co_return HttpResponse::error(404, QStringLiteral("Not found"));
    if (slack ? !m_slack : !m_sms)
        co_return HttpResponse::error(501, QStringLiteral("not served by this backend"));
    const QLatin1String method(endpoint == QLatin1String("slack/callback") ? "GET" : "POST");
    if (request.method != method)
        co_return HttpResponse::error(405, QStringLiteral("method not allowed"));
    if (endpoint == QLatin1String("slack/callback"))
        co_return SlackOAuth::callback(request);
    if (slack)
        co_return co_await slackExchange(request, deadline);
    co_return co_await sms(request, deadline);
}

QCoro::Task<HttpResponse> LiveRouter::slackExchange(const HttpRequest &request,
                                                    QDeadlineTimer deadline) {
    const auto body = jsonObjectBody(request);
    const auto code = body ? stringMember(*body, QStringLiteral("code")) : std::nullopt;
    const auto redirect = body ? stringMember(*body, QStringLiteral("redirect_uri")) : std::nullopt;
    if (!code || code->isEmpty() || code->size() > maxTokenChars || !redirect ||
        redirect->size() > 2048 || !QUrl(*redirect, QUrl::StrictMode).isValid())
        co_return HttpResponse::error(400, QStringLiteral("invalid_code"));
    try {
        const QString token = co_await m_slack->exchange(*code, *redirect, deadline);
        co_return HttpResponse::json(QJsonObject{{QStringLiteral("accessToken"), token}});
    } catch (const ProviderError &error) {
        if (error.kind() != ProviderError::Kind::revoked)
            throw;
    }
    co_return HttpResponse::error(400, QStringLiteral("invalid_code"));
}

QCoro::Task<HttpResponse> LiveRouter::sms(const HttpRequest &request, QDeadlineTimer deadline) {
    const auto body = jsonObjectBody(request);
    if (!body)
        co_return HttpResponse::error(400, QStringLiteral("Request body must be a JSON object"));
    const auto credential = stringMember(*body, QStringLiteral("credential"));
    const auto to = stringMember(*body, QStringLiteral("to"));
    const auto text = stringMember(*body, QStringLiteral("body"));
    if (!credential || !to || !text)
        co_return HttpResponse::error(400, QStringLiteral("credential, to and body are required"));
    const auto owner = m_credentials.owner(*credential);
    if (!owner)
        co_return HttpResponse::error(401, QStringLiteral("Invalid credential"));
    const auto number = SmsGateway::e164(*to);
    if (!number)
        co_return HttpResponse::error(400, QStringLiteral("Invalid phone number"));
    if (text->trimmed().isEmpty() || text->size() > SmsGateway::maxBodyChars)
        co_return HttpResponse::error(400,
                                      QStringLiteral("The message must have 1 to %1 characters")
                                          .arg(SmsGateway::maxBodyChars));
    const qint64 day = QDateTime::currentSecsSinceEpoch() / 86'400;
    const auto remaining = m_store.reserveSms(*owner, day, m_smsAllowance);
    if (!remaining)
        co_return HttpResponse::error(429, QStringLiteral("SMS limit reached"));
    try {
        co_await m_sms->send(*number, *text, deadline);
    } catch (const ProviderError &) {
        m_store.releaseSms(*owner, day);
        throw;
    }
    co_return HttpResponse::json(
        QJsonObject{{QStringLiteral("success"), true}, {QStringLiteral("remaining"), *remaining}});
}

QCoro::Task<HttpResponse> LiveRouter::revokeGrant(StoredGrant grant, QDeadlineTimer deadline) {
    const bool revoked = co_await provider(grant.provider)->revoke(grant.refreshToken, deadline);
    if (!revoked)
        qCWarning(lcBackend) << "could not revoke a" << grant.provider
                             << "grant at the provider; it is removed here all the same";
    m_store.removeGrant(grant.id);
    co_return HttpResponse::json(QJsonObject{{QStringLiteral("success"), true}});
}
