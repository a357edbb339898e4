#include "ManualClock.h"
#include "UiTestSupport.h"
#include "ui/MeetingBriefCard.h"
#include "ui/PlatformJoinButton.h"
#include "ui/ReminderOverlayView.h"

#include <QSignalSpy>
#include <QTest>

namespace {
const QDateTime meetingStart = QDateTime(QDate(2027, 1, 15), QTime(10, 0), Qt::UTC);
}

class TestReminderOverlay : public QObject {
    Q_OBJECT

private:
    ManualClock clock{meetingStart.addSecs(-5 * 60)};
    int dismissed = 0, joined = 0, snoozed = 0;

    std::unique_ptr<ReminderOverlayView> makeView(const CalendarEvent &event,
                                                  std::optional<MeetingBrief> brief = {}) {
        auto view = std::make_unique<ReminderOverlayView>(event, std::move(brief), nullptr, clock);
        connect(view.get(), &ReminderOverlayView::dismissRequested, this, [this] { ++dismissed; });
        connect(view.get(), &ReminderOverlayView::joinRequested, this, [this] { ++joined; });
        connect(view.get(), &ReminderOverlayView::snoozeRequested, this, [this] { ++snoozed; });
        view->resize(1280, 800);
        return view;
    }

    // Shown, sprung in and laid out, as the user meets it.
    void present(ReminderOverlayView &view) {
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.finishAppearance();
        QVERIFY(view.card()->isVisible());
    }

private Q_SLOTS:
    void init() { dismissed = joined = snoozed = 0; }

    void timeText_data() {
        QTest::addColumn<int>("secondsToStart");
        QTest::addColumn<QString>("expected");
        const QString range = QStringLiteral("10:00 AM – 10:30 AM");
        QTest::newRow("at the start") << 0 << QStringLiteral("NOW • ") + range;
        QTest::newRow("59 s") << 59 << QStringLiteral("Starting in less than a minute • ") + range;
        QTest::newRow("60 s") << 60 << QStringLiteral("Starting in 1 min • ") + range;
        QTest::newRow("119 s is still 1 min")
            << 119 << QStringLiteral("Starting in 1 min • ") + range;
    }

    void timeText() {
        QFETCH(int, secondsToStart);
        QFETCH(QString, expected);
        const CalendarEvent event = UiTest::event(meetingStart);
        const QString text =
            event.reminderTimeText(meetingStart.addSecs(-secondsToStart),
                                   QLocale(QLocale::English, QLocale::UnitedStates));
        // Newer locale data puts a narrow no-break space before AM/PM.
        QCOMPARE(QString(text).replace(QChar(0x202F), QLatin1Char(' ')), expected);
    }

    void contents_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("location");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QString>("indicator");

        const QStringList rest{QStringLiteral("1 min"), QStringLiteral("Dismiss")};
        QTest::newRow("no link, no place") << QString() << QString() << rest << QString();
        QTest::newRow("zoom") << "https://acme.zoom.us/j/123456" << QString()
                              << QStringList{QStringLiteral("Join Zoom Meeting")} + rest
                              << QStringLiteral("Zoom");
        QTest::newRow("unknown platform")
            << "https://video.example.org/room/7" << QString()
            << QStringList{QStringLiteral("Join")} + rest << QStringLiteral("Video Meeting");
        QTest::newRow("known service") << "https://meet.jit.si/Standup" << QString()
                                       << QStringList{QStringLiteral("Join Jitsi Meet")} + rest
                                       << QStringLiteral("Jitsi Meet");
        QTest::newRow("platform look-alike")
            << "https://evil-zoom.us/j/1" << QString() << QStringList{QStringLiteral("Join")} + rest
            << QStringLiteral("Video Meeting");
        QTest::newRow("in person") << QString() << QStringLiteral("Room 4, Main Street") << rest
                                   << QStringLiteral("Room 4, Main Street");
    }

    void contents() {
        QFETCH(QString, link);
        QFETCH(QString, location);
        QFETCH(QStringList, buttons);
        QFETCH(QString, indicator);

        const CalendarEvent event = UiTest::event(
            meetingStart, link.isEmpty() ? std::nullopt : std::optional<QUrl>(QUrl(link)),
            location.isEmpty() ? std::nullopt : std::optional<QString>(location));
        auto view = makeView(event);
        present(*view);

        QCOMPARE(UiTest::buttonNames(view.get()), buttons);
        QCOMPARE(view->accessibleName(), QStringLiteral("Quarterly planning"));
        for (QAbstractButton *b : view->findChildren<QAbstractButton *>())
            QCOMPARE(b->text(), b->accessibleName());
        QCOMPARE(view->joinButton() != nullptr, !link.isEmpty());

        const QStringList texts = UiTest::labelTexts(view.get());
        QVERIFY(texts.contains(QStringLiteral("Quarterly planning")));
        QVERIFY(texts.contains(QStringLiteral("Work")));
        QVERIFY(std::any_of(texts.begin(), texts.end(), [](const QString &t) {
            return t.startsWith(QStringLiteral("Starting in 5 min • "));
        }));
        auto *indicatorRow = view->findChild<QWidget *>(QStringLiteral("meetingTypeIndicator"));
        QCOMPARE(indicatorRow != nullptr, !indicator.isEmpty());
        if (indicatorRow) {
            QLabel *text = UiTest::label(indicatorRow, indicator);
            QVERIFY2(text, qPrintable(indicator));
            // Laid out wide enough to read, not squeezed away.
            QVERIFY(text->isVisible());
            QVERIFY(text->width() >= QFontMetrics(text->font()).horizontalAdvance(indicator));
        }
    }

    void platformButtonLooksLikeItsPlatform() {
        for (MeetingPlatform platform : MeetingPlatforms::all()) {
            PlatformJoinButton button(platform);
            QCOMPARE(button.accessibleName(), MeetingPlatforms::joinTitle(platform));
            QImage image = button.grab().toImage();
            // The corner is rounded off; the left edge in the middle is the platform colour.
            const QColor edge = image.pixelColor(2, image.height() / 2);
            QCOMPARE(edge.rgb(), MeetingPlatforms::brandColor(platform).rgb());
            QVERIFY(image.pixelColor(0, 0).rgb() != edge.rgb());
        }
    }

    void cardWidth_data() {
        QTest::addColumn<bool>("withBrief");
        QTest::addColumn<int>("viewWidth");
        QTest::addColumn<int>("cardWidth");
        QTest::newRow("no brief") << false << 1280 << 500;
        QTest::newRow("brief widens the card") << true << 1280 << 680;
        QTest::newRow("narrow screen") << true << 600 << 520;
    }

    void cardWidth() {
        QFETCH(bool, withBrief);
        QFETCH(int, viewWidth);
        QFETCH(int, cardWidth);
        auto view =
            makeView(UiTest::event(meetingStart, QUrl(QStringLiteral("https://zoom.us/j/1"))),
                     withBrief ? std::optional(UiTest::brief()) : std::nullopt);
        view->resize(viewWidth, 800);
        present(*view);
        QCOMPARE(view->card()->width(), cardWidth);
        QCOMPARE(view->card()->geometry().center().x(), view->rect().center().x());

        auto *briefCard = view->findChild<MeetingBriefCard *>();
        QCOMPARE(briefCard != nullptr, withBrief);
        if (briefCard) {
            QVERIFY(briefCard->isVisible());
            auto yOf = [&](QWidget *w) { return w->mapTo(view.get(), QPoint()).y(); };
            QVERIFY(yOf(briefCard) > yOf(UiTest::label(view.get(), QStringLiteral("Work"))));
            QVERIFY(yOf(briefCard) < yOf(UiTest::button(view.get(), QStringLiteral("Dismiss"))));
            QVERIFY(UiTest::label(view.get(), QStringLiteral("Renewal is due next month")));
        }
    }

    void longBriefFitsTheScreen() {
        MeetingBrief brief = UiTest::brief();
        for (int i = 0; i < 40; ++i)
            brief.summary << QStringLiteral("Point %1 of a long briefing").arg(i);
        auto view = makeView(
            UiTest::event(meetingStart, QUrl(QStringLiteral("https://zoom.us/j/1"))), brief);
        view->resize(1280, 600);
        present(*view);
        const QRect card = view->card()->geometry();
        QVERIFY(card.top() >= 0 && card.bottom() < 600);
        // The actions stay on the card; the brief scrolls instead.
        for (const QString &name :
             {QStringLiteral("Join Zoom Meeting"), QStringLiteral("Dismiss")}) {
            QAbstractButton *b = UiTest::button(view.get(), name);
            QVERIFY(b->isVisible());
            const QRect r(b->mapTo(view.get(), QPoint()), b->size());
            QVERIFY2(card.contains(r), qPrintable(name));
        }
        QLabel *title = UiTest::label(view.get(), QStringLiteral("Quarterly planning"));
        QVERIFY(title->height() >= QFontMetrics(title->font()).height());
    }

    void actions_data() {
        QTest::addColumn<bool>("withLink");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QList<int>>("expected"); // dismissed, joined, snoozed

        QTest::newRow("join") << true << "Join Zoom Meeting" << QList<int>{0, 1, 0};
        QTest::newRow("snooze") << true << "1 min" << QList<int>{0, 0, 1};
        QTest::newRow("dismiss") << true << "Dismiss" << QList<int>{1, 0, 0};
        QTest::newRow("escape dismisses") << true << "Escape" << QList<int>{1, 0, 0};
        QTest::newRow("return joins") << true << "Return" << QList<int>{0, 1, 0};
        // Return acts on the focused button: Dismiss when there is nothing to join.
        QTest::newRow("return without a link") << false << "Return" << QList<int>{1, 0, 0};
        QTest::newRow("tab then return snoozes") << true << "Tab Return" << QList<int>{0, 0, 1};
        QTest::newRow("tab wraps to join") << true << "Tab Tab Tab Return" << QList<int>{0, 1, 0};
        QTest::newRow("keys in the first second") << true << "early" << QList<int>{0, 0, 0};
        QTest::newRow("click on the backdrop") << true << "backdrop" << QList<int>{0, 0, 0};
    }

    void actions() {
        QFETCH(bool, withLink);
        QFETCH(QString, action);
        QFETCH(QList<int>, expected);
        auto view = makeView(UiTest::event(
            meetingStart,
            withLink ? std::optional(QUrl(QStringLiteral("https://zoom.us/j/99"))) : std::nullopt));
        present(*view);
        view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
        if (action == QLatin1String("early")) {
            // Typed for another window as the reminder took focus: nothing happens.
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Tab, Qt::Key_Return})
                QTest::keyClick(QApplication::focusWidget(), key);
            clock.advance(ReminderOverlayView::keyGuard);
        } else if (action.contains(QLatin1String("Return")) || action == QLatin1String("Escape")) {
            clock.advance(ReminderOverlayView::keyGuard);
            for (const QString &key : action.split(u' '))
                QTest::keyClick(QApplication::focusWidget(),
                                key == QLatin1String("Tab")      ? Qt::Key_Tab
                                : key == QLatin1String("Escape") ? Qt::Key_Escape
                                                                 : Qt::Key_Return);
            QCoreApplication::processEvents();
        } else if (action == QLatin1String("backdrop"))
            QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(5, 5));
        else
            QTest::mouseClick(UiTest::button(view.get(), action), Qt::LeftButton);
        QCOMPARE((QList<int>{dismissed, joined, snoozed}), expected);
        QVERIFY(view->isVisible());
    }

    void springsInAndFocusesTheMainAction() {
        auto view =
            makeView(UiTest::event(meetingStart, QUrl(QStringLiteral("https://zoom.us/j/1"))));
        QVERIFY(!view->appeared());
        QSignalSpy finished(view.get(), &CardOverlay::appearanceFinished);
        view->show();
        QVERIFY(view->appeared());
        QVERIFY(!view->card()->isVisible());
        QVERIFY(finished.wait(2000));
        QVERIFY(view->card()->isVisible());
        QTRY_COMPARE(QApplication::focusWidget(), view->joinButton());
    }
};

QTEST_MAIN(TestReminderOverlay)
#include "tst_reminderoverlay.moc"
