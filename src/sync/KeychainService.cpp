#include "KeychainService.h"

QString KeychainError::description() const {
    return QStringLiteral("Keychain save failed with status ") + QString::number(m_status);
}

void KeychainService::save(const QString &, const QString &) {
    throw KeychainError(-1);
}

std::optional<QString> KeychainService::load(const QString &) {
    return std::nullopt;
}

void KeychainService::remove(const QString &) {}
