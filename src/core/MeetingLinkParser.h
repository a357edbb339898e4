#pragma once

#include <QColor>
#include <QString>
#include <QStringView>
#include <QUrl>
#include <optional>

enum class MeetingPlatform { zoom, googleMeet, teams, webex };

// Everything that differs between platforms, one row each; a new platform is one more row.
struct MeetingPlatformInfo {
    MeetingPlatform platform;
    QString name;                 // also its raw value
    QString brandColorHex;        // RRGGBB
    QString iconAssetName;        // an SVG in the icon resources, without its extension
    QString joinTitle;            // the join button's text
    QString linkPattern;          // a meeting link of this platform inside free text
    QString hostFragment;         // part of the host name of every link of this platform
    QStringList providerKeywords; // any of them in a conferencing provider's name
};

namespace MeetingPlatforms {
// In the order links and provider names are matched: the first platform that matches wins.
const QList<MeetingPlatformInfo> &table();
const MeetingPlatformInfo &info(MeetingPlatform platform);
const QList<MeetingPlatform> &all();
QString displayName(MeetingPlatform platform);
std::optional<MeetingPlatform> fromString(QStringView raw);
QString brandColorHex(MeetingPlatform platform);
QColor brandColor(MeetingPlatform platform);
QString iconAssetName(MeetingPlatform platform);
QString joinTitle(MeetingPlatform platform);
} // namespace MeetingPlatforms

// How an event's meeting is held, as the reminder and the menu show it.
struct MeetingType {
    enum class Kind { video, videoGeneric, inPerson, unknown };

    Kind kind = Kind::unknown;
    MeetingPlatform platform = MeetingPlatform::zoom; // meaningful for video only
    QUrl url;                                         // video and videoGeneric
    QString location;                                 // inPerson
    QString service; // videoGeneric: the recognised service's name, or empty

    static MeetingType video(MeetingPlatform platform, QUrl url);
    static MeetingType videoGeneric(QUrl url, QString service = {});
    static MeetingType inPerson(QString location);
    static MeetingType unknown() { return {}; }

    bool operator==(const MeetingType &) const = default;
};

// Finds and classifies video-meeting links: the four branded platforms first, then the other
// services that MeetingServices knows. Outlook Safe Links are read as the address they wrap.
namespace MeetingLinkParser {
std::optional<QUrl> extractLink(QStringView text);
// A platform owns a host only when the host is its domain or a subdomain of it.
std::optional<MeetingPlatform> platform(const QUrl &url);
// Which service a link belongs to when no branded platform does.
std::optional<QString> serviceName(const QUrl &url);
// A conferencing address from outside as a join target: only http and https with a host.
std::optional<QUrl> joinTarget(const QString &address);
std::optional<MeetingPlatform> platformFromProvider(const std::optional<QString> &provider);
} // namespace MeetingLinkParser
