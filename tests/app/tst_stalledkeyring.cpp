#include "LoopbackHttpServer.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "app/AppController.h"
#include "app/AppServices.h"
#include "core/AppSettings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <csignal>

using namespace Qt::StringLiterals;

// The whole application started while the Secret Service is stopped (SIGSTOP on the private
// session's gnome-keyring): the event loop keeps turning, the tray and the reminder services
// come up, and only what needs a secret waits, then goes on once the keyring answers again.
class TestStalledKeyring : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startsWhileTheKeyringIsStopped() {
        const pid_t daemon = pid_t(qEnvironmentVariableIntValue("ZELVANE_KEYRING_DAEMON_PID"));
        if (daemon <= 0)
            QSKIP("needs the private keyring session (run through its CTest wrapper)");

        LoopbackHttpServer backend;
        QVERIFY(backend.start());
        backend.respondWith(LoopbackHttpServer::Response::json(R"({"data":[]})"));
        qputenv("ZELVANE_BACKEND_ORIGIN", backend.origin().toUtf8());
        TestEnvironment env;
        auto settings = env.makeSettings();
        const QJsonArray accounts{
            ConnectedAccount::create(CalendarProvider::google, u"a@example.com"_s, u"grant-1"_s)
                .toJson()};
        settings->setValue(AppSettings::Key::ConnectedAccounts, QJsonDocument(accounts).toJson());
        QVERIFY(settle(SecretStore().save(u"backend_credential"_s, u"tok"_s)).ok());

        QVERIFY(::kill(daemon, SIGSTOP) == 0);
        const auto resume = qScopeGuard([daemon] { ::kill(daemon, SIGCONT); });

        int beats = 0;
        QTimer heartbeat;
        heartbeat.callOnTimeout([&beats] { ++beats; });
        heartbeat.start(20);

        AppServices services(*settings, Clock::system());
        AppController app(*settings, services);
        app.start();
        QVERIFY(app.trayIcon());

        // A stopped daemon never answers; a blocking look-up would hold the loop for D-Bus's
        // 25 s reply limit.
        QTest::qWait(1000);
        QVERIFY2(beats >= 10, qPrintable(QString::number(beats)));
        QVERIFY(app.services().calendar.isLoading());
        QVERIFY(backend.requests().isEmpty());

        QVERIFY(::kill(daemon, SIGCONT) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(!app.services().calendar.isLoading(), 20000);
        QVERIFY(!backend.requests().isEmpty());
        for (const auto &request : backend.requests())
            QCOMPARE(request.header("authorization"), QByteArray("Bearer tok"));
    }
};

QTEST_MAIN(TestStalledKeyring)
#include "tst_stalledkeyring.moc"
