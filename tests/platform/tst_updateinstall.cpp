#include "platform/PackageKitInstall.h"
#include "platform/UserLocalInstall.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {
const QByteArray reportsStart = "#!/bin/sh\n: > \"$ZELVANE_STARTED_FILE\"\n";

bool writeScript(const QString &path, const QByteArray &body) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(body) == body.size() &&
           file.setPermissions(file.permissions() | QFile::ExeOwner);
}

// The task's result or its error's description. (QCoro::waitFor never returns from a task
// that throws, so the error is caught inside a coroutine.)
template <typename T>
QCoro::Task<std::pair<std::optional<T>, QString>> capture(QCoro::Task<T> task) {
    try {
        co_return std::pair<std::optional<T>, QString>{co_await task, QString()};
    } catch (const Error &error) {
        co_return std::pair<std::optional<T>, QString>{std::nullopt, error.description()};
    }
}

template <typename T> std::pair<std::optional<T>, QString> outcomeOf(QCoro::Task<T> task) {
    return QCoro::waitFor(capture(std::move(task)));
}
} // namespace

// PackageKit's InstallFiles transaction as the daemon publishes it, on the private system bus.
class FakeTransaction : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.PackageKit.Transaction")

public:
    QDBusConnection bus{QString()};
    uint exit = 1;
    QString error;
    QStringList installed;
    qulonglong flags = 99;

public Q_SLOTS:
    void SetHints(const QStringList &) {}
    void InstallFiles(qulonglong transactionFlags, const QStringList &files) {
        flags = transactionFlags;
        installed = files;
        // The daemon reports the outcome later, as signals on the transaction.
        QTimer::singleShot(50, this, [this] {
            const QString path = u"/1"_s, interface = u"org.freedesktop.PackageKit.Transaction"_s;
            if (!error.isEmpty())
                bus.send(QDBusMessage::createSignal(path, interface, u"ErrorCode"_s)
                         << uint(3) << error);
            bus.send(QDBusMessage::createSignal(path, interface, u"Finished"_s) << exit << uint(1));
        });
    }
};

class FakePackageKit : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.PackageKit")

public Q_SLOTS:
    QDBusObjectPath CreateTransaction() { return QDBusObjectPath(u"/1"_s); }
};

// Stands in for the desktop's handler of local files.
class OpenedFiles : public QObject {
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls << url; }
};

class TestUpdateInstall : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString root, archive;

    // An archive laid out like `cmake --install`, whose bin/zelvane is `script` (none if empty).
    QString makeArchive(const QByteArray &script) {
        const QString tree = dir.filePath(u"tree"_s);
        QDir(tree).removeRecursively();
        if (!script.isEmpty() && !writeScript(tree + u"/bin/zelvane"_s, script))
            return {};
        writeScript(tree + u"/share/zelvane/readme"_s, "new");
        const QString path = dir.filePath(u"update.tar.gz"_s);
        QFile::remove(path);
        return QProcess::execute(u"tar"_s, {u"-czf"_s, path, u"-C"_s, tree, u"."_s}) == 0
                   ? path
                   : QString();
    }

private Q_SLOTS:
    void init() {
        root = dir.filePath(u"opt/zelvane"_s);
        QDir(root).removeRecursively();
        QVERIFY(writeScript(root + u"/versions/1.0/bin/zelvane"_s, reportsStart));
        QVERIFY(QFile::link(u"versions/1.0"_s, root + u"/current"_s));
    }

    void findsTheInstallRoot() {
        QCOMPARE(UserLocalInstall::rootOf(root + u"/current/bin/zelvane"_s), root);
        QCOMPARE(UserLocalInstall::rootOf(root + u"/versions/1.0/bin/zelvane"_s), root);
        QCOMPARE(UserLocalInstall::rootOf(u"/usr/bin/zelvane"_s), std::nullopt);
    }

    void userLocalSwap_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("failure");
        QTest::newRow("new version starts") << reportsStart << QString();
        QTest::newRow("new version fails")
            << QByteArray("#!/bin/sh\nexit 1\n")
            << u"Zelvane 2.0 did not start, so the version you have was kept."_s;
        QTest::newRow("new version hangs")
            << QByteArray("#!/bin/sh\nexec sleep 30\n")
            << u"Zelvane 2.0 did not start, so the version you have was kept."_s;
        QTest::newRow("archive without the app")
            << QByteArray() << u"The update does not contain Zelvane."_s;
    }
    void userLocalSwap() {
        QFETCH(QByteArray, script);
        QFETCH(QString, failure);
        const QString file = makeArchive(script);
        QVERIFY(!file.isEmpty());
        UserLocalInstall installer(root, nullptr, std::chrono::seconds(2));
        const auto [outcome, error] = outcomeOf(installer.install(file, u"2.0"_s));
        QCOMPARE(error, failure);
        const QString current = QFileInfo(root + u"/current"_s).symLinkTarget();
        const QStringList versions =
            QDir(root + u"/versions"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
        if (failure.isEmpty()) {
            QCOMPARE(outcome, UpdateInstaller::Outcome::restarted);
            QCOMPARE(current, root + u"/versions/2.0"_s);
            QVERIFY(QFile::exists(root + u"/current/share/zelvane/readme"_s));
            QCOMPARE(versions, QStringList{u"2.0"_s});
        } else {
            QCOMPARE(current, root + u"/versions/1.0"_s);
            QCOMPARE(versions, QStringList{u"1.0"_s});
        }
    }

    void packageKitInstallsTheVerifiedPackage_data() {
        QTest::addColumn<uint>("exit");
        QTest::addColumn<QString>("details");
        QTest::addColumn<QString>("failure");
        QTest::newRow("installed") << 1u << QString() << QString();
        QTest::newRow("refused")
            << 2u << u"Package is not trusted"_s
            << u"The package manager could not install the update: Package is not trusted"_s;
        QTest::newRow("cancelled") << 3u << QString() << u"The update was cancelled."_s;
    }
    void packageKitInstallsTheVerifiedPackage() {
        QFETCH(uint, exit);
        QFETCH(QString, details);
        QFETCH(QString, failure);
        if (qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS"))
            QSKIP("needs a private system bus (run through its CTest wrapper)");
        // The daemon's side on a connection of its own, as another process would be.
        QDBusConnection daemon =
            QDBusConnection::connectToBus(QDBusConnection::SystemBus, u"fake-packagekit"_s);
        FakePackageKit packageKit;
        FakeTransaction transaction;
        transaction.bus = daemon;
        transaction.exit = exit;
        transaction.error = details;
        QVERIFY(daemon.registerObject(u"/org/freedesktop/PackageKit"_s, &packageKit,
                                      QDBusConnection::ExportAllSlots));
        QVERIFY(daemon.registerObject(u"/1"_s, &transaction, QDBusConnection::ExportAllSlots));
        QVERIFY(daemon.registerService(PackageKitInstall::service));

        const QString executable = dir.filePath(u"usr/bin/zelvane"_s);
        QVERIFY(writeScript(executable, reportsStart));
        PackageKitInstall installer(QDBusConnection::systemBus(), executable, nullptr,
                                    std::chrono::seconds(5));
        const QString deb = dir.filePath(u"zelvane_2.0_amd64.deb"_s);
        const auto [outcome, error] = outcomeOf(installer.install(deb, u"2.0"_s));
        daemon.unregisterService(PackageKitInstall::service);
        daemon.unregisterObject(u"/1"_s);
        daemon.unregisterObject(u"/org/freedesktop/PackageKit"_s);
        QDBusConnection::disconnectFromBus(u"fake-packagekit"_s);

        QCOMPARE(transaction.installed, QStringList{deb});
        QCOMPARE(transaction.flags, 0ull);
        QCOMPARE(error, failure);
        if (failure.isEmpty())
            QCOMPARE(outcome, UpdateInstaller::Outcome::restarted);
    }

    // Without PackageKit on the system bus the package goes to the desktop's installer, and
    // this version keeps running.
    void withoutPackageKitTheDesktopInstallerTakesThePackage() {
        if (qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS"))
            QSKIP("needs a private system bus (run through its CTest wrapper)");
        QVERIFY(QDBusConnection::systemBus().isConnected());
        QVERIFY(!QDBusConnection::systemBus().interface()->isServiceRegistered(
            PackageKitInstall::service));
        OpenedFiles opened;
        QDesktopServices::setUrlHandler(u"file"_s, &opened, "open");
        const QString executable = dir.filePath(u"not-started"_s);
        PackageKitInstall installer(QDBusConnection::systemBus(), executable, nullptr,
                                    std::chrono::seconds(1));
        const QString deb = dir.filePath(u"zelvane_2.0_amd64.deb"_s);
        const auto [outcome, error] = outcomeOf(installer.install(deb, u"2.0"_s));
        QDesktopServices::unsetUrlHandler(u"file"_s);
        QCOMPARE(error, QString());
        QCOMPARE(outcome, UpdateInstaller::Outcome::handedToInstaller);
        QCOMPARE(opened.urls, QList<QUrl>{QUrl::fromLocalFile(deb)});
    }
};

QTEST_GUILESS_MAIN(TestUpdateInstall)
#include "tst_updateinstall.moc"
