#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

// One participant as the research flow sees them; `id` keys the research cache.
struct Attendee {
    QString id;
    QString email;
    std::optional<QString> name;
    bool isExternal = true;
    std::optional<QString> role;
    std::optional<QString> company;
    std::optional<QString> companyDescription;
    std::optional<QString> recentNews;
    std::optional<QUrl> linkedInURL;
    std::optional<QString> notes;

    // `userDomains` holds lower-case domains; the id is SHA-256 of "email:name" in hex.
    Attendee(QString email, std::optional<QString> name, const QSet<QString> &userDomains);
    Attendee() = default;

    QJsonObject toJson() const;
    static std::optional<Attendee> fromJson(const QJsonValue &value);

    bool operator==(const Attendee &) const = default;
};

// The finished briefing for one calendar event.
struct MeetingBrief {
    struct AttendeeProfile {
        QString email;
        std::optional<QString> name;
        std::optional<QString> role;
        std::optional<QString> company;
        std::optional<QString> companyDescription;
        std::optional<QString> recentNews;
        std::optional<QUrl> linkedInURL;
        std::optional<QString> notes;

        const QString &id() const { return email; }

        QJsonObject toJson() const;
        static std::optional<AttendeeProfile> fromJson(const QJsonValue &value);

        bool operator==(const AttendeeProfile &) const = default;
    };

    QString eventId;
    QDateTime generatedAt;
    QStringList summary;
    QList<AttendeeProfile> attendeeProfiles;
    QStringList talkingPoints;

    // `generatedAt` travels as ISO 8601 UTC text.
    QJsonObject toJson() const;
    static std::optional<MeetingBrief> fromJson(const QJsonValue &value);

    bool operator==(const MeetingBrief &) const = default;
};

namespace JsonFields {
// Reads an optional text: absent or null gives nothing; any other non-text fails `ok`.
std::optional<QString> optionalString(const QJsonObject &o, QStringView key, bool &ok);
std::optional<QUrl> optionalUrl(const QJsonObject &o, QStringView key, bool &ok);
void putOptional(QJsonObject &o, const QString &key, const std::optional<QString> &value);
void putOptional(QJsonObject &o, const QString &key, const std::optional<QUrl> &value);
// A list of texts; fails `ok` when the value is not an array of texts.
QStringList stringList(const QJsonValue &value, bool &ok);
} // namespace JsonFields
