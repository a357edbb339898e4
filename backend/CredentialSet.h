#pragma once

#include "TokenCipher.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <optional>

// The backend credentials this backend accepts, one a line in a file the operator keeps (blank
// lines and lines starting with # are skipped). Only their keyed tags are held in memory.
class CredentialSet {
public:
    static constexpr qsizetype minLength = 16;
    static constexpr qsizetype maxLength = 512;

    // Throws ConfigError naming `settingName` when the file is unusable or holds no credential.
    static CredentialSet load(const QString &path, const QString &settingName,
                              const TokenCipher &cipher);

    // The owner tag of an accepted credential, nothing for any other.
    std::optional<QByteArray> owner(const QString &credential) const;

private:
    explicit CredentialSet(const TokenCipher &cipher)
        : m_cipher(&cipher) {}

    const TokenCipher *m_cipher;
    QSet<QByteArray> m_tags;
};
