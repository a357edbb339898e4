#include "MeetingBrief.h"

#include <QCryptographicHash>
#include <QJsonArray>

using namespace JsonFields;

std::optional<QString> JsonFields::optionalString(const QJsonObject &o, QStringView key, bool &ok) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined() || v.isNull())
        return std::nullopt;
    if (!v.isString()) {
        ok = false;
        return std::nullopt;
    }
    return v.toString();
}

std::optional<QUrl> JsonFields::optionalUrl(const QJsonObject &o, QStringView key, bool &ok) {
    const auto text = optionalString(o, key, ok);
    if (!text)
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid()) {
        ok = false;
        return std::nullopt;
    }
    return url;
}

void JsonFields::putOptional(QJsonObject &o, const QString &key,
                             const std::optional<QString> &value) {
    if (value)
        o.insert(key, *value);
}

void JsonFields::putOptional(QJsonObject &o, const QString &key, const std::optional<QUrl> &value) {
    if (value)
        o.insert(key, value->toString(QUrl::FullyEncoded));
}

QStringList JsonFields::stringList(const QJsonValue &value, bool &ok) {
    QStringList list;
    if (!value.isArray()) {
        ok = false;
        return list;
    }
    for (const QJsonValue &item : value.toArray()) {
        if (!item.isString()) {
            ok = false;
            return {};
        }
        list.append(item.toString());
    }
    return list;
}

Attendee::Attendee(QString email_, std::optional<QString> name_, const QSet<QString> &userDomains)
    : email(std::move(email_))
    , name(std::move(name_)) {
    const QString domain = email.section(u'@', -1).toLower();
    isExternal = !userDomains.contains(domain);
    const QString key = email + u':' + name.value_or(QString());
    id = QString::fromLatin1(
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex());
}

namespace {
// Attendee and AttendeeProfile share the research fields and their JSON keys.
template <typename Record> void putResearchFields(QJsonObject &o, const Record &r) {
    putOptional(o, QStringLiteral("name"), r.name);
    putOptional(o, QStringLiteral("role"), r.role);
    putOptional(o, QStringLiteral("company"), r.company);
    putOptional(o, QStringLiteral("companyDescription"), r.companyDescription);
    putOptional(o, QStringLiteral("recentNews"), r.recentNews);
    putOptional(o, QStringLiteral("linkedInURL"), r.linkedInURL);
    putOptional(o, QStringLiteral("notes"), r.notes);
}

// False when a present field has the wrong type.
template <typename Record> bool readResearchFields(const QJsonObject &o, Record &r) {
    bool ok = true;
    r.name = optionalString(o, u"name", ok);
    r.role = optionalString(o, u"role", ok);
    r.company = optionalString(o, u"company", ok);
    r.companyDescription = optionalString(o, u"companyDescription", ok);
    r.recentNews = optionalString(o, u"recentNews", ok);
    r.linkedInURL = optionalUrl(o, u"linkedInURL", ok);
    r.notes = optionalString(o, u"notes", ok);
    return ok;
}
} // namespace

QJsonObject Attendee::toJson() const {
    QJsonObject o{{QStringLiteral("id"), id},
                  {QStringLiteral("email"), email},
                  {QStringLiteral("isExternal"), isExternal}};
    putResearchFields(o, *this);
    return o;
}

std::optional<Attendee> Attendee::fromJson(const QJsonValue &value) {
    const QJsonObject o = value.toObject();
    const QJsonValue id = o.value(u"id"), email = o.value(u"email"),
                     external = o.value(u"isExternal");
    if (!id.isString() || !email.isString() || !external.isBool())
        return std::nullopt;
    Attendee a;
    a.id = id.toString();
    a.email = email.toString();
    a.isExternal = external.toBool();
    return readResearchFields(o, a) ? std::optional(a) : std::nullopt;
}

QJsonObject MeetingBrief::AttendeeProfile::toJson() const {
    QJsonObject o{{QStringLiteral("email"), email}};
    putResearchFields(o, *this);
    return o;
}

std::optional<MeetingBrief::AttendeeProfile>
MeetingBrief::AttendeeProfile::fromJson(const QJsonValue &value) {
    const QJsonObject o = value.toObject();
    if (!o.value(u"email").isString())
        return std::nullopt;
    AttendeeProfile p;
    p.email = o.value(u"email").toString();
    return readResearchFields(o, p) ? std::optional(p) : std::nullopt;
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

std::optional<MeetingBrief> MeetingBrief::fromJson(const QJsonValue &value) {
    const QJsonObject o = value.toObject();
    if (!o.value(u"eventId").isString() || !o.value(u"generatedAt").isString() ||
        !o.value(u"attendeeProfiles").isArray())
        return std::nullopt;
    bool ok = true;
    MeetingBrief brief;
    brief.eventId = o.value(u"eventId").toString();
    brief.generatedAt =
        QDateTime::fromString(o.value(u"generatedAt").toString(), Qt::ISODateWithMs);
    brief.summary = stringList(o.value(u"summary"), ok);
    brief.talkingPoints = stringList(o.value(u"talkingPoints"), ok);
    for (const QJsonValue &item : o.value(u"attendeeProfiles").toArray()) {
        auto profile = AttendeeProfile::fromJson(item);
        if (!profile)
            return std::nullopt;
        brief.attendeeProfiles.append(*profile);
    }
    if (!ok || !brief.generatedAt.isValid())
        return std::nullopt;
    return brief;
}
