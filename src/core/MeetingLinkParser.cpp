#include "MeetingLinkParser.h"

#include "HexColor.h"

#include <QRegularExpression>
#include <array>

namespace {
constexpr auto zoomDomain = u"zoom.us";
constexpr auto meetHost = u"meet.google.com";
constexpr auto teamsHost = u"teams.microsoft.com";
constexpr auto webexDomain = u"webex.com";

struct Pattern {
    MeetingPlatform platform;
    QRegularExpression expression;
};

const std::array<Pattern, 4> &patterns() {
    constexpr auto options = QRegularExpression::CaseInsensitiveOption;
    static const std::array<Pattern, 4> list{{
        {MeetingPlatform::zoom,
         QRegularExpression(QStringLiteral(R"(https?://[\w.-]*zoom\.us/[jw]/[\w?=&/.-]+)"),
                            options)},
        {MeetingPlatform::googleMeet,
         QRegularExpression(QStringLiteral(R"(https?://meet\.google\.com/[\w-]+)"), options)},
        {MeetingPlatform::teams,
         QRegularExpression(
             QStringLiteral(R"(https?://teams\.microsoft\.com/l/meetup-join/[\w%/.-]+)"), options)},
        {MeetingPlatform::webex,
         QRegularExpression(QStringLiteral(R"(https?://[\w.-]*webex\.com/[\w/.-]+)"), options)},
    }};
    return list;
}
} // namespace

const QList<MeetingPlatform> &MeetingPlatforms::all() {
    static const QList<MeetingPlatform> platforms{MeetingPlatform::zoom,
                                                  MeetingPlatform::googleMeet,
                                                  MeetingPlatform::teams, MeetingPlatform::webex};
    return platforms;
}

QString MeetingPlatforms::displayName(MeetingPlatform platform) {
    switch (platform) {
    case MeetingPlatform::zoom:
        return QStringLiteral("Zoom");
    case MeetingPlatform::googleMeet:
        return QStringLiteral("Google Meet");
    case MeetingPlatform::teams:
        return QStringLiteral("Microsoft Teams");
    case MeetingPlatform::webex:
        return QStringLiteral("Webex");
    }
    return {};
}

std::optional<MeetingPlatform> MeetingPlatforms::fromString(QStringView raw) {
    for (MeetingPlatform platform : all())
        if (displayName(platform) == raw)
            return platform;
    return std::nullopt;
}

QString MeetingPlatforms::brandColorHex(MeetingPlatform platform) {
    switch (platform) {
    case MeetingPlatform::zoom:
        return QStringLiteral("2D8CFF");
    case MeetingPlatform::googleMeet:
        return QStringLiteral("00897B");
    case MeetingPlatform::teams:
        return QStringLiteral("6264A7");
    case MeetingPlatform::webex:
        return QStringLiteral("07C160");
    }
    return {};
}

QColor MeetingPlatforms::brandColor(MeetingPlatform platform) {
    return colorFromScannedHex(brandColorHex(platform));
}

QString MeetingPlatforms::iconAssetName(MeetingPlatform platform) {
    switch (platform) {
    case MeetingPlatform::zoom:
        return QStringLiteral("ZoomIcon");
    case MeetingPlatform::googleMeet:
        return QStringLiteral("GoogleMeetIcon");
    case MeetingPlatform::teams:
        return QStringLiteral("TeamsIcon");
    case MeetingPlatform::webex:
        return QStringLiteral("WebexIcon");
    }
    return {};
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
    if (host.contains(zoomDomain))
        return MeetingPlatform::zoom;
    if (host.contains(meetHost))
        return MeetingPlatform::googleMeet;
    if (host.contains(teamsHost))
        return MeetingPlatform::teams;
    if (host.contains(webexDomain))
        return MeetingPlatform::webex;
    return std::nullopt;
}

std::optional<MeetingPlatform>
MeetingLinkParser::platformFromProvider(const std::optional<QString> &provider) {
    if (!provider)
        return std::nullopt;
    const QString name = provider->toLower();
    if (name.contains(u"zoom"))
        return MeetingPlatform::zoom;
    if (name.contains(u"google") || name.contains(u"hangouts") || name.contains(u"meet"))
        return MeetingPlatform::googleMeet;
    if (name.contains(u"teams") || name.contains(u"microsoft"))
        return MeetingPlatform::teams;
    if (name.contains(u"webex"))
        return MeetingPlatform::webex;
    return std::nullopt;
}
