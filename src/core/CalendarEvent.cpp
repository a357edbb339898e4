#include "CalendarEvent.h"

#include "ClockTime.h"
#include "JsonRead.h"

#include <QCoreApplication>
#include <QUuid>

const QList<CalendarProvider> &CalendarProviders::all() {
    static const QList<CalendarProvider> providers{
        CalendarProvider::google, CalendarProvider::microsoft, CalendarProvider::feed,
        CalendarProvider::desktop};
    return providers;
}

QString CalendarProviders::toString(CalendarProvider provider) {
    switch (provider) {
    case CalendarProvider::google:
        return QStringLiteral("Google");
    case CalendarProvider::microsoft:
        return QStringLiteral("Microsoft");
    case CalendarProvider::feed:
        return QStringLiteral(QT_TRANSLATE_NOOP("CalendarProviders", "Calendar Feed"));
    case CalendarProvider::desktop:
        return QStringLiteral(QT_TRANSLATE_NOOP("CalendarProviders", "Desktop Calendars"));
    }
    return {};
}

QString CalendarProviders::displayName(CalendarProvider provider) {
    return QCoreApplication::translate("CalendarProviders",
                                       toString(provider).toUtf8().constData());
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
    const QString start = ClockTime::format(startDate.toLocalTime().time(), locale);
    const QString end = ClockTime::format(endDate.toLocalTime().time(), locale);
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
        return QCoreApplication::translate("CalendarEvent", "NOW • ") + range;
    if (untilStart < std::chrono::minutes(1))
        return QCoreApplication::translate("CalendarEvent", "Starting in less than a minute • ") +
               range;
    const auto minutes = std::chrono::floor<std::chrono::minutes>(untilStart).count();
    return QCoreApplication::translate("CalendarEvent", "Starting in %n min • ", nullptr,
                                       int(minutes)) +
           range;
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

ConnectedAccount ConnectedAccount::fromJson(const QJsonValue &value) {
    const QJsonObject o = JsonRead::object(value, u"account");
    const auto provider = CalendarProviders::fromString(JsonRead::string(o, u"provider"));
    if (!provider)
        throw DecodingError(QStringLiteral("provider: not a known provider"));
    return {JsonRead::string(o, u"id"), *provider, JsonRead::string(o, u"email"),
            JsonRead::optionalString(o, u"grantId").value_or(QString())};
}
