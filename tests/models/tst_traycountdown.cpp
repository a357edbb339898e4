// What the tray says about the next meeting, and the icon's minutes mark drawn from it.
#include "ManualClock.h"
#include "TestEnvironment.h"
#include "app/AppServices.h"
#include "models/TrayCountdown.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
// 10:00 UTC; the suite runs with TZ=UTC, so "today" ends at midnight UTC.
const QDateTime morning(QDate(2027, 3, 1), QTime(10, 0), Qt::UTC);

CalendarEvent meeting(const QString &title, qint64 secondsFrom, const QDateTime &now = morning) {
    CalendarEvent e;
    e.id = title;
    e.title = title;
    e.startDate = now.addSecs(secondsFrom);
    e.endDate = e.startDate.addSecs(1800);
    return e;
}
} // namespace

class TestTrayCountdown : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void statusAt_data() {
        QTest::addColumn<QList<CalendarEvent>>("events");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<int>("minutes"); // -1: no mark
        QTest::addColumn<bool>("urgent");
        const QDateTime lateEvening(QDate(2027, 3, 1), QTime(23, 40), Qt::UTC);
        QTest::newRow("nothing") << QList<CalendarEvent>{} << morning << u"No more meetings today"_s
                                 << -1 << false;
        QTest::newRow("only one under way") << QList{meeting(u"Standup"_s, -60)} << morning
                                            << u"No more meetings today"_s << -1 << false;
        QTest::newRow("the one after the one under way")
            << QList{meeting(u"Standup"_s, -60), meeting(u"Design review"_s, 4 * 60 + 30)}
            << morning << u"Design review in 4 min"_s << 4 << true;
        QTest::newRow("under a minute") << QList{meeting(u"Design review"_s, 30)} << morning
                                        << u"Design review in less than a minute"_s << 0 << true;
        QTest::newRow("five minutes exactly") << QList{meeting(u"Design review"_s, 300)} << morning
                                              << u"Design review in 5 min"_s << 5 << true;
        QTest::newRow("a second more than five minutes")
            << QList{meeting(u"Design review"_s, 301)} << morning << u"Design review in 5 min"_s
            << 5 << false;
        QTest::newRow("an hour exactly") << QList{meeting(u"Planning"_s, 3600)} << morning
                                         << u"Planning in 60 min"_s << 60 << false;
        QTest::newRow("a second more than an hour")
            << QList{meeting(u"Planning"_s, 3601)} << morning << u"Planning at 11:00"_s << -1
            << false;
        QTest::newRow("later today") << QList{meeting(u"Design review"_s, 4 * 3600 + 30 * 60)}
                                     << morning << u"Design review at 14:30"_s << -1 << false;
        QTest::newRow("tomorrow") << QList{meeting(u"Retro"_s, 23 * 3600)} << morning
                                  << u"No more meetings today"_s << -1 << false;
        QTest::newRow("just after midnight, within the hour")
            << QList{meeting(u"Night ops"_s, 40 * 60, lateEvening)} << lateEvening
            << u"Night ops in 40 min"_s << 40 << false;
        // The title goes in as it is, placeholders and all.
        QTest::newRow("title with placeholders")
            << QList{meeting(u"50% %1 %2 off"_s, 2 * 3600)} << morning
            << u"50% %1 %2 off at 12:00"_s << -1 << false;
    }

    void statusAt() {
        QFETCH(QList<CalendarEvent>, events);
        QFETCH(QDateTime, now);
        QFETCH(QString, toolTip);
        QFETCH(int, minutes);
        QFETCH(bool, urgent);
        const TrayStatus status = TrayCountdown::statusAt(events, now, QLocale::c());
        QCOMPARE(status.toolTip, toolTip);
        QCOMPARE(status.minutesLeft, minutes < 0 ? std::nullopt : std::optional(minutes));
        QCOMPARE(status.urgent, urgent);
    }

    // The status follows the events at once, and the clock by itself, waking only when the
    // status changes: it is announced only when it changes, whatever the number of refreshes.
    void followsTheEventsAndTheClock() {
        TestEnvironment env;
        const auto settings = env.makeSettings();
        ManualClock clock(morning);
        AppServices services(*settings, clock);
        TrayCountdown countdown(services.calendar, clock);
        QSignalSpy changes(&countdown, &TrayCountdown::statusChanged);
        QVERIFY(!countdown.status().minutesLeft);

        services.calendar.publishEvents({meeting(u"Design review"_s, 7 * 60 + 50)});
        QCOMPARE(changes.size(), 1);
        QCOMPARE(countdown.status().minutesLeft, std::optional(7));
        services.calendar.publishEvents({meeting(u"Design review"_s, 7 * 60 + 50)});
        clock.advance(std::chrono::seconds(45));
        QCOMPARE(changes.size(), 1);
        countdown.refresh();
        QCOMPARE(changes.size(), 1);
        // 7:50 before, the count drops from 7 to 6 just after 7:00, with no refresh asked for.
        clock.advance(std::chrono::seconds(4));
        QCOMPARE(changes.size(), 1);
        clock.advance(std::chrono::seconds(1) + std::chrono::milliseconds(1));
        QCOMPARE(changes.size(), 2);
        countdown.refresh();
        QCOMPARE(changes.size(), 2);
        QCOMPARE(countdown.status().minutesLeft, std::optional(6));
        QCOMPARE(changes.last().first().value<TrayStatus>().toolTip, u"Design review in 6 min"_s);
    }
};

QTEST_GUILESS_MAIN(TestTrayCountdown)
#include "tst_traycountdown.moc"
