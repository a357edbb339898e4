#include "platform/SecretStore.h"

#include <QProcess>
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
} // namespace

// Runs in a private D-Bus session: with gnome-keyring (ZELVANE_EXPECT_NO_STORE unset) or with
// no Secret Service at all.
class TestSyncKeychain : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        if (qEnvironmentVariableIsSet("ZELVANE_EXPECT_NO_STORE"))
            return;
        for (const char *key : {"k1", "llm_api_key"})
            SecretStore::remove(QString::fromLatin1(key));
    }

    void roundTrips() {
        if (qEnvironmentVariableIsSet("ZELVANE_EXPECT_NO_STORE"))
            QSKIP("no Secret Service in this session");
        QVERIFY(!SecretStore::load(QStringLiteral("k1")));
        SecretStore::save(QStringLiteral("k1"), QStringLiteral("first"));
        SecretStore::save(QStringLiteral("k1"), QStringLiteral("Grüße ✓ 🔑"));
        QCOMPARE(SecretStore::load(QStringLiteral("k1")),
                 std::optional<QString>(QStringLiteral("Grüße ✓ 🔑")));
        SecretStore::remove(QStringLiteral("k1"));
        QVERIFY(!SecretStore::load(QStringLiteral("k1")));
        SecretStore::remove(QStringLiteral("k1"));
    }

    void interoperatesWithSecretTool() {
        if (qEnvironmentVariableIsSet("ZELVANE_EXPECT_NO_STORE"))
            QSKIP("no Secret Service in this session");
        SecretStore::save(QStringLiteral("llm_api_key"), QStringLiteral("sk-app"));
        QCOMPARE(secretTool({"lookup", "service", "app.zelvane.Zelvane", "account", "llm_api_key"}),
                 QStringLiteral("sk-app"));

        // An item written by secret-tool (with its own schema attribute) is found and replaced.
        secretTool(
            {"store", "--label=t", "service", "app.zelvane.Zelvane", "account", "llm_api_key"},
            "sk-tool");
        QCOMPARE(SecretStore::load(QStringLiteral("llm_api_key")),
                 std::optional<QString>(QStringLiteral("sk-tool")));
        SecretStore::save(QStringLiteral("llm_api_key"), QStringLiteral("sk-again"));
        QCOMPARE(secretTool({"lookup", "service", "app.zelvane.Zelvane", "account", "llm_api_key"}),
                 QStringLiteral("sk-again"));
        // Another application's item with the same account is not ours.
        secretTool({"store", "--label=o", "service", "other.app", "account", "k1"}, "theirs");
        QVERIFY(!SecretStore::load(QStringLiteral("k1")));
    }

    void withoutSecretService() {
        if (!qEnvironmentVariableIsSet("ZELVANE_EXPECT_NO_STORE"))
            QSKIP("a Secret Service is running");
        try {
            SecretStore::save(QStringLiteral("k1"), QStringLiteral("v"));
            QFAIL("save should fail");
        } catch (const SecretStoreError &e) {
            QVERIFY(e.description().startsWith(QStringLiteral("Keyring save failed: ")));
        }
        QVERIFY(!SecretStore::load(QStringLiteral("k1")));
        SecretStore::remove(QStringLiteral("k1"));
    }
};

QTEST_GUILESS_MAIN(TestSyncKeychain)
#include "tst_synckeychain.moc"
