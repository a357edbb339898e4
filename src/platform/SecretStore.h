#pragma once

#include "Error.h"

#include <QString>
#include <optional>

// The Secret Service refused to store a value; carries the service's own message.
class SecretStoreError : public Error {
public:
    explicit SecretStoreError(QString message)
        : m_message(std::move(message)) {}
    QString message() const { return m_message; }
    QString description() const override;

private:
    QString m_message;
};

// Secrets in the freedesktop Secret Service through libsecret, one item per key with exactly
// the attributes service = app.zelvane.Zelvane and account = key. Look-ups match those two
// alone, so items written by other tools (which add their own schema attribute) are found too.
namespace SecretStore {
inline constexpr auto llmApiKey = "llm_api_key";
inline constexpr auto llmProvider = "llm_provider";
inline constexpr auto slackToken = "slack_token";
inline constexpr auto backendCredential = "backend_credential";

// Stores or replaces the value; throws SecretStoreError when the store refuses it.
void save(const QString &key, const QString &value);
// Absent when there is no readable value (no item, no Secret Service, not UTF-8).
std::optional<QString> load(const QString &key);
void remove(const QString &key);
} // namespace SecretStore
