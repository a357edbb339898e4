#include "CalendarEvent.h"

#include <QCoreApplication>
#include <QUuid>

const QList<CalendarProvider> &CalendarProviders::all() {
    static const QList<CalendarProvider> providers{
        CalendarProvider::google, CalendarProvider::microsoft, CalendarProvider::feed};
    return providers;
}

QString CalendarProviders::toString(CalendarProvider provider) {
    switch (provider) {
    case CalendarProvider::google:
        return QStringLiteral("Google");
    case CalendarProvider::microsoft:
        return QStringLiteral("Microsoft");
    case CalendarProvider::feed:
        return QStringLiteral("Calendar Feed");
    }
    return {};
}

std::optional<CalendarProvider> CalendarProviders::fromString(QStringView raw) {
    for (CalendarProvider provider : all())
        if (toString(provider) == raw)
            return provider;
    return std::nullopt;
}

std::chrono::milliseconds CalendarEvent::timeUntilStart(const QDateTime &now) const {
    return std::chrono::milliseconds(now.msecsTo(startDate));
}

QString CalendarEvent::reminderTimeText(const QDateTime &now, const QLocale &locale) const {
    const QString start = locale.toString(startDate.toLocalTime().time(), QLocale::ShortFormat);
    const QString end = locale.toString(endDate.toLocalTime().time(), QLocale::ShortFormat);
    const QString range = start + QStringLiteral(" – ") + end;
    const auto untilStart = timeUntilStart(now);
    // A reminder shown late (the machine slept, the app was not running) says how late.
    if (untilStart <= -std::chrono::minutes(1)) {
        const auto minutes = std::chrono::floor<std::chrono::minutes>(-untilStart).count();
        return QCoreApplication::translate("CalendarEvent", "Started %n min ago • ", nullptr,
                                           int(minutes)) +
               range;
    }
    if (untilStart <= std::chrono::milliseconds::zero())
        return QStringLiteral("NOW • ") + range;
    if (untilStart < std::chrono::minutes(1))
        return QStringLiteral("Starting in less than a minute • ") + range;
    const auto minutes = std::chrono::floor<std::chrono::minutes>(untilStart).count();
    return QStringLiteral("Starting in %1 min • ").arg(qint64(minutes)) + range;
}

std::optional<MeetingPlatform> CalendarEvent::meetingPlatform() const {
    if (!meetingLink)
        return std::nullopt;
    if (auto platform = MeetingLinkParser::platform(*meetingLink))
        return platform;
    if (conferencingProvider)
        return MeetingLinkParser::platformFromProvider(conferencingProvider);
    return std::nullopt;
}

MeetingType CalendarEvent::meetingType() const {
    if (meetingLink) {
        if (auto platform = meetingPlatform())
            return MeetingType::video(*platform, *meetingLink);
        return MeetingType::videoGeneric(
            *meetingLink, MeetingLinkParser::serviceName(*meetingLink).value_or(QString()));
    }
    if (location && !location->isEmpty())
        return MeetingType::inPerson(*location);
    return MeetingType::unknown();
}

ConnectedAccount ConnectedAccount::create(CalendarProvider provider, QString email,
                                          QString grantId) {
    return {QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(), provider,
            std::move(email), std::move(grantId)};
}

QJsonObject ConnectedAccount::toJson() const {
    return {{QStringLiteral("id"), id},
            {QStringLiteral("provider"), CalendarProviders::toString(provider)},
            {QStringLiteral("email"), email},
            {QStringLiteral("grantId"), grantId}};
}

std::optional<ConnectedAccount> ConnectedAccount::fromJson(const QJsonValue &value) {
    const QJsonObject o = value.toObject();
    const QJsonValue id = o.value(u"id"), provider = o.value(u"provider"),
                     email = o.value(u"email"), grantId = o.value(u"grantId");
    if (!value.isObject() || !id.isString() || !provider.isString() || !email.isString())
        return std::nullopt;
    const auto parsedProvider = CalendarProviders::fromString(provider.toString());
    if (!parsedProvider)
        return std::nullopt;
    if (!grantId.isUndefined() && !grantId.isNull() && !grantId.isString())
        return std::nullopt;
    return ConnectedAccount{id.toString(), *parsedProvider, email.toString(), grantId.toString()};
}

QJsonObject EmailThread::toJson() const {
    return {{QStringLiteral("id"), id},           {QStringLiteral("subject"), subject},
            {QStringLiteral("from"), from},       {QStringLiteral("date"), date},
            {QStringLiteral("snippet"), snippet}, {QStringLiteral("messageCount"), messageCount}};
}

std::optional<EmailThread> EmailThread::fromJson(const QJsonValue &value) {
    const QJsonObject o = value.toObject();
    EmailThread thread;
    const std::pair<const char16_t *, QString *> texts[] = {
        {u"id", &thread.id},     {u"subject", &thread.subject}, {u"from", &thread.from},
        {u"date", &thread.date}, {u"snippet", &thread.snippet},
    };
    for (const auto &[key, field] : texts) {
        const QJsonValue v = o.value(QStringView(key));
        if (!v.isString())
            return std::nullopt;
        *field = v.toString();
    }
    const QJsonValue count = o.value(u"messageCount");
    if (!count.isDouble() || count.toDouble() != double(count.toInteger()))
        return std::nullopt;
    thread.messageCount = count.toInteger();
    return thread;
}
