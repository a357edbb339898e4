#pragma once

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <optional>

struct Grant {
    QString grantId;
    QString provider;
    QString email;
    QJsonArray calendars;
    QJsonArray events;
    QJsonArray messages;

    QJsonObject toJson() const;
};

struct GrantRequest {
    QString email;
    QString provider;
    std::optional<int> generatedEvents; // absent: the demo set
    int minutesUntilFirst = 0;
};

struct SmsMessage {
    QString to;
    QString body;
    QString credential;
};

// Everything the stand-in remembers between requests; lives only as long as the process.
class BackendState {
public:
    static constexpr int smsAllowance = 50;

    Grant &createGrant(const GrantRequest &request, qint64 nowSecs);
    Grant *grant(const QString &grantId);
    bool removeGrant(const QString &grantId);

    // One-time codes: calendar sign-in codes remember their provider.
    QString issueSignInCode(const QString &provider);
    std::optional<QString> redeemSignInCode(const QString &code);
    // Slack codes are bound to the redirect address they were issued for, as Slack does.
    QString issueSlackCode(const QString &redirectUri);
    bool redeemSlackCode(const QString &code, const QString &redirectUri);

    // Records the message and returns how many remain, or nothing when none remain.
    std::optional<int> sendSms(const SmsMessage &message);
    const QList<SmsMessage> &smsMessages() const { return m_sms; }

private:
    QHash<QString, Grant> m_grants;
    QHash<QString, QString> m_signInCodes;
    QHash<QString, QString> m_slackCodes;
    QList<SmsMessage> m_sms;
};
