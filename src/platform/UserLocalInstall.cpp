#include "UserLocalInstall.h"

#include "PlatformLog.h"
#include "Relaunch.h"

#include <QCoreApplication>
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

QString UserLocalInstall::currentDir() const {
    return QFileInfo(QFileInfo(m_root.filePath(currentLink)).symLinkTarget()).fileName();
}

QCoro::Task<QString> UserLocalInstall::unpack(QString file, QString version) {
    static const QRegularExpression safeVersion(QStringLiteral("^[0-9A-Za-z][0-9A-Za-z.+~-]*$"));
    if (!safeVersion.match(version).hasMatch())
        throw InstallError(QCoreApplication::translate(
            "InstallError", "The update's version number is not valid."));
    const QString previousDir = currentDir();
    if (previousDir.isEmpty())
        throw InstallError(QCoreApplication::translate(
            "InstallError", "The installed copy of Zelvane could not be found."));
    if (previousDir == version)
        throw InstallError(
            QCoreApplication::translate("InstallError", "Zelvane %1 is already installed.")
                .arg(version));

    // Unpack beside the running version, in a folder nobody else will pick up.
    m_root.mkpath(QStringLiteral("versions"));
    QTemporaryDir staging(m_root.filePath(QStringLiteral("versions/.unpack-XXXXXX")));
    if (!staging.isValid())
        throw InstallError(
            QCoreApplication::translate("InstallError", "There is no room to unpack the update."));
    QProcess tar;
    tar.setProgram(QStringLiteral("tar"));
    tar.setArguments({QStringLiteral("--extract"), QStringLiteral("--gzip"),
                      QStringLiteral("--no-same-owner"), QStringLiteral("--file"), file,
                      QStringLiteral("--directory"), staging.path()});
    co_await qCoro(tar).start();
    co_await qCoro(tar).waitForFinished(std::chrono::minutes(5));
    if (tar.exitStatus() != QProcess::NormalExit || tar.exitCode() != 0)
        throw InstallError(
            QCoreApplication::translate("InstallError", "The update could not be unpacked."));
    if (!QFileInfo(staging.filePath(executableInTree)).isExecutable())
        throw InstallError(
            QCoreApplication::translate("InstallError", "The update does not contain Zelvane."));

    const QString target = m_root.filePath(QStringLiteral("versions/") + version);
    QDir(target).removeRecursively(); // what a failed earlier attempt left
    if (!QDir().rename(staging.path(), target))
        throw InstallError(
            QCoreApplication::translate("InstallError", "The update could not be put in place."));
    staging.setAutoRemove(false);
    co_return target;
}

QCoro::Task<UpdateInstaller::Outcome> UserLocalInstall::install(QString file, QString version) {
    const QString previous = QFileInfo(m_root.filePath(currentLink)).symLinkTarget();
    const QString previousDir = currentDir();
    const QString target = co_await unpack(file, version);
    if (!pointCurrentAt(version)) {
        QDir(target).removeRecursively();
        throw InstallError(
            QCoreApplication::translate("InstallError", "The update could not be put in place."));
    }
    const bool started = co_await Relaunch::startAndConfirm(
        m_root.filePath(currentLink + u'/' + executableInTree), m_instance, m_startTimeout);
    if (!started) {
        pointCurrentAt(previousDir);
        QDir(target).removeRecursively();
        throw InstallError(QCoreApplication::translate(
                               "InstallError", "Zelvane %1 did not start, so the version you have "
                                               "was kept.")
                               .arg(version));
    }
    if (!QDir(previous).removeRecursively())
        qCWarning(lcPlatform) << "could not remove the previous version" << previous;
    co_return Outcome::restarted;
}

QCoro::Task<> UserLocalInstall::prepare(QString file, QString version) {
    const QString target = co_await unpack(file, version);
    // A version that cannot even name itself would leave nothing that starts.
    QProcess probe;
    probe.setProgram(QDir(target).filePath(executableInTree));
    probe.setArguments({QStringLiteral("--version")});
    probe.setProcessChannelMode(QProcess::MergedChannels);
    co_await qCoro(probe).start();
    const bool ended = co_await qCoro(probe).waitForFinished(m_startTimeout);
    const QStringList said =
        QString::fromUtf8(probe.readAll()).split(QRegularExpression(QStringLiteral("\\s+")));
    if (!ended || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0 ||
        !said.contains(version)) {
        if (!ended)
            probe.kill();
        QDir(target).removeRecursively();
        throw InstallError(QCoreApplication::translate(
                               "InstallError", "Zelvane %1 did not run, so it was not installed.")
                               .arg(version));
    }
}

bool UserLocalInstall::finishPrepared(const QString &version) {
    const QString running = currentDir();
    const QDir versions(m_root.filePath(QStringLiteral("versions")));
    if (running.isEmpty() || running == version ||
        !QFileInfo(versions.filePath(version + u'/' + executableInTree)).isExecutable())
        return false;
    if (!pointCurrentAt(version))
        return false;
    // The version that ran until now stays to go back to; anything older goes.
    for (const QString &old : versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (old != version && old != running && !QDir(versions.filePath(old)).removeRecursively())
            qCWarning(lcPlatform) << "could not remove the old version" << old;
    }
    return true;
}
