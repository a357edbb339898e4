#pragma once

#include "core/Error.h"

#include <QString>
#include <optional>

class KeychainError : public Error {
public:
    explicit KeychainError(int status)
        : m_status(status) {}
    int status() const { return m_status; }
    QString description() const override;

private:
    int m_status;
};

// Secrets in the freedesktop Secret Service, one item per key with the attributes
// service = app.zelvane.Zelvane and account = key.
namespace KeychainService {
inline constexpr auto llmApiKey = "llm_api_key";
inline constexpr auto llmProvider = "llm_provider";
inline constexpr auto slackToken = "slack_token";
inline constexpr auto backendCredential = "backend_credential";

// Stores or replaces the value; throws KeychainError when the store refuses it.
void save(const QString &key, const QString &value);
// Absent when there is no readable value (no item, no Secret Service, not UTF-8).
std::optional<QString> load(const QString &key);
void remove(const QString &key);
} // namespace KeychainService
