#include "MeetingBrief.h"

#include "JsonRead.h"

#include <QCryptographicHash>
#include <QJsonArray>

using Profile = MeetingBrief::AttendeeProfile;

namespace {
// The profile's texts and the keys records keep them under.
const std::pair<std::optional<QString> Profile::*, QStringView> textKeys[] = {
    {&Profile::name, u"name"},
    {&Profile::role, u"role"},
    {&Profile::company, u"company"},
    {&Profile::companyDescription, u"companyDescription"},
    {&Profile::recentNews, u"recentNews"},
    {&Profile::notes, u"notes"},
};
constexpr QStringView linkKey(u"linkedInURL");
} // namespace

QList<std::optional<QString> *> Profile::texts() {
    QList<std::optional<QString> *> all;
    for (const auto &[field, key] : textKeys)
        all.append(&(this->*field));
    return all;
}

QJsonObject Profile::toJson() const {
    QJsonObject o{{QStringLiteral("email"), email}};
    for (const auto &[field, key] : textKeys)
        if (const auto &text = this->*field)
            o.insert(key, *text);
    if (linkedInURL)
        o.insert(linkKey, linkedInURL->toString(QUrl::FullyEncoded));
    return o;
}

Profile Profile::fromJson(const QJsonObject &o) {
    Profile p;
    p.email = JsonRead::string(o, u"email");
    for (const auto &[field, key] : textKeys)
        p.*field = JsonRead::optionalString(o, key);
    p.linkedInURL = JsonRead::optionalUrl(o, linkKey);
    return p;
}

QJsonObject MeetingBrief::toJson() const {
    QJsonArray profiles;
    for (const AttendeeProfile &p : attendeeProfiles)
        profiles.append(p.toJson());
    return {{QStringLiteral("eventId"), eventId},
            {QStringLiteral("generatedAt"), generatedAt.toUTC().toString(Qt::ISODateWithMs)},
            {QStringLiteral("summary"), QJsonArray::fromStringList(summary)},
            {QStringLiteral("attendeeProfiles"), profiles},
            {QStringLiteral("talkingPoints"), QJsonArray::fromStringList(talkingPoints)}};
}

MeetingBrief MeetingBrief::fromJson(const QJsonValue &value) {
    const QJsonObject o = JsonRead::object(value, u"brief");
    MeetingBrief brief;
    brief.eventId = JsonRead::string(o, u"eventId");
    brief.generatedAt =
        QDateTime::fromString(JsonRead::string(o, u"generatedAt"), Qt::ISODateWithMs);
    if (!brief.generatedAt.isValid())
        throw DecodingError(QStringLiteral("generatedAt: not a date"));
    brief.summary = JsonRead::stringList(o.value(u"summary"), u"summary");
    brief.talkingPoints = JsonRead::stringList(o.value(u"talkingPoints"), u"talkingPoints");
    for (const QJsonValue &item :
         JsonRead::array(o.value(u"attendeeProfiles"), u"attendeeProfiles"))
        brief.attendeeProfiles.append(
            AttendeeProfile::fromJson(JsonRead::object(item, u"attendeeProfiles")));
    return brief;
}

Attendee::Attendee(QString email, std::optional<QString> name, const QSet<QString> &userDomains) {
    const QString domain = email.section(u'@', -1).toLower();
    isExternal = !userDomains.contains(domain);
    const QString key = email + u':' + name.value_or(QString());
    id = QString::fromLatin1(
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex());
    profile.email = std::move(email);
    profile.name = std::move(name);
}

QJsonObject Attendee::toJson() const {
    QJsonObject o = profile.toJson();
    o.insert(QStringLiteral("id"), id);
    o.insert(QStringLiteral("isExternal"), isExternal);
    return o;
}

Attendee Attendee::fromJson(const QJsonValue &value) {
    const QJsonObject o = JsonRead::object(value, u"attendee");
    Attendee a;
    a.id = JsonRead::string(o, u"id");
    a.isExternal = JsonRead::boolean(o, u"isExternal");
    a.profile = MeetingBrief::AttendeeProfile::fromJson(o);
    return a;
}
