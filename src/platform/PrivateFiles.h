#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <sys/types.h>

// Files that only the user may read: folders the app creates are 0700 and its files 0600,
// whatever the umask, and reads never block on something that is not a regular file.
namespace PrivateFiles {
// Creates `path` and its missing parents as 0700; folders that exist are left as they are.
bool makeFolder(const QString &path);
// Creates `path` empty as 0600 when it is missing, or takes a regular file's permissions
// down to 0600; false for anything else, a symbolic link included.
bool restrictFile(const QString &path);
// The contents of a regular file of at most `maxBytes`; nothing for a missing or larger file,
// a symbolic link, a folder, a FIFO, a device or a socket. Opening never waits for a writer.
std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes);

// A folder of the user's, opened once. Everything below works on plain names inside it (no
// '/') and never follows a symbolic link found under such a name, so nothing written through
// the folder lands anywhere else. Failures are logged.
class Folder {
public:
    // Makes `path` (0700) when it is missing and opens it. A folder others may write to is
    // taken down to 0700; a symbolic link, or a folder of another user, is refused.
    explicit Folder(const QString &path);
    ~Folder();
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    const QString &path() const { return m_path; }

    struct Entry {
        enum class Kind { missing, regular, other } kind = Kind::missing;
        qint64 size = 0;
    };
    // What `name` is, without following it.
    Entry entry(const QString &name) const;
    // The contents of the regular file `name` of at most `maxBytes`, as readRegularFile reads
    // them; nothing when the folder is not open.
    std::optional<QByteArray> read(const QString &name, qint64 maxBytes) const;
    // Replaces `name` with a regular file of `bytes` and permissions `mode`: written to a new
    // temporary file, synced and renamed over `name`. Readers see the old or the new file whole,
    // and a link or any other entry under `name` is replaced, never written through.
    bool write(const QString &name, const QByteArray &bytes, mode_t mode = 0600) const;
    // Renames the entry itself, whatever it is; an entry under `to` is replaced.
    bool rename(const QString &from, const QString &to) const;
    // Removes the entry itself; true when it is gone or was never there.
    bool remove(const QString &name) const;

private:
    QString m_path;
    int m_fd = -1;
};
} // namespace PrivateFiles
