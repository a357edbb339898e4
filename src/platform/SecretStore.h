#pragma once

#include <QString>
#include <optional>

// The freedesktop Secret Service, reached synchronously through libsecret. Items carry exactly
// the attributes service and account; look-ups match those two alone, so items written by
// other tools (which add their own schema attribute) are found too.
namespace SecretStore {
struct StoreResult {
    bool ok = false;
    int status = 0; // the failure's error code when not ok
    QString message;
};

StoreResult store(const QString &service, const QString &account, const QString &label,
                  const QString &secret);
// Absent when there is no item, the store cannot be reached, or the secret is not UTF-8.
std::optional<QString> lookup(const QString &service, const QString &account);
void clear(const QString &service, const QString &account);
} // namespace SecretStore
