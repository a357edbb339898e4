#include "CredentialSet.h"

#include "BackendConfig.h"

#include <QFile>

CredentialSet CredentialSet::load(const QString &path, const QString &settingName,
                                  const TokenCipher &cipher) {
    const auto fail = [&](const QString &why) {
        throw ConfigError((settingName + QStringLiteral(": ") + why).toStdString());
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(file.errorString());
    CredentialSet set(cipher);
    int lineNumber = 0;
    while (!file.atEnd()) {
        ++lineNumber;
        const QByteArray line = file.readLine(maxLength + 2).trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const bool printable =
            std::all_of(line.begin(), line.end(), [](char c) { return c > ' ' && c < 0x7f; });
        if (line.size() < minLength || line.size() > maxLength || !printable)
            fail(QStringLiteral("line %1 is not a credential of 16 to 512 visible ASCII characters")
                     .arg(lineNumber));
        set.m_tags.insert(cipher.tag(line));
    }
    if (set.m_tags.isEmpty())
        fail(QStringLiteral("holds no credential"));
    return set;
}

std::optional<QByteArray> CredentialSet::owner(const QString &credential) const {
    if (credential.size() < minLength || credential.size() > maxLength)
        return std::nullopt;
    const QByteArray tag = m_cipher->tag(credential.toUtf8());
    if (!m_tags.contains(tag))
        return std::nullopt;
    return tag;
}
