#include "ManualClock.h"
#include "TestEnvironment.h"
#include "app/ReminderPresenter.h"
#include "core/AppSettings.h"
#include "platform/DesktopNotification.h"
#include "platform/DoNotDisturb.h"
#include "ui/OverlayWindowController.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDesktopServices>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
const QString serviceName = u"org.freedesktop.Notifications"_s;
const QString objectPath = u"/org/freedesktop/Notifications"_s;

CalendarEvent meeting(std::optional<QUrl> link) {
    CalendarEvent event;
    event.id = u"nylas_review"_s;
    event.title = u"Design review"_s;
    // Five minutes after the test clock's start.
    event.startDate = QDateTime::fromSecsSinceEpoch(1'800'000'300, Qt::UTC);
    event.endDate = event.startDate.addSecs(1800);
    event.calendarTitle = u"Work <team>"_s;
    event.meetingLink = std::move(link);
    return event;
}
} // namespace

// A notification server on its own connection to the test's private session bus: it records
// what it is asked to show and can report a chosen action.
class FakeNotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
    Q_PROPERTY(bool Inhibited READ inhibited)

public:
    struct Shown {
        QString summary, body;
        QStringList actions;
        QVariantMap hints;
        int timeout;
    };
    QList<Shown> shown;
    bool inhibitedValue = false;
    bool refuse = false;

    bool inhibited() const { return inhibitedValue; }

public Q_SLOTS:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &hints, int timeout) {
        if (refuse) {
            sendErrorReply(QDBusError::Failed, u"notifications are off"_s);
            return 0;
        }
        shown.append({summary, body, actions, hints, timeout});
        return uint(shown.size()) + 40;
    }
    void CloseNotification(uint) {}

Q_SIGNALS:
    void ActionInvoked(uint id, const QString &actionKey);
    void NotificationClosed(uint id, uint reason);
};

class UrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

class TestReminderPresenter : public QObject {
    Q_OBJECT

private:
    QDBusConnection serverBus{u"unused"_s};
    std::unique_ptr<FakeNotificationServer> server;
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    ManualClock clock;
    std::unique_ptr<OverlayWindowController> overlay;
    std::unique_ptr<DesktopNotification> notifications;
    std::unique_ptr<ReminderPresenter> presenter;
    UrlCatcher browser;

    void present(const CalendarEvent &event) {
        QCoro::waitFor(presenter->present(event, std::nullopt));
    }

private Q_SLOTS:
    void initTestCase() {
        // GNOME's switch is read from a key file in each test's config home; none exists, so
        // only the notification server decides.
        qputenv("GSETTINGS_BACKEND", "keyfile");
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"server"_s);
        QVERIFY(serverBus.isConnected());
        server = std::make_unique<FakeNotificationServer>();
        QVERIFY(
            serverBus.registerObject(objectPath, server.get(), QDBusConnection::ExportAllContents));
        QVERIFY(serverBus.registerService(serviceName));
        QDesktopServices::setUrlHandler(u"https"_s, &browser, "open");
    }

    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler(u"https"_s);
        serverBus.unregisterService(serviceName);
        QDBusConnection::disconnectFromBus(u"server"_s);
    }

    void init() {
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        settings->setSoundEnabled(false);
        settings->setRespectDND(true);
        server->shown.clear();
        server->inhibitedValue = true;
        server->refuse = false;
        browser.opened.clear();
        overlay = std::make_unique<OverlayWindowController>(*settings, clock);
        notifications = std::make_unique<DesktopNotification>();
        presenter = std::make_unique<ReminderPresenter>(*settings, *overlay, *notifications, clock,
                                                        &DoNotDisturb::isOn);
    }

    void cleanup() {
        presenter.reset();
        notifications.reset();
        overlay.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void quietDesktopGetsANotificationInsteadOfTheOverlay() {
        present(meeting(QUrl(u"https://zoom.us/j/5"_s)));
        QVERIFY(overlay->windows().isEmpty());
        QCOMPARE(server->shown.size(), 1);
        const FakeNotificationServer::Shown &shown = server->shown.constFirst();
        QCOMPARE(shown.summary, u"Design review"_s);
        QVERIFY2(shown.body.startsWith(u"Starting in 5 min"_s), qPrintable(shown.body));
        QVERIFY2(shown.body.endsWith(u"\nWork &lt;team&gt;"_s), qPrintable(shown.body));
        QCOMPARE(shown.actions, (QStringList{u"join"_s, u"Join"_s, u"dismiss"_s, u"Dismiss"_s}));
        // Stays until answered.
        QCOMPARE(shown.hints.value(u"urgency"_s).toInt(), 2);
        QCOMPARE(shown.timeout, 0);

        QSignalSpy dismissed(presenter.get(), &ReminderPresenter::dismissed);
        Q_EMIT server->ActionInvoked(41, u"join"_s);
        QTRY_COMPARE(browser.opened, QList<QUrl>{QUrl(u"https://zoom.us/j/5"_s)});
        QCOMPARE(dismissed.size(), 0);
        // Answered once: a repeated report of the same action does nothing.
        Q_EMIT server->ActionInvoked(41, u"join"_s);
        QTest::qWait(50);
        QCOMPARE(browser.opened.size(), 1);
    }

    void dismissFromTheNotification() {
        present(meeting(QUrl(u"https://zoom.us/j/5"_s)));
        present(meeting(std::nullopt));
        QCOMPARE(server->shown.size(), 2);
        // Without a link there is nothing to join.
        QCOMPARE(server->shown.at(1).actions, (QStringList{u"dismiss"_s, u"Dismiss"_s}));

        QSignalSpy dismissed(presenter.get(), &ReminderPresenter::dismissed);
        // Another application's notification with the same action key.
        Q_EMIT server->ActionInvoked(7, u"dismiss"_s);
        Q_EMIT server->ActionInvoked(41, u"dismiss"_s);
        QTRY_COMPARE(dismissed.size(), 1);
        QCOMPARE(dismissed.constFirst().constFirst().value<CalendarEvent>().meetingLink,
                 std::optional<QUrl>(QUrl(u"https://zoom.us/j/5"_s)));
        QVERIFY(browser.opened.isEmpty());

        // Closed by the server without an answer: a late action is no longer ours to act on.
        Q_EMIT server->NotificationClosed(42, 2);
        Q_EMIT server->ActionInvoked(42, u"dismiss"_s);
        QTest::qWait(50);
        QCOMPARE(dismissed.size(), 1);
        QVERIFY(overlay->windows().isEmpty());
    }

    void overlayWhenNotQuietOrNotAsked_data() {
        QTest::addColumn<bool>("respect");
        QTest::addColumn<bool>("inhibited");
        QTest::addColumn<bool>("refused");
        QTest::newRow("desktop not quiet") << true << false << false;
        QTest::newRow("user does not ask for it") << false << true << false;
        QTest::newRow("notification refused") << true << true << true;
    }
    void overlayWhenNotQuietOrNotAsked() {
        QFETCH(bool, respect);
        QFETCH(bool, inhibited);
        QFETCH(bool, refused);
        settings->setRespectDND(respect);
        server->inhibitedValue = inhibited;
        server->refuse = refused;
        present(meeting(QUrl(u"https://zoom.us/j/5"_s)));
        QCOMPARE(overlay->windows().size(), QGuiApplication::screens().size());
        QVERIFY(server->shown.isEmpty());

        // The overlay's Join goes to the same place as the notification's.
        QSignalSpy dismissed(presenter.get(), &ReminderPresenter::dismissed);
        Q_EMIT overlay->joinRequested(meeting(QUrl(u"https://zoom.us/j/5"_s)));
        QCOMPARE(browser.opened, QList<QUrl>{QUrl(u"https://zoom.us/j/5"_s)});
        Q_EMIT overlay->dismissed(meeting(std::nullopt));
        QCOMPARE(dismissed.size(), 1);
    }
};

QTEST_MAIN(TestReminderPresenter)
#include "tst_reminderpresenter.moc"
