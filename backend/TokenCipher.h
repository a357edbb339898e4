#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <memory>
#include <optional>
#include <sodium.h>

// Seals provider tokens for the database under the key file's 32 bytes (libsodium's
// secretbox), and derives the keyed tags under which credentials are compared and stored, so
// neither tokens nor credentials are ever kept in clear.
class TokenCipher {
public:
    static constexpr qsizetype keyBytes = crypto_secretbox_KEYBYTES;
    static constexpr qsizetype tagBytes = crypto_generichash_BYTES;

    explicit TokenCipher(const std::array<unsigned char, keyBytes> &key);
    ~TokenCipher();
    TokenCipher(const TokenCipher &) = delete;
    TokenCipher &operator=(const TokenCipher &) = delete;

    // Reads a key file of exactly 32 bytes that only its owner may read; throws ConfigError
    // naming `settingName` otherwise.
    static std::unique_ptr<TokenCipher> fromKeyFile(const QString &path,
                                                    const QString &settingName);

    // A fresh nonce followed by the authenticated ciphertext.
    QByteArray seal(const QByteArray &plain) const;
    // Nothing when the box was altered or sealed under another key.
    std::optional<QByteArray> open(const QByteArray &sealed) const;

    // A keyed hash of `data`, the same for the same input under the same key.
    QByteArray tag(const QByteArray &data) const;

private:
    std::array<unsigned char, keyBytes> m_secretboxKey{};
    std::array<unsigned char, crypto_generichash_KEYBYTES> m_tagKey{};
};
