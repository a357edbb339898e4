#include "Relaunch.h"

#include "PlatformLog.h"
#include "SingleInstance.h"

#include <QCoroTimer>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>
#include <csignal>

namespace {

constexpr auto pollInterval = std::chrono::milliseconds(100);

// A process that ended but was not reaped yet (a zombie) counts as gone.
bool isRunning(qint64 pid) {
    if (::kill(pid_t(pid), 0) != 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) != "Z";
}
} // namespace

namespace Relaunch {
QCoro::Task<bool> startAndConfirm(QString executable, SingleInstance *instance,
                                  std::chrono::milliseconds timeout) {
    QTemporaryDir dir;
    if (!dir.isValid())
        co_return false;
    const QString startedFile = dir.filePath(QStringLiteral("started"));
    if (instance)
        co_await instance->release();

    QProcess process;
    process.setProgram(executable);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(startedFileVariable), startedFile);
    process.setProcessEnvironment(environment);
    qint64 pid = 0;
    bool started = process.startDetached(&pid);
    if (started) {
        started = false;
        for (auto waited = std::chrono::milliseconds(0); waited < timeout; waited += pollInterval) {
            if (QFile::exists(startedFile)) {
                started = true;
                break;
            }
            // A version that reports and exits at once may do both between the two looks.
            if (!isRunning(pid)) {
                started = QFile::exists(startedFile);
                break;
            }
            co_await QCoro::sleepFor(pollInterval);
        }
        if (!started && isRunning(pid))
            ::kill(pid_t(pid), SIGTERM);
    }
    if (!started) {
        qCWarning(lcPlatform) << "the new version did not start:" << executable;
        if (instance)
            co_await instance->claim();
    }
    co_return started;
}

void reportStarted() {
    const QString path = qEnvironmentVariable(startedFileVariable);
    if (path.isEmpty())
        return;
    qunsetenv(startedFileVariable);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.commit())
        qCWarning(lcPlatform) << "could not report the start to the previous version";
}
} // namespace Relaunch
