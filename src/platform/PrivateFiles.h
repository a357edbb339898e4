#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>
#include <optional>

// Files that only the user may read: folders the app creates are 0700 and its files 0600,
// whatever the umask, and reads never block on something that is not a regular file.
namespace PrivateFiles {
inline constexpr QFileDevice::Permissions ownerReadWrite =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Creates `path` and its missing parents as 0700; folders that exist are left as they are.
bool makeFolder(const QString &path);
// Creates `path` empty as 0600 when it is missing, or takes a regular file's permissions
// down to 0600; false for anything else.
bool restrictFile(const QString &path);
// The contents of a regular file of at most `maxBytes`; nothing for a missing or larger file,
// a folder, a FIFO, a device or a socket. Opening never waits for a writer.
std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes);
} // namespace PrivateFiles
