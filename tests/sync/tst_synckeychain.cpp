#include "Settle.h"
#include "platform/SecretStore.h"

#include <QAbstractEventDispatcher>
#include <QProcess>
#include <QThread>
#include <QtTest>

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
    const bool noStore = qEnvironmentVariableIsSet("ZELVANE_EXPECT_NO_STORE");

    std::optional<QString> load(const QString &key) {
        return settle(store.load(key)).value.value_or(std::nullopt);
    }
    void save(const QString &key, const QString &value) {
        const auto saved = settle(store.save(key, value));
        QVERIFY2(saved.ok(), qPrintable(saved.description()));
    }

private Q_SLOTS:
    // Items are the ones secret-tool reads and writes, and only our service's count.
    void roundTripsWithSecretTool() {
        if (noStore)
            QSKIP("no Secret Service in this session");
        const QStringList item{"service", "app.zelvane.Zelvane", "account", "llm_api_key"};
        QVERIFY(!load("llm_api_key"));
        save("llm_api_key", QStringLiteral("first"));
        save("llm_api_key", QStringLiteral("Grüße ✓ 🔑"));
        QCOMPARE(secretTool(QStringList{"lookup"} + item), QStringLiteral("Grüße ✓ 🔑"));
        secretTool(QStringList{"store", "--label=t"} + item, "sk-tool");
        QCOMPARE(load("llm_api_key"), std::optional<QString>(QStringLiteral("sk-tool")));
        save("llm_api_key", QStringLiteral("sk-again"));
        QCOMPARE(secretTool(QStringList{"lookup"} + item), QStringLiteral("sk-again"));
        secretTool({"store", "--label=o", "service", "other.app", "account", "k1"}, "theirs");
        QVERIFY(!load("k1"));
        for (int twice = 0; twice < 2; ++twice)
            QVERIFY(settle(store.remove(QStringLiteral("llm_api_key"))).ok());
        QVERIFY(!load("llm_api_key"));
    }

    void withoutSecretService() {
        if (!noStore)
            QSKIP("a Secret Service is running");
        const auto saved = settle(store.save(QStringLiteral("k1"), QStringLiteral("v")));
        QVERIFY(saved.as<SecretStoreError>());
        const QString prefix = QStringLiteral("Keyring save failed: ");
        QVERIFY(saved.description().startsWith(prefix) &&
                saved.description().size() > prefix.size());
        QVERIFY(!load("k1"));
        QVERIFY(settle(store.remove(QStringLiteral("k1"))).ok());
    }

    // libsecret answers through the GLib main context; Qt's loop must be the one running it, or
    // nothing would ever resume.
    void resumesOnTheQtMainThread() {
        QVERIFY(QAbstractEventDispatcher::instance()->inherits("QEventDispatcherGlib"));
        QCOMPARE(QCoro::waitFor(threadAfterLoad(store)), QThread::currentThread());
    }
};

QTEST_GUILESS_MAIN(TestSyncKeychain)
#include "tst_synckeychain.moc"
