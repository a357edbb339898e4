#include "TokenCipher.h"

#include "BackendConfig.h"

#include <QFile>
#include <sys/stat.h>

namespace {
// Sealing and tagging use separate subkeys of the one key file.
constexpr char kdfContext[crypto_kdf_CONTEXTBYTES + 1] = "zelvtokn";
} // namespace

TokenCipher::TokenCipher(const std::array<unsigned char, keyBytes> &key) {
    static_assert(crypto_kdf_KEYBYTES == keyBytes);
    crypto_kdf_derive_from_key(m_secretboxKey.data(), m_secretboxKey.size(), 1, kdfContext,
                               key.data());
    crypto_kdf_derive_from_key(m_tagKey.data(), m_tagKey.size(), 2, kdfContext, key.data());
}

TokenCipher::~TokenCipher() {
    sodium_memzero(m_secretboxKey.data(), m_secretboxKey.size());
    sodium_memzero(m_tagKey.data(), m_tagKey.size());
}

std::unique_ptr<TokenCipher> TokenCipher::fromKeyFile(const QString &path,
                                                      const QString &settingName) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ConfigError((settingName + QStringLiteral(": ") + file.errorString()).toStdString());
    struct stat info {};
    if (::fstat(file.handle(), &info) != 0 || !S_ISREG(info.st_mode))
        throw ConfigError((settingName + QStringLiteral(" must name a file")).toStdString());
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        throw ConfigError(
            (settingName + QStringLiteral(" may be readable by its owner only (chmod 600)"))
                .toStdString());
    QByteArray bytes = file.read(keyBytes + 1);
    if (bytes.size() != keyBytes)
        throw ConfigError(
            (settingName + QStringLiteral(" must hold exactly 32 bytes (head -c 32 /dev/urandom)"))
                .toStdString());
    std::array<unsigned char, keyBytes> key{};
    std::copy(bytes.cbegin(), bytes.cend(), key.begin());
    sodium_memzero(bytes.data(), size_t(bytes.size()));
    auto cipher = std::make_unique<TokenCipher>(key);
    sodium_memzero(key.data(), key.size());
    return cipher;
}

QByteArray TokenCipher::seal(const QByteArray &plain) const {
    QByteArray sealed(crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES + plain.size(),
                      Qt::Uninitialized);
    auto *nonce = reinterpret_cast<unsigned char *>(sealed.data());
    randombytes_buf(nonce, crypto_secretbox_NONCEBYTES);
    crypto_secretbox_easy(nonce + crypto_secretbox_NONCEBYTES,
                          reinterpret_cast<const unsigned char *>(plain.constData()),
                          quint64(plain.size()), nonce, m_secretboxKey.data());
    return sealed;
}

std::optional<QByteArray> TokenCipher::open(const QByteArray &sealed) const {
    constexpr qsizetype overhead = crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES;
    if (sealed.size() < overhead)
        return std::nullopt;
    QByteArray plain(sealed.size() - overhead, Qt::Uninitialized);
    const auto *nonce = reinterpret_cast<const unsigned char *>(sealed.constData());
    if (crypto_secretbox_open_easy(reinterpret_cast<unsigned char *>(plain.data()),
                                   nonce + crypto_secretbox_NONCEBYTES,
                                   quint64(sealed.size() - crypto_secretbox_NONCEBYTES), nonce,
                                   m_secretboxKey.data()) != 0)
        return std::nullopt;
    return plain;
}

QByteArray TokenCipher::tag(const QByteArray &data) const {
    QByteArray out(tagBytes, Qt::Uninitialized);
    crypto_generichash(reinterpret_cast<unsigned char *>(out.data()), size_t(out.size()),
                       reinterpret_cast<const unsigned char *>(data.constData()),
                       quint64(data.size()), m_tagKey.data(), m_tagKey.size());
    return out;
}
