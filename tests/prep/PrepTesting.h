#pragma once

#include "Settle.h"
#include "platform/SecretStore.h"
#include "prep/BriefingResponse.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

// JSON written with single quotes: short fixtures that moc reads (it trips on raw strings).
inline QByteArray json(const char *singleQuoted) {
    return QByteArray(singleQuoted).replace('\'', '"');
}

// Stores a secret; a null value removes it.
inline void putSecret(SecretStore &secrets, const char *name, const QString &value) {
    const QString account = QString::fromLatin1(name);
    if (value.isNull())
        settle(secrets.remove(account));
    else
        QVERIFY(settle(secrets.save(account, value)).ok());
}

// A Claude reply that says something, then calls the briefing tool with `input` (JSON text).
inline QByteArray claudeToolReply(const QByteArray &input) {
    return json("{'content':[{'type':'text','text':'Let me look.'},{'type':'tool_use','name':"
                "'finalize_briefing','input':") +
           input + "}]}";
}

// e-mail,name,role,company,description,news,link,notes with "-" for gaps and none at the end.
inline QString describe(const BriefingResponse::Profile &p) {
    QStringList fields{p.email};
    const std::optional<QString> link =
        p.linkedInURL ? std::optional(p.linkedInURL->toString()) : std::nullopt;
    for (const auto &field :
         {p.name, p.role, p.company, p.companyDescription, p.recentNews, link, p.notes})
        fields << field.value_or(QStringLiteral("-"));
    QString line = fields.join(u',');
    while (line.endsWith(u",-"))
        line.chop(2);
    return line;
}

// A brief or a reply: summary lines ; talking points ; each profile.
template <typename Brief> QString describe(const Brief &brief) {
    QStringList parts{brief.summary.join(u'|'), brief.talkingPoints.join(u'|')};
    for (const auto &profile : brief.attendeeProfiles)
        parts << describe(profile);
    return parts.join(QStringLiteral(" ; "));
}
