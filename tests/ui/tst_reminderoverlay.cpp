// The full-screen reminder: its card and keys, and the controller that puts one window on
// each of two screens.
#include "ManualClock.h"
#include "TestEnvironment.h"
#include "WidgetTestSupport.h"
#include "core/AppSettings.h"
#include "ui/MeetingBriefCard.h"
#include "ui/OverlayWindowController.h"
#include "ui/ReminderOverlayView.h"

#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryFile>

using namespace Qt::StringLiterals;
using namespace WidgetTest;

namespace {
const QDateTime meetingStart(QDate(2027, 1, 15), QTime(10, 0), Qt::UTC);
const QUrl zoomLink(u"https://zoom.us/j/1"_s);
} // namespace

class TestReminderOverlay : public QObject {
    Q_OBJECT

private:
    ManualClock clock{meetingStart.addSecs(-5 * 60)};
    QStringList calls; // what the user asked for, in order

    // Shown, sprung in and laid out, as the user meets it.
    std::unique_ptr<ReminderOverlayView> present(const CalendarEvent &event,
                                                 std::optional<MeetingBrief> brief = {},
                                                 QSize size = {1280, 800}) {
        auto view = std::make_unique<ReminderOverlayView>(event, std::move(brief), nullptr, clock);
        for (auto [signal, name] : {std::pair{&ReminderOverlayView::dismissRequested, u"dismiss"_s},
                                    {&ReminderOverlayView::joinRequested, u"join"_s},
                                    {&ReminderOverlayView::snoozeRequested, u"snooze"_s}})
            connect(view.get(), signal, this, [this, name] { calls << name; });
        view->resize(size);
        view->show();
        view->finishAppearance();
        return view;
    }

    // Every announcement of the controller must find every overlay already gone.
    void record(OverlayWindowController &controller) {
        for (auto [signal, name] : {std::pair{&OverlayWindowController::dismissed, u"dismiss"_s},
                                    {&OverlayWindowController::joinRequested, u"join"_s},
                                    {&OverlayWindowController::snoozeRequested, u"snooze"_s}})
            connect(&controller, signal, this, [this, &controller, name](const CalendarEvent &e) {
                calls << e.id + u':' + name +
                             (controller.windows().isEmpty() ? u""_s : u" (open)"_s);
            });
    }

    static void showOn(OverlayWindowController &controller, const QString &id) {
        CalendarEvent event =
            WidgetTest::event(QDateTime::currentDateTimeUtc().addSecs(120), zoomLink);
        event.id = id;
        controller.showOverlay(event, std::nullopt);
        for (QWidget *window : controller.windows())
            window->findChild<ReminderOverlayView *>()->finishAppearance();
    }

private Q_SLOTS:
    void initTestCase() { QCOMPARE(QGuiApplication::screens().size(), 2); }
    void init() { calls.clear(); }
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Buttons left to right and how the meeting is held for each kind of meeting; the card
    // centred, wider with a brief between the meeting and the buttons, narrower on a narrow
    // screen, and on screen with its buttons when a long brief has to scroll.
    void card_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("location");
        QTest::addColumn<int>("briefLines");
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QString>("join");
        QTest::addColumn<QString>("indicator");
        QTest::addColumn<int>("cardWidth");
        const QSize wide(1280, 800);
        QTest::newRow("no link, no place")
            << QString() << QString() << 0 << wide << QString() << QString() << 500;
        QTest::newRow("zoom with a brief") << u"https://acme.zoom.us/j/123456"_s << QString() << 1
                                           << wide << u"Join Zoom Meeting"_s << u"Zoom"_s << 680;
        QTest::newRow("unknown platform, narrow screen")
            << u"https://video.example.org/room/7"_s << QString() << 1 << QSize(600, 800)
            << u"Join"_s << u"Video Meeting"_s << 520;
        QTest::newRow("known service") << u"https://meet.jit.si/Standup"_s << QString() << 0 << wide
                                       << u"Join Jitsi Meet"_s << u"Jitsi Meet"_s << 500;
        QTest::newRow("platform look-alike") << u"https://evil-zoom.us/j/1"_s << QString() << 0
                                             << wide << u"Join"_s << u"Video Meeting"_s << 500;
        QTest::newRow("in person, long brief")
            << QString() << u"Room 4, Main Street"_s << 41 << QSize(1280, 600) << QString()
            << u"Room 4, Main Street"_s << 680;
    }
    void card() {
        QFETCH(QString, link);
        QFETCH(QString, location);
        QFETCH(int, briefLines);
        QFETCH(QSize, screen);
        QFETCH(QString, join);
        QFETCH(QString, indicator);
        QFETCH(int, cardWidth);
        MeetingBrief brief = WidgetTest::brief();
        for (int i = 1; i < briefLines; ++i)
            brief.summary << u"Point %1 of a long briefing"_s.arg(i);
        auto view =
            present(WidgetTest::event(meetingStart,
                                      link.isEmpty() ? std::nullopt : std::optional(QUrl(link)),
                                      location.isEmpty() ? std::nullopt : std::optional(location)),
                    briefLines ? std::optional(brief) : std::nullopt, screen);
        const QStringList buttons = buttonNames(view.get());
        const QStringList rest{u"1 min"_s, u"Dismiss"_s};
        QCOMPARE(buttons, join.isEmpty() ? rest : QStringList{join} + rest);
        QCOMPARE(view->joinButton() != nullptr, !join.isEmpty());
        QCOMPARE(view->accessibleName(), u"Quarterly planning"_s);
        QCOMPARE(unreadable(view.get()), QStringList());
        QCOMPARE(visibleTexts(view.get()).filter(u"Starting in 5 min • "_s).size(), 1);
        auto *indicatorRow = view->findChild<QWidget *>(u"meetingTypeIndicator"_s);
        QCOMPARE(indicatorRow != nullptr, !indicator.isEmpty());
        if (indicatorRow) {
            // Laid out wide enough to read, not squeezed away.
            QLabel *text = label(indicatorRow, indicator);
            QVERIFY2(text && text->isVisible(), qPrintable(indicator));
            QVERIFY(text->width() >= QFontMetrics(text->font()).horizontalAdvance(indicator));
        }

        const QRect card = view->card()->geometry();
        QCOMPARE(card.width(), cardWidth);
        QCOMPARE(card.center().x(), view->rect().center().x());
        QVERIFY(card.top() >= 0 && card.bottom() < screen.height());
        QLabel *title = label(view.get(), u"Quarterly planning"_s);
        QVERIFY(title->height() >= QFontMetrics(title->font()).height());
        const auto yOf = [&](QWidget *w) { return w->mapTo(view.get(), QPoint()).y(); };
        for (const QString &name : buttons) {
            QAbstractButton *b = button(view.get(), name);
            QVERIFY2(card.contains(QRect(b->mapTo(view.get(), QPoint()), b->size())),
                     qPrintable(name));
        }
        auto *briefCard = view->findChild<MeetingBriefCard *>();
        QCOMPARE(briefCard != nullptr, briefLines > 0);
        if (briefCard) {
            QVERIFY(yOf(briefCard) > yOf(label(view.get(), u"Work"_s)));
            QVERIFY(yOf(briefCard) < yOf(button(view.get(), u"Dismiss"_s)));
            QVERIFY(label(view.get(), u"Renewal is due next month"_s));
        }
    }

    void keys_data() {
        QTest::addColumn<bool>("withLink");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("call");
        QTest::newRow("escape dismisses") << true << u"Escape"_s << u"dismiss"_s;
        QTest::newRow("return joins") << true << u"Return"_s << u"join"_s;
        // Return acts on the focused button: Dismiss when there is nothing to join.
        QTest::newRow("return without a link") << false << u"Return"_s << u"dismiss"_s;
        QTest::newRow("tab then return snoozes") << true << u"Tab Return"_s << u"snooze"_s;
        QTest::newRow("tab wraps to join") << true << u"Tab Tab Tab Return"_s << u"join"_s;
        QTest::newRow("backtab wraps to dismiss") << true << u"Backtab Return"_s << u"dismiss"_s;
        // Typed for another window as the reminder took focus: nothing happens.
        QTest::newRow("keys in the first second") << true << u"early"_s << QString();
        QTest::newRow("click on the backdrop") << true << u"backdrop"_s << QString();
    }
    void keys() {
        QFETCH(bool, withLink);
        QFETCH(QString, input);
        QFETCH(QString, call);
        auto view = present(
            WidgetTest::event(meetingStart, withLink ? std::optional(zoomLink) : std::nullopt));
        view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
        if (input == u"early") {
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Tab, Qt::Key_Return})
                QTest::keyClick(QApplication::focusWidget(), key);
            clock.advance(ReminderOverlayView::keyGuard);
        } else if (input == u"backdrop") {
            QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(5, 5));
        } else {
            clock.advance(ReminderOverlayView::keyGuard);
            for (const QString &key : input.split(u' '))
                QTest::keyClick(QApplication::focusWidget(), key == u"Tab"       ? Qt::Key_Tab
                                                             : key == u"Backtab" ? Qt::Key_Backtab
                                                             : key == u"Escape"  ? Qt::Key_Escape
                                                                                 : Qt::Key_Return);
            QCoreApplication::processEvents();
        }
        QCOMPARE(calls, call.isEmpty() ? QStringList() : QStringList{call});
        QVERIFY(view->isVisible());
    }

    void springsInAndFocusesTheMainAction() {
        ReminderOverlayView view(WidgetTest::event(meetingStart, zoomLink), std::nullopt, nullptr,
                                 clock);
        QVERIFY(!view.appeared());
        QSignalSpy finished(&view, &CardOverlay::appearanceFinished);
        view.show();
        QVERIFY(view.appeared());
        QVERIFY(!view.card()->isVisible());
        QVERIFY(finished.wait(2000));
        QVERIFY(view.card()->isVisible());
        QTRY_COMPARE(QApplication::focusWidget(), view.joinButton());
    }

    // One frameless full-screen window above the others on each screen, one sound when sound
    // is on, and one announcement once both have painted. A new reminder replaces the old
    // one's windows; acting on either screen takes every window down before it is announced;
    // the controller going away takes its windows with it.
    void controller_data() {
        QTest::addColumn<bool>("sound");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("snooze on the second") << true << u"1 min"_s << QStringList{u"b:snooze"_s};
        QTest::newRow("join on the second")
            << false << u"Join Zoom Meeting"_s << QStringList{u"b:join"_s};
        QTest::newRow("escape on the second") << true << u"Escape"_s << QStringList{u"b:dismiss"_s};
        QTest::newRow("closed") << false << u"closeAll"_s << QStringList();
        QTest::newRow("controller gone") << true << u"destroy"_s << QStringList();
    }
    void controller() {
        QFETCH(bool, sound);
        QFETCH(QString, input);
        QFETCH(QStringList, expected);
        TestEnvironment env;
        const auto settings = env.makeSettings();
        settings->setSoundEnabled(sound);
        auto controller = std::make_unique<OverlayWindowController>(*settings, clock);
        QSignalSpy sounds(controller.get(), &OverlayWindowController::alertSoundDue);
        QSignalSpy painted(controller.get(), &OverlayWindowController::overlayPainted);
        record(*controller);
        showOn(*controller, u"a"_s);
        QList<QPointer<QWidget>> windows{controller->windows()[0], controller->windows()[1]};
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(windows[i]->screen(), QGuiApplication::screens()[i]);
            QCOMPARE(windows[i]->geometry(), QGuiApplication::screens()[i]->geometry());
            QCOMPARE(windows[i]->windowTitle(), u"Quarterly planning"_s);
            QVERIFY(windows[i]->isVisible() && windows[i]->windowState() & Qt::WindowFullScreen);
            QVERIFY(windows[i]->windowFlags() & Qt::FramelessWindowHint);
            QVERIFY(windows[i]->windowFlags() & Qt::WindowStaysOnTopHint);
        }
        QVERIFY(painted.wait(2000));
        QTest::qWait(50);
        QCOMPARE(painted.size(), 1);
        QCOMPARE(sounds.size(), sound ? 1 : 0);

        QPointer<QAbstractButton> oldDismiss = button(windows[0], u"Dismiss"_s);
        showOn(*controller, u"b"_s);
        QCOMPARE(controller->windows().size(), 2);
        for (const QPointer<QWidget> &w : windows)
            QVERIFY(!w || (!w->isVisible() && !controller->windows().contains(w.data())));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!oldDismiss);

        windows = {controller->windows()[0], controller->windows()[1]};
        QAbstractButton *snooze = button(windows[1], u"1 min"_s);
        clock.advance(ReminderOverlayView::keyGuard);
        if (input == u"Escape")
            QTest::keyClick(windows[1]->findChild<ReminderOverlayView *>(), Qt::Key_Escape);
        else if (input == u"closeAll")
            controller->closeAll();
        else if (input == u"destroy")
            controller.reset();
        else
            QTest::mouseClick(button(windows[1], input), Qt::LeftButton);
        QCOMPARE(calls, expected);
        for (const QPointer<QWidget> &w : windows)
            QVERIFY(!w || !w->isVisible());
        // A click still queued on a window of a controller that is gone reaches nobody.
        if (!controller && windows[1] && snooze)
            snooze->click();
        QCOMPARE(calls, expected);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const QPointer<QWidget> &w : windows)
            QVERIFY(!w);
        QVERIFY(!controller || controller->windows().isEmpty());
    }
};

// Two side-by-side screens on the offscreen platform, declared before the application starts.
int main(int argc, char **argv) {
    QTemporaryFile config(QDir::tempPath() + u"/zelvane-screens-XXXXXX.json"_s);
    if (!config.open())
        return 1;
    config.write(R"({"screens": [
        {"name": "left", "x": 0, "y": 0, "width": 1280, "height": 800, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "right", "x": 1280, "y": 0, "width": 1024, "height": 768, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}
    ]})");
    config.flush();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toUtf8());
    QApplication app(argc, argv);
    TestReminderOverlay test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_reminderoverlay.moc"
