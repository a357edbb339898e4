#include "PackageKitInstall.h"

#include "PlatformLog.h"
#include "Relaunch.h"

#include <QCoreApplication>
#include <QCoroDBusPendingCall>
#include <QCoroSignal>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDesktopServices>
#include <QLoggingCategory>
#include <QPointer>
#include <QUrl>

namespace {

const QString rootPath = QStringLiteral("/org/freedesktop/PackageKit");
const QString transactionInterface = QStringLiteral("org.freedesktop.PackageKit.Transaction");
constexpr uint exitSuccess = 1; // PK_EXIT_ENUM_SUCCESS
constexpr uint exitCancelled = 3;
constexpr qulonglong noFlags = 0; // the package is trusted by its signature, not a repository

bool isMissingService(const QDBusMessage &reply) {
    const QString name = reply.errorName();
    return name == u"org.freedesktop.DBus.Error.ServiceUnknown" ||
           name == u"org.freedesktop.DBus.Error.NameHasNoOwner" ||
           name == u"org.freedesktop.DBus.Error.Disconnected" ||
           name == u"org.freedesktop.DBus.Error.NotSupported";
}
} // namespace

// Collects a transaction's end and its error, if any.
class TransactionWatcher : public QObject {
    Q_OBJECT

public:
    uint exit = 0;
    QString error;

public Q_SLOTS:
    void onErrorCode(uint, const QString &details) { error = details; }
    void onFinished(uint exitCode, uint) {
        exit = exitCode;
        Q_EMIT finished();
    }

Q_SIGNALS:
    void finished();
};

PackageKitInstall::PackageKitInstall(QDBusConnection bus, QString executable,
                                     SingleInstance *instance,
                                     std::chrono::milliseconds startTimeout, QObject *parent)
    : UpdateInstaller(parent)
    , m_bus(std::move(bus))
    , m_executable(std::move(executable))
    , m_instance(instance)
    , m_startTimeout(startTimeout) {}

QCoro::Task<UpdateInstaller::Outcome> PackageKitInstall::install(QString file, QString version) {
    QPointer<PackageKitInstall> self(this);
    const bool viaPackageKit = co_await installWithPackageKit(file);
    if (!viaPackageKit) {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(file)))
            throw InstallError(
                QCoreApplication::translate("InstallError",
                                            "No software installer is available. Install the "
                                            "downloaded package %1 with your package manager.")
                    .arg(file));
        co_return Outcome::handedToInstaller;
    }
    if (!self)
        co_return Outcome::restarted;
    const bool started =
        co_await Relaunch::startAndConfirm(m_executable, m_instance, m_startTimeout);
    if (!started)
        throw InstallError(
            QCoreApplication::translate("InstallError",
                                        "Zelvane %1 was installed but did not start. Start it "
                                        "from your applications menu.")
                .arg(version));
    co_return Outcome::restarted;
}

QCoro::Task<bool> PackageKitInstall::installWithPackageKit(const QString &file) {
    const QString path = file;
    QDBusConnection bus = m_bus;
    if (!bus.isConnected())
        co_return false;
    const QDBusMessage created = co_await bus.asyncCall(QDBusMessage::createMethodCall(
        service, rootPath, service, QStringLiteral("CreateTransaction")));
    if (created.type() != QDBusMessage::ReplyMessage) {
        if (isMissingService(created))
            co_return false;
        throw InstallError(QCoreApplication::translate("InstallError",
                                                       "The package manager refused the update: %1")
                               .arg(created.errorMessage()));
    }
    const QString transaction = created.arguments().value(0).value<QDBusObjectPath>().path();
    if (transaction.isEmpty())
        throw InstallError(QCoreApplication::translate("InstallError",
                                                       "The package manager gave no transaction."));

    TransactionWatcher watcher;
    bus.connect(service, transaction, transactionInterface, QStringLiteral("ErrorCode"), &watcher,
                SLOT(onErrorCode(uint, QString)));
    bus.connect(service, transaction, transactionInterface, QStringLiteral("Finished"), &watcher,
                SLOT(onFinished(uint, uint)));

    // Lets the package manager ask for the administrator's permission on screen.
    QDBusMessage hints = QDBusMessage::createMethodCall(service, transaction, transactionInterface,
                                                        QStringLiteral("SetHints"));
    hints << QStringList{QStringLiteral("interactive=true")};
    co_await bus.asyncCall(hints);

    QDBusMessage call = QDBusMessage::createMethodCall(service, transaction, transactionInterface,
                                                       QStringLiteral("InstallFiles"));
    call << noFlags << QStringList{path};
    const QDBusMessage reply = co_await bus.asyncCall(call);
    if (reply.type() != QDBusMessage::ReplyMessage)
        throw InstallError(QCoreApplication::translate("InstallError",
                                                       "The package manager refused the update: %1")
                               .arg(reply.errorMessage()));
    if (watcher.exit == 0)
        co_await qCoro(&watcher, &TransactionWatcher::finished);
    if (watcher.exit == exitSuccess)
        co_return true;
    qCWarning(lcPlatform) << "InstallFiles ended with exit" << watcher.exit << watcher.error;
    if (watcher.exit == exitCancelled)
        throw InstallError(
            QCoreApplication::translate("InstallError", "The update was cancelled."));
    throw InstallError(
        watcher.error.isEmpty()
            ? QCoreApplication::translate("InstallError",
                                          "The package manager could not install the update.")
            : QCoreApplication::translate("InstallError",
                                          "The package manager could not install the update: "
                                          "%1")
                  .arg(watcher.error));
}

#include "PackageKitInstall.moc"
