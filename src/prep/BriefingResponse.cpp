#include "BriefingResponse.h"

#include "core/SafeLinks.h"

#include <QJsonArray>
#include <QRegularExpression>

namespace {
QJsonObject stringType() {
    return {{QStringLiteral("type"), QStringLiteral("string")}};
}

QJsonObject stringArray() {
    return {{QStringLiteral("type"), QStringLiteral("array")},
            {QStringLiteral("items"), stringType()}};
}

// A list of texts only when every element is text; anything else gives nothing.
QStringList cleanedStrings(const QJsonValue &value) {
    if (!value.isArray())
        return {};
    const QJsonArray array = value.toArray();
    QStringList items;
    items.reserve(array.size());
    for (const QJsonValue &item : array) {
        if (!item.isString())
            return {};
        items.append(BriefingTool::cleanCitations(item.toString()));
    }
    return items;
}

std::optional<QString> optionalText(const QJsonObject &o, QStringView key) {
    const QJsonValue v = o.value(key);
    if (!v.isString())
        return std::nullopt;
    return v.toString();
}

BriefingResponse::Profile profileFrom(const QJsonObject &o) {
    BriefingResponse::Profile p;
    p.email = o.value(u"email").toString();
    p.name = optionalText(o, u"name");
    p.role = optionalText(o, u"role");
    p.company = optionalText(o, u"company");
    p.companyDescription = optionalText(o, u"company_description");
    p.recentNews = optionalText(o, u"recent_news");
    if (const auto link = optionalText(o, u"linkedin_url")) {
        const QUrl url(*link, QUrl::StrictMode);
        // The model may name any address; only a LinkedIn one is kept as a link.
        if (SafeLinks::isLinkedIn(url))
            p.linkedInURL = url;
    }
    p.notes = optionalText(o, u"notes");
    return p;
}
} // namespace

QJsonObject BriefingTool::profileSchema() {
    QJsonObject properties;
    for (const char *key : {"email", "name", "role", "company", "company_description",
                            "recent_news", "linkedin_url", "notes"})
        properties.insert(QLatin1String(key), stringType());
    return {{QStringLiteral("type"), QStringLiteral("object")},
            {QStringLiteral("properties"), properties},
            {QStringLiteral("required"), QJsonArray{QStringLiteral("email")}}};
}

QJsonObject BriefingTool::parametersSchema() {
    return {{QStringLiteral("type"), QStringLiteral("object")},
            {QStringLiteral("properties"),
             QJsonObject{{QStringLiteral("summary"), stringArray()},
                         {QStringLiteral("attendee_profiles"),
                          QJsonObject{{QStringLiteral("type"), QStringLiteral("array")},
                                      {QStringLiteral("items"), profileSchema()}}},
                         {QStringLiteral("talking_points"), stringArray()}}},
            {QStringLiteral("required"),
             QJsonArray{QStringLiteral("summary"), QStringLiteral("attendee_profiles"),
                        QStringLiteral("talking_points")}}};
}

QString BriefingTool::cleanCitations(const QString &text) {
    static const QRegularExpression openingTag(QStringLiteral("<cite[^>]*>"));
    QString cleaned = text;
    cleaned.remove(openingTag);
    cleaned.remove(QStringLiteral("</cite>"));
    qsizetype begin = 0, end = cleaned.size();
    while (begin < end && (cleaned[begin] == u' ' || cleaned[begin] == u'\t'))
        ++begin;
    while (end > begin && (cleaned[end - 1] == u' ' || cleaned[end - 1] == u'\t'))
        --end;
    return cleaned.sliced(begin, end - begin);
}

BriefingResponse BriefingTool::parseInput(const QJsonObject &input) {
    BriefingResponse response;
    response.summary = cleanedStrings(input.value(u"summary"));
    response.talkingPoints = cleanedStrings(input.value(u"talking_points"));
    const QJsonValue profiles = input.value(u"attendee_profiles");
    if (profiles.isArray()) {
        const QJsonArray array = profiles.toArray();
        bool allObjects = true;
        for (const QJsonValue &item : array)
            allObjects = allObjects && item.isObject();
        if (allObjects)
            for (const QJsonValue &item : array)
                response.attendeeProfiles.append(profileFrom(item.toObject()));
    }
    return response;
}
