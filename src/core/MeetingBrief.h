#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

// The finished briefing for one calendar event.
struct MeetingBrief {
    // What is known about one participant: the brief shows it, the model answers with it and
    // the research cache keeps it.
    struct AttendeeProfile {
        QString email;
        std::optional<QString> name;
        std::optional<QString> role;
        std::optional<QString> company;
        std::optional<QString> companyDescription;
        std::optional<QString> recentNews;
        std::optional<QUrl> linkedInURL;
        std::optional<QString> notes;

        // The free texts, which a size limit may cut.
        QList<std::optional<QString> *> texts();

        // Absent fields are left out.
        QJsonObject toJson() const;
        // Throws DecodingError without an "email" text or for a field of the wrong type.
        static AttendeeProfile fromJson(const QJsonObject &o);

        bool operator==(const AttendeeProfile &) const = default;
    };

    QString eventId;
    QDateTime generatedAt;
    QStringList summary;
    QList<AttendeeProfile> attendeeProfiles;
    QStringList talkingPoints;

    // `generatedAt` travels as ISO 8601 UTC text.
    QJsonObject toJson() const;
    // Throws DecodingError.
    static MeetingBrief fromJson(const QJsonValue &value);

    bool operator==(const MeetingBrief &) const = default;
};

// One participant as the research flow sees them; `id` keys the research cache.
struct Attendee {
    QString id;
    bool isExternal = true;
    MeetingBrief::AttendeeProfile profile;

    // `userDomains` holds lower-case domains; the id is SHA-256 of "email:name" in hex.
    Attendee(QString email, std::optional<QString> name, const QSet<QString> &userDomains);
    Attendee() = default;

    QJsonObject toJson() const;
    // Throws DecodingError.
    static Attendee fromJson(const QJsonValue &value);

    bool operator==(const Attendee &) const = default;
};
