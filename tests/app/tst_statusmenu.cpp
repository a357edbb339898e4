#include "app/StatusMenu.h"
#include "app/StatusMenuModel.h"

#include <QMenu>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(QList<StatusMenuEntry>)

namespace {
const QDateTime now = QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);

CalendarEvent meeting(const QString &id, double secondsFromNow, const QString &title = {}) {
    CalendarEvent event;
    event.id = id;
    event.title = title.isEmpty() ? QStringLiteral("Meeting ") + id : title;
    event.startDate = now.addMSecs(qint64(secondsFromNow * 1000));
    event.endDate = event.startDate.addSecs(1800);
    return event;
}

StatusMenuState stateWith(QList<CalendarEvent> events) {
    StatusMenuState state;
    state.events = std::move(events);
    state.now = now;
    state.locale = QLocale(QLocale::English, QLocale::UnitedStates);
    return state;
}

QStringList titles(const QList<StatusMenuEntry> &entries) {
    QStringList result;
    for (const StatusMenuEntry &entry : entries)
        result << (entry.kind == StatusMenuEntry::Kind::separator ? QStringLiteral("---")
                                                                  : entry.title);
    return result;
}

QList<StatusMenuEntry> meetingsOf(const QList<StatusMenuEntry> &entries) {
    QList<StatusMenuEntry> result;
    for (const StatusMenuEntry &entry : entries)
        if (entry.kind == StatusMenuEntry::Kind::meeting)
            result << entry;
    return result;
}

MeetingBrief briefFor(const QString &id) {
    MeetingBrief brief;
    brief.eventId = id;
    brief.summary = {QStringLiteral("Renewal is due")};
    return brief;
}
} // namespace

class TestStatusMenu : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void meetingTimes_data() {
        QTest::addColumn<QList<CalendarEvent>>("events");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("first in 30 s is now")
            << QList{meeting("a", 30, "Standup")} << QStringList{"NOW  Standup"};
        QTest::newRow("first in exactly 5 min still counts down")
            << QList{meeting("a", 300, "Sync")} << QStringList{"in 5 min  Sync"};
        QTest::newRow("first in 6 min shows its clock time")
            << QList{meeting("a", 360, "Sync")} << QStringList{"9:06 AM  Sync"};
        QTest::newRow("second meeting soon still shows its clock time")
            << QList{meeting("a", 60, "One"), meeting("b", 120, "Two")}
            << QStringList{"in 1 min  One", "9:02 AM  Two"};
        QTest::newRow("started meetings are skipped; the next one becomes first")
            << QList{meeting("a", -600, "Running"), meeting("b", 0, "Starting"),
                     meeting("c", 200, "Next")}
            << QStringList{"in 3 min  Next"};
        QTest::newRow("only the first five upcoming meetings")
            << QList{meeting("1", -10),  meeting("2", 3600), meeting("3", 7200), meeting("4", 7260),
                     meeting("5", 7320), meeting("6", 7380), meeting("7", 7440), meeting("8", 7500)}
            << QStringList{"10:00 AM  Meeting 2", "11:00 AM  Meeting 3", "11:01 AM  Meeting 4",
                           "11:02 AM  Meeting 5", "11:03 AM  Meeting 6"};
    }

    void meetingTimes() {
        QFETCH(QList<CalendarEvent>, events);
        QFETCH(QStringList, expected);
        const QList<StatusMenuEntry> meetings =
            meetingsOf(StatusMenuModel::entries(stateWith(events)));
        QCOMPARE(titles(meetings), expected);
        for (qsizetype i = 0; i < meetings.size(); ++i) {
            QCOMPARE(meetings[i].style, i == 0 ? StatusMenuEntry::Style::firstMeeting
                                               : StatusMenuEntry::Style::meeting);
            QCOMPARE(meetings[i].action, StatusMenuEntry::Action::prepMeeting);
        }
    }

    void prepState() {
        StatusMenuState state =
            stateWith({meeting("ready", 600, "Ready"), meeting("busy", 900, "Busy"),
                       meeting("both", 1200, "Both"), meeting("idle", 1500, "Idle")});
        state.briefs.insert("ready", briefFor("ready"));
        state.briefs.insert("both", briefFor("both"));
        state.researching = {"busy", "both"};

        const QList<StatusMenuEntry> meetings = meetingsOf(StatusMenuModel::entries(state));
        QCOMPARE(titles(meetings), (QStringList{"✨ 9:10 AM  Ready", "⏳ 9:15 AM  Busy",
                                                "✨ 9:20 AM  Both", "9:25 AM  Idle"}));
        using Action = StatusMenuEntry::Action;
        QCOMPARE(meetings[0].action, Action::viewBrief);
        QCOMPARE(meetings[1].action, Action::none);
        QVERIFY(!meetings[1].isEnabled());
        QCOMPARE(meetings[2].action, Action::viewBrief);
        QCOMPARE(meetings[3].action, Action::prepMeeting);
    }

    void layout_data() {
        QTest::addColumn<QList<CalendarEvent>>("events");
        QTest::addColumn<bool>("updateAvailable");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("nothing upcoming")
            << QList{meeting("gone", -5)} << false
            << QStringList{"No upcoming meetings", "---", "Open Zelvane", "---",
                           "Check for Updates…",   "---", "Quit Zelvane"};
        QTest::newRow("update available replaces the update check")
            << QList{meeting("a", 30, "Standup")} << true
            << QStringList{"⬆  Update Available — Install Now",
                           "---",
                           "NOW  Standup",
                           "---",
                           "Open Zelvane",
                           "---",
                           "Quit Zelvane"};
    }

    void layout() {
        QFETCH(QList<CalendarEvent>, events);
        QFETCH(bool, updateAvailable);
        QFETCH(QStringList, expected);
        StatusMenuState state = stateWith(events);
        state.updateAvailable = updateAvailable;
        const QList<StatusMenuEntry> entries = StatusMenuModel::entries(state);
        QCOMPARE(titles(entries), expected);
        QCOMPARE(entries.first().isEnabled(), updateAvailable);
        QCOMPARE(entries.last().keyEquivalent, QStringLiteral("q"));
    }

    // The QMenu shows the entries of the moment it opens, with the fonts and enabled states.
    void menuRebuildsOnOpening() {
        StatusMenuState state = stateWith({meeting("a", 270, "Design review")});
        QList<CalendarEvent> prepped, viewed;
        StatusMenu menu([&state] { return StatusMenuModel::entries(state); });
        connect(&menu, &StatusMenu::prepMeetingRequested, this,
                [&](const CalendarEvent &e) { prepped << e; });
        connect(&menu, &StatusMenu::viewBriefRequested, this,
                [&](const CalendarEvent &e) { viewed << e; });
        QSignalSpy opened(&menu, &StatusMenu::openAppRequested);
        QSignalSpy quit(&menu, &StatusMenu::quitRequested);

        state.events << meeting("b", 3600, "Planning");
        state.researching = {"b"};
        Q_EMIT menu.menu()->aboutToShow();

        QList<QAction *> items;
        for (QAction *action : menu.menu()->actions())
            if (!action->isSeparator())
                items << action;
        QStringList texts;
        for (QAction *action : items)
            texts << action->text();
        QCOMPARE(texts, (QStringList{"in 4 min  Design review", "⏳ 10:00 AM  Planning",
                                     "Open Zelvane", "Check for Updates…", "Quit Zelvane"}));

        QVERIFY(items[0]->isEnabled());
        QVERIFY(!items[1]->isEnabled());
        QVERIFY(!items[3]->isEnabled()); // nobody listens for update checks
        QCOMPARE(items[2]->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));

        items[0]->trigger();
        items[2]->trigger();
        items[4]->trigger();
        QCOMPARE(prepped.size(), 1);
        QCOMPARE(prepped.first().id, QStringLiteral("a"));
        QVERIFY(viewed.isEmpty());
        QCOMPARE(opened.count(), 1);
        QCOMPARE(quit.count(), 1);

        state.researching.clear();
        state.briefs.insert("b", briefFor("b"));
        Q_EMIT menu.menu()->aboutToShow();
        QAction *ready = menu.menu()->actions().at(1);
        QCOMPARE(ready->text(), QStringLiteral("✨ 10:00 AM  Planning"));
        ready->trigger();
        QCOMPARE(viewed.size(), 1);
        QCOMPARE(viewed.first().id, QStringLiteral("b"));
    }
};

QTEST_MAIN(TestStatusMenu)
#include "tst_statusmenu.moc"
