#include "UserLocalInstall.h"

#include "PlatformLog.h"
#include "Relaunch.h"

#include <QCoroProcess>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>

namespace {

const QString currentLink = QStringLiteral("current");
const QString executableInTree = QStringLiteral("bin/zelvane");
} // namespace

UserLocalInstall::UserLocalInstall(QString root, SingleInstance *instance,
                                   std::chrono::milliseconds startTimeout, QObject *parent)
    : UpdateInstaller(parent)
    , m_root(std::move(root))
    , m_instance(instance)
    , m_startTimeout(startTimeout) {}

std::optional<QString> UserLocalInstall::rootOf(const QString &executable) {
    QDir dir = QFileInfo(executable).canonicalFilePath().isEmpty()
                   ? QFileInfo(executable).absoluteDir()
                   : QFileInfo(QFileInfo(executable).canonicalFilePath()).absoluteDir();
    // <root>/versions/<v>/bin
    if (dir.dirName() != u"bin" || !dir.cdUp() || !dir.cdUp() || dir.dirName() != u"versions" ||
        !dir.cdUp())
        return std::nullopt;
    if (!QFileInfo(dir.filePath(currentLink)).isSymLink())
        return std::nullopt;
    return dir.absolutePath();
}

bool UserLocalInstall::pointCurrentAt(const QString &versionDir) {
    // A new link renamed over the old one: readers see either the old or the new target.
    const QString fresh = m_root.filePath(QStringLiteral(".current.new"));
    QFile::remove(fresh);
    if (!QFile::link(QStringLiteral("versions/") + versionDir, fresh))
        return false;
    return std::rename(QFile::encodeName(fresh).constData(),
                       QFile::encodeName(m_root.filePath(currentLink)).constData()) == 0;
}

QCoro::Task<UpdateInstaller::Outcome> UserLocalInstall::install(QString file, QString version) {
    static const QRegularExpression safeVersion(QStringLiteral("^[0-9A-Za-z][0-9A-Za-z.+~-]*$"));
    if (!safeVersion.match(version).hasMatch())
        throw InstallError(QStringLiteral("The update's version number is not valid."));
    const QString previous = QFileInfo(m_root.filePath(currentLink)).symLinkTarget();
    const QString previousDir = QFileInfo(previous).fileName();
    if (previous.isEmpty())
        throw InstallError(QStringLiteral("The installed copy of Zelvane could not be found."));
    if (previousDir == version)
        throw InstallError(QStringLiteral("Zelvane %1 is already installed.").arg(version));

    // Unpack beside the running version, in a folder nobody else will pick up.
    m_root.mkpath(QStringLiteral("versions"));
    QTemporaryDir staging(m_root.filePath(QStringLiteral("versions/.unpack-XXXXXX")));
    if (!staging.isValid())
        throw InstallError(QStringLiteral("There is no room to unpack the update."));
    QProcess tar;
    tar.setProgram(QStringLiteral("tar"));
    tar.setArguments({QStringLiteral("--extract"), QStringLiteral("--gzip"),
                      QStringLiteral("--no-same-owner"), QStringLiteral("--file"), file,
                      QStringLiteral("--directory"), staging.path()});
    co_await qCoro(tar).start();
    co_await qCoro(tar).waitForFinished(std::chrono::minutes(5));
    if (tar.exitStatus() != QProcess::NormalExit || tar.exitCode() != 0)
        throw InstallError(QStringLiteral("The update could not be unpacked."));
    if (!QFileInfo(staging.filePath(executableInTree)).isExecutable())
        throw InstallError(QStringLiteral("The update does not contain Zelvane."));

    const QString target = m_root.filePath(QStringLiteral("versions/") + version);
    QDir(target).removeRecursively(); // what a failed earlier attempt left
    if (!QDir().rename(staging.path(), target))
        throw InstallError(QStringLiteral("The update could not be put in place."));
    staging.setAutoRemove(false);

    if (!pointCurrentAt(version)) {
        QDir(target).removeRecursively();
        throw InstallError(QStringLiteral("The update could not be put in place."));
    }
    const bool started = co_await Relaunch::startAndConfirm(
        m_root.filePath(currentLink + u'/' + executableInTree), m_instance, m_startTimeout);
    if (!started) {
        pointCurrentAt(previousDir);
        QDir(target).removeRecursively();
        throw InstallError(QStringLiteral("Zelvane %1 did not start, so the version you have "
                                          "was kept.")
                               .arg(version));
    }
    if (!QDir(previous).removeRecursively())
        qCWarning(lcPlatform) << "could not remove the previous version" << previous;
    co_return Outcome::restarted;
}
