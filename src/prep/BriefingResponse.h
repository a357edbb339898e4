#pragma once

#include "core/MeetingBrief.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

// The arguments of the "finalize_briefing" tool call, as every provider returns them.
struct BriefingResponse {
    // The tool returns exactly the fields a brief shows for each participant.
    using Profile = MeetingBrief::AttendeeProfile;

    QStringList summary;
    QList<Profile> attendeeProfiles;
    QStringList talkingPoints;

    // A reply without the tool call: its text becomes the one summary line.
    static BriefingResponse fromText(const QString &text) { return {{text}, {}, {}}; }

    bool operator==(const BriefingResponse &) const = default;
};

namespace BriefingTool {
inline constexpr auto name = "finalize_briefing";
inline constexpr auto longDescription =
    "Output the final structured meeting briefing after completing all research.";
inline constexpr auto shortDescription = "Output the final structured meeting briefing.";

// JSON-Schema of the tool's arguments (lower-case type names).
QJsonObject parametersSchema();

// Never fails: wrong-typed values become empty lists or absent fields.
BriefingResponse parseInput(const QJsonObject &input);

// Removes <cite ...> and </cite> markup, then spaces and tabs at both ends.
QString cleanCitations(const QString &text);
} // namespace BriefingTool
