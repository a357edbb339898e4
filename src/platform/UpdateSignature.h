#pragma once

#include <QByteArray>
#include <QString>

// Ed25519 signatures of update downloads (libsodium), made over the whole file.
namespace UpdateSignature {
// The public key built into the application: 32 bytes, empty when the build has none.
QByteArray builtInPublicKey();
// Whether `base64Signature` is a valid signature of `data` by `publicKey` (32 raw bytes).
bool verify(const QByteArray &data, const QByteArray &base64Signature, const QByteArray &publicKey);
// Whether the file at `path` verifies; an unreadable file does not.
bool verifyFile(const QString &path, const QByteArray &base64Signature,
                const QByteArray &publicKey);
} // namespace UpdateSignature
