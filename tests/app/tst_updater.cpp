#include "LoopbackHttpServer.h"
#include "ManualClock.h"
#include "TestEnvironment.h"
#include "app/Appcast.h"
#include "app/UpdateDialogs.h"
#include "app/UpdateManager.h"
#include "app/Updater.h"
#include "core/AppSettings.h"
#include "platform/UpdateInstaller.h"

#include <QCoroTask>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <sodium.h>

using namespace Qt::StringLiterals;
using Response = LoopbackHttpServer::Response;

namespace {
// Records what it was given instead of touching an installation.
class RecordingInstaller : public UpdateInstaller {
public:
    bool usesDebianPackage() const override { return false; }
    QCoro::Task<Outcome> install(QString file, QString version) override {
        if (!failure.isEmpty())
            throw InstallError(failure);
        QFile downloaded(file);
        downloaded.open(QIODevice::ReadOnly);
        installedBytes = downloaded.readAll();
        installedVersion = version;
        co_return Outcome::restarted;
    }
    QByteArray installedBytes;
    QString installedVersion;
    QString failure; // thrown instead of installing when set
};

struct KeyPair {
    QByteArray publicKey, secretKey;
    KeyPair() {
        publicKey.resize(crypto_sign_PUBLICKEYBYTES);
        secretKey.resize(crypto_sign_SECRETKEYBYTES);
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

QStringList buttonTitles(const QWidget *window) {
    QStringList titles;
    for (const QPushButton *button : window->findChildren<QPushButton *>()) {
        // Screen readers announce the accessible name; it must say what the button shows.
        if (button->accessibleName() != button->text())
            return {u"unnamed: "_s + button->text()};
        titles << button->text();
    }
    return titles;
}

QStringList labelTexts(const QWidget *window) {
    QStringList texts;
    for (const QLabel *label : window->findChildren<QLabel *>())
        texts << label->text();
    return texts;
}

QByteArray feed(const QString &version, const QString &url, qint64 length,
                const QByteArray &signature) {
    return QString::fromUtf8(
               "<?xml version=\"1.0\"?>\n"
               "<rss version=\"2.0\" "
               "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
               " <channel><title>Zelvane</title>\n"
               "  <item><title>Old</title><sparkle:version>5</sparkle:version>\n"
               "   <sparkle:shortVersionString>1.0.1</sparkle:shortVersionString>\n"
               "   <enclosure url=\"%2\" length=\"%3\" type=\"application/gzip\" "
               "sparkle:edSignature=\"%4\"/></item>\n"
               "  <item><title>Version %1</title><sparkle:version>9</sparkle:version>\n"
               "   <sparkle:shortVersionString>%1</sparkle:shortVersionString>\n"
               "   "
               "<sparkle:releaseNotesLink>https://zelvane.test/notes</sparkle:releaseNotesLink>\n"
               "   <description>Faster reminders.</description>\n"
               "   <enclosure url=\"%2\" length=\"%3\" type=\"application/gzip\" "
               "sparkle:edSignature=\"%4\"/></item>\n"
               " </channel></rss>")
        .arg(version, url, QString::number(length), QString::fromLatin1(signature))
        .toUtf8();
}
} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<LoopbackHttpServer> server;
    ManualClock clock;
    RecordingInstaller installer;
    KeyPair keys;
    const QByteArray payload = QByteArray(200'000, 'z');

    std::unique_ptr<Updater>
    makeUpdater(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return std::make_unique<Updater>(*settings, clock, installer,
                                         Updater::Config{QUrl(server->origin() + u"/appcast.xml"_s),
                                                         u"1.9.2"_s, keys.publicKey,
                                                         env->path() + u"/downloads"_s, timeout});
    }
    // Serves the feed, and the payload at /zelvane.tar.gz as `download` says.
    void serve(const QByteArray &feedBody, const Response &download = {}) {
        server->setHandler([feedBody, download](const LoopbackHttpServer::Request &request) {
            if (request.path() == u"/appcast.xml")
                return Response{200, feedBody, "application/rss+xml"};
            return download;
        });
    }
    QString downloadUrl() const { return server->origin() + u"/zelvane.tar.gz"_s; }
    QStringList leftInDownloads() const {
        return QDir(env->path() + u"/downloads"_s).entryList(QDir::Files);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(sodium_init() >= 0); }
    void init() {
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        server = std::make_unique<LoopbackHttpServer>();
        QVERIFY(server->start());
        installer.installedBytes.clear();
        installer.failure.clear();
    }

    void versionOrder_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("sign");
        QTest::newRow("digit runs are numbers") << u"1.10.0"_s << u"1.9.2"_s << 1;
        QTest::newRow("equal") << u"1.2"_s << u"1.2"_s << 0;
        QTest::newRow("older") << u"1.1"_s << u"1.2"_s << -1;
        QTest::newRow("leading zeros") << u"1.02"_s << u"1.2"_s << 0;
        QTest::newRow("longer is newer") << u"1.2.1"_s << u"1.2"_s << 1;
        QTest::newRow("10 after 9 in the first run") << u"10"_s << u"9.9"_s << 1;
    }
    void versionOrder() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, sign);
        QCOMPARE(Appcast::compareVersions(a, b) <=> 0, sign <=> 0);
        QCOMPARE(Appcast::compareVersions(b, a) <=> 0, 0 <=> sign);
    }

    void parserKeepsOnlyUsableItems() {
        const auto items = Appcast::parse(
            QString::fromUtf8(
                "<rss "
                "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>\n"
                "  <item><sparkle:shortVersionString>2.0</sparkle:shortVersionString></item>\n"
                "  <item><enclosure url=\"file:///etc/passwd\" length=\"5\" "
                "sparkle:edSignature=\"AA==\"\n"
                "        sparkle:shortVersionString=\"3.0\"/></item>\n"
                "  <item><enclosure url=\"https://zelvane.test/z.deb\" length=\"5\" "
                "sparkle:edSignature=\"AA==\"\n"
                "        sparkle:version=\"4\" sparkle:shortVersionString=\"2.1\"/></item>\n"
                "</channel></rss>")
                .toUtf8());
        QVERIFY(items);
        QCOMPARE(items->size(), 1);
        QCOMPARE(items->first().displayVersion(), u"2.1"_s);
        QVERIFY(items->first().enclosureFor(true));
        QVERIFY(!items->first().enclosureFor(false));
        QVERIFY(!Appcast::parse("<rss><channel><item>"));
        QVERIFY(!Appcast::parse("<html><body>Not found</body></html>"));
    }

    void firstLaunchTurnsOnAutomaticDownloadsOnce() {
        auto updater = makeUpdater();
        { UpdateManager first(*updater, *settings, clock, u"1.9.2"_s); }
        QVERIFY(updater->automaticallyDownloadsUpdates());
        QVERIFY(settings->value(AppSettings::Key::UpdateHasLaunchedBefore).toBool());
        updater->setAutomaticallyDownloadsUpdates(false);
        UpdateManager second(*updater, *settings, clock, u"1.9.2"_s);
        QVERIFY(!updater->automaticallyDownloadsUpdates());
        second.setAutomaticallyChecksForUpdates(false);
        QVERIFY(!updater->automaticallyChecksForUpdates());
        QVERIFY(!updater->automaticallyDownloadsUpdates());
    }

    void updateAvailableFollowsTheLastItem_data() {
        QTest::addColumn<QVariant>("lastItem");
        QTest::addColumn<bool>("before");
        QTest::addColumn<bool>("expected");
        const auto item = [](const QVariant &version) {
            return QVariant(QVariantMap{{u"CFBundleShortVersionString"_s, version}});
        };
        QTest::newRow("absent") << QVariant() << false << false;
        QTest::newRow("newer") << item(u"1.10.0"_s) << false << true;
        QTest::newRow("equal") << item(u"1.9.2"_s) << true << false;
        QTest::newRow("older") << item(u"1.1"_s) << true << false;
        QTest::newRow("no version keeps the flag")
            << QVariant(QVariantMap{{u"x"_s, 1}}) << true << true;
        QTest::newRow("not a record keeps the flag") << QVariant(u"2.0"_s) << true << true;
    }
    void updateAvailableFollowsTheLastItem() {
        QFETCH(QVariant, lastItem);
        QFETCH(bool, before);
        QFETCH(bool, expected);
        auto updater = makeUpdater();
        settings->setValue(
            AppSettings::Key::UpdateLastItem,
            QVariantMap{{u"CFBundleShortVersionString"_s, before ? u"2.0"_s : u"1.0"_s}});
        UpdateManager manager(*updater, *settings, clock, u"1.9.2"_s);
        QCOMPARE(manager.updateAvailable(), before);
        settings->remove(AppSettings::Key::UpdateLastItem);
        if (lastItem.isValid())
            settings->setValue(AppSettings::Key::UpdateLastItem, lastItem);
        // Nothing changes until the delayed re-evaluation 10 s after start.
        clock.advance(UpdateManager::delayedCheck - std::chrono::seconds(1));
        QCOMPARE(manager.updateAvailable(), before);
        clock.advance(1);
        QCOMPARE(manager.updateAvailable(), expected);
    }

    void checkAgainstTheFeed_data() {
        QTest::addColumn<QString>("feedVersion");
        QTest::addColumn<bool>("found");
        QTest::newRow("newer") << u"1.10.0"_s << true;
        QTest::newRow("equal") << u"1.9.2"_s << false;
        QTest::newRow("older") << u"1.1"_s << false;
    }
    void checkAgainstTheFeed() {
        QFETCH(QString, feedVersion);
        QFETCH(bool, found);
        serve(feed(feedVersion, downloadUrl(), payload.size(), keys.sign(payload)));
        auto updater = makeUpdater();
        UpdateManager manager(*updater, *settings, clock, u"1.9.2"_s);
        QSignalSpy foundSpy(updater.get(), &Updater::updateFound);
        QSignalSpy upToDate(updater.get(), &Updater::upToDate);
        manager.checkForUpdates();
        QTRY_COMPARE(foundSpy.size() + upToDate.size(), 1);
        QCOMPARE(foundSpy.size(), found ? 1 : 0);
        QCOMPARE(manager.updateAvailable(), found);
        // The newest item is recorded whatever its version, the older one never.
        QCOMPARE(settings->value(AppSettings::Key::UpdateLastItem)
                     .toMap()
                     .value(u"CFBundleShortVersionString"_s),
                 QVariant(feedVersion < u"1.0.1"_s ? u"1.0.1"_s : feedVersion));
        QCOMPARE(updater->lastUpdateCheckDate(), clock.now());
        if (found) {
            const auto item = foundSpy.first().first().value<AppcastItem>();
            QCOMPARE(item.releaseNotesLink, QUrl(u"https://zelvane.test/notes"_s));
            QCOMPARE(item.description, u"Faster reminders."_s);
        }
    }

    void failedChecksAreDescribed_data() {
        QTest::addColumn<Response>("answer");
        QTest::addColumn<QString>("description");
        QTest::newRow("malformed")
            << Response{200, "<rss><channel><item>", "text/xml"}
            << u"The update information could not be read. Try again later."_s;
        QTest::newRow("server error")
            << Response::text("down", 500)
            << u"The update feed answered with status 500. Try again later."_s;
        QTest::newRow("stall") << Response::silence()
                               << u"The update server stopped responding. Try again later."_s;
    }
    void failedChecksAreDescribed() {
        QFETCH(Response, answer);
        QFETCH(QString, description);
        server->respondWith(answer);
        auto updater = makeUpdater(std::chrono::milliseconds(300));
        UpdateManager manager(*updater, *settings, clock, u"1.9.2"_s);
        QSignalSpy failed(updater.get(), &Updater::failed);
        manager.checkForUpdates();
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(failed.first().first().toString(), description);
        QVERIFY(!settings->contains(AppSettings::Key::UpdateLastItem));
        QVERIFY(!updater->lastUpdateCheckDate().isValid());
        QVERIFY(!updater->isBusy());
    }

    void downloadsAreVerifiedBeforeInstalling_data() {
        QTest::addColumn<Response>("download");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<QString>("description");
        const QByteArray good = keys.sign(payload);
        QByteArray tampered = payload;
        tampered[1000] = 'y';
        QTest::newRow("verified") << Response{200, payload, "application/gzip"} << good
                                  << QString();
        QTest::newRow("bad signature")
            << Response{200, tampered, "application/gzip"} << good
            << u"The update's signature is not valid, so it was deleted and not installed."_s;
        QTest::newRow("signed by another key")
            << Response{200, payload, "application/gzip"} << KeyPair().sign(payload)
            << u"The update's signature is not valid, so it was deleted and not installed."_s;
        QTest::newRow("truncated")
            << Response{200, payload.left(50'000), "application/gzip", false, payload.size()}
            << good
            << u"The download was incomplete, so it was deleted and not installed. Try again later."_s;
        QTest::newRow("longer than announced")
            << Response{200, payload + "extra", "application/gzip"} << good
            << u"The download is larger than announced, so it was deleted and not installed."_s;
        QTest::newRow("stall") << Response::silence() << good
                               << u"The update server stopped responding. Try again later."_s;
    }
    void downloadsAreVerifiedBeforeInstalling() {
        QFETCH(Response, download);
        QFETCH(QByteArray, signature);
        QFETCH(QString, description);
        serve(feed(u"2.0"_s, downloadUrl(), payload.size(), signature), download);
        auto updater = makeUpdater(std::chrono::milliseconds(500));
        QSignalSpy found(updater.get(), &Updater::updateFound);
        QSignalSpy failed(updater.get(), &Updater::failed);
        QSignalSpy installed(updater.get(), &Updater::installed);
        QSignalSpy progress(updater.get(), &Updater::downloadProgress);
        updater->checkForUpdates();
        QTRY_COMPARE(found.size(), 1);
        updater->install(found.first().first().value<AppcastItem>());
        QTRY_COMPARE(failed.size() + installed.size(), 1);
        if (description.isEmpty()) {
            QCOMPARE(installer.installedBytes, payload);
            QCOMPARE(installer.installedVersion, u"2.0"_s);
            QCOMPARE(progress.last().at(0).toLongLong(), payload.size());
        } else {
            QCOMPARE(failed.first().first().toString(), description);
            QVERIFY(installer.installedBytes.isEmpty());
        }
        // Nothing is left behind, whether it was installed or refused.
        QCOMPARE(leftInDownloads(), QStringList());
    }

    void failedInstallationIsReportedAndCleanedUp() {
        serve(feed(u"2.0"_s, downloadUrl(), payload.size(), keys.sign(payload)),
              Response{200, payload, "application/gzip"});
        installer.failure = u"Zelvane 2.0 did not start, so the version you have was kept."_s;
        auto updater = makeUpdater();
        QSignalSpy found(updater.get(), &Updater::updateFound);
        QSignalSpy failed(updater.get(), &Updater::failed);
        updater->checkForUpdates();
        QTRY_COMPARE(found.size(), 1);
        updater->install(found.first().first().value<AppcastItem>());
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(failed.first().first().toString(), installer.failure);
        QVERIFY(!updater->isBusy());
        QCOMPARE(leftInDownloads(), QStringList());
    }

    // The dialogs follow a check the user asked for and work from the keyboard alone: the
    // offered update's default button is Install, Escape means later, Shift+Tab reaches
    // "Skip This Version".
    void dialogsWorkFromTheKeyboard_data() {
        QTest::addColumn<QList<int>>("presses");
        QTest::addColumn<bool>("installs");
        QTest::addColumn<QString>("skipped");
        QTest::newRow("Return installs") << QList<int>{Qt::Key_Return} << true << QString();
        QTest::newRow("Escape postpones") << QList<int>{Qt::Key_Escape} << false << QString();
        QTest::newRow("Skip This Version")
            << QList<int>{Qt::Key_Backtab, Qt::Key_Backtab, Qt::Key_Space} << false << u"2.0"_s;
    }
    void dialogsWorkFromTheKeyboard() {
        QFETCH(QList<int>, presses);
        QFETCH(bool, installs);
        QFETCH(QString, skipped);
        serve(feed(u"2.0"_s, downloadUrl(), payload.size(), keys.sign(payload)),
              Response{200, payload, "application/gzip"});
        auto updater = makeUpdater();
        UpdateDialogs dialogs(*updater);
        QSignalSpy found(updater.get(), &Updater::updateFound);
        updater->checkForUpdates();
        QDialog *dialog = dialogs.dialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(labelTexts(dialog), QStringList{u"Checking for updates…"_s});
        QCOMPARE(buttonTitles(dialog), QStringList{u"Cancel"_s});
        QCOMPARE(dialog->findChild<QProgressBar *>()->accessibleName(), u"Checking for updates…"_s);

        QTRY_COMPARE(found.size(), 1);
        QVERIFY(labelTexts(dialog).contains(
            u"Zelvane 2.0 is now available — you have 1.9.2. Would you like to install it now?"_s));
        QCOMPARE(buttonTitles(dialog), (QStringList{u"Release Notes…"_s, u"Skip This Version"_s,
                                                    u"Later"_s, u"Install"_s}));
        QCOMPARE(dialog->focusWidget()->property("text").toString(), u"Install"_s);
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        for (int key : presses)
            QTest::keyClick(dialog->focusWidget(), Qt::Key(key));
        if (installs) {
            QTRY_COMPARE(installer.installedBytes, payload);
            QTRY_VERIFY(!dialog->isVisible());
        } else {
            QVERIFY(!dialog->isVisible());
            QVERIFY(!updater->isBusy());
            QVERIFY(installer.installedBytes.isEmpty());
        }
        QCOMPARE(settings->value(AppSettings::Key::UpdateSkippedVersion).toString(), skipped);
    }

    // A download that fails verification ends in an error the user can read and dismiss.
    void dialogsDescribeAFailedDownload() {
        QByteArray tampered = payload;
        tampered[0] = 'y';
        serve(feed(u"2.0"_s, downloadUrl(), payload.size(), keys.sign(payload)),
              Response{200, tampered, "application/gzip"});
        auto updater = makeUpdater();
        UpdateDialogs dialogs(*updater);
        QSignalSpy found(updater.get(), &Updater::updateFound);
        QSignalSpy failed(updater.get(), &Updater::failed);
        updater->checkForUpdates();
        QTRY_COMPARE(found.size(), 1);
        QDialog *dialog = dialogs.dialog();
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
        QCOMPARE(buttonTitles(dialog), QStringList{u"Cancel"_s});
        QCOMPARE(dialog->findChild<QProgressBar *>()->accessibleName(), u"Download progress"_s);
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(labelTexts(dialog),
                 (QStringList{u"Update failed"_s, u"The update's signature is not valid, so it "
                                                  "was deleted and not installed."_s}));
        QCOMPARE(buttonTitles(dialog), QStringList{u"OK"_s});
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Space);
        QVERIFY(!dialog->isVisible());
        QVERIFY(installer.installedBytes.isEmpty());
    }

    void skippedVersionIsOfferedOnlyWhenAsked() {
        serve(feed(u"2.0"_s, downloadUrl(), payload.size(), keys.sign(payload)));
        auto updater = makeUpdater();
        QSignalSpy found(updater.get(), &Updater::updateFound);
        updater->checkForUpdates();
        QTRY_COMPARE(found.size(), 1);
        updater->skipVersion(found.first().first().value<AppcastItem>());
        // The daily check finds it again but stays quiet; the user's own check still offers it.
        updater->startScheduledChecks();
        clock.advance(24 * 3600 + 60);
        QTRY_COMPARE(server->requests().size(), 2);
        QTRY_VERIFY(!updater->isBusy());
        QCOMPARE(found.size(), 1);
        updater->checkForUpdates();
        QTRY_COMPARE(found.size(), 2);
    }
};

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
