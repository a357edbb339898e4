// The desktop around the app: its autostart entry, Do Not Disturb, and putting updates in
// place. Runs on a private bus that stands in for both the session and the system bus.
#include "Settle.h"
#include "TestEnvironment.h"
#include "platform/Autostart.h"
#include "platform/BuildTreeCopy.h"
#include "platform/DoNotDisturb.h"
#include "platform/PackageKitInstall.h"
#include "platform/SleepMonitor.h"
#include "platform/UserLocalInstall.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDesktopServices>
#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
const QByteArray reportsStart = "#!/bin/sh\n: > \"$ZELVANE_STARTED_FILE\"\n";

bool writeScript(const QString &path, const QByteArray &body) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(body) == body.size() &&
           file.setPermissions(file.permissions() | QFile::ExeOwner);
}
} // namespace

// PackageKit's daemon on the private system bus, with the InstallFiles transaction it hands out.
class FakePackageKit : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.PackageKit.Transaction")

public:
    uint exit = 1;
    QString error;
    QString installed; // the flags and files InstallFiles was given

Q_SIGNALS:
    void ErrorCode(uint code, const QString &details);
    void Finished(uint exit, uint runtime);

public Q_SLOTS:
    QDBusObjectPath CreateTransaction() { return QDBusObjectPath(u"/1"_s); }
    void InstallFiles(qulonglong transactionFlags, const QStringList &files) {
        installed = QString::number(transactionFlags) + u' ' + files.join(u' ');
        // The daemon reports the outcome later, as signals on the transaction.
        QTimer::singleShot(50, this, [this] {
            if (!error.isEmpty())
                Q_EMIT ErrorCode(3, error);
            Q_EMIT Finished(exit, 1);
        });
    }
};

// The suite is also the notification server and the desktop's handler of local files.
class TestPlatform : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
    Q_PROPERTY(bool Inhibited MEMBER inhibited)

public Q_SLOTS:
    void open(const QUrl &url) { opened << url; }

private:
    QTemporaryDir dir;
    QString root;
    bool inhibited = false;
    QList<QUrl> opened;

    // An archive laid out like `cmake --install`, whose bin/zelvane is `script` (none if empty).
    QString makeArchive(const QByteArray &script) {
        const QString tree = dir.filePath(u"tree"_s);
        QDir(tree).removeRecursively();
        if (!script.isEmpty() && !writeScript(tree + u"/bin/zelvane"_s, script))
            return {};
        writeScript(tree + u"/share/zelvane/readme"_s, "new");
        const QString path = dir.filePath(u"update.tar.gz"_s);
        return QProcess::execute(u"tar"_s, {u"-czf"_s, path, u"-C"_s, tree, u"."_s}) == 0
                   ? path
                   : QString();
    }

private Q_SLOTS:
    void initTestCase() { qputenv("GSETTINGS_BACKEND", "keyfile"); } // under each config home

    void init() {
        opened.clear();
        root = dir.filePath(u"opt/zelvane"_s);
        QDir(root).removeRecursively();
        QVERIFY(writeScript(root + u"/versions/1.0/bin/zelvane"_s, reportsStart));
        QVERIFY(QFile::link(u"versions/1.0"_s, root + u"/current"_s));
    }

    // The entry quotes the path so spaces and quotes survive. Only its owner may change it, even
    // under a permissive umask; a folder that cannot be made fails the write.
    void autostartEntry() {
        TestEnvironment env;
        const mode_t oldMask = ::umask(0);
        const auto restore = qScopeGuard([oldMask] { ::umask(oldMask); });
        const auto mode = [](const QString &path) {
            struct stat info {};
            ::stat(QFile::encodeName(path).constData(), &info);
            return info.st_mode & 07777;
        };
        const QString path = Autostart::entryPath();
        QVERIFY(Autostart::disable()); // removing a missing entry is fine
        QVERIFY(QFile(env.configHome() + u"/autostart"_s).open(QIODevice::WriteOnly));
        QVERIFY(!Autostart::enable(u"/usr/bin/zelvane"_s) && !Autostart::isEnabled());
        QVERIFY(QFile::remove(env.configHome() + u"/autostart"_s));

        QVERIFY(Autostart::enable(u"/opt/My \"Apps\"/zelvane"_s) && Autostart::isEnabled());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY(text.startsWith(u"[Desktop Entry]\n"_s) &&
                text.contains(u"\nExec=\"/opt/My \\\"Apps\\\"/zelvane\"\n"_s));
        QCOMPARE(mode(path), 0644u);
        QCOMPARE(mode(env.configHome() + u"/autostart"_s), 0700u);
        QVERIFY(Autostart::disable() && !Autostart::isEnabled());

        // A link planted under the entry's name is replaced, not written through.
        const QString outside = env.path() + u"/outside"_s;
        QFile target(outside);
        QVERIFY(target.open(QIODevice::WriteOnly) && target.write("kept") == 4);
        target.close();
        QVERIFY(QFile::link(outside, path));
        QVERIFY(Autostart::enable(u"/usr/bin/zelvane"_s));
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), QByteArray("kept"));
        QVERIFY(!QFileInfo(path).isSymLink());
        QCOMPARE(mode(path), 0644u);
    }

    // Quiet when the notification server is inhibited, or else when GNOME hides banners.
    void doNotDisturb_data() {
        QTest::addColumn<int>("inhibited"); // -1: no notification server
        QTest::addColumn<bool>("hidden");   // GNOME's show-banners set off, or left at its default
        QTest::addColumn<bool>("quiet");
        QTest::newRow("neither source") << -1 << false << false;
        QTest::newRow("server inhibited") << 1 << false << true;
        QTest::newRow("server not inhibited") << 0 << false << false;
        QTest::newRow("GNOME banners hidden") << -1 << true << true;
        QTest::newRow("server free, banners hidden") << 0 << true << true;
    }
    void doNotDisturb() {
        QFETCH(int, inhibited);
        QFETCH(bool, hidden);
        QFETCH(bool, quiet);
        TestEnvironment env;
        QDBusConnection bus = QDBusConnection::sessionBus();
        this->inhibited = inhibited == 1;
        if (inhibited >= 0) {
            QVERIFY(bus.registerObject(u"/org/freedesktop/Notifications"_s, this,
                                       QDBusConnection::ExportAllProperties));
            QVERIFY(bus.registerService(u"org.freedesktop.Notifications"_s));
        }
        if (hidden)
            QCOMPARE(
                QProcess::execute(u"gsettings"_s, {u"set"_s, u"org.gnome.desktop.notifications"_s,
                                                   u"show-banners"_s, u"false"_s}),
                0);
        QCOMPARE(QCoro::waitFor(DoNotDisturb::isOn()), quiet);
        bus.unregisterService(u"org.freedesktop.Notifications"_s);
        bus.unregisterObject(u"/org/freedesktop/Notifications"_s);
    }

    // The install is found from the running binary. The new version takes over only once it
    // reports that it started; otherwise the version there is kept and nothing of it stays.
    void userLocalSwap_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("failure");
        const QString kept = u"Zelvane 2.0 did not start, so the version you have was kept."_s;
        QTest::newRow("new version starts") << reportsStart << QString();
        QTest::newRow("new version fails") << QByteArray("#!/bin/sh\nexit 1\n") << kept;
        QTest::newRow("new version hangs") << QByteArray("#!/bin/sh\nexec sleep 30\n") << kept;
        QTest::newRow("archive without the app")
            << QByteArray() << u"The update does not contain Zelvane."_s;
    }
    void userLocalSwap() {
        QFETCH(QByteArray, script);
        QFETCH(QString, failure);
        QCOMPARE(UserLocalInstall::rootOf(root + u"/current/bin/zelvane"_s), root);
        QCOMPARE(UserLocalInstall::rootOf(u"/usr/bin/zelvane"_s), std::nullopt);
        const QString file = makeArchive(script);
        QVERIFY(!file.isEmpty());
        UserLocalInstall installer(root, nullptr, std::chrono::seconds(2));
        const auto outcome = settle(installer.install(file, u"2.0"_s));
        QCOMPARE(outcome.description(), failure);
        const QString version = failure.isEmpty() ? u"2.0"_s : u"1.0"_s;
        QCOMPARE(QFileInfo(root + u"/current"_s).symLinkTarget(), root + u"/versions/"_s + version);
        QCOMPARE(
            QDir(root + u"/versions"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList{version});
        if (failure.isEmpty())
            QCOMPARE(outcome.value, UpdateInstaller::Outcome::restarted);
    }

    // An update made ready in the background is unpacked beside the running version and tried
    // before anything changes; at quit `current` moves to it, the version that ran stays to go
    // back to and any older one goes. One that does not run is not kept.
    void userLocalPreparedForQuit_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("failure");
        const QString notRun = u"Zelvane 2.0 did not run, so it was not installed."_s;
        QTest::newRow("runs") << QByteArray("#!/bin/sh\necho \"zelvane 2.0\"\n") << QString();
        QTest::newRow("names another version")
            << QByteArray("#!/bin/sh\necho \"zelvane 1.0\"\n") << notRun;
        QTest::newRow("fails") << QByteArray("#!/bin/sh\necho 2.0; exit 1\n") << notRun;
        QTest::newRow("hangs") << QByteArray("#!/bin/sh\nexec sleep 30\n") << notRun;
    }
    void userLocalPreparedForQuit() {
        QFETCH(QByteArray, script);
        QFETCH(QString, failure);
        QVERIFY(writeScript(root + u"/versions/0.9/bin/zelvane"_s, reportsStart));
        const QString file = makeArchive(script);
        QVERIFY(!file.isEmpty());
        UserLocalInstall installer(root, nullptr, std::chrono::seconds(2));
        QVERIFY(installer.installsAtQuit() && !installer.refusal(u"2.0"_s));
        QCOMPARE(settle(installer.prepare(file, u"2.0"_s)).description(), failure);
        const auto versions = [this] {
            return QDir(root + u"/versions"_s)
                .entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
        };
        const auto current = [this] {
            return QFileInfo(QFileInfo(root + u"/current"_s).symLinkTarget()).fileName();
        };
        QCOMPARE(current(), u"1.0"_s);
        if (!failure.isEmpty()) {
            QCOMPARE(versions(), (QStringList{u"0.9"_s, u"1.0"_s}));
            QVERIFY(!installer.finishPrepared(u"2.0"_s));
            QCOMPARE(current(), u"1.0"_s);
            return;
        }
        QCOMPARE(versions(), (QStringList{u"0.9"_s, u"1.0"_s, u"2.0"_s}));
        QVERIFY(installer.finishPrepared(u"2.0"_s));
        QCOMPARE(current(), u"2.0"_s);
        QCOMPARE(versions(), (QStringList{u"1.0"_s, u"2.0"_s}));
        QVERIFY(!installer.finishPrepared(u"2.0"_s));
    }

    // Only the package's own place counts as a system installation; anything else that is not
    // a user-local installation runs where it was built and refuses every update.
    void buildTreeCopy() {
        QVERIFY(BuildTreeCopy::isSystemInstall(u"/usr/bin/zelvane"_s));
        QVERIFY(!BuildTreeCopy::isSystemInstall(u"/usr/local/bin/zelvane"_s));
        QVERIFY(!BuildTreeCopy::isSystemInstall(root + u"/build/src/app/zelvane"_s));
        BuildTreeCopy copy;
        QVERIFY(!copy.usesDebianPackage() && !copy.installsAtQuit());
        const QString refusal = u"This copy of Zelvane was built from source, so it does not "
                                "update itself. To get Zelvane 2.0, update your source tree and "
                                "build it again."_s;
        QCOMPARE(copy.refusal(u"2.0"_s), std::optional(refusal));
        QCOMPARE(settle(copy.install(makeArchive(reportsStart), u"2.0"_s)).description(), refusal);
    }

    // PackageKit installs the verified package with no flags and says why it refused; without
    // it the package goes to the desktop's installer and this version keeps running.
    // logind's PrepareForSleep, from a logind of the test's own on the private system bus;
    // the same signal from anyone else is not logind's.
    void sleepAndWake() {
        SleepMonitor monitor;
        QSignalSpy sleeping(&monitor, &SleepMonitor::aboutToSleep);
        QSignalSpy woken(&monitor, &SleepMonitor::woke);
        const auto announce = [](QDBusConnection &bus, bool asleep) {
            QDBusMessage signal = QDBusMessage::createSignal(u"/org/freedesktop/login1"_s,
                                                             u"org.freedesktop.login1.Manager"_s,
                                                             u"PrepareForSleep"_s);
            signal << asleep;
            return bus.send(signal);
        };
        QDBusConnection stranger =
            QDBusConnection::connectToBus(QDBusConnection::SystemBus, u"stranger"_s);
        QVERIFY(announce(stranger, true));
        QDBusConnection logind =
            QDBusConnection::connectToBus(QDBusConnection::SystemBus, u"logind"_s);
        QVERIFY(logind.registerService(u"org.freedesktop.login1"_s));
        QVERIFY(announce(logind, true));
        QTRY_COMPARE(sleeping.size(), 1);
        QVERIFY(announce(logind, false));
        QTRY_COMPARE(woken.size(), 1);
        QCOMPARE(sleeping.size(), 1);
        QDBusConnection::disconnectFromBus(u"stranger"_s);
        QDBusConnection::disconnectFromBus(u"logind"_s);
    }

    void packageKit_data() {
        QTest::addColumn<int>("exit"); // 0: no PackageKit on the bus
        QTest::addColumn<QString>("details");
        QTest::addColumn<QString>("failure");
        QTest::newRow("installed") << 1 << QString() << QString();
        QTest::newRow("refused")
            << 2 << u"Package is not trusted"_s
            << u"The package manager could not install the update: Package is not trusted"_s;
        QTest::newRow("no PackageKit") << 0 << QString() << QString();
    }
    void packageKit() {
        QFETCH(int, exit);
        QFETCH(QString, details);
        QFETCH(QString, failure);
        // The daemon's side on a connection of its own, as another process would be.
        QDBusConnection daemon =
            QDBusConnection::connectToBus(QDBusConnection::SystemBus, u"fake-packagekit"_s);
        FakePackageKit packageKit;
        packageKit.exit = uint(exit);
        packageKit.error = details;
        if (exit) {
            QVERIFY(daemon.registerObject(u"/org/freedesktop/PackageKit"_s,
                                          PackageKitInstall::service, &packageKit,
                                          QDBusConnection::ExportAllSlots));
            QVERIFY(daemon.registerObject(u"/1"_s, &packageKit,
                                          QDBusConnection::ExportAllSlots |
                                              QDBusConnection::ExportAllSignals));
            QVERIFY(daemon.registerService(PackageKitInstall::service));
        }
        QDesktopServices::setUrlHandler(u"file"_s, this, "open");
        PackageKitInstall installer(QDBusConnection::systemBus(), root + u"/current/bin/zelvane"_s,
                                    nullptr, std::chrono::seconds(5));
        const QString deb = dir.filePath(u"zelvane_2.0_amd64.deb"_s);
        const auto outcome = settle(installer.install(deb, u"2.0"_s));
        QDBusConnection::disconnectFromBus(u"fake-packagekit"_s);

        QCOMPARE(outcome.description(), failure);
        QCOMPARE(packageKit.installed, exit ? u"0 "_s + deb : QString());
        QCOMPARE(opened, exit ? QList<QUrl>() : QList<QUrl>{QUrl::fromLocalFile(deb)});
        if (failure.isEmpty())
            QCOMPARE(outcome.value, exit ? UpdateInstaller::Outcome::restarted
                                         : UpdateInstaller::Outcome::handedToInstaller);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
