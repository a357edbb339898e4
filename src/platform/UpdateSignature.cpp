#include "UpdateSignature.h"

#include <QFile>
#include <sodium.h>

namespace UpdateSignature {
QByteArray builtInPublicKey() {
    const QByteArray key = QByteArray::fromBase64(QByteArrayLiteral(ZELVANE_UPDATE_PUBLIC_KEY));
    return key.size() == crypto_sign_PUBLICKEYBYTES ? key : QByteArray();
}

bool verify(const QByteArray &data, const QByteArray &base64Signature,
            const QByteArray &publicKey) {
    if (sodium_init() < 0 || publicKey.size() != crypto_sign_PUBLICKEYBYTES)
        return false;
    const auto decoded = QByteArray::fromBase64Encoding(base64Signature.trimmed(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != crypto_sign_BYTES)
        return false;
    return crypto_sign_verify_detached(
               reinterpret_cast<const unsigned char *>(decoded.decoded.constData()),
               reinterpret_cast<const unsigned char *>(data.constData()),
               static_cast<unsigned long long>(data.size()),
               reinterpret_cast<const unsigned char *>(publicKey.constData())) == 0;
}

bool verifyFile(const QString &path, const QByteArray &base64Signature,
                const QByteArray &publicKey) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return verify(file.readAll(), base64Signature, publicKey);
}
} // namespace UpdateSignature
