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

using Profile = BriefingResponse::Profile;

// The tool's names for a profile's texts.
const std::pair<std::optional<QString> Profile::*, QStringView> toolTexts[] = {
    {&Profile::name, u"name"},
    {&Profile::role, u"role"},
    {&Profile::company, u"company"},
    {&Profile::companyDescription, u"company_description"},
    {&Profile::recentNews, u"recent_news"},
    {&Profile::notes, u"notes"},
};
constexpr QStringView toolEmail(u"email"), toolLink(u"linkedin_url");

std::optional<QString> optionalText(const QJsonObject &o, QStringView key) {
    const QJsonValue v = o.value(key);
    if (!v.isString())
        return std::nullopt;
    return v.toString();
}

Profile profileFrom(const QJsonObject &o) {
    Profile p;
    p.email = o.value(toolEmail).toString();
    for (const auto &[field, key] : toolTexts)
        p.*field = optionalText(o, key);
    if (const auto link = optionalText(o, toolLink)) {
        const QUrl url(*link, QUrl::StrictMode);
        // The model may name any address; only a LinkedIn one is kept as a link.
        if (SafeLinks::isLinkedIn(url))
            p.linkedInURL = url;
    }
    return p;
}

// JSON-Schema of one profile.
QJsonObject profileSchema() {
    QJsonObject properties{{toolEmail.toString(), stringType()},
                           {toolLink.toString(), stringType()}};
    for (const auto &[field, key] : toolTexts)
        properties.insert(key, stringType());
    return {{QStringLiteral("type"), QStringLiteral("object")},
            {QStringLiteral("properties"), properties},
            {QStringLiteral("required"), QJsonArray{toolEmail.toString()}}};
}
} // namespace

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
