#include "PrivateFiles.h"

#include "PlatformLog.h"

#include <QDir>
#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {
// Closes the descriptor on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd)
        : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// Names that stay inside the folder they are resolved in.
bool isPlainName(const QString &name) {
    return !name.isEmpty() && !name.contains(u'/') && !name.contains(QChar(0)) && name != u"." &&
           name != u"..";
}

bool writeAll(int fd, const QByteArray &bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}
} // namespace

bool PrivateFiles::makeFolder(const QString &path) {
    const QString absolute = QDir::cleanPath(QDir(path).absolutePath());
    qsizetype from = 1;
    while (true) {
        const qsizetype slash = absolute.indexOf(u'/', from);
        const QString prefix = slash < 0 ? absolute : absolute.first(slash);
        if (::mkdir(QFile::encodeName(prefix).constData(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash < 0)
            break;
        from = slash + 1;
    }
    struct stat info {};
    return ::stat(QFile::encodeName(absolute).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool PrivateFiles::restrictFile(const QString &path) {
    const Descriptor fd(::open(QFile::encodeName(path).constData(),
                               O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW, 0600));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    return (info.st_mode & 07777) == 0600 || ::fchmod(fd.get(), 0600) == 0;
}

namespace {
constexpr int readFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW;

std::optional<QByteArray> readOpened(const Descriptor &fd, qint64 maxBytes) {
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size > maxBytes)
        return std::nullopt;
    QByteArray bytes(qsizetype(info.st_size), Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + filled, size_t(bytes.size() - filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        filled += n;
    }
    bytes.truncate(filled);
    return bytes;
}
} // namespace

std::optional<QByteArray> PrivateFiles::readRegularFile(const QString &path, qint64 maxBytes) {
    return readOpened(Descriptor(::open(QFile::encodeName(path).constData(), readFlags)), maxBytes);
}

PrivateFiles::Folder::Folder(const QString &path)
    : m_path(path) {
    if (!makeFolder(path)) {
        qCWarning(lcPlatform) << "cannot make the folder" << path;
        return;
    }
    Descriptor fd(::open(QFile::encodeName(path).constData(),
                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) {
        qCWarning(lcPlatform) << "not using the folder" << path << qt_error_string(errno);
        return;
    }
    if (info.st_uid != ::geteuid()) {
        qCWarning(lcPlatform) << "not using the folder" << path << "as it belongs to another user";
        return;
    }
    // Whoever may write to the folder may put a link or a file of theirs under any name in it.
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        if (::fchmod(fd.get(), 0700) != 0) {
            qCWarning(lcPlatform) << "not using the folder" << path
                                  << "as others may write to it:" << qt_error_string(errno);
            return;
        }
        qCWarning(lcPlatform) << "others could write to the folder" << path << "; it is now 0700";
    }
    m_fd = fd.release();
}

PrivateFiles::Folder::~Folder() {
    if (m_fd >= 0)
        ::close(m_fd);
}

PrivateFiles::Folder::Entry PrivateFiles::Folder::entry(const QString &name) const {
    if (!isOpen() || !isPlainName(name))
        return {Entry::Kind::other, 0};
    struct stat info {};
    if (::fstatat(m_fd, QFile::encodeName(name).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0)
        return {S_ISREG(info.st_mode) ? Entry::Kind::regular : Entry::Kind::other,
                qint64(info.st_size)};
    if (errno == ENOENT)
        return {};
    qCWarning(lcPlatform) << "cannot look at" << name << "in" << m_path << qt_error_string(errno);
    return {Entry::Kind::other, 0};
}

std::optional<QByteArray> PrivateFiles::Folder::read(const QString &name, qint64 maxBytes) const {
    if (!isOpen() || !isPlainName(name))
        return std::nullopt;
    return readOpened(Descriptor(::openat(m_fd, QFile::encodeName(name).constData(), readFlags)),
                      maxBytes);
}

bool PrivateFiles::Folder::write(const QString &name, const QByteArray &bytes, mode_t mode) const {
    if (!isOpen() || !isPlainName(name)) {
        qCWarning(lcPlatform) << "not writing" << name << "into" << m_path;
        return false;
    }
    const QByteArray target = QFile::encodeName(name);
    QByteArray temporary;
    int fd = -1;
    // A random name nobody has made yet; O_EXCL refuses anything already there, a link too.
    for (int attempt = 0; fd < 0 && attempt < 8; ++attempt) {
        temporary =
            '.' + target + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        fd = ::openat(m_fd, temporary.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        qCWarning(lcPlatform) << "cannot write into" << m_path << qt_error_string(errno);
        return false;
    }
    const Descriptor file(fd);
    if (writeAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0 &&
        ::renameat(m_fd, temporary.constData(), m_fd, target.constData()) == 0)
        return true;
    const int error = errno;
    ::unlinkat(m_fd, temporary.constData(), 0);
    qCWarning(lcPlatform) << "cannot write" << name << "into" << m_path << qt_error_string(error);
    return false;
}

bool PrivateFiles::Folder::rename(const QString &from, const QString &to) const {
    if (!isOpen() || !isPlainName(from) || !isPlainName(to)) {
        qCWarning(lcPlatform) << "not renaming" << from << "to" << to << "in" << m_path;
        return false;
    }
    if (::renameat(m_fd, QFile::encodeName(from).constData(), m_fd,
                   QFile::encodeName(to).constData()) == 0)
        return true;
    qCWarning(lcPlatform) << "cannot rename" << from << "to" << to << "in" << m_path
                          << qt_error_string(errno);
    return false;
}

bool PrivateFiles::Folder::remove(const QString &name) const {
    if (!isOpen() || !isPlainName(name)) {
        qCWarning(lcPlatform) << "not removing" << name << "from" << m_path;
        return false;
    }
    if (::unlinkat(m_fd, QFile::encodeName(name).constData(), 0) == 0 || errno == ENOENT)
        return true;
    qCWarning(lcPlatform) << "cannot remove" << name << "from" << m_path << qt_error_string(errno);
    return false;
}
