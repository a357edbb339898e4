#include "platform/DoNotDisturb.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// A stand-in notification server on the test's private session bus.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
    Q_PROPERTY(bool Inhibited READ inhibited)

public:
    bool inhibitedValue = false;
    bool inhibited() const { return inhibitedValue; }
};

class TestDoNotDisturb : public QObject {
    Q_OBJECT

private:
    QTemporaryDir config;

    // GSettings read from a key file in a throw-away config home; absent means no key file.
    void setBanners(std::optional<bool> shown) {
        const QString dir = config.path() + QStringLiteral("/glib-2.0/settings");
        QDir().mkpath(dir);
        QFile file(dir + QStringLiteral("/keyfile"));
        if (!shown) {
            file.remove();
            return;
        }
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("[org/gnome/desktop/notifications]\nshow-banners=") +
                   (*shown ? "true" : "false") + "\n");
    }

private Q_SLOTS:
    void initTestCase() {
        qputenv("GSETTINGS_BACKEND", "keyfile");
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    }

    void sources_data() {
        QTest::addColumn<int>("inhibited"); // -1: no notification server
        QTest::addColumn<int>("banners");   // -1: no key file
        QTest::addColumn<bool>("quiet");
        QTest::newRow("neither source") << -1 << -1 << false;
        QTest::newRow("server inhibited") << 1 << -1 << true;
        QTest::newRow("server not inhibited") << 0 << -1 << false;
        QTest::newRow("GNOME banners hidden") << -1 << 0 << true;
        QTest::newRow("GNOME banners shown") << -1 << 1 << false;
        QTest::newRow("server free, banners hidden") << 0 << 0 << true;
    }
    void sources() {
        QFETCH(int, inhibited);
        QFETCH(int, banners);
        QFETCH(bool, quiet);
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.isConnected());
        FakeNotifications server;
        if (inhibited >= 0) {
            server.inhibitedValue = inhibited == 1;
            QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                       QDBusConnection::ExportAllProperties));
            QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
        }
        setBanners(banners < 0 ? std::nullopt : std::optional<bool>(banners == 1));
        QCOMPARE(QCoro::waitFor(DoNotDisturb::isOn()), quiet);
        bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }
};

QTEST_GUILESS_MAIN(TestDoNotDisturb)
#include "tst_donotdisturb.moc"
