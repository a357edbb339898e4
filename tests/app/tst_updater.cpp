#include "LoopbackHttpServer.h"
#include "ManualClock.h"
#include "TestEnvironment.h"
#include "app/Appcast.h"
#include "app/UpdateDialogs.h"
#include "app/UpdateManager.h"
#include "app/Updater.h"
#include "core/AppSettings.h"
#include "platform/UpdateInstaller.h"

#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <sodium.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Response = LoopbackHttpServer::Response;

namespace {
// Records what it was given instead of touching an installation; throws `failure` when set.
class RecordingInstaller : public UpdateInstaller {
public:
    bool usesDebianPackage() const override { return false; }
    QCoro::Task<Outcome> install(QString file, QString version) override {
        if (!failure.isEmpty())
            throw InstallError(failure);
        QFile downloaded(file);
        downloaded.open(QIODevice::ReadOnly);
        installed = version + u' ' + QString::number(downloaded.readAll().size());
        co_return Outcome::restarted;
    }
    QString installed; // version and size of the installed file
    QString failure;
};

struct KeyPair {
    QByteArray publicKey{crypto_sign_PUBLICKEYBYTES, 0}, secretKey{crypto_sign_SECRETKEYBYTES, 0};
    KeyPair() {
        crypto_sign_keypair(reinterpret_cast<unsigned char *>(publicKey.data()),
                            reinterpret_cast<unsigned char *>(secretKey.data()));
    }
    QByteArray sign(const QByteArray &data) const {
        QByteArray signature(crypto_sign_BYTES, 0);
        crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                             reinterpret_cast<const unsigned char *>(data.constData()), data.size(),
                             reinterpret_cast<const unsigned char *>(secretKey.constData()));
        return signature.toBase64();
    }
};

// The dialog's labels and buttons; a button's accessible name, which screen readers announce,
// must say what it shows.
QStringList shown(const QWidget *window) {
    QStringList texts;
    for (const QLabel *label : window->findChildren<QLabel *>())
        texts << label->text();
    for (const QPushButton *button : window->findChildren<QPushButton *>())
        texts << (button->accessibleName() == button->text() ? u"["_s + button->text() + u']'
                                                             : u"unnamed "_s + button->text());
    return texts;
}
} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

    LoopbackHttpServer server;
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    ManualClock clock;
    RecordingInstaller installer;
    KeyPair keys;
    const QByteArray payload = QByteArray(200'000, 'z');
    const QString installedPayload = u"2.0 200000"_s;

    std::unique_ptr<Updater> makeUpdater(std::chrono::milliseconds timeout = 10s) {
        return std::make_unique<Updater>(*settings, clock, installer,
                                         Updater::Config{QUrl(server.origin() + u"/appcast.xml"_s),
                                                         u"1.9.2"_s, keys.publicKey,
                                                         env->path() + u"/downloads"_s, timeout});
    }
    // A feed whose newest item is `version`, after an older one; both offer the payload.
    QByteArray feed(const QString &version, const QByteArray &signature) const {
        const QString enclosure =
            u"<enclosure url='%1/zelvane.tar.gz' length='200000' type='application/gzip' "
            "sparkle:edSignature='%2'/>"_s.arg(server.origin(), QString::fromLatin1(signature));
        return (u"<rss version='2.0' xmlns:sparkle='http://www.andymatuschak.org/xml-namespaces/"
                "sparkle'><channel><item><sparkle:shortVersionString>1.0.1</"
                "sparkle:shortVersionString>"_s +
                enclosure + u"</item><item><title>Version</title><sparkle:shortVersionString>"_s +
                version +
                u"</sparkle:shortVersionString><sparkle:releaseNotesLink>https://zelvane.test/"
                "notes</sparkle:releaseNotesLink><description>Faster reminders.</description>"_s +
                enclosure + u"</item></channel></rss>"_s)
            .toUtf8();
    }
    // Serves `feedAnswer` at /appcast.xml and `download` anywhere else.
    void serve(const Response &feedAnswer, const Response &download = {}) {
        server.setHandler([feedAnswer, download](const LoopbackHttpServer::Request &request) {
            return request.path() == u"/appcast.xml" ? feedAnswer : download;
        });
    }
    Response feedOf(const QString &version) const {
        return {200, feed(version, keys.sign(payload)), "application/rss+xml"};
    }
    AppcastItem found(const QSignalSpy &spy) { return spy.first().first().value<AppcastItem>(); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(sodium_init() >= 0);
        QVERIFY(server.start());
    }
    void init() {
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        server.clearRequests();
        installer.installed.clear();
        installer.failure.clear();
    }

    void versionOrder_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("sign");
        QTest::newRow("digit runs are numbers") << u"1.10.0"_s << u"1.9.2"_s << 1;
        QTest::newRow("leading zeros") << u"1.02"_s << u"1.2"_s << 0;
        QTest::newRow("longer is newer") << u"1.2.1"_s << u"1.2"_s << 1;
    }
    void versionOrder() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, sign);
        QCOMPARE(Appcast::compareVersions(a, b) <=> 0, sign <=> 0);
        QCOMPARE(Appcast::compareVersions(b, a) <=> 0, 0 <=> sign);
    }

    // Only items with a version and a signed web download count; versions may sit on the
    // enclosure, as older feeds put them.
    void parserKeepsOnlyUsableItems() {
        const auto items = Appcast::parse(
            "<rss xmlns:sparkle='http://www.andymatuschak.org/xml-namespaces/sparkle'><channel>"
            "<item><sparkle:shortVersionString>2.0</sparkle:shortVersionString></item>"
            "<item><enclosure url='file:///etc/passwd' length='5' sparkle:edSignature='AA=='"
            " sparkle:shortVersionString='3.0'/></item>"
            "<item><enclosure url='https://zelvane.test/z.deb' length='5' sparkle:edSignature="
            "'AA==' sparkle:version='4' sparkle:shortVersionString='2.1'/></item></channel></rss>");
        QVERIFY(items);
        QCOMPARE(items->size(), 1);
        QCOMPARE(items->first().displayVersion(), u"2.1"_s);
        QVERIFY(items->first().enclosureFor(true) && !items->first().enclosureFor(false));
        QVERIFY(!Appcast::parse("<html><body>Not found</body></html>"));
    }

    void firstLaunchTurnsOnAutomaticDownloadsOnce() {
        auto updater = makeUpdater();
        { UpdateManager first(*updater, *settings, clock, u"1.9.2"_s); }
        QVERIFY(updater->automaticallyDownloadsUpdates());
        updater->setAutomaticallyDownloadsUpdates(false);
        UpdateManager second(*updater, *settings, clock, u"1.9.2"_s);
        QVERIFY(!updater->automaticallyDownloadsUpdates());
        // Automatic downloads follow the automatic checks.
        second.setAutomaticallyChecksForUpdates(true);
        QVERIFY(updater->automaticallyChecksForUpdates() &&
                updater->automaticallyDownloadsUpdates());
    }

    // The menu's "update available" follows the recorded newest item, re-read 10 s after start.
    void updateAvailableFollowsTheLastItem_data() {
        QTest::addColumn<QVariant>("lastItem");
        QTest::addColumn<bool>("before");
        QTest::addColumn<bool>("after");
        const auto item = [](const QString &version) {
            return QVariant(QVariantMap{{u"CFBundleShortVersionString"_s, version}});
        };
        QTest::newRow("newer") << item(u"1.10.0"_s) << false << true;
        QTest::newRow("equal") << item(u"1.9.2"_s) << true << false;
        QTest::newRow("no version keeps the flag")
            << QVariant(QVariantMap{{u"x"_s, 1}}) << true << true;
        QTest::newRow("not a record keeps the flag") << QVariant(u"2.0"_s) << true << true;
    }
    void updateAvailableFollowsTheLastItem() {
        QFETCH(QVariant, lastItem);
        QFETCH(bool, before);
        QFETCH(bool, after);
        auto updater = makeUpdater();
        settings->setValue(
            AppSettings::Key::UpdateLastItem,
            QVariantMap{{u"CFBundleShortVersionString"_s, before ? u"2.0"_s : u"1.0"_s}});
        UpdateManager manager(*updater, *settings, clock, u"1.9.2"_s);
        QCOMPARE(manager.updateAvailable(), before);
        settings->setValue(AppSettings::Key::UpdateLastItem, lastItem);
        clock.advance(UpdateManager::delayedCheck - 1s);
        QCOMPARE(manager.updateAvailable(), before);
        clock.advance(1s);
        QCOMPARE(manager.updateAvailable(), after);
    }

    // What a check the user asked for ends in, and what it records: the feed's newest item
    // whatever its version, or nothing at all when the check failed.
    void checks_data() {
        QTest::addColumn<Response>("answer");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("recorded");
        QTest::newRow("newer") << feedOf(u"1.10.0"_s) << "found 1.10.0"
                               << "1.10.0";
        QTest::newRow("equal") << feedOf(u"1.9.2"_s) << "up to date"
                               << "1.9.2";
        QTest::newRow("malformed")
            << Response{200, "<rss><channel><item>", "text/xml"}
            << "The update information could not be read. Try again later." << QString();
        QTest::newRow("server error")
            << Response::text("down", 500)
            << "The update feed answered with status 500. Try again later." << QString();
        QTest::newRow("stall") << Response::silence()
                               << "The update server stopped responding. Try again later."
                               << QString();
    }
    void checks() {
        QFETCH(Response, answer);
        QFETCH(QString, outcome);
        QFETCH(QString, recorded);
        serve(answer);
        auto updater = makeUpdater(300ms);
        UpdateManager manager(*updater, *settings, clock, u"1.9.2"_s);
        QSignalSpy foundSpy(updater.get(), &Updater::updateFound);
        QSignalSpy upToDate(updater.get(), &Updater::upToDate);
        QSignalSpy failed(updater.get(), &Updater::failed);
        manager.checkForUpdates();
        QTRY_COMPARE(foundSpy.size() + upToDate.size() + failed.size(), 1);
        QVERIFY(!updater->isBusy());
        if (!foundSpy.isEmpty()) {
            const AppcastItem item = found(foundSpy);
            QCOMPARE(u"found "_s + item.displayVersion(), outcome);
            QCOMPARE(item.releaseNotesLink, QUrl(u"https://zelvane.test/notes"_s));
            QCOMPARE(item.description, u"Faster reminders."_s);
        } else {
            QCOMPARE(failed.isEmpty() ? u"up to date"_s : failed.first().first().toString(),
                     outcome);
        }
        QCOMPARE(manager.updateAvailable(), !foundSpy.isEmpty());
        QCOMPARE(settings->value(AppSettings::Key::UpdateLastItem)
                     .toMap()
                     .value(u"CFBundleShortVersionString"_s)
                     .toString(),
                 recorded);
        QCOMPARE(updater->lastUpdateCheckDate(), recorded.isEmpty() ? QDateTime() : clock.now());
    }

    // Nothing is installed that is not exactly what the feed announced and signed, and nothing
    // is left behind, whether it was installed or refused.
    void downloadsAreVerifiedBeforeInstalling_data() {
        QTest::addColumn<Response>("download");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<QString>("installerFailure");
        QTest::addColumn<QString>("outcome"); // empty: installed
        const Response good{200, payload, "application/gzip"};
        QByteArray tampered = payload;
        tampered[1000] = 'y';
        const QString invalid =
            u"The update's signature is not valid, so it was deleted and not installed."_s;
        QTest::newRow("verified") << good << keys.sign(payload) << QString() << QString();
        QTest::newRow("bad signature") << Response{200, tampered, "application/gzip"}
                                       << keys.sign(payload) << QString() << invalid;
        QTest::newRow("signed by another key")
            << good << KeyPair().sign(payload) << QString() << invalid;
        QTest::newRow("truncated")
            << Response{200, payload.left(50'000), "application/gzip", false, payload.size()}
            << keys.sign(payload) << QString()
            << u"The download was incomplete, so it was deleted and not installed. Try again later."_s;
        QTest::newRow("longer than announced")
            << Response{200, payload + "extra", "application/gzip"} << keys.sign(payload)
            << QString()
            << u"The download is larger than announced, so it was deleted and not installed."_s;
        QTest::newRow("stall") << Response::silence() << keys.sign(payload) << QString()
                               << u"The update server stopped responding. Try again later."_s;
        QTest::newRow("installer fails")
            << good << keys.sign(payload) << u"Zelvane 2.0 did not start."_s
            << u"Zelvane 2.0 did not start."_s;
    }
    void downloadsAreVerifiedBeforeInstalling() {
        QFETCH(Response, download);
        QFETCH(QByteArray, signature);
        QFETCH(QString, installerFailure);
        QFETCH(QString, outcome);
        serve({200, feed(u"2.0"_s, signature), "application/rss+xml"}, download);
        installer.failure = installerFailure;
        auto updater = makeUpdater(500ms);
        QSignalSpy foundSpy(updater.get(), &Updater::updateFound);
        QSignalSpy failed(updater.get(), &Updater::failed);
        QSignalSpy installed(updater.get(), &Updater::installed);
        QSignalSpy progress(updater.get(), &Updater::downloadProgress);
        updater->checkForUpdates();
        QTRY_COMPARE(foundSpy.size(), 1);
        updater->install(found(foundSpy));
        QTRY_COMPARE(failed.size() + installed.size(), 1);
        QCOMPARE(failed.isEmpty() ? QString() : failed.first().first().toString(), outcome);
        QCOMPARE(installer.installed, outcome.isEmpty() ? installedPayload : QString());
        if (outcome.isEmpty())
            QCOMPARE(progress.last().at(0).toLongLong(), payload.size());
        QVERIFY(!updater->isBusy());
        QCOMPARE(QDir(env->path() + u"/downloads"_s).entryList(QDir::Files), QStringList());
    }

    // The dialogs follow a check the user asked for and work from the keyboard alone: the
    // offered update's default button is Install, Escape means later, Shift+Tab reaches
    // "Skip This Version"; a download that fails verification ends in an error to dismiss.
    void dialogsWorkFromTheKeyboard_data() {
        QTest::addColumn<QList<int>>("presses");
        QTest::addColumn<bool>("tampered");
        QTest::addColumn<QString>("installed");
        QTest::addColumn<QString>("skipped");
        QTest::newRow("Return installs")
            << QList<int>{Qt::Key_Return} << false << installedPayload << QString();
        QTest::newRow("Escape postpones")
            << QList<int>{Qt::Key_Escape} << false << QString() << QString();
        QTest::newRow("Skip This Version")
            << QList<int>{Qt::Key_Backtab, Qt::Key_Backtab, Qt::Key_Space} << false << QString()
            << u"2.0"_s;
        QTest::newRow("bad download")
            << QList<int>{Qt::Key_Return} << true << QString() << QString();
    }
    void dialogsWorkFromTheKeyboard() {
        QFETCH(QList<int>, presses);
        QFETCH(bool, tampered);
        QFETCH(QString, installed);
        QFETCH(QString, skipped);
        QByteArray download = payload;
        if (tampered)
            download[0] = 'y';
        serve(feedOf(u"2.0"_s), {200, download, "application/gzip"});
        auto updater = makeUpdater();
        UpdateDialogs dialogs(*updater);
        QSignalSpy foundSpy(updater.get(), &Updater::updateFound);
        QSignalSpy failed(updater.get(), &Updater::failed);
        updater->checkForUpdates();
        QDialog *dialog = dialogs.dialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(shown(dialog), (QStringList{u"Checking for updates…"_s, u"[Cancel]"_s}));
        QCOMPARE(dialog->findChild<QProgressBar *>()->accessibleName(), u"Checking for updates…"_s);

        QTRY_COMPARE(foundSpy.size(), 1);
        const QStringList offer = shown(dialog);
        QVERIFY(offer.contains(
            u"Zelvane 2.0 is now available — you have 1.9.2. Would you like to install it now?"_s));
        QCOMPARE(offer.mid(offer.size() - 4),
                 (QStringList{u"[Release Notes…]"_s, u"[Skip This Version]"_s, u"[Later]"_s,
                              u"[Install]"_s}));
        QCOMPARE(dialog->focusWidget()->property("text").toString(), u"Install"_s);
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        for (int key : presses)
            QTest::keyClick(dialog->focusWidget(), Qt::Key(key));
        if (tampered) {
            QCOMPARE(dialog->findChild<QProgressBar *>()->accessibleName(), u"Download progress"_s);
            QTRY_COMPARE(failed.size(), 1);
            QCOMPARE(shown(dialog),
                     (QStringList{u"Update failed"_s,
                                  u"The update's signature is not valid, so it was deleted and not "
                                  "installed."_s,
                                  u"[OK]"_s}));
            QTest::keyClick(dialog->focusWidget(), Qt::Key_Space);
        }
        QTRY_VERIFY(!dialog->isVisible());
        QTRY_VERIFY(!updater->isBusy());
        QCOMPARE(installer.installed, installed);
        QCOMPARE(settings->value(AppSettings::Key::UpdateSkippedVersion).toString(), skipped);
    }

    void skippedVersionIsOfferedOnlyWhenAsked() {
        serve(feedOf(u"2.0"_s));
        auto updater = makeUpdater();
        QSignalSpy foundSpy(updater.get(), &Updater::updateFound);
        updater->checkForUpdates();
        QTRY_COMPARE(foundSpy.size(), 1);
        updater->skipVersion(found(foundSpy));
        // The daily check finds it again but stays quiet; the user's own check still offers it.
        updater->startScheduledChecks();
        clock.advance(24h + 1min);
        QTRY_COMPARE(server.requests().size(), 2);
        QTRY_VERIFY(!updater->isBusy());
        QCOMPARE(foundSpy.size(), 1);
        updater->checkForUpdates();
        QTRY_COMPARE(foundSpy.size(), 2);
    }
};

Q_DECLARE_METATYPE(LoopbackHttpServer::Response)

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
