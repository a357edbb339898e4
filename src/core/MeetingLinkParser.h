#pragma once

#include <QColor>
#include <QString>
#include <QStringView>
#include <QUrl>
#include <optional>

enum class MeetingPlatform { zoom, googleMeet, teams, webex };

namespace MeetingPlatforms {
const QList<MeetingPlatform> &all();
QString displayName(MeetingPlatform platform); // also its raw value
std::optional<MeetingPlatform> fromString(QStringView raw);
QString brandColorHex(MeetingPlatform platform);
QColor brandColor(MeetingPlatform platform);
QString iconAssetName(MeetingPlatform platform);
} // namespace MeetingPlatforms

// How an event's meeting is held, as the reminder and the menu show it.
struct MeetingType {
    enum class Kind { video, videoGeneric, inPerson, unknown };

    Kind kind = Kind::unknown;
    MeetingPlatform platform = MeetingPlatform::zoom; // meaningful for video only
    QUrl url;                                         // video and videoGeneric
    QString location;                                 // inPerson

    static MeetingType video(MeetingPlatform platform, QUrl url);
    static MeetingType videoGeneric(QUrl url);
    static MeetingType inPerson(QString location);
    static MeetingType unknown() { return {}; }

    bool operator==(const MeetingType &) const = default;
};

// Finds and classifies video-meeting links of the four supported platforms.
namespace MeetingLinkParser {
std::optional<QUrl> extractLink(QStringView text);
std::optional<MeetingPlatform> platform(const QUrl &url);
std::optional<MeetingPlatform> platformFromProvider(const std::optional<QString> &provider);
} // namespace MeetingLinkParser
