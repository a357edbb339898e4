#include "PrivateFiles.h"

#include <QDir>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

private:
    int m_fd;
};
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

std::optional<QByteArray> PrivateFiles::readRegularFile(const QString &path, qint64 maxBytes) {
    const Descriptor fd(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
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
