#include "BrowserPages.h"

#include "DemoData.h"
#include "RequestHelpers.h"

using namespace RequestHelpers;

namespace {

HttpResponse badPage(const QString &message) {
    return HttpResponse::html(
        QStringLiteral("Sign-in failed"),
        QStringLiteral("<h1>Sign-in failed</h1>\n<p>%1</p>").arg(message.toHtmlEscaped()), 400);
}

std::optional<QUrl> redirectTarget(const HttpRequest &request) {
    const QUrl url(queryValue(request, QStringLiteral("redirect_uri")).value_or(QString()),
                   QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

std::optional<QString> provider(const HttpRequest &request) {
    const QString value = queryValue(request, QStringLiteral("provider")).value_or(QString());
    if (value != QLatin1String("google") && value != QLatin1String("microsoft"))
        return std::nullopt;
    return value;
}

QString continueLink(const QString &path, const HttpRequest &request) {
    return (path + QLatin1Char('?') + request.rawQuery).toHtmlEscaped();
}

} // namespace

std::optional<HttpResponse> BrowserPages::handle(const QString &path, const HttpRequest &request) {
    using Page = HttpResponse (BrowserPages::*)(const HttpRequest &);
    static const QHash<QString, Page> pages{
        {QStringLiteral("/signin"), &BrowserPages::signInPage},
        {QStringLiteral("/signin/continue"), &BrowserPages::signInContinue},
        {QStringLiteral("/oauth/v2/authorize"), &BrowserPages::slackAuthorizePage},
        {QStringLiteral("/oauth/v2/authorize/allow"), &BrowserPages::slackAllow},
    };
    const auto page = pages.constFind(path);
    if (page == pages.constEnd())
        return std::nullopt;
    if (request.method != QLatin1String("GET"))
        return HttpResponse::error(405, QStringLiteral("method not allowed"));
    return (this->*(*page))(request);
}

HttpResponse BrowserPages::signInPage(const HttpRequest &request) {
    const auto chosen = provider(request);
    if (!chosen || !redirectTarget(request))
        return badPage(QStringLiteral("The sign-in address is missing its provider or redirect."));
    const QString providerName =
        *chosen == QLatin1String("google") ? QStringLiteral("Google") : QStringLiteral("Microsoft");
    return HttpResponse::html(
        QStringLiteral("Sign in with %1").arg(providerName),
        QStringLiteral("<h1>Sign in with %1</h1>\n<p>Zelvane wants to read your calendars and "
                       "e-mail.</p>\n<p><a id=\"continue\" href=\"%2\">Continue as %3</a></p>")
            .arg(providerName, continueLink(QStringLiteral("/signin/continue"), request),
                 DemoData::userEmail));
}

HttpResponse BrowserPages::signInContinue(const HttpRequest &request) {
    const auto chosen = provider(request);
    const auto target = redirectTarget(request);
    if (!chosen || !target)
        return badPage(QStringLiteral("The sign-in address is missing its provider or redirect."));
    const QString code = m_state.issueSignInCode(*chosen);
    return HttpResponse::redirect(withQueryItems(*target, {{QStringLiteral("code"), code}}));
}

HttpResponse BrowserPages::slackAuthorizePage(const HttpRequest &request) {
    if (!redirectTarget(request))
        return badPage(QStringLiteral("The authorization address has no redirect_uri."));
    return HttpResponse::html(
        QStringLiteral("Authorize Zelvane"),
        QStringLiteral("<h1>Zelvane is requesting permission to access the Zelvane Demo Slack "
                       "workspace</h1>\n<p>It will search your messages and read people's "
                       "profiles.</p>\n<p><a id=\"allow\" href=\"%1\">Allow</a></p>")
            .arg(continueLink(QStringLiteral("/oauth/v2/authorize/allow"), request)));
}

HttpResponse BrowserPages::slackAllow(const HttpRequest &request) {
    const auto target = redirectTarget(request);
    if (!target)
        return badPage(QStringLiteral("The authorization address has no redirect_uri."));
    const QString rawRedirect =
        queryValue(request, QStringLiteral("redirect_uri")).value_or(QString());
    QList<std::pair<QString, QString>> items{
        {QStringLiteral("code"), m_state.issueSlackCode(rawRedirect)}};
    if (const auto state = queryValue(request, QStringLiteral("state")))
        items.append({QStringLiteral("state"), *state});
    return HttpResponse::redirect(withQueryItems(*target, items));
}
