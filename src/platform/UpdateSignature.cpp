#include "UpdateSignature.h"

#include "Module.h"

#include <QFile>
// The sizes only: libsodium itself comes in a module of its own, loaded for the first check.
#include <sodium/crypto_sign.h>

namespace UpdateSignature {
QByteArray builtInPublicKey() {
    const QByteArray key = QByteArray::fromBase64(QByteArrayLiteral(ZELVANE_UPDATE_PUBLIC_KEY));
    return key.size() == crypto_sign_PUBLICKEYBYTES ? key : QByteArray();
}

bool verify(const QByteArray &data, const QByteArray &base64Signature,
            const QByteArray &publicKey) {
    using Verify = bool(const unsigned char *signature, const unsigned char *data,
                        unsigned long long size, const unsigned char *publicKey);
    static const auto verifySigned = reinterpret_cast<Verify *>(
        Module::resolve("libzelvane-signature.so", "zelvane_verify_signature"));
    if (!verifySigned || publicKey.size() != crypto_sign_PUBLICKEYBYTES)
        return false;
    const auto decoded = QByteArray::fromBase64Encoding(base64Signature.trimmed(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != crypto_sign_BYTES)
        return false;
    return verifySigned(reinterpret_cast<const unsigned char *>(decoded.decoded.constData()),
                        reinterpret_cast<const unsigned char *>(data.constData()),
                        static_cast<unsigned long long>(data.size()),
                        reinterpret_cast<const unsigned char *>(publicKey.constData()));
}

bool verifyFile(const QString &path, const QByteArray &base64Signature,
                const QByteArray &publicKey) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return verify(file.readAll(), base64Signature, publicKey);
}
} // namespace UpdateSignature
