#include "LoopbackHttpServer.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "core/AppSettings.h"
#include "core/Clock.h"
#include "platform/SecretStore.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/SignInListener.h"

#include <QAbstractEventDispatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <csignal>

namespace {
// secret-tool, the user's own view of the store.
QString secretTool(const QStringList &args, const QByteArray &input = {}) {
    QProcess p;
    p.start(QStringLiteral("secret-tool"), args);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

bool expectNoStore() {
    return qEnvironmentVariableIsSet("ZELVANE_EXPECT_NO_STORE");
}

// The thread a look-up resumes on.
QCoro::Task<QThread *> threadAfterLoad(SecretStore &store) {
    co_await store.load(QStringLiteral("k1"));
    co_return QThread::currentThread();
}
} // namespace

// Runs in a private D-Bus session: with gnome-keyring (ZELVANE_EXPECT_NO_STORE unset) or with
// no Secret Service at all.
class TestSyncKeychain : public QObject {
    Q_OBJECT

    SecretStore store;

    std::optional<QString> load(const char *key) {
        return settle(store.load(QString::fromLatin1(key))).value.value_or(std::nullopt);
    }
    void save(const char *key, const QString &value) {
        const auto saved = settle(store.save(QString::fromLatin1(key), value));
        QVERIFY2(saved.ok(), qPrintable(saved.description()));
    }

private Q_SLOTS:
    void init() {
        if (expectNoStore())
            return;
        for (const char *key : {"k1", "llm_api_key", "backend_credential"})
            settle(store.remove(QString::fromLatin1(key)));
    }

    void roundTrips() {
        if (expectNoStore())
            QSKIP("no Secret Service in this session");
        QVERIFY(!load("k1"));
        save("k1", QStringLiteral("first"));
        save("k1", QStringLiteral("Grüße ✓ 🔑"));
        QCOMPARE(load("k1"), std::optional<QString>(QStringLiteral("Grüße ✓ 🔑")));
        QVERIFY(settle(store.remove(QStringLiteral("k1"))).ok());
        QVERIFY(!load("k1"));
        QVERIFY(settle(store.remove(QStringLiteral("k1"))).ok());
    }

    void interoperatesWithSecretTool() {
        if (expectNoStore())
            QSKIP("no Secret Service in this session");
        save("llm_api_key", QStringLiteral("sk-app"));
        QCOMPARE(secretTool({"lookup", "service", "app.zelvane.Zelvane", "account", "llm_api_key"}),
                 QStringLiteral("sk-app"));

        // An item written by secret-tool (with its own schema attribute) is found and replaced.
        secretTool(
            {"store", "--label=t", "service", "app.zelvane.Zelvane", "account", "llm_api_key"},
            "sk-tool");
        QCOMPARE(load("llm_api_key"), std::optional<QString>(QStringLiteral("sk-tool")));
        save("llm_api_key", QStringLiteral("sk-again"));
        QCOMPARE(secretTool({"lookup", "service", "app.zelvane.Zelvane", "account", "llm_api_key"}),
                 QStringLiteral("sk-again"));
        // Another application's item with the same account is not ours.
        secretTool({"store", "--label=o", "service", "other.app", "account", "k1"}, "theirs");
        QVERIFY(!load("k1"));
    }

    void withoutSecretService() {
        if (!expectNoStore())
            QSKIP("a Secret Service is running");
        const auto saved = settle(store.save(QStringLiteral("k1"), QStringLiteral("v")));
        QVERIFY(!saved.ok());
        QVERIFY(saved.as<SecretStoreError>());
        QVERIFY(saved.description().startsWith(QStringLiteral("Keyring save failed: ")));
        QVERIFY(saved.description().size() > QStringLiteral("Keyring save failed: ").size());
        QVERIFY(!load("k1"));
        QVERIFY(settle(store.remove(QStringLiteral("k1"))).ok());
    }

    // libsecret answers through the GLib main context; Qt's loop must be the one running it, or
    // nothing would ever resume.
    void resumesOnTheQtMainThread() {
        QVERIFY(QAbstractEventDispatcher::instance()->inherits("QEventDispatcherGlib"));
        QCOMPARE(QCoro::waitFor(threadAfterLoad(store)), QThread::currentThread());
    }

    // With the keyring daemon stopped, the event loop keeps running and only the request that
    // needs the credential waits for it; it goes out with the credential once the daemon is back.
    void stalledKeyringDelaysOnlyTheRequestThatNeedsIt() {
        if (expectNoStore())
            QSKIP("no Secret Service in this session");
        const pid_t daemon = pid_t(qEnvironmentVariableIntValue("ZELVANE_KEYRING_DAEMON_PID"));
        QVERIFY(daemon > 0);
        save("backend_credential", QStringLiteral("tok"));

        LoopbackHttpServer backend;
        QVERIFY(backend.start());
        backend.respondWith(LoopbackHttpServer::Response::json(R"({"data":[]})"));
        qputenv("ZELVANE_BACKEND_ORIGIN", backend.origin().toUtf8());
        TestEnvironment env;
        auto settings = env.makeSettings();
        settings->setValue(
            AppSettings::Key::ConnectedAccounts,
            QJsonDocument(QJsonArray{ConnectedAccount::create(CalendarProvider::google,
                                                              QStringLiteral("a@example.com"),
                                                              QStringLiteral("grant-1"))
                                         .toJson()})
                .toJson());

        QVERIFY(::kill(daemon, SIGSTOP) == 0);
        auto resume = qScopeGuard([daemon] { ::kill(daemon, SIGCONT); });

        // Creating and starting the services does not wait on the keyring.
        CalendarProxyClient proxy(store, Clock::system());
        CalendarSignInListener signIn;
        CalendarService calendar(*settings, proxy, store, signIn, Clock::system());
        calendar.startMonitoring();
        QVERIFY(calendar.isLoading());
        auto lookup = store.load(QStringLiteral("backend_credential"));

        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(20);
        QTest::qWait(1000);
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
        QVERIFY(!lookup.isReady());
        QVERIFY(backend.requests().isEmpty());
        QVERIFY(calendar.isLoading());

        resume.dismiss();
        QVERIFY(::kill(daemon, SIGCONT) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(!calendar.isLoading(), 20000);
        QVERIFY(!backend.requests().isEmpty());
        for (const auto &request : backend.requests())
            QCOMPARE(request.header("authorization"), QByteArray("Bearer tok"));
        QCOMPARE(QCoro::waitFor(std::move(lookup)), std::optional<QString>(QStringLiteral("tok")));
    }
};

QTEST_GUILESS_MAIN(TestSyncKeychain)
#include "tst_synckeychain.moc"
