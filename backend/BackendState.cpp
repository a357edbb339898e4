#include "BackendState.h"

#include "DemoData.h"

#include <QUuid>

namespace {
QString freshId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}
} // namespace

QJsonObject Grant::toJson() const {
    return QJsonObject{{QStringLiteral("grantId"), grantId},
                       {QStringLiteral("provider"), provider},
                       {QStringLiteral("email"), email}};
}

Grant &BackendState::createGrant(const GrantRequest &request, qint64 nowSecs) {
    Grant grant;
    grant.grantId = freshId();
    grant.provider = request.provider;
    grant.email = request.email;
    grant.calendars = DemoData::calendars(grant.grantId, grant.email);
    const DemoData::CalendarIds ids = DemoData::calendarIds(grant.grantId);
    grant.events = request.generatedEvents
                       ? DemoData::generatedEvents(ids, nowSecs, request.minutesUntilFirst,
                                                   *request.generatedEvents)
                       : DemoData::events(ids, nowSecs, request.minutesUntilFirst);
    grant.messages = DemoData::messages(nowSecs);
    return *m_grants.insert(grant.grantId, grant);
}

Grant *BackendState::grant(const QString &grantId) {
    const auto it = m_grants.find(grantId);
    return it == m_grants.end() ? nullptr : &*it;
}

bool BackendState::removeGrant(const QString &grantId) {
    return m_grants.remove(grantId) > 0;
}

QString BackendState::issueSignInCode(const QString &provider) {
    const QString code = QStringLiteral("signin-") + freshId();
    m_signInCodes.insert(code, provider);
    return code;
}

std::optional<QString> BackendState::redeemSignInCode(const QString &code) {
    const auto it = m_signInCodes.find(code);
    if (it == m_signInCodes.end())
        return std::nullopt;
    const QString provider = *it;
    m_signInCodes.erase(it);
    return provider;
}

QString BackendState::issueSlackCode(const QString &redirectUri) {
    const QString code = QStringLiteral("slack-") + freshId();
    m_slackCodes.insert(code, redirectUri);
    return code;
}

bool BackendState::redeemSlackCode(const QString &code, const QString &redirectUri) {
    const auto it = m_slackCodes.find(code);
    if (it == m_slackCodes.end() || *it != redirectUri)
        return false;
    m_slackCodes.erase(it);
    return true;
}

std::optional<int> BackendState::sendSms(const SmsMessage &message) {
    const int remaining = smsAllowance - int(m_sms.size());
    if (remaining <= 0)
        return std::nullopt;
    m_sms.append(message);
    return remaining - 1;
}
