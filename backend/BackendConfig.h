#pragma once

#include <QHostAddress>
#include <QString>
#include <QUrl>
#include <optional>
#include <stdexcept>

// A setting that stops the backend at start; the message names the key ("google.client_id").
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OAuthClientSettings {
    QString clientId;
    QString clientSecret;
};

struct GoogleSettings {
    OAuthClientSettings client;
    QUrl authOrigin;  // the browser's consent page
    QUrl tokenOrigin; // token exchange, refresh and revocation
    QUrl apiOrigin;   // Calendar and Gmail
};

// An app of the Microsoft identity platform, signed in through the "common" tenant.
struct MicrosoftSettings {
    OAuthClientSettings client;
    QUrl loginOrigin;
    QUrl graphOrigin;
};

struct SlackSettings {
    OAuthClientSettings client;
    QUrl origin;
};

// A gateway with Twilio's Messages resource: account, token, sending number, and how many
// messages each credential may send a day (UTC).
struct SmsSettings {
    QString account;
    QString token;
    QString sender;
    QUrl origin;
    int dailyLimit = 50;
};

// The configuration of a real (non-demo) backend, read from a strict INI file: sections and
// keys are fixed, every value stands alone on its line (no trailing comments, since secrets
// may hold any character), and anything unknown, repeated or malformed is refused.
struct BackendConfig {
    QUrl publicUrl;
    QHostAddress listen;
    quint16 port = 0;
    QString database;
    QString tokenKeyFile;
    QString credentialsFile;
    std::optional<GoogleSettings> google;
    std::optional<MicrosoftSettings> microsoft;
    std::optional<SlackSettings> slack;
    std::optional<SmsSettings> sms;

    // Throws ConfigError whose text is one line naming the file and the key at fault.
    static BackendConfig load(const QString &path);
    static BackendConfig parse(const QByteArray &text);
};
