#include "ManualClock.h"
#include "TestEnvironment.h"
#include "UiTestSupport.h"
#include "core/AppSettings.h"
#include "ui/OverlayWindowController.h"
#include "ui/ReminderOverlayView.h"

#include <QApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>

class TestOverlayController : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    ManualClock clock;
    std::unique_ptr<OverlayWindowController> controller;
    QStringList calls;
    std::unique_ptr<QSignalSpy> sounds;

    // The tag becomes the event's id, which every announcement carries.
    void show(const QString &tag) {
        CalendarEvent event = UiTest::event(QDateTime::currentDateTimeUtc().addSecs(120),
                                            QUrl(QStringLiteral("https://zoom.us/j/5")));
        event.id = tag;
        controller->showOverlay(event, std::nullopt);
    }

    // Each action must find every overlay already gone.
    void recordAs(void (OverlayWindowController::*signal)(const CalendarEvent &),
                  const QString &action) {
        connect(controller.get(), signal, this, [this, action](const CalendarEvent &event) {
            calls << event.id + u':' + action +
                         (controller->windows().isEmpty() ? QString() : QStringLiteral(" (open)"));
        });
    }

    static QAbstractButton *buttonIn(QWidget *window, const QString &name) {
        auto *view = window->findChild<ReminderOverlayView *>();
        view->finishAppearance();
        return UiTest::button(window, name);
    }

private Q_SLOTS:
    void initTestCase() { QCOMPARE(QGuiApplication::screens().size(), 2); }

    void init() {
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        settings->setSoundEnabled(true);
        controller = std::make_unique<OverlayWindowController>(*settings, clock);
        sounds =
            std::make_unique<QSignalSpy>(controller.get(), &OverlayWindowController::alertSoundDue);
        recordAs(&OverlayWindowController::dismissed, QStringLiteral("dismiss"));
        recordAs(&OverlayWindowController::joinRequested, QStringLiteral("join"));
        recordAs(&OverlayWindowController::snoozeRequested, QStringLiteral("snooze"));
        calls.clear();
    }

    void cleanup() {
        controller.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void oneWindowPerScreen() {
        QSignalSpy painted(controller.get(), &OverlayWindowController::overlayPainted);
        show(QStringLiteral("a"));
        const QList<QWidget *> windows = controller->windows();
        const QList<QScreen *> screens = QGuiApplication::screens();
        QCOMPARE(windows.size(), screens.size());
        for (int i = 0; i < windows.size(); ++i) {
            QWidget *w = windows[i];
            QVERIFY(w->isWindow());
            QVERIFY(w->isVisible());
            QCOMPARE(w->screen(), screens[i]);
            QCOMPARE(w->geometry(), screens[i]->geometry());
            QCOMPARE(w->windowTitle(), QStringLiteral("Quarterly planning"));
            QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
            QVERIFY(w->windowFlags() & Qt::WindowStaysOnTopHint);
            QVERIFY(w->windowState() & Qt::WindowFullScreen);
            QVERIFY(w->findChild<ReminderOverlayView *>());
        }
        QVERIFY(painted.wait(2000));
        QTest::qWait(50);
        QCOMPARE(painted.size(), 1);
        QCOMPARE(sounds->count(), 1); // once per reminder, not per screen
    }

    void actingOnOneScreenClosesAll_data() {
        QTest::addColumn<int>("screen");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("call");
        QTest::newRow("snooze on the second") << 1 << "1 min"
                                              << "a:snooze";
        QTest::newRow("dismiss on the second") << 1 << "Dismiss"
                                               << "a:dismiss";
        QTest::newRow("escape on the second") << 1 << "Escape"
                                              << "a:dismiss";
    }

    void actingOnOneScreenClosesAll() {
        QFETCH(int, screen);
        QFETCH(QString, button);
        QFETCH(QString, call);
        show(QStringLiteral("a"));
        const QList<QWidget *> windows = controller->windows();
        const QList<QPointer<QWidget>> guarded{windows[0], windows[1]};
        clock.advance(ReminderOverlayView::keyGuard);
        if (button == QLatin1String("Escape"))
            QTest::keyClick(windows[screen]->findChild<ReminderOverlayView *>(), Qt::Key_Escape);
        else
            QTest::mouseClick(buttonIn(windows[screen], button), Qt::LeftButton);
        QCOMPARE(calls, QStringList{call});
        QVERIFY(controller->windows().isEmpty());
        for (const QPointer<QWidget> &w : guarded)
            QVERIFY(!w || !w->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const QPointer<QWidget> &w : guarded)
            QVERIFY(!w);
    }

    void newReminderReplacesTheOld() {
        show(QStringLiteral("a"));
        const QList<QPointer<QWidget>> old{controller->windows()[0], controller->windows()[1]};
        QAbstractButton *oldDismiss = buttonIn(old[0], QStringLiteral("Dismiss"));
        QPointer<QAbstractButton> guardedOld(oldDismiss);
        show(QStringLiteral("b"));
        QCOMPARE(controller->windows().size(), 2);
        for (const QPointer<QWidget> &w : old)
            QVERIFY(!w || (!w->isVisible() && !controller->windows().contains(w.data())));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!guardedOld); // the first reminder's controls are gone with its windows
        QTest::mouseClick(buttonIn(controller->windows()[0], QStringLiteral("Dismiss")),
                          Qt::LeftButton);
        QCOMPARE(calls, QStringList{QStringLiteral("b:dismiss")});
        QCOMPARE(sounds->count(), 2);
    }

    void silentWhenSoundDisabled() {
        settings->setSoundEnabled(false);
        show(QStringLiteral("a"));
        QCOMPARE(controller->windows().size(), 2);
        QCOMPARE(sounds->count(), 0);
    }

    void closeAllWithoutActions() {
        show(QStringLiteral("a"));
        controller->closeAll();
        QVERIFY(controller->windows().isEmpty());
        QVERIFY(calls.isEmpty());
        controller->closeAll();
        QVERIFY(controller->windows().isEmpty());
    }

    void viewsOutliveTheController() {
        show(QStringLiteral("a"));
        QPointer<QWidget> window = controller->windows().at(0);
        QAbstractButton *snooze = buttonIn(window, QStringLiteral("1 min"));
        // The controller going away takes its windows with it; nothing may call into it.
        controller.reset();
        QVERIFY(!window || !window->isVisible());
        if (window && snooze)
            snooze->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!window);
    }
};

// Two side-by-side screens on the offscreen platform, declared before the application starts.
int main(int argc, char **argv) {
    QTemporaryFile config(QDir::tempPath() + QStringLiteral("/zelvane-screens-XXXXXX.json"));
    if (!config.open())
        return 1;
    config.write(R"({"screens": [
        {"name": "left", "x": 0, "y": 0, "width": 1280, "height": 800, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "right", "x": 1280, "y": 0, "width": 1024, "height": 768, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}
    ]})");
    config.flush();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toUtf8());
    QApplication app(argc, argv);
    TestOverlayController test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_overlaycontroller.moc"
