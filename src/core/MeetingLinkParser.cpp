#include "MeetingLinkParser.h"

#include "HexColor.h"

#include <QRegularExpression>

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
} // namespace

const QList<MeetingPlatformInfo> &MeetingPlatforms::table() {
    static const QList<MeetingPlatformInfo> rows{
        {MeetingPlatform::zoom,
         QStringLiteral("Zoom"),
         QStringLiteral("2D8CFF"),
         QStringLiteral("ZoomIcon"),
         QStringLiteral("Join Zoom Meeting"),
         QStringLiteral(R"(https?://[\w.-]*zoom\.us/[jw]/[\w?=&/.-]+)"),
         QStringLiteral("zoom.us"),
         {QStringLiteral("zoom")}},
        {MeetingPlatform::googleMeet,
         QStringLiteral("Google Meet"),
         QStringLiteral("00897B"),
         QStringLiteral("GoogleMeetIcon"),
         QStringLiteral("Join with Google Meet"),
         QStringLiteral(R"(https?://meet\.google\.com/[\w-]+)"),
         QStringLiteral("meet.google.com"),
         {QStringLiteral("google"), QStringLiteral("hangouts"), QStringLiteral("meet")}},
        {MeetingPlatform::teams,
         QStringLiteral("Microsoft Teams"),
         QStringLiteral("6264A7"),
         QStringLiteral("TeamsIcon"),
         QStringLiteral("Join Teams Meeting"),
         QStringLiteral(R"(https?://teams\.microsoft\.com/l/meetup-join/[\w%/.-]+)"),
         QStringLiteral("teams.microsoft.com"),
         {QStringLiteral("teams"), QStringLiteral("microsoft")}},
        {MeetingPlatform::webex,
         QStringLiteral("Webex"),
         QStringLiteral("07C160"),
         QStringLiteral("WebexIcon"),
         QStringLiteral("Join Webex"),
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
    return info(platform).joinTitle;
}

MeetingType MeetingType::video(MeetingPlatform platform, QUrl url) {
    return {Kind::video, platform, std::move(url), {}};
}

MeetingType MeetingType::videoGeneric(QUrl url) {
    return {Kind::videoGeneric, MeetingPlatform::zoom, std::move(url), {}};
}

MeetingType MeetingType::inPerson(QString location) {
    return {Kind::inPerson, MeetingPlatform::zoom, {}, std::move(location)};
}

std::optional<QUrl> MeetingLinkParser::extractLink(QStringView text) {
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
    return std::nullopt;
}

std::optional<MeetingPlatform> MeetingLinkParser::platform(const QUrl &url) {
    const QString host = url.host().toLower();
    for (const MeetingPlatformInfo &row : MeetingPlatforms::table())
        if (host.contains(row.hostFragment))
            return row.platform;
    return std::nullopt;
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
