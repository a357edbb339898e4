#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <optional>

// One downloadable file of a release, with its Ed25519 signature over the whole file.
struct AppcastEnclosure {
    QUrl url;
    qint64 length = 0;
    QString type;           // MIME type as the feed states it
    QByteArray edSignature; // base64, as in the feed

    bool isDebianPackage() const;
};

// One release offered by the update feed.
struct AppcastItem {
    QString title;
    QString version;      // build version (sparkle:version)
    QString shortVersion; // the version users see (sparkle:shortVersionString)
    QUrl releaseNotesLink;
    QString description; // inline release notes, as plain text
    QList<AppcastEnclosure> enclosures;

    // The version releases are ordered by: the short version, else the build version.
    QString displayVersion() const;
    // The enclosure for a system package install, or for a user-local archive.
    std::optional<AppcastEnclosure> enclosureFor(bool debianPackage) const;

    // The record stored under "SULastItem".
    QVariantMap toRecord() const;
};

Q_DECLARE_METATYPE(AppcastItem)

namespace Appcast {
inline constexpr qint64 maxFeedBytes = 1 << 20;

// The feed's usable items (those with a version and an http(s) enclosure), in feed order.
// Anything that is not a well-formed RSS document yields std::nullopt.
std::optional<QList<AppcastItem>> parse(const QByteArray &xml);
// The item with the highest version; nullopt for an empty list.
std::optional<AppcastItem> newest(const QList<AppcastItem> &items);

// Numeric string comparison: runs of digits compare as numbers, so "1.10" > "1.9".
// Negative, zero or positive like strcmp.
int compareVersions(const QString &a, const QString &b);
} // namespace Appcast
