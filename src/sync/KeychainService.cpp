#include "KeychainService.h"

#include "platform/SecretStore.h"

namespace {
const QString &serviceName() {
    static const QString name = QStringLiteral("app.zelvane.Zelvane");
    return name;
}
} // namespace

QString KeychainError::description() const {
    return QStringLiteral("Keychain save failed with status ") + QString::number(m_status);
}

void KeychainService::save(const QString &key, const QString &value) {
    // Replace, not add: any older item under this key (also one written by another tool) goes.
    SecretStore::clear(serviceName(), key);
    const auto result =
        SecretStore::store(serviceName(), key, QStringLiteral("Zelvane: ") + key, value);
    if (!result.ok)
        throw KeychainError(result.status);
}

std::optional<QString> KeychainService::load(const QString &key) {
    return SecretStore::lookup(serviceName(), key);
}

void KeychainService::remove(const QString &key) {
    SecretStore::clear(serviceName(), key);
}
