#include "LoopbackHttpServer.h"
#include "ManualClock.h"
#include "TestEnvironment.h"
#include "app/Appcast.h"
#include "app/UpdateDialogs.h"
#include "app/UpdateManager.h"
#include "app/Updater.h"
#include "core/AppSettings.h"
#include "platform/UpdateInstaller.h"
#include "platform/UpdateSignature.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Response = LoopbackHttpServer::Response;

namespace {
// A payload and its Ed25519 signature by the key the updater trusts.
const QByteArray payload(200'000, 'z');
const QByteArray trustedKey =
    QByteArray::fromBase64("21eILiS60RzWbUlqOw3BkiFRCtUHkpxUKhlx3bPD11Y=");
const QByteArray signature = "xJVRbou7qK+vhE8w0rZP4Zj9jtY3te4ZOcDQlzcdAkmKdwuJdRlC62Nl0k2B2Uvhlci0"
                             "FYtKAhK8QyN5tajQDg==";

// Records what it was given instead of touching an installation; throws `failure` when set.
// Stands for a user-local installation (`atQuit`), a package (`deb`) or a copy built from
// source (`refuse`).
class RecordingInstaller : public UpdateInstaller {
public:
    bool usesDebianPackage() const override { return deb; }
    std::optional<QString> refusal(const QString &) const override {
        return refuse ? std::optional(u"Built here: update your source tree."_s) : std::nullopt;
    }
    QCoro::Task<Outcome> install(QString file, QString version) override {
        if (!failure.isEmpty())
            throw InstallError(failure);
        QFile payloadFile(file);
        if (!payloadFile.open(QIODevice::ReadOnly) || payloadFile.readAll() != payload)
            throw InstallError(u"not the verified download"_s);
        installed = version;
        co_return Outcome::restarted;
    }
    bool installsAtQuit() const override { return atQuit; }
    QCoro::Task<> prepare(QString file, QString version) override {
        QFile payloadFile(file);
        if (!payloadFile.open(QIODevice::ReadOnly) || payloadFile.readAll() != payload)
            throw InstallError(u"not the verified download"_s);
        prepared = version;
        co_return;
    }
    bool finishPrepared(const QString &version) override {
        finished = version;
        return true;
    }
    QString installed, failure; // the version installed; what installing throws
    QString prepared, finished;
    bool deb = false, atQuit = false, refuse = false;
};

// The dialog's labels and buttons; a button's accessible name, which screen readers announce,
// must say what it shows.
QStringList shown(const QWidget *window) {
    QStringList texts;
    for (const QLabel *label : window->findChildren<QLabel *>())
        texts << label->text();
    for (const QAbstractButton *button : window->findChildren<QAbstractButton *>())
        texts << (button->accessibleName() == button->text() ? u"["_s + button->text() + u']'
                                                             : u"unnamed "_s + button->text());
    return texts;
}
} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

    LoopbackHttpServer server;
    // Another origin: a mirror the download may move to, an address the feed must not.
    LoopbackHttpServer elsewhere;
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    ManualClock clock;
    RecordingInstaller installer;
    const Response download{200, payload, "application/gzip"};

    std::unique_ptr<Updater> makeUpdater(std::chrono::milliseconds timeout = 10s) {
        return std::make_unique<Updater>(*settings, clock, installer,
                                         Updater::Config{QUrl(server.origin() + u"/appcast.xml"_s),
                                                         u"1.9.2"_s, trustedKey,
                                                         env->path() + u"/downloads"_s, timeout});
    }
    // A feed whose newest item is `version`, after an older one; both offer a package and the
    // payload, and the newest may put its version on the download, as older feeds do. Items
    // without a signed web download do not count.
    Response feed(const QString &version, bool onDownload = false) const {
        const auto item = [&](const QString &v, bool onDownload) {
            const QString onItem = u"<sparkle:shortVersionString>%1</sparkle:shortVersionString>"_s;
            return u"<item>%1<description>Faster reminders.</description><sparkle:releaseNotesLink>"
                   "https://zelvane.test/notes</sparkle:releaseNotesLink><enclosure url='%2/z.deb' "
                   "length='200000' sparkle:edSignature='%3'/><enclosure url='%2/z.tar.gz' "
                   "length='200000' sparkle:edSignature='%3' %4/></item>"_s.arg(
                       onDownload ? QString() : onItem.arg(v), server.origin(),
                       QString::fromLatin1(signature),
                       onDownload ? u"sparkle:shortVersionString='%1'"_s.arg(v) : QString());
        };
        const QString unusable =
            u"<item><sparkle:shortVersionString>9.0</sparkle:shortVersionString></item><item>"
            "<enclosure url='file:///etc/passwd' length='5' sparkle:edSignature='AA==' "
            "sparkle:shortVersionString='9.1'/></item><item><enclosure url='https://zelvane.test/"
            "huge.tar.gz' length='1099511627776' sparkle:edSignature='AA==' "
            "sparkle:shortVersionString='9.2'/></item>"_s;
        return {200,
                (u"<rss xmlns:sparkle='http://www.andymatuschak.org/xml-namespaces/sparkle'>"
                 "<channel>"_s +
                 item(u"1.0.1"_s, false) + unusable + item(version, onDownload) +
                 u"</channel></rss>"_s)
                    .toUtf8(),
                "application/rss+xml"};
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(server.start() && elsewhere.start());
        elsewhere.respondWith(download);
    }
    void init() {
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        server.clearRequests();
        installer.installed.clear();
        installer.failure.clear();
        installer.prepared.clear();
        installer.finished.clear();
        installer.deb = installer.atQuit = installer.refuse = false;
    }

    // Digit runs compare as numbers, leading zeros do not count, a longer version is newer.
    // Only the exact key, payload and signature verify; a longer key must not pass on the
    // strength of its first 32 bytes.
    void signatureCheck_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("base64Signature");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<bool>("valid");
        QByteArray tampered = payload;
        tampered[100] = 'y';
        QByteArray otherKey = trustedKey;
        otherKey[0] = char(otherKey[0] ^ 1);
        QTest::newRow("trusted") << payload << signature << trustedKey << true;
        QTest::newRow("payload changed") << tampered << signature << trustedKey << false;
        QTest::newRow("other key") << payload << signature << otherKey << false;
        QTest::newRow("key with a byte more") << payload << signature << trustedKey + 'x' << false;
        QTest::newRow("key a byte short") << payload << signature << trustedKey.left(31) << false;
        QTest::newRow("signature cut") << payload << signature.left(40) << trustedKey << false;
        QTest::newRow("signature not base64")
            << payload << QByteArray("@@@@") << trustedKey << false;
    }
    void signatureCheck() {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, base64Signature);
        QFETCH(QByteArray, key);
        QFETCH(bool, valid);
        QCOMPARE(UpdateSignature::verify(data, base64Signature, key), valid);
    }

    void versionOrder() {
        const std::tuple<QString, QString, int> cases[] = {
            {u"1.10.0"_s, u"1.9.2"_s, 1}, {u"1.00"_s, u"1.0"_s, 0}, {u"1.2.1"_s, u"1.2"_s, 1}};
        for (const auto &[a, b, sign] : cases) {
            QCOMPARE(Appcast::compareVersions(a, b) <=> 0, sign <=> 0);
            QCOMPARE(Appcast::compareVersions(b, a) <=> 0, 0 <=> sign);
        }
    }

    // The first launch turns automatic downloads on, once; "update available" follows the
    // recorded newest item, read at start and whenever it is stored, and ignores a record
    // without a version.
    void updateManager() {
        const auto lastItem = [this](const QVariant &version) {
            settings->setValue(AppSettings::Key::UpdateLastItem,
                               QVariantMap{{u"CFBundleShortVersionString"_s, version}});
        };
        auto updater = makeUpdater();
        { UpdateManager first(*updater, *settings, u"1.9.2"_s); }
        QVERIFY(updater->automaticallyDownloadsUpdates());
        updater->setAutomaticallyDownloadsUpdates(false);
        lastItem(u"1.10.0"_s);
        UpdateManager manager(*updater, *settings, u"1.9.2"_s);
        QVERIFY(!updater->automaticallyDownloadsUpdates() && manager.updateAvailable());
        QSignalSpy availability(&manager, &UpdateManager::updateAvailableChanged);
        lastItem(u"1.9.2"_s);
        QVERIFY(!manager.updateAvailable());
        lastItem(u"1.9.2"_s);
        QCOMPARE(availability.size(), 1);
        lastItem(u"2.0"_s);
        UpdateManager later(*updater, *settings, u"1.9.2"_s);
        lastItem(QVariant());
        QVERIFY(later.updateAvailable() && manager.updateAvailable());
        // Automatic downloads follow the automatic checks.
        later.setAutomaticallyChecksForUpdates(true);
        QVERIFY(updater->automaticallyDownloadsUpdates());
    }

    // A check the user asks for, followed in its dialog and answered from the keyboard: the
    // offer's default button is Install, Escape means later, Shift+Tab reaches "Skip This
    // Version". The check records the feed's newest item whatever its version (nothing when it
    // failed); an update is installed only when it is exactly what the feed announced and
    // signed, and no download is left behind either way.
    void sessions_data() {
        QTest::addColumn<Response>("feedAnswer");
        QTest::addColumn<Response>("download");
        QTest::addColumn<QString>("installerFailure");
        QTest::addColumn<QList<int>>("presses"); // answering the offer
        // Recorded version ; installed version and size ; skipped version ; the dialog at the
        // end, a failure told by how its text begins.
        QTest::addColumn<QString>("outcome");
        const Response newer = feed(u"1.10.0"_s);
        const QList<int> install{Qt::Key_Return};
        QByteArray tampered = payload;
        tampered[1000] = 'y';
        QTest::newRow("up to date") << feed(u"1.9.2"_s, true) << download << QString() << install
                                    << "1.9.2 ;  ;  ; You're up to date!";
        QTest::newRow("feed malformed")
            << Response{200, "<rss><channel><item>", "text/xml"} << download << QString() << install
            << " ;  ;  ; Update failed The update information";
        QTest::newRow("feed server error")
            << Response::text("down", 500) << download << QString() << install
            << " ;  ;  ; Update failed The update feed answered with status 500";
        QTest::newRow("feed stall")
            << Response::silence() << download << QString() << install
            << " ;  ;  ; Update failed The update server stopped responding";
        QTest::newRow("installed")
            << newer << download << QString() << install << "1.10.0 ; 1.10.0 ;  ; closed";
        QTest::newRow("Escape postpones") << newer << download << QString()
                                          << QList<int>{Qt::Key_Escape} << "1.10.0 ;  ;  ; closed";
        QTest::newRow("Skip This Version")
            << newer << download << QString()
            << QList<int>{Qt::Key_Backtab, Qt::Key_Backtab, Qt::Key_Space}
            << "1.10.0 ;  ; 1.10.0 ; closed";
        QTest::newRow("bad signature")
            << newer << Response{200, tampered, "application/gzip"} << QString() << install
            << "1.10.0 ;  ;  ; Update failed The update's signature is not valid";
        QTest::newRow("truncated")
            << newer << Response{200, payload.left(50'000), "application/gzip", false, 200'000}
            << QString() << install << "1.10.0 ;  ;  ; Update failed The download was incomplete";
        QTest::newRow("longer than announced")
            << newer << Response{200, payload + "extra", "application/gzip"} << QString() << install
            << "1.10.0 ;  ;  ; Update failed The download is larger than announced";
        QTest::newRow("download stall")
            << newer << Response::silence() << QString() << install
            << "1.10.0 ;  ;  ; Update failed The update server stopped responding";
        // The download is checked against its signature wherever it comes from; the feed is not.
        QTest::newRow("download from a mirror")
            << newer << Response::redirect(302, elsewhere.origin().toUtf8() + "/z.tar.gz")
            << QString() << install << "1.10.0 ; 1.10.0 ;  ; closed";
        QTest::newRow("feed moved elsewhere")
            << Response::redirect(302, elsewhere.origin().toUtf8() + "/appcast.xml") << download
            << QString() << install << " ;  ;  ; Update failed The update feed moved";
        QTest::newRow("installer fails") << newer << download << u"It did not start."_s << install
                                         << "1.10.0 ;  ;  ; Update failed It did not";
    }
    void sessions() {
        QFETCH(Response, feedAnswer);
        QFETCH(Response, download);
        QFETCH(QString, installerFailure);
        QFETCH(QList<int>, presses);
        QFETCH(QString, outcome);
        server.setHandler([feedAnswer, download](const LoopbackHttpServer::Request &request) {
            return request.path() == u"/appcast.xml" ? feedAnswer : download;
        });
        installer.failure = installerFailure;
        auto updater = makeUpdater(500ms);
        UpdateManager manager(*updater, *settings, u"1.9.2"_s);
        UpdateDialogs dialogs(*updater);
        QSignalSpy found(updater.get(), &Updater::updateFound);
        QSignalSpy progress(updater.get(), &Updater::downloadProgress);
        manager.checkForUpdates();
        QDialog *dialog = dialogs.dialog();
        QCOMPARE(shown(dialog), (QStringList{u"Checking for updates…"_s, u"[Cancel]"_s}));
        QTRY_VERIFY(!updater->isBusy());
        const QVariantMap last = settings->value(AppSettings::Key::UpdateLastItem).toMap();
        const QString recorded = last.value(u"CFBundleShortVersionString"_s).toString();
        QCOMPARE(updater->lastUpdateCheckDate(), recorded.isEmpty() ? QDateTime() : clock.now());
        QCOMPARE(manager.updateAvailable(), !found.isEmpty());
        if (!found.isEmpty()) {
            const QStringList offer = shown(dialog);
            QVERIFY(offer.contains(u"Zelvane 1.10.0 is now available — you have 1.9.2. Would you "
                                   "like to install it now?"_s));
            QCOMPARE(offer.mid(offer.size() - 4),
                     (QStringList{u"[Release Notes…]"_s, u"[Skip This Version]"_s, u"[Later]"_s,
                                  u"[Install]"_s}));
            QCOMPARE(dialog->findChild<QTextBrowser *>()->toPlainText(), u"Faster reminders."_s);
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            for (int key : presses)
                QTest::keyClick(dialog->focusWidget(), Qt::Key(key));
            // The offer is answered once its page has gone (a pressed button acts when its
            // press has been shown).
            QTRY_VERIFY(!dialog->isVisible() || !shown(dialog).contains(u"[Install]"_s));
            QTRY_VERIFY(!updater->isBusy());
        }
        const QString seen = recorded + u" ; "_s + installer.installed + u" ; "_s +
                             settings->value(AppSettings::Key::UpdateSkippedVersion).toString() +
                             u" ; "_s +
                             (dialog->isVisible() ? shown(dialog).join(u' ') : u"closed"_s);
        QVERIFY2(seen.startsWith(outcome), qPrintable(seen));
        if (!installer.installed.isEmpty())
            QCOMPARE(progress.last().at(0).toLongLong(), payload.size());
        QCOMPARE(QDir(env->path() + u"/downloads"_s).entryList(QDir::Files), QStringList());

        // A skipped version: the daily check finds it again but stays quiet; the user's own
        // check still offers it.
        if (!settings->value(AppSettings::Key::UpdateSkippedVersion).toString().isEmpty()) {
            updater->startScheduledChecks();
            clock.advance(24h + 1min);
            QTRY_COMPARE(server.requests().size(), 2);
            QTRY_VERIFY(!updater->isBusy());
            QCOMPARE(found.size(), 1);
            manager.checkForUpdates();
            QTRY_COMPARE(found.size(), 2);
        }
    }

    // With automatic updates on, what a scheduled check finds is downloaded and verified
    // without a word. A user-local installation prepares it and puts it in place at quit; a
    // package is offered once, and installing it takes the file already verified. A copy built
    // from source downloads nothing and is told how to update. With automatic updates off the
    // offer opens as before, and switching them off forgets what was prepared.
    void automaticUpdates_data() {
        QTest::addColumn<QString>("kind"); // user-local, package, source build
        QTest::addColumn<bool>("automatic");
        QTest::addColumn<bool>("switchedOff"); // before the quit
        // Downloads by the two daily checks ; offers (a dialog or a notification) ; what the
        // installer did at the answer and the quit ; downloads in all
        QTest::addColumn<QString>("outcome");
        QTest::newRow("user-local")
            << "user-local" << true << false << "1 ; 0 ; prepared 1.10.0, at quit ; 1";
        QTest::newRow("switched off before the quit")
            << "user-local" << true << true << "1 ; 0 ; prepared 1.10.0 ; 1";
        QTest::newRow("package") << "package" << true << false << "1 ; 1 ; installed 1.10.0 ; 1";
        QTest::newRow("source build") << "source build" << true << false << "0 ; 2 ; refused ; 0";
        QTest::newRow("automatic off")
            << "user-local" << false << false << "0 ; 2 ; installed 1.10.0 ; 1";
    }
    void automaticUpdates() {
        QFETCH(QString, kind);
        QFETCH(bool, automatic);
        QFETCH(bool, switchedOff);
        QFETCH(QString, outcome);
        installer.deb = kind == u"package";
        installer.atQuit = kind == u"user-local";
        installer.refuse = kind == u"source build";
        server.setHandler([this](const LoopbackHttpServer::Request &request) {
            return request.path() == u"/appcast.xml" ? feed(u"1.10.0"_s) : download;
        });
        auto updater = makeUpdater();
        updater->setAutomaticallyChecksForUpdates(true);
        updater->setAutomaticallyDownloadsUpdates(automatic);
        UpdateDialogs dialogs(*updater);
        QSignalSpy found(updater.get(), &Updater::updateFound);
        QSignalSpy ready(updater.get(), &Updater::updateReadyToInstall);
        QSignalSpy progress(updater.get(), &Updater::downloadProgress);
        const auto downloads = [this] {
            return std::ranges::count_if(server.requests(), [](const auto &request) {
                return request.path() != u"/appcast.xml";
            });
        };
        const auto checks = [&] { return server.requests().size() - downloads(); };
        updater->startScheduledChecks();
        clock.advance(1min);
        QTRY_VERIFY(checks() == 1 && !updater->isBusy());
        // The next day's check finds the same version: nothing more is fetched or offered.
        clock.advance(25h);
        QTRY_VERIFY(checks() == 2 && !updater->isBusy());
        QVERIFY(progress.isEmpty());
        const qsizetype fetched = downloads();
        const qsizetype offers = found.size() + ready.size();
        QCOMPARE(bool(dialogs.dialog()), !found.isEmpty());

        // Quitting, or answering the offer.
        if (!ready.isEmpty()) {
            updater->installReadyUpdate();
        } else if (!found.isEmpty()) {
            QVERIFY(QTest::qWaitForWindowActive(dialogs.dialog()));
            QTest::keyClick(dialogs.dialog()->focusWidget(), Qt::Key_Return);
            // A pressed button acts once its press has been shown.
            QTRY_VERIFY(!dialogs.dialog()->isVisible() ||
                        !shown(dialogs.dialog()).contains(u"[Install]"_s));
        }
        QTRY_VERIFY(!updater->isBusy());
        if (switchedOff)
            updater->setAutomaticallyDownloadsUpdates(false);
        updater->finishAtQuit();
        QString done =
            installer.prepared.isEmpty() ? QString() : u"prepared "_s + installer.prepared;
        if (!installer.finished.isEmpty())
            done += u", at quit"_s;
        if (!installer.installed.isEmpty())
            done += u"installed "_s + installer.installed;
        if (installer.refuse && dialogs.dialog()->isVisible() &&
            shown(dialogs.dialog()).join(u' ').contains(u"update your source tree"_s))
            done += u"refused"_s;
        QCOMPARE(u"%1 ; %2 ; %3 ; %4"_s.arg(fetched).arg(offers).arg(done).arg(downloads()),
                 outcome);
        QCOMPARE(QDir(env->path() + u"/downloads"_s).entryList(QDir::Files), QStringList());
    }
};

Q_DECLARE_METATYPE(LoopbackHttpServer::Response)

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
