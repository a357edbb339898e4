// Makes the update signing key and signs release files for the appcast feed.
//   zelvane-sign-update generate-key <secret-key-file>   prints the public key (base64)
//   zelvane-sign-update sign <secret-key-file> <file>    prints the file's signature (base64)
#include <QByteArray>
#include <QFile>
#include <cstdio>
#include <sodium.h>

namespace {
int usage() {
    std::fputs("usage: zelvane-sign-update generate-key <secret-key-file>\n"
               "       zelvane-sign-update sign <secret-key-file> <file>\n",
               stderr);
    return 2;
}

QByteArray readAll(const char *path) {
    QFile file(QString::fromLocal8Bit(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

int main(int argc, char *argv[]) {
    if (sodium_init() < 0)
        return 1;
    const QByteArray command = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (command == "generate-key" && argc == 3) {
        unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
        unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
        crypto_sign_keypair(publicKey, secretKey);
        QFile file(QString::fromLocal8Bit(argv[2]));
        if (file.exists() || !file.open(QIODevice::WriteOnly) ||
            !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner)) {
            std::fputs("cannot create the key file (it must not exist yet)\n", stderr);
            return 1;
        }
        file.write(
            QByteArray(reinterpret_cast<const char *>(secretKey), sizeof secretKey).toBase64());
        sodium_memzero(secretKey, sizeof secretKey);
        std::printf("%s\n", QByteArray(reinterpret_cast<const char *>(publicKey), sizeof publicKey)
                                .toBase64()
                                .constData());
        return 0;
    }
    if (command == "sign" && argc == 4) {
        const QByteArray secretKey = QByteArray::fromBase64(readAll(argv[2]).trimmed());
        if (secretKey.size() != crypto_sign_SECRETKEYBYTES) {
            std::fputs("not a secret key file\n", stderr);
            return 1;
        }
        QFile file(QString::fromLocal8Bit(argv[3]));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fputs("cannot read the file to sign\n", stderr);
            return 1;
        }
        const QByteArray data = file.readAll();
        unsigned char signature[crypto_sign_BYTES];
        crypto_sign_detached(signature, nullptr,
                             reinterpret_cast<const unsigned char *>(data.constData()),
                             static_cast<unsigned long long>(data.size()),
                             reinterpret_cast<const unsigned char *>(secretKey.constData()));
        std::printf("%s\n", QByteArray(reinterpret_cast<const char *>(signature), sizeof signature)
                                .toBase64()
                                .constData());
        return 0;
    }
    return usage();
}
