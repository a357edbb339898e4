#include "MeetingLinkParser.h"

#include "HexColor.h"
#include "MeetingServices.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QUrlQuery>

namespace {
struct Pattern {
    MeetingPlatform platform;
    QRegularExpression expression;
};

const QList<Pattern> &patterns() {
    static const QList<Pattern> list = [] {
        QList<Pattern> compiled;
        for (const MeetingPlatformInfo &row : MeetingPlatforms::table())
            compiled.append(
                {row.platform,
                 QRegularExpression(row.linkPattern, QRegularExpression::CaseInsensitiveOption)});
        return compiled;
    }();
    return list;
}

constexpr auto safeLinksDomain = u"safelinks.protection.outlook.com";

// The address a Safe Link protects, or absent when the URL is no Safe Link.
std::optional<QUrl> unwrapSafeLink(const QUrl &url) {
    if (!HostNames::isWithin(url.host().toLower(), safeLinksDomain))
        return std::nullopt;
    const QUrl inner(QUrlQuery(url).queryItemValue(QStringLiteral("url"), QUrl::FullyDecoded),
                     QUrl::StrictMode);
    if (!inner.isValid() || inner.isEmpty())
        return std::nullopt;
    return inner;
}

// Replaces every Safe Link in the text with the address it wraps; the text is copied only
// when it holds one.
std::optional<QString> withSafeLinksUnwrapped(QStringView text) {
    if (!text.contains(safeLinksDomain, Qt::CaseInsensitive))
        return std::nullopt;
    static const QRegularExpression safeLink(
        QStringLiteral(R"(https?://[\w.-]*safelinks\.protection\.outlook\.com/?\?[^\s<>"'()]*)"),
        QRegularExpression::CaseInsensitiveOption);
    QString result;
    qsizetype copied = 0;
    auto matches = safeLink.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const auto inner = unwrapSafeLink(QUrl(match.captured(0), QUrl::StrictMode));
        if (!inner)
            continue;
        result += text.mid(copied, match.capturedStart(0) - copied);
        result += inner->toString(QUrl::FullyEncoded);
        copied = match.capturedEnd(0);
    }
    result += text.mid(copied);
    return result;
}

std::optional<QUrl> extractUnwrapped(QStringView text) {
    for (const Pattern &pattern : patterns()) {
        if (!pattern.expression.isValid())
            continue;
        const QRegularExpressionMatch match = pattern.expression.match(text);
        if (!match.hasMatch())
            continue;
        const QUrl url(match.captured(0), QUrl::StrictMode);
        if (!url.isValid())
            return std::nullopt;
        return url;
    }
    return MeetingServices::findIn(text);
}
} // namespace

const QList<MeetingPlatformInfo> &MeetingPlatforms::table() {
    static const QList<MeetingPlatformInfo> rows{
        {MeetingPlatform::zoom,
         QStringLiteral("Zoom"),
         QStringLiteral("2D8CFF"),
         QStringLiteral("ZoomIcon"),
         QStringLiteral(QT_TRANSLATE_NOOP("MeetingPlatforms", "Join Zoom Meeting")),
         QStringLiteral(R"(https?://[\w.-]*zoom\.us/[jw]/[\w?=&/.-]+)"),
         QStringLiteral("zoom.us"),
         {QStringLiteral("zoom")}},
        {MeetingPlatform::googleMeet,
         QStringLiteral("Google Meet"),
         QStringLiteral("00897B"),
         QStringLiteral("GoogleMeetIcon"),
         QStringLiteral(QT_TRANSLATE_NOOP("MeetingPlatforms", "Join with Google Meet")),
         QStringLiteral(R"(https?://meet\.google\.com/[\w-]+)"),
         QStringLiteral("meet.google.com"),
         {QStringLiteral("google"), QStringLiteral("hangouts"), QStringLiteral("meet")}},
        {MeetingPlatform::teams,
         QStringLiteral("Microsoft Teams"),
         QStringLiteral("6264A7"),
         QStringLiteral("TeamsIcon"),
         QStringLiteral(QT_TRANSLATE_NOOP("MeetingPlatforms", "Join Teams Meeting")),
         QStringLiteral(R"(https?://teams\.microsoft\.com/l/meetup-join/[\w%/.-]+)"),
         QStringLiteral("teams.microsoft.com"),
         {QStringLiteral("teams"), QStringLiteral("microsoft")}},
        {MeetingPlatform::webex,
         QStringLiteral("Webex"),
         QStringLiteral("07C160"),
         QStringLiteral("WebexIcon"),
         QStringLiteral(QT_TRANSLATE_NOOP("MeetingPlatforms", "Join Webex")),
         QStringLiteral(R"(https?://[\w.-]*webex\.com/[\w/.-]+)"),
         QStringLiteral("webex.com"),
         {QStringLiteral("webex")}},
    };
    return rows;
}

const MeetingPlatformInfo &MeetingPlatforms::info(MeetingPlatform platform) {
    for (const MeetingPlatformInfo &row : table())
        if (row.platform == platform)
            return row;
    Q_UNREACHABLE();
}

const QList<MeetingPlatform> &MeetingPlatforms::all() {
    static const QList<MeetingPlatform> platforms = [] {
        QList<MeetingPlatform> list;
        for (const MeetingPlatformInfo &row : table())
            list.append(row.platform);
        return list;
    }();
    return platforms;
}

QString MeetingPlatforms::displayName(MeetingPlatform platform) {
    return info(platform).name;
}

std::optional<MeetingPlatform> MeetingPlatforms::fromString(QStringView raw) {
    for (const MeetingPlatformInfo &row : table())
        if (row.name == raw)
            return row.platform;
    return std::nullopt;
}

QString MeetingPlatforms::brandColorHex(MeetingPlatform platform) {
    return info(platform).brandColorHex;
}

QColor MeetingPlatforms::brandColor(MeetingPlatform platform) {
    return colorFromScannedHex(brandColorHex(platform));
}

QString MeetingPlatforms::iconAssetName(MeetingPlatform platform) {
    return info(platform).iconAssetName;
}

QString MeetingPlatforms::joinTitle(MeetingPlatform platform) {
    return QCoreApplication::translate("MeetingPlatforms",
                                       info(platform).joinTitle.toUtf8().constData());
}

MeetingType MeetingType::video(MeetingPlatform platform, QUrl url) {
    return {Kind::video, platform, std::move(url), {}, {}};
}

MeetingType MeetingType::videoGeneric(QUrl url, QString service) {
    return {Kind::videoGeneric, MeetingPlatform::zoom, std::move(url), {}, std::move(service)};
}

MeetingType MeetingType::inPerson(QString location) {
    return {Kind::inPerson, MeetingPlatform::zoom, {}, std::move(location), {}};
}

std::optional<QUrl> MeetingLinkParser::extractLink(QStringView text) {
    if (const auto unwrapped = withSafeLinksUnwrapped(text))
        return extractUnwrapped(*unwrapped);
    return extractUnwrapped(text);
}

std::optional<MeetingPlatform> MeetingLinkParser::platform(const QUrl &url) {
    const QString host = url.host().toLower();
    for (const MeetingPlatformInfo &row : MeetingPlatforms::table())
        if (HostNames::isWithin(host, row.hostFragment))
            return row.platform;
    return std::nullopt;
}

std::optional<QString> MeetingLinkParser::serviceName(const QUrl &url) {
    return MeetingServices::nameFor(url);
}

std::optional<QUrl> MeetingLinkParser::joinTarget(const QString &address) {
    QUrl url(address, QUrl::StrictMode);
    if (const auto inner = unwrapSafeLink(url))
        url = *inner;
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"https" && scheme != u"http") || url.host().isEmpty())
        return std::nullopt;
    return url;
}

std::optional<MeetingPlatform>
MeetingLinkParser::platformFromProvider(const std::optional<QString> &provider) {
    if (!provider)
        return std::nullopt;
    const QString name = provider->toLower();
    for (const MeetingPlatformInfo &row : MeetingPlatforms::table())
        for (const QString &keyword : row.providerKeywords)
            if (name.contains(keyword))
                return row.platform;
    return std::nullopt;
}
