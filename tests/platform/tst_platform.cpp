// The desktop around the app: its autostart entry, Do Not Disturb, and putting updates in
// place. Runs on a private bus that stands in for both the session and the system bus.
#include "FakeNotificationServer.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "platform/Autostart.h"
#include "platform/BuildTreeCopy.h"
#include "platform/DoNotDisturb.h"
#include "platform/HostLookup.h"
#include "platform/PackageKitInstall.h"
#include "platform/PrivateFiles.h"
#include "platform/SingleInstance.h"
#include "platform/SleepMonitor.h"
#include "platform/UserLocalInstall.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

// GLib names a struct member "signals", which Qt defines as a keyword.
#undef signals
#include <gio/gdesktopappinfo.h>

using namespace Qt::StringLiterals;

namespace {
const QByteArray reportsStart = "#!/bin/sh\n: > \"$ZELVANE_STARTED_FILE\"\n";

// Launches a desktop entry as the session's autostart does, through GIO; false when GIO
// refuses the entry (its TryExec program is missing).
bool launchEntry(const QString &path) {
    GDesktopAppInfo *info =
        g_desktop_app_info_new_from_filename(QFile::encodeName(path).constData());
    if (!info)
        return false;
    const bool launched = g_app_info_launch(G_APP_INFO(info), nullptr, nullptr, nullptr);
    g_object_unref(info);
    return launched;
}

mode_t mode(const QString &path) {
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 07777;
}

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

// The suite is also the desktop's handler of local files.
class TestPlatform : public QObject {
    Q_OBJECT

public Q_SLOTS:
    void open(const QUrl &url) { opened << url; }

private:
    QTemporaryDir dir;
    QString root;
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
    void initTestCase() {
        // GSettings in a key file of the suite's own, which GLib places once per process, and
        // which the gsettings tool writes to as the desktop's settings would.
        qputenv("GSETTINGS_BACKEND", "keyfile");
        qputenv("XDG_CONFIG_HOME", dir.filePath(u"glib-config"_s).toUtf8());
        QCOMPARE(QString::fromUtf8(g_get_user_config_dir()), dir.filePath(u"glib-config"_s));
    }

    void init() {
        opened.clear();
        root = dir.filePath(u"opt/zelvane"_s);
        QDir(root).removeRecursively();
        QVERIFY(writeScript(root + u"/versions/1.0/bin/zelvane"_s, reportsStart));
        QVERIFY(QFile::link(u"versions/1.0"_s, root + u"/current"_s));
    }

    // Only its owner may change the entry, even under a permissive umask; a folder that cannot
    // be made fails the write. A link under its name is no entry of ours: it is replaced, not
    // written through, and removing the entry removes the link, never what it points at.
    void autostartEntry() {
        TestEnvironment env;
        const mode_t oldMask = ::umask(0);
        const auto restore = qScopeGuard([oldMask] { ::umask(oldMask); });
        const QString path = Autostart::entryPath();
        QVERIFY(Autostart::disable()); // removing a missing entry is fine
        QVERIFY(QFile(env.configHome() + u"/autostart"_s).open(QIODevice::WriteOnly));
        QVERIFY(!Autostart::enable(u"/usr/bin/zelvane"_s) && !Autostart::isEnabled());
        QVERIFY(QFile::remove(env.configHome() + u"/autostart"_s));

        QVERIFY(Autostart::enable(u"/usr/bin/zelvane"_s) && Autostart::isEnabled());
        QCOMPARE(mode(path), 0644u);
        QCOMPARE(mode(env.configHome() + u"/autostart"_s), 0700u);
        QCOMPARE(QProcess::execute(u"desktop-file-validate"_s, {path}), 0);
        QVERIFY(Autostart::disable() && !Autostart::isEnabled());

        const QString outside = env.path() + u"/outside"_s;
        QFile target(outside);
        QVERIFY(target.open(QIODevice::WriteOnly) && target.write("kept") == 4);
        target.close();
        QVERIFY(QFile::link(outside, path));
        QVERIFY(!Autostart::isEnabled());
        QVERIFY(Autostart::disable() && !QFileInfo(path).isSymLink() && target.exists());
        QVERIFY(QFile::link(env.path() + u"/nowhere"_s, path));
        QVERIFY(Autostart::disable() && !QFileInfo(path).isSymLink());
        QVERIFY(QFile::link(outside, path));
        QVERIFY(Autostart::enable(u"/usr/bin/zelvane"_s));
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), QByteArray("kept"));
        QVERIFY(!QFileInfo(path).isSymLink() && Autostart::isEnabled());
        QCOMPARE(mode(path), 0644u);
    }

    // The desktop's own reader (GIO) starts the program the entry names, whatever characters
    // its path holds, and skips the entry once that program is gone.
    void autostartEntryStartsOnlyAnInstalledProgram_data() {
        QTest::addColumn<QString>("folder");
        QTest::newRow("plain") << u"bin"_s;
        // (GIO cannot start a program whose path holds "%": it looks for it before undoing "%%".)
        QTest::newRow("quotes, dollar, backslash, backquote") << u"My \"Apps\" $HOME a\\b `x`"_s;
    }
    void autostartEntryStartsOnlyAnInstalledProgram() {
        QFETCH(QString, folder);
        TestEnvironment env;
        const QString program = env.path() + u'/' + folder + u"/zelvane"_s;
        QVERIFY(writeScript(program, reportsStart));
        QVERIFY(Autostart::enable(program));
        const QString started = env.path() + u"/started"_s;
        qputenv("ZELVANE_STARTED_FILE", started.toUtf8());
        QVERIFY(launchEntry(Autostart::entryPath()));
        QTRY_VERIFY(QFileInfo::exists(started));

        QVERIFY(QFile::remove(program));
        QVERIFY(!launchEntry(Autostart::entryPath()));
    }

    // A user-local install is started through its "current" link, which an update moves on;
    // the versioned folder the program runs from is gone after the next update.
    void autostartLaunchesTheCurrentVersion() {
        QCOMPARE(Autostart::launcher(root + u"/versions/1.0/bin/zelvane"_s),
                 root + u"/current/bin/zelvane"_s);
        QCOMPARE(Autostart::launcher(u"/usr/bin/zelvane"_s), u"/usr/bin/zelvane"_s);
    }

    // Removing the package takes the entries that start its program from every home it finds,
    // each with its owner's rights; an upgrade, other programs' entries and links stay.
    void packageRemovalTakesTheEntries() {
        QTemporaryDir homes;
        const auto home = [&](const char *user) {
            return homes.filePath(QString::fromLatin1(user));
        };
        const auto entryOf = [&](const char *user) {
            return home(user) + u"/.config/autostart/app.zelvane.Zelvane.desktop"_s;
        };
        // The user database lists the test's homes; runuser runs the command as the caller.
        QByteArray passwd;
        for (const char *user : {"ann", "bob", "cay", "dee", "out"})
            passwd += QByteArray(user) + ":x:1000:1000::" + home(user).toUtf8() + ":/bin/sh\n";
        passwd += "sys:x:2:2::/:/usr/sbin/nologin\nodd:x:3:3::relative:/bin/sh\n";
        const QString stubs = homes.filePath(u"stubs"_s);
        QVERIFY(writeScript(stubs + u"/getent"_s, "#!/bin/sh\ncat <<'END'\n" + passwd + "END\n"));
        QVERIFY(
            writeScript(stubs + u"/runuser"_s,
                        "#!/bin/sh\nwhile [ \"$1\" != -- ]; do shift; done\nshift\nexec \"$@\"\n"));
        const auto writeEntry = [&](const char *user, const QString &program) {
            const QByteArray old = qgetenv("XDG_CONFIG_HOME");
            qputenv("XDG_CONFIG_HOME", (home(user) + u"/.config"_s).toUtf8());
            const bool written = Autostart::enable(program);
            qputenv("XDG_CONFIG_HOME", old);
            return written;
        };
        QVERIFY(writeEntry("ann", u"/usr/bin/zelvane"_s));
        QVERIFY(writeEntry("bob", home("bob") + u"/.local/opt/zelvane/current/bin/zelvane"_s));
        // cay's entry is a link to an entry elsewhere (of a user the database does not list).
        QVERIFY(writeEntry("out", u"/usr/bin/zelvane"_s));
        const QString elsewhere = homes.filePath(u"elsewhere.desktop"_s);
        QVERIFY(QFile::rename(entryOf("out"), elsewhere));
        QVERIFY(QDir().mkpath(QFileInfo(entryOf("cay")).path()));
        QVERIFY(QFile::link(elsewhere, entryOf("cay")));
        const auto run = [&](const QString &action) {
            QProcess script;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(u"PATH"_s, stubs + u':' + environment.value(u"PATH"_s));
            script.setProcessEnvironment(environment);
            script.start(u"/bin/sh"_s, {QString::fromUtf8(ZELVANE_POSTRM), action});
            return script.waitForFinished() && script.exitStatus() == QProcess::NormalExit &&
                   script.exitCode() == 0;
        };
        QVERIFY(run(u"upgrade"_s));
        QVERIFY(QFileInfo::exists(entryOf("ann")));
        QVERIFY(run(u"remove"_s));
        QVERIFY(!QFileInfo::exists(entryOf("ann")));
        QVERIFY(QFileInfo::exists(entryOf("bob")));
        QVERIFY(QFileInfo(entryOf("cay")).isSymLink() && QFileInfo::exists(elsewhere));
        QVERIFY(writeEntry("ann", u"/usr/bin/zelvane"_s));
        QVERIFY(run(u"purge"_s));
        QVERIFY(!QFileInfo::exists(entryOf("ann")) && QFileInfo::exists(entryOf("bob")));
    }

    // The notification server's Inhibited is read once when the server appears, then followed
    // through its announcements alone; the server leaving takes its quiet with it.
    void doNotDisturbFollowsTheNotificationServer() {
        QDBusConnection serverBus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"notifications"_s);
        QDBusConnection stranger =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"stranger"_s);
        const auto closeBuses = qScopeGuard([] {
            QDBusConnection::disconnectFromBus(u"notifications"_s);
            QDBusConnection::disconnectFromBus(u"stranger"_s);
        });
        FakeNotificationServer server;
        QVERIFY(serverBus.registerObject(u"/org/freedesktop/Notifications"_s, &server,
                                         QDBusConnection::ExportAllContents));
        const auto serve = [&](bool inhibited) {
            server.inhibited = inhibited;
            return serverBus.registerService(u"org.freedesktop.Notifications"_s);
        };
        const auto leave = [&] {
            return serverBus.unregisterService(u"org.freedesktop.Notifications"_s);
        };

        // There already, inhibited.
        QVERIFY(serve(true));
        auto dnd = std::make_unique<DoNotDisturb>();
        QVERIFY(!dnd->isOn());
        QTRY_VERIFY(dnd->isOn());
        QVERIFY(dnd->notificationsInhibited());
        QCOMPARE(server.inhibitedReads, 1);

        QSignalSpy changed(dnd.get(), &DoNotDisturb::changed);
        server.announceInhibited(serverBus, false);
        QTRY_COMPARE(changed.size(), 1);
        QCOMPARE(changed.last().value(0).toBool(), false);
        QVERIFY(!dnd->isOn());
        server.announceInhibited(serverBus, true);
        QTRY_VERIFY(dnd->isOn());
        QCOMPARE(server.inhibitedReads, 1);

        // Only the server speaks for itself.
        server.announceInhibited(stranger, false);
        QTest::qWait(200);
        QVERIFY(dnd->isOn());

        // Changed without its value: read again.
        server.announceInhibited(serverBus, false, false);
        QTRY_VERIFY(!dnd->isOn());
        QCOMPARE(server.inhibitedReads, 2);

        server.announceInhibited(serverBus, true);
        QTRY_VERIFY(dnd->isOn());
        QVERIFY(leave());
        QTRY_VERIFY(!dnd->isOn());
        QCOMPARE(changed.size(), 5);

        // A server that comes later is asked when it arrives; so is one that comes back.
        dnd = std::make_unique<DoNotDisturb>();
        QTest::qWait(200);
        QVERIFY(!dnd->isOn());
        QVERIFY(serve(true));
        QTRY_VERIFY(dnd->isOn());
        QVERIFY(leave());
        QTRY_VERIFY(!dnd->isOn());
        QVERIFY(serve(false));
        QTest::qWait(200);
        QVERIFY(!dnd->isOn());
        server.announceInhibited(serverBus, true);
        QTRY_VERIFY(dnd->isOn());
        QVERIFY(leave());
    }

    // GNOME's show-banners is followed through GSettings, changed from outside the process as
    // the desktop's own settings change it; the server's Inhibited counts as well.
    void doNotDisturbFollowsGnomeBanners() {
        const auto set = [](const QString &value) {
            QProcess gsettings;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(u"XDG_CONFIG_HOME"_s, QString::fromUtf8(g_get_user_config_dir()));
            gsettings.setProcessEnvironment(environment);
            QStringList arguments{u"org.gnome.desktop.notifications"_s, u"show-banners"_s};
            arguments.prepend(value.isEmpty() ? u"reset"_s : u"set"_s);
            if (!value.isEmpty())
                arguments << value;
            gsettings.start(u"gsettings"_s, arguments);
            return gsettings.waitForFinished() && gsettings.exitCode() == 0;
        };
        const auto reset = qScopeGuard([&] { set({}); });
        DoNotDisturb dnd;
        QVERIFY(!dnd.isOn());
        QVERIFY(set(u"false"_s));
        QTRY_VERIFY(dnd.isOn());
        QVERIFY(dnd.bannersHidden() && !dnd.notificationsInhibited());
        QVERIFY(set(u"true"_s));
        QTRY_VERIFY(!dnd.isOn());

        // Either source makes it quiet.
        QDBusConnection serverBus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"notifications"_s);
        const auto closeBus =
            qScopeGuard([] { QDBusConnection::disconnectFromBus(u"notifications"_s); });
        FakeNotificationServer server;
        QVERIFY(serverBus.registerObject(u"/org/freedesktop/Notifications"_s, &server,
                                         QDBusConnection::ExportAllContents));
        QVERIFY(serverBus.registerService(u"org.freedesktop.Notifications"_s));
        QVERIFY(set(u"false"_s));
        QTRY_VERIFY(dnd.isOn());
        server.announceInhibited(serverBus, true);
        QTRY_VERIFY(dnd.notificationsInhibited());
        QVERIFY(set(u"true"_s));
        QTRY_VERIFY(!dnd.bannersHidden());
        QVERIFY(dnd.isOn());
        server.announceInhibited(serverBus, false);
        QTRY_VERIFY(!dnd.isOn());
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
        // The monitor's connection must have seen logind arrive before logind speaks, or it
        // takes logind for a stranger.
        QDBusServiceWatcher arrival(u"org.freedesktop.login1"_s, QDBusConnection::systemBus(),
                                    QDBusServiceWatcher::WatchForRegistration);
        QSignalSpy arrived(&arrival, &QDBusServiceWatcher::serviceRegistered);
        QVERIFY(logind.registerService(u"org.freedesktop.login1"_s));
        QTRY_COMPARE(arrived.size(), 1);
        QVERIFY(announce(logind, true));
        QTRY_COMPARE(sleeping.size(), 1);
        QVERIFY(announce(logind, false));
        QTRY_COMPARE(woken.size(), 1);
        QCOMPARE(sleeping.size(), 1);
        QDBusConnection::disconnectFromBus(u"stranger"_s);
        QDBusConnection::disconnectFromBus(u"logind"_s);
    }

    // The first start owns the session's name and is activated through it; once it lets go a
    // new start may take it, and while another owns it this one does not. Without a session
    // bus (run in a child process) there is nothing to share, so the app starts.
    void singleInstance() {
        SingleInstance instance;
        if (qEnvironmentVariableIsSet("ZELVANE_TEST_NO_SESSION_BUS")) {
            QVERIFY(QCoro::waitFor(instance.claim()));
            QVERIFY(!QCoro::waitFor(instance.activateRunning()));
            return;
        }
        QSignalSpy activated(&instance, &SingleInstance::activated);
        QVERIFY(QCoro::waitFor(instance.claim()));
        QVERIFY(QCoro::waitFor(instance.activateRunning()));
        QCOMPARE(activated.size(), 1);
        QDBusConnection other =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"other start"_s);
        const auto closeBus =
            qScopeGuard([] { QDBusConnection::disconnectFromBus(u"other start"_s); });
        QVERIFY(!other.registerService(SingleInstance::serviceName));
        QCoro::waitFor(instance.release());
        QVERIFY(other.registerService(SingleInstance::serviceName));
        QVERIFY(!QCoro::waitFor(instance.claim()));
        QVERIFY(!QCoro::waitFor(instance.activateRunning())); // the other start has no app
        QCOMPARE(activated.size(), 1);

        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"ZELVANE_TEST_NO_SESSION_BUS"_s, u"1"_s);
        environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path=/nonexistent/bus"_s);
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {u"singleInstance"_s});
        QVERIFY(child.waitForFinished());
        QVERIFY2(child.exitCode() == 0, child.readAllStandardOutput().constData());
    }

    // The hosts file's names and address literals resolve; a name no resolver accepts does not,
    // and several look-ups at once each get their own answer.
    void hostLookup() {
        QVERIFY(QCoro::waitFor(HostLookup::resolves(u"localhost"_s)));
        QVERIFY(QCoro::waitFor(HostLookup::resolves(u"::1"_s)));
        QVERIFY(!QCoro::waitFor(HostLookup::resolves(u"no such host"_s)));
        auto together = [](QString a, QString b, QString c) -> QCoro::Task<QList<bool>> {
            auto first = HostLookup::resolves(a);
            auto second = HostLookup::resolves(b);
            auto third = HostLookup::resolves(c);
            QList<bool> answers;
            answers << co_await first << co_await second << co_await third;
            co_return answers;
        };
        QCOMPARE(QCoro::waitFor(together(u"no such host"_s, u"localhost"_s, u"bad name"_s)),
                 (QList<bool>{false, true, false}));
    }

    // A private folder others could write to is taken down to the user's alone. It takes plain
    // names only: one that would leave the folder, name the folder itself or be cut short at a
    // NUL writes nothing anywhere.
    void privateFolderNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("plain");
        QTest::newRow("plain") << u"events.json"_s << true;
        QTest::newRow("control character") << u"a"_s + QChar(1) + u"b"_s << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("dot") << u"."_s << false;
        QTest::newRow("dot dot") << u".."_s << false;
        QTest::newRow("into the parent") << u"../outside"_s << false;
        QTest::newRow("NUL") << u"a"_s + QChar(0) + u"b"_s << false;
    }
    void privateFolderNames() {
        QFETCH(QString, name);
        QFETCH(bool, plain);
        QTemporaryDir parent;
        QVERIFY(QDir().mkdir(parent.filePath(u"private"_s)));
        QVERIFY(::chmod(QFile::encodeName(parent.filePath(u"private"_s)).constData(), 0777) == 0);
        const PrivateFiles::Folder folder(parent.filePath(u"private"_s));
        QVERIFY(folder.isOpen());
        QCOMPARE(mode(folder.path()), 0700u);
        QCOMPARE(folder.write(name, "x"), plain);
        QCOMPARE(folder.read(name, 10), plain ? std::optional<QByteArray>("x") : std::nullopt);
        const PrivateFiles::Folder::Entry entry = folder.entry(name);
        QCOMPARE(entry.kind, plain ? PrivateFiles::Folder::Entry::Kind::regular
                                   : PrivateFiles::Folder::Entry::Kind::other);
        QCOMPARE(entry.size, plain ? 1 : 0);
        const auto filter = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
        QCOMPARE(QDir(folder.path()).entryList(filter), plain ? QStringList{name} : QStringList());
        QCOMPARE(QDir(parent.path()).entryList(filter), QStringList{u"private"_s});
    }

    // PackageKit installs the verified package with no flags and says why it refused; without
    // it the package goes to the desktop's installer and this version keeps running.
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
