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

QJsonObject Attendee::toJson() const {
    QJsonObject o{{QStringLiteral("id"), id},
                  {QStringLiteral("email"), email},
                  {QStringLiteral("isExternal"), isExternal}};
    putOptional(o, QStringLiteral("name"), name);
    putOptional(o, QStringLiteral("role"), role);
    putOptional(o, QStringLiteral("company"), company);
    putOptional(o, QStringLiteral("companyDescription"), companyDescription);
    putOptional(o, QStringLiteral("recentNews"), recentNews);
    putOptional(o, QStringLiteral("linkedInURL"), linkedInURL);
    putOptional(o, QStringLiteral("notes"), notes);
    return o;
}

std::optional<Attendee> Attendee::fromJson(const QJsonValue &value) {
    const QJsonObject o = value.toObject();
    const QJsonValue id = o.value(u"id"), email = o.value(u"email"),
                     external = o.value(u"isExternal");
    if (!id.isString() || !email.isString() || !external.isBool())
        return std::nullopt;
    bool ok = true;
    Attendee a;
    a.id = id.toString();
    a.email = email.toString();
    a.isExternal = external.toBool();
    a.name = optionalString(o, u"name", ok);
    a.role = optionalString(o, u"role", ok);
    a.company = optionalString(o, u"company", ok);
    a.companyDescription = optionalString(o, u"companyDescription", ok);
    a.recentNews = optionalString(o, u"recentNews", ok);
    a.linkedInURL = optionalUrl(o, u"linkedInURL", ok);
    a.notes = optionalString(o, u"notes", ok);
    return ok ? std::optional(a) : std::nullopt;
}

QJsonObject MeetingBrief::AttendeeProfile::toJson() const {
    QJsonObject o{{QStringLiteral("email"), email}};
    putOptional(o, QStringLiteral("name"), name);
    putOptional(o, QStringLiteral("role"), role);
    putOptional(o, QStringLiteral("company"), company);
    putOptional(o, QStringLiteral("companyDescription"), companyDescription);
    putOptional(o, QStringLiteral("recentNews"), recentNews);
    putOptional(o, QStringLiteral("linkedInURL"), linkedInURL);
    putOptional(o, QStringLiteral("notes"), notes);
    return o;
}

std::optional<MeetingBrief::AttendeeProfile>
MeetingBrief::AttendeeProfile::fromJson(const QJsonValue &value) {
    const QJsonObject o = value.toObject();
    if (!o.value(u"email").isString())
        return std::nullopt;
    bool ok = true;
    AttendeeProfile p;
    p.email = o.value(u"email").toString();
    p.name = optionalString(o, u"name", ok);
    p.role = optionalString(o, u"role", ok);
    p.company = optionalString(o, u"company", ok);
    p.companyDescription = optionalString(o, u"companyDescription", ok);
    p.recentNews = optionalString(o, u"recentNews", ok);
    p.linkedInURL = optionalUrl(o, u"linkedInURL", ok);
    p.notes = optionalString(o, u"notes", ok);
    return ok ? std::optional(p) : std::nullopt;
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
