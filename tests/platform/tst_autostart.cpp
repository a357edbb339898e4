#include "TestEnvironment.h"
#include "platform/Autostart.h"

#include <QFile>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>
#include <sys/stat.h>

class TestAutostart : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void entryIsWrittenAndRemoved() {
        TestEnvironment env;
        const QString path =
            env.configHome() + QStringLiteral("/autostart/app.zelvane.Zelvane.desktop");
        QCOMPARE(Autostart::entryPath(), path);
        QVERIFY(!Autostart::isEnabled());
        QVERIFY(Autostart::disable()); // removing a missing entry is fine

        const QString exe = QStringLiteral("/opt/My \"Apps\"/zelvane");
        QVERIFY(Autostart::enable(exe));
        QVERIFY(Autostart::isEnabled());
        // Desktop entries are INI-like; the Exec line must quote the path so spaces survive.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
        QVERIFY(text.contains(QStringLiteral("\nExec=\"/opt/My \\\"Apps\\\"/zelvane\"\n")));
        QVERIFY(text.contains(QStringLiteral("\nType=Application\n")));

        // Writing again replaces the entry rather than appending to it.
        QVERIFY(Autostart::enable(QStringLiteral("/usr/bin/zelvane")));
        QFile again(path);
        QVERIFY(again.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(again.readAll()).count(QStringLiteral("[Desktop Entry]")), 1);

        QVERIFY(Autostart::disable());
        QVERIFY(!Autostart::isEnabled());
    }

    void entryIsNeverWritableByOthers() {
        TestEnvironment env;
        const mode_t oldMask = ::umask(0);
        const auto restore = qScopeGuard([oldMask] { ::umask(oldMask); });
        const auto mode = [](const QString &path) {
            struct stat info {};
            return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777
                                                                           : 0u;
        };
        QVERIFY(Autostart::enable(QStringLiteral("/usr/bin/zelvane")));
        QCOMPARE(mode(Autostart::entryPath()), 0644u);
        QCOMPARE(mode(env.configHome() + QStringLiteral("/autostart")), 0700u);
        // An entry left world-writable by someone else is replaced with a safe one.
        QVERIFY(QFile::setPermissions(Autostart::entryPath(), QFileDevice::Permissions(0x6666)));
        QVERIFY(Autostart::enable(QStringLiteral("/usr/bin/zelvane")));
        QCOMPARE(mode(Autostart::entryPath()), 0644u);
    }

    void unwritableFolderReportsFailure() {
        TestEnvironment env;
        // A file where the autostart folder should be makes the folder impossible to create.
        QFile blocker(env.configHome() + QStringLiteral("/autostart"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(!Autostart::enable(QStringLiteral("/usr/bin/zelvane")));
        QVERIFY(!Autostart::isEnabled());
    }
};

QTEST_GUILESS_MAIN(TestAutostart)
#include "tst_autostart.moc"
