#pragma once

#include "BackendConfig.h"
#include "UpstreamClient.h"

#include <QCoroTask>
#include <QDeadlineTimer>
#include <optional>

// Text messages through a gateway with Twilio's Messages resource: a form POST to
// Accounts/{account}/Messages.json under Basic authentication.
class SmsGateway {
public:
    // Twilio's limit for one message body.
    static constexpr qsizetype maxBodyChars = 1600;

    SmsGateway(SmsSettings settings, UpstreamClient &upstream)
        : m_settings(std::move(settings))
        , m_upstream(upstream) {}

    // A number as people type it ("+49 170 123-4567", "(+1) 555.0100") in E.164, or nothing.
    static std::optional<QString> e164(const QString &typed);

    // Throws ProviderError: `invalidRequest` when the gateway refuses this message or number,
    // `upstream` when it could not be reached or refuses the backend's own account.
    QCoro::Task<> send(QString to, QString body, QDeadlineTimer deadline);

private:
    SmsSettings m_settings;
    UpstreamClient &m_upstream;
};
