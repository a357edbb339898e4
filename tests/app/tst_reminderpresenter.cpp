#include "ManualClock.h"
#include "TestEnvironment.h"
#include "app/ReminderPresenter.h"
#include "core/AppSettings.h"
#include "platform/DesktopNotification.h"
#include "ui/OverlayWindowController.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDesktopServices>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
const QUrl zoom(u"https://zoom.us/j/5"_s);

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
// what it is asked to show (or refuses) and can report a chosen action.
class FakeNotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<QStringList> shown; // summary, body, actions, urgency, time-out
    bool refuse = false;

public Q_SLOTS:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &hints, int timeout) {
        if (refuse) {
            sendErrorReply(QDBusError::Failed, u"notifications are off"_s);
            return 0;
        }
        shown.append({summary, body, actions.join(u','),
                      QString::number(hints.value(u"urgency"_s).toInt()),
                      QString::number(timeout)});
        return uint(shown.size()) + 40;
    }
    void CloseNotification(uint) {}

Q_SIGNALS:
    void ActionInvoked(uint id, const QString &actionKey);
    void NotificationClosed(uint id, uint reason);
};

class TestReminderPresenter : public QObject {
    Q_OBJECT

    QDBusConnection serverBus{u"unused"_s};
    FakeNotificationServer server;
    TestEnvironment env;
    std::unique_ptr<AppSettings> settings = env.makeSettings();
    ManualClock clock;
    OverlayWindowController overlay{*settings, clock};
    DesktopNotification notifications;
    std::unique_ptr<ReminderPresenter> presenter;
    bool quiet = true; // what the desktop's do-not-disturb check answers
    QList<QUrl> opened;

    QCoro::Task<bool> desktopQuiet() { co_return quiet; }
    void present(const CalendarEvent &event) {
        QCoro::waitFor(presenter->present(event, std::nullopt));
    }

public Q_SLOTS:
    // Stands in for the browser.
    void openUrl(const QUrl &url) { opened << url; }

private Q_SLOTS:
    void initTestCase() {
        serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"server"_s);
        QVERIFY(serverBus.registerObject(u"/org/freedesktop/Notifications"_s, &server,
                                         QDBusConnection::ExportAllContents));
        QVERIFY(serverBus.registerService(u"org.freedesktop.Notifications"_s));
        QDesktopServices::setUrlHandler(u"https"_s, this, "openUrl");
    }

    void init() {
        overlay.closeAll();
        server.shown.clear();
        server.refuse = false;
        quiet = true;
        opened.clear();
        settings->setRespectDND(true);
        presenter = std::make_unique<ReminderPresenter>(*settings, overlay, notifications, clock,
                                                        [this] { return desktopQuiet(); });
    }

    // On a quiet desktop the reminder is a notification that stays until answered; each
    // answer counts once, and only for our own notifications while they are up.
    void quietDesktopGetsANotificationInsteadOfTheOverlay() {
        present(meeting(zoom));
        present(meeting(std::nullopt));
        present(meeting(std::nullopt));
        QVERIFY(overlay.windows().isEmpty());
        QCOMPARE(server.shown.size(), 3);
        const QStringList first = server.shown.first();
        QCOMPARE(first[0], u"Design review"_s);
        QVERIFY2(first[1].startsWith(u"Starting in 5 min"_s), qPrintable(first[1]));
        QVERIFY2(first[1].endsWith(u"\nWork &lt;team&gt;"_s), qPrintable(first[1]));
        QCOMPARE(first.mid(2), (QStringList{u"join,Join,dismiss,Dismiss"_s, u"2"_s, u"0"_s}));
        // Without a link there is nothing to join.
        QCOMPARE(server.shown[1][2], u"dismiss,Dismiss"_s);

        QSignalSpy dismissed(presenter.get(), &ReminderPresenter::dismissed);
        Q_EMIT server.ActionInvoked(41, u"join"_s);
        QTRY_COMPARE(opened, QList<QUrl>{zoom});
        Q_EMIT server.ActionInvoked(41, u"join"_s);
        Q_EMIT server.ActionInvoked(41, u"dismiss"_s);
        // Another application's notification with the same action key.
        Q_EMIT server.ActionInvoked(7, u"dismiss"_s);
        Q_EMIT server.ActionInvoked(42, u"dismiss"_s);
        Q_EMIT server.ActionInvoked(42, u"dismiss"_s);
        // Closed by the server without an answer: a late action is no longer ours.
        Q_EMIT server.NotificationClosed(43, 2);
        Q_EMIT server.ActionInvoked(43, u"dismiss"_s);
        QTRY_COMPARE(dismissed.size(), 1);
        QTest::qWait(100);
        QCOMPARE(dismissed.size(), 1);
        QCOMPARE(dismissed.constFirst().constFirst().value<CalendarEvent>().meetingLink,
                 std::nullopt);
        QCOMPARE(opened.size(), 1);
        QVERIFY(overlay.windows().isEmpty());
    }

    void overlayWhenNotQuietOrNotAsked_data() {
        QTest::addColumn<bool>("respect");
        QTest::addColumn<bool>("isQuiet");
        QTest::addColumn<bool>("refused");
        QTest::newRow("desktop not quiet") << true << false << false;
        QTest::newRow("user does not ask for it") << false << true << false;
        // A reminder nobody sees is worse than one that interrupts.
        QTest::newRow("notification refused") << true << true << true;
    }
    void overlayWhenNotQuietOrNotAsked() {
        QFETCH(bool, respect);
        QFETCH(bool, isQuiet);
        QFETCH(bool, refused);
        settings->setRespectDND(respect);
        quiet = isQuiet;
        server.refuse = refused;
        present(meeting(zoom));
        QCOMPARE(overlay.windows().size(), QGuiApplication::screens().size());
        QVERIFY(server.shown.isEmpty());

        // The overlay's Join goes to the same place as the notification's.
        QSignalSpy dismissed(presenter.get(), &ReminderPresenter::dismissed);
        Q_EMIT overlay.joinRequested(meeting(zoom));
        QCOMPARE(opened, QList<QUrl>{zoom});
        Q_EMIT overlay.dismissed(meeting(std::nullopt));
        QCOMPARE(dismissed.size(), 1);
    }
};

QTEST_MAIN(TestReminderPresenter)
#include "tst_reminderpresenter.moc"
