// The real zelvane binary against the backend stand-in on a real X server with two screens
// (run through run-on-xorg.sh). Windows are inspected and driven with xdotool, xprop and
// xwininfo, as a user's desktop would see them.
#include "AtSpiClient.h"
#include "BackendProcess.h"
#include "DesktopStore.h"
#include "LoopbackHttpServer.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace Qt::StringLiterals;

namespace {
const QList<QRect> screens = {QRect(0, 0, 1280, 800), QRect(1280, 0, 1024, 768)};

QString run(const QString &program, const QStringList &args, int *exitCode = nullptr) {
    QProcess process;
    process.start(program, args);
    process.waitForFinished(10'000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Visible top-level windows whose title is exactly `title`.
QList<qulonglong> visibleWindows(const QString &title) {
    QList<qulonglong> ids;
    const QString out = run(
        u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--name"_s,
                       QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$')});
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        ids << line.trimmed().toULongLong();
    return ids;
}

QRect geometryOf(qulonglong window) {
    const QString info = run(u"xwininfo"_s, {u"-id"_s, QString::number(window)});
    const auto field = [&info](const char *name) {
        const QRegularExpression re(QString::fromLatin1(name) + u":\\s+(-?\\d+)"_s);
        return re.match(info).captured(1).toInt();
    };
    return {field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
            field("Height")};
}

// The window with the window manager's decoration around it, title bar included.
QRect frameOf(qulonglong window) {
    const QString out =
        run(u"xprop"_s, {u"-id"_s, QString::number(window), u"_NET_FRAME_EXTENTS"_s});
    static const QRegularExpression numbers(u"=\\s*(\\d+),\\s*(\\d+),\\s*(\\d+),\\s*(\\d+)"_s);
    const QRegularExpressionMatch m = numbers.match(out);
    const auto extent = [&m](int i) { return m.captured(i).toInt(); };
    return geometryOf(window).adjusted(-extent(1), -extent(3), extent(2), extent(4));
}

// Managed windows, bottom to top.
QList<qulonglong> stackingOrder() {
    const QString out = run(u"xprop"_s, {u"-root"_s, u"_NET_CLIENT_LIST_STACKING"_s});
    QList<qulonglong> ids;
    static const QRegularExpression hex(u"0x[0-9a-fA-F]+"_s);
    for (auto it = hex.globalMatch(out); it.hasNext();)
        ids << it.next().captured(0).toULongLong(nullptr, 16);
    return ids;
}

QList<QRect> sortedGeometries(const QList<qulonglong> &windows) {
    QList<QRect> rects;
    for (qulonglong id : windows)
        rects << geometryOf(id);
    std::sort(rects.begin(), rects.end(),
              [](const QRect &a, const QRect &b) { return a.x() < b.x(); });
    return rects;
}

// Keys typed into `window` the way a user would: activate it, then type through XTEST.
void typeInto(qulonglong window, const QStringList &keys) {
    run(u"xdotool"_s, {u"windowactivate"_s, u"--sync"_s, QString::number(window)});
    run(u"xdotool"_s, QStringList{u"key"_s, u"--delay"_s, u"100"_s} + keys);
}

void screenshot(const QString &name) {
    const QString dir = qEnvironmentVariable("ZELVANE_E2E_ARTIFACTS");
    QDir().mkpath(dir);
    int code = -1;
    run(QStringLiteral(E2E_XHELPER), {u"screenshot"_s, dir + QLatin1Char('/') + name}, &code);
    QCOMPARE(code, 0);
}

} // namespace

// A panel's tray host as the desktop would run it: a StatusNotifierWatcher on the session bus
// that the app's tray icon registers with, and whose menu is read and clicked over dbusmenu.
namespace {
// The host keeps answering while it waits: the app's tray icon asks it questions of its own
// while it answers ours.
QDBusMessage callServing(const QDBusMessage &call) {
    QDBusPendingCallWatcher watcher(QDBusConnection::sessionBus().asyncCall(call));
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    if (!watcher.isFinished())
        loop.exec();
    return watcher.reply();
}

// The menu's entries by label, with their ids.
void collectMenu(const QDBusArgument &node, QHash<QString, int> &items) {
    int id = 0;
    QVariantMap properties;
    node.beginStructure();
    node >> id >> properties;
    node.beginArray();
    while (!node.atEnd()) {
        QDBusVariant child;
        node >> child;
        collectMenu(qvariant_cast<QDBusArgument>(child.variant()), items);
    }
    node.endArray();
    node.endStructure();
    if (properties.contains(u"label"_s))
        items.insert(properties.value(u"label"_s).toString(), id);
}
} // namespace

class TrayHost : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    QString item; // the bus name of the registered tray icon

    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

    bool listen() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        return bus.registerObject(u"/StatusNotifierWatcher"_s, this,
                                  QDBusConnection::ExportAllSlots |
                                      QDBusConnection::ExportAllProperties) &&
               bus.registerService(u"org.kde.StatusNotifierWatcher"_s);
    }

    // The menu as a panel shows it: announced as about to open, then read.
    QHash<QString, int> openMenu() const {
        QDBusMessage get = QDBusMessage::createMethodCall(
            item, u"/StatusNotifierItem"_s, u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
        get << u"org.kde.StatusNotifierItem"_s << u"Menu"_s;
        const QDBusMessage path = callServing(get);
        if (path.type() != QDBusMessage::ReplyMessage)
            return {};
        const QString menu = qvariant_cast<QDBusObjectPath>(
                                 path.arguments().constFirst().value<QDBusVariant>().variant())
                                 .path();
        callServing(menuCall(menu, u"AboutToShow"_s) << 0);
        const QDBusMessage layout =
            callServing(menuCall(menu, u"GetLayout"_s) << 0 << -1 << QStringList());
        if (layout.type() != QDBusMessage::ReplyMessage || layout.arguments().size() != 2)
            return {};
        QHash<QString, int> items;
        collectMenu(qvariant_cast<QDBusArgument>(layout.arguments().at(1)), items);
        m_menu = menu;
        return items;
    }

    QStringList openMenuLabels() const { return openMenu().keys(); }

    bool click(const QString &label) const {
        const QHash<QString, int> items = openMenu();
        if (!items.contains(label))
            return false;
        return callServing(menuCall(m_menu, u"Event"_s)
                           << items.value(label) << u"clicked"_s
                           << QVariant::fromValue(QDBusVariant(0)) << uint(0))
                   .type() == QDBusMessage::ReplyMessage;
    }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString &service) { item = service; }
    void RegisterStatusNotifierHost(const QString &) {}

private:
    QDBusMessage menuCall(const QString &menu, const QString &method) const {
        return QDBusMessage::createMethodCall(item, menu, u"com.canonical.dbusmenu"_s, method);
    }

    mutable QString m_menu;
};

class TestEndToEnd : public QObject {
    Q_OBJECT

private:
    BackendProcess backend{{u"--port"_s, u"0"_s}};
    QProcess app;
    QProcess fullscreen;
    std::unique_ptr<QTemporaryDir> home;

    QString confPath() const { return home->path() + u"/config/Zelvane/Zelvane.conf"_s; }

    void writeAccount(const QString &id, const QString &provider, const QString &email,
                      const QString &grantId) {
        const QJsonObject account{
            {"id", id}, {"provider", provider}, {"email", email}, {"grantId", grantId}};
        QSettings(confPath(), QSettings::IniFormat)
            .setValue(u"connectedAccounts"_s,
                      QJsonDocument(QJsonArray{account}).toJson(QJsonDocument::Compact));
    }

    // A grant on the stand-in with exactly these events, connected in a fresh profile; its id,
    // or empty when the stand-in refused.
    QString connectAccount(const QJsonArray &events) {
        const QString grantId =
            backend
                .admin("POST", u"grants"_s, {{"email", "e2e@zelvane.test"}, {"provider", "google"}})
                .value(u"grantId"_s)
                .toString();
        backend.admin("POST", u"events"_s, {{"grantId", grantId}, {"events", events}});
        writeAccount(u"6E3F0C7A-0000-4000-8000-00000000E2E0"_s, u"Google"_s, u"e2e@zelvane.test"_s,
                     grantId);
        return grantId;
    }

    static QJsonObject meeting(const QString &id, const QString &title, qint64 startsInSeconds) {
        const qint64 start = QDateTime::currentSecsSinceEpoch() + startsInSeconds;
        return {{"id", id},
                {"title", title},
                {"when", QJsonObject{{"start_time", start}, {"end_time", start + 1800}}}};
    }

    void startApp(const QStringList &extraEnvironment = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &entry : extraEnvironment)
            env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
        env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        env.insert(u"HOME"_s, home->path());
        env.insert(u"XDG_CONFIG_HOME"_s, home->path() + u"/config"_s);
        env.insert(u"XDG_DATA_HOME"_s, home->path() + u"/data"_s);
        env.insert(u"ZELVANE_BACKEND_ORIGIN"_s, backend.origin());
        env.insert(u"ZELVANE_SLACK_ORIGIN"_s, backend.origin());
        env.insert(u"ZELVANE_POWER_SUPPLY_DIR"_s, home->path() + u"/power"_s);
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(ZELVANE_BINARY), {});
        QVERIFY(app.waitForStarted());
    }

    QString openedLog() const { return home->path() + u"/opened.txt"_s; }

    // The desktop's opener becomes a script that records what it was given.
    void installOpener() {
        const QString bin = home->path() + u"/bin"_s;
        QDir().mkpath(bin);
        QFile opener(bin + u"/xdg-open"_s);
        QVERIFY(opener.open(QIODevice::WriteOnly));
        opener.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + openedLog().toUtf8() + "\"\n");
        opener.close();
        QVERIFY(opener.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ExeOwner));
        // Each scenario runs in a process of its own, so the changed PATH ends with it.
        qputenv("PATH", (bin + QLatin1Char(':')).toUtf8() + qgetenv("PATH"));
    }

    QStringList openedLinks() const {
        QFile log(openedLog());
        return log.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                   : QStringList();
    }

    void writePowerSupply(int capacity, const QString &status) {
        const QString dir = home->path() + u"/power/BAT0"_s;
        QDir().mkpath(dir);
        const auto write = [&dir](const char *name, const QString &text) {
            QFile file(dir + QLatin1Char('/') + QLatin1String(name));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(text.toUtf8() + '\n');
        };
        write("type", u"Battery"_s);
        write("capacity", QString::number(capacity));
        write("status", status);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(backend.start(), qPrintable(backend.error())); }

    void init() {
        home = std::make_unique<QTemporaryDir>();
        QVERIFY(home->isValid());
        QSettings conf(confPath(), QSettings::IniFormat);
        conf.setValue(u"hasCompletedOnboarding"_s, true);
        conf.setValue(u"launchAtLogin"_s, false);
        QDir().mkpath(home->path() + u"/power"_s);
    }

    void cleanup() {
        for (QProcess *process : {&app, &fullscreen}) {
            if (process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
            process->waitForFinished(2000);
        }
    }

    // Started, it shows no window and prints nothing. A second start hands over to the running
    // Zelvane, which opens its window, and ends with status 0; a third finds the same window.
    // SIGTERM ends it cleanly.
    void runsQuietlyAndHandsOverToTheRunningOne() {
        startApp();
        const auto ownsName = [] {
            return run(u"dbus-send"_s,
                       {u"--session"_s, u"--print-reply"_s, u"--dest=org.freedesktop.DBus"_s,
                        u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus.NameHasOwner"_s,
                        u"string:app.zelvane.Zelvane"_s})
                .contains(u"boolean true"_s);
        };
        QTRY_VERIFY_WITH_TIMEOUT(ownsName(), 20'000);
        const auto windowsOfApp = [this] {
            return run(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--pid"_s,
                                      QString::number(app.processId())})
                .trimmed();
        };
        QTest::qWait(2000);
        QVERIFY2(windowsOfApp().isEmpty(), qPrintable(windowsOfApp()));
        for (int start = 0; start < 2; ++start) {
            QProcess second;
            second.setProcessEnvironment(app.processEnvironment());
            second.start(QStringLiteral(ZELVANE_BINARY), {});
            QVERIFY(second.waitForFinished(20'000));
            QCOMPARE(second.exitStatus(), QProcess::NormalExit);
            QCOMPARE(second.exitCode(), 0);
            QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(u"Zelvane"_s).size(), 1, 10'000);
        }
        QCOMPARE(windowsOfApp().toULongLong(), visibleWindows(u"Zelvane"_s).first());

        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(10'000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QCOMPARE(app.readAllStandardOutput(), QByteArray());
    }

    // A reminder covers both screens above a full-screen window in the last 15 s before the
    // meeting; "1 min" takes it down and brings it back a minute later; Dismiss removes it.
    void reminderOnEveryScreenSnoozeAndDismiss() {
        fullscreen.start(QStringLiteral(E2E_XHELPER), {u"fullscreen"_s, u"Presentation"_s});
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(u"Presentation"_s).size(), 1, 10'000);
        const qulonglong presentation = visibleWindows(u"Presentation"_s).first();

        const QString title = u"E2E Standup"_s;
        const qint64 lead = 25;
        QVERIFY(!connectAccount({meeting(u"standup"_s, title, lead)}).isEmpty());
        const qint64 start = QDateTime::currentSecsSinceEpoch() + lead;
        startApp();

        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 2, (lead + 10) * 1000);
        const qint64 shownAt = QDateTime::currentSecsSinceEpoch();
        QVERIFY2(shownAt >= start - 16 && shownAt <= start + 1,
                 qPrintable(u"shown %1 s before the start"_s.arg(start - shownAt)));

        QList<qulonglong> overlays = visibleWindows(title);
        QCOMPARE(sortedGeometries(overlays), screens);
        const QList<qulonglong> stacking = stackingOrder();
        QVERIFY(stacking.contains(presentation));
        for (qulonglong overlay : overlays)
            QVERIFY2(stacking.indexOf(overlay) > stacking.indexOf(presentation),
                     "the reminder is below the full-screen window");
        QTest::qWait(800); // let the card finish springing in before the picture
        screenshot(u"overlay.png"_s);

        pressSnooze(overlays.last());
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 0, 5000);
        const qint64 snoozedAt = QDateTime::currentSecsSinceEpoch();
        QTest::qWait(50'000);
        QCOMPARE(visibleWindows(title).size(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 2, 25'000);
        const qint64 back = QDateTime::currentSecsSinceEpoch() - snoozedAt;
        QVERIFY2(back >= 58 && back <= 63, qPrintable(QString::number(back)));

        overlays = visibleWindows(title);
        QCOMPARE(sortedGeometries(overlays), screens);
        QTest::qWait(1200); // the overlay ignores keys in its first second
        pressDismiss(overlays.first());
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 0, 5000);
        QCOMPARE(app.state(), QProcess::Running);
    }

    // At 1 % and discharging the alert covers the primary screen once, and the next checks
    // at the same level raise no second one. Checks come every 2 s instead of every minute.
    void batteryAlertOnce() {
        writePowerSupply(1, u"Discharging"_s);
        qputenv("ZELVANE_BATTERY_CHECK_SECONDS", "2");
        startApp();
        const QString title = u"Battery Critical"_s;
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 1, 20'000);
        QCOMPARE(geometryOf(visibleWindows(title).first()), screens.first());
        QTest::qWait(800);
        screenshot(u"battery-alert.png"_s);

        QTest::qWait(5000); // two more checks at 1 %
        QCOMPARE(visibleWindows(title).size(), 1);
        pressDismiss(visibleWindows(title).first());
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 0, 5000);
    }

    // A calendar feed account (its address in the keyring, served on 127.0.0.1) whose meeting
    // carries a Jitsi room: its reminder covers both screens and Return on the focused join
    // button hands the room's address to the desktop's opener.
    void feedMeetingJoinsItsJitsiRoom() {
        const QString title = u"E2E Feed Sync"_s;
        const QString room = u"https://meet.jit.si/ZelvaneFeedE2E"_s;
        const qint64 lead = 25;
        const qint64 start = QDateTime::currentSecsSinceEpoch() + lead;
        const QByteArray dtstart = QDateTime::fromSecsSinceEpoch(start, Qt::UTC)
                                       .toString(u"yyyyMMdd'T'HHmmss'Z'"_s)
                                       .toLatin1();
        const QByteArray ics = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//E2E//EN\r\n"
                               "BEGIN:VEVENT\r\nUID:e2e-feed\r\nSUMMARY:" +
                               title.toUtf8() + "\r\nDTSTART:" + dtstart +
                               "\r\nDURATION:PT30M\r\nLOCATION:" + room.toUtf8() +
                               "\r\nORGANIZER:mailto:lead@partner.test\r\n"
                               "END:VEVENT\r\nEND:VCALENDAR\r\n";
        LoopbackHttpServer feed;
        QVERIFY(feed.start());
        feed.respondWith({200, ics, "text/calendar", false});
        const QString address = feed.origin() + u"/private/e2e-secret.ics"_s;

        const QString accountId = u"6E3F0C7A-0000-4000-8000-00000000FEED"_s;
        writeAccount(accountId, u"Calendar Feed"_s, u"Team Feed"_s, {});
        QProcess store;
        store.start(u"secret-tool"_s,
                    {u"store"_s, u"--label=Zelvane calendar feed"_s, u"service"_s,
                     u"app.zelvane.Zelvane"_s, u"account"_s, u"calendar_feed_"_s + accountId});
        QVERIFY(store.waitForStarted());
        store.write(address.toUtf8());
        store.closeWriteChannel();
        QVERIFY(store.waitForFinished(10'000));
        QCOMPARE(store.exitCode(), 0);

        installOpener();
        startApp();

        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 2, (lead + 10) * 1000);
        QVERIFY(!feed.requests().isEmpty());
        QCOMPARE(feed.requests().first().path(), u"/private/e2e-secret.ics"_s);
        const QList<qulonglong> overlays = visibleWindows(title);
        QCOMPARE(sortedGeometries(overlays), screens);
        QTest::qWait(1200); // past the key guard, and the card has sprung in
        screenshot(u"feed-overlay.png"_s);

        // Focus starts on the join button; Return presses it.
        typeInto(overlays.first(), {u"Return"_s});
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 0, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(openedLinks(), QStringList{room}, 10'000);
        QCOMPARE(app.state(), QProcess::Running);

        // The address stayed out of the settings file.
        QFile conf(confPath());
        QVERIFY(conf.open(QIODevice::ReadOnly));
        QVERIFY(!conf.readAll().contains("e2e-secret"));
    }

    // Ended inside a reminder's window and started again on the same profile, Zelvane shows
    // the reminder once: the second run knows the first showed it.
    void restartInsideTheWindowShowsTheReminderOnce() {
        const QString title = u"E2E Restart"_s;
        const qint64 lead = 25;
        QVERIFY(!connectAccount({meeting(u"restart"_s, title, lead)}).isEmpty());
        const qint64 start = QDateTime::currentSecsSinceEpoch() + lead;
        startApp();
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 2, (lead + 10) * 1000);

        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(10'000));
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 0, 5000);
        startApp();
        // Until the window has closed (30 s after the start) and the late-reminder check of a
        // meeting under way has had its beats.
        while (QDateTime::currentSecsSinceEpoch() < start + 35) {
            QCOMPARE(visibleWindows(title).size(), 0);
            QTest::qWait(500);
        }
        QCOMPARE(app.state(), QProcess::Running);
        QVERIFY(QFileInfo::exists(home->path() + u"/data/Zelvane/FiredReminders.json"_s));
    }

    // A first run keeps the calendar's events; with the backend stopped, a second run still
    // reminds of the meeting from them, on both screens and on time.
    void offlineStartUpRemindsFromTheKeptEvents() {
        const QString title = u"E2E Offline"_s;
        const qint64 lead = 50;
        QVERIFY(!connectAccount({meeting(u"offline"_s, title, lead)}).isEmpty());
        const qint64 start = QDateTime::currentSecsSinceEpoch() + lead;
        const QString kept = home->path() + u"/data/Zelvane/Events.json"_s;
        const auto keeps = [&kept] {
            QFile file(kept);
            return file.open(QIODevice::ReadOnly) && file.readAll().contains("nylas_offline");
        };
        startApp();
        QTRY_VERIFY_WITH_TIMEOUT(keeps(), 20'000);
        QCOMPARE(QFile::permissions(kept) & 0x0077, QFile::Permissions());
        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(10'000));
        QVERIFY2(QDateTime::currentSecsSinceEpoch() < start - 20, "the first run took too long");

        backend.stop();
        startApp();
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 2, (lead + 10) * 1000);
        const qint64 shownAt = QDateTime::currentSecsSinceEpoch();
        QVERIFY2(shownAt >= start - 16 && shownAt <= start + 1,
                 qPrintable(u"shown %1 s before the start"_s.arg(start - shownAt)));
        QCOMPARE(sortedGeometries(visibleWindows(title)), screens);
        QCOMPARE(app.state(), QProcess::Running);
    }

    // A meeting added to the desktop's calendar store while Zelvane runs reaches the reminder
    // on both screens, and Return joins its link.
    void desktopMeetingArrivesLiveAndJoins() {
        DesktopStore store;
        QVERIFY(store.start());
        const QString calendarId = store.createCalendar(u"Work"_s, u"#2a7ae2"_s);
        writeAccount(u"6E3F0C7A-0000-4000-8000-0000000DE5C0"_s, u"Desktop Calendars"_s,
                     u"Desktop Calendars"_s, {});
        installOpener();
        startApp();
        // Settled in: the app follows the calendar before the meeting is written.
        QTest::qWait(3000);

        const QString title = u"E2E Desktop Sync"_s;
        const QString room = u"https://meet.jit.si/ZelvaneDesktopE2E"_s;
        const qint64 lead = 20;
        const QByteArray dtstart =
            QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() + lead, Qt::UTC)
                .toString(u"yyyyMMdd'T'HHmmss'Z'"_s)
                .toLatin1();
        store.put(calendarId, "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//E2E//EN\r\n"
                              "METHOD:PUBLISH\r\nBEGIN:VEVENT\r\nUID:e2e-desktop\r\n"
                              "DTSTAMP:20300101T000000Z\r\nSUMMARY:" +
                                  title.toUtf8() + "\r\nDTSTART:" + dtstart +
                                  "\r\nDURATION:PT30M\r\nLOCATION:" + room.toUtf8() +
                                  "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");

        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 2, (lead + 10) * 1000);
        const QList<qulonglong> overlays = visibleWindows(title);
        QCOMPARE(sortedGeometries(overlays), screens);
        QTest::qWait(1200); // past the key guard, and the card has sprung in
        screenshot(u"desktop-overlay.png"_s);
        typeInto(overlays.first(), {u"Return"_s});
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 0, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(openedLinks(), QStringList{room}, 10'000);
        QCOMPARE(app.state(), QProcess::Running);
    }

private:
    // The reminder's focus starts on "Dismiss" (no join button here); "1 min" sits before it.
    static void pressSnooze(qulonglong window) { typeInto(window, {u"shift+Tab"_s, u"space"_s}); }
    static void pressDismiss(qulonglong window) { typeInto(window, {u"Escape"_s}); }

private Q_SLOTS:
    // "Open Zelvane" in the tray menu opens the settings; switching the account's primary
    // calendar off from the keyboard takes its meeting out of the menu.
    void settingsSwitchesACalendarOff() {
        TrayHost host;
        QVERIFY(host.listen());
        const QString grantId = connectAccount({});
        QVERIFY(!grantId.isEmpty());
        // The stand-in names each grant's calendars after the grant; events are read from the
        // primary one. Hours away, so neither a reminder nor research gets in the way.
        const QString primary = u"cal-primary-"_s + grantId.left(8);
        QJsonObject planning = meeting(u"planning"_s, u"E2E Planning"_s, 3 * 3600);
        planning.insert(u"calendar_id"_s, primary);
        backend.admin("POST", u"events"_s,
                      {{"grantId", grantId}, {"events", QJsonArray{planning}}});
        startApp();

        QTRY_VERIFY_WITH_TIMEOUT(!host.item.isEmpty(), 20'000);
        const auto listed = [&host](const QString &title) {
            const QStringList labels = host.openMenuLabels();
            return std::any_of(labels.cbegin(), labels.cend(),
                               [&title](const QString &label) { return label.endsWith(title); });
        };
        QTRY_VERIFY2_WITH_TIMEOUT(listed(u"E2E Planning"_s),
                                  qPrintable(host.openMenuLabels().join(u'|')), 20'000);

        QVERIFY(host.click(u"Open Zelvane"_s));
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(u"Zelvane"_s).size(), 1, 10'000);
        const qulonglong window = visibleWindows(u"Zelvane"_s).first();
        QVERIFY(geometryOf(window).width() >= 620 && geometryOf(window).height() >= 420);

        // Keys typed before the window has taken focus would go nowhere.
        QTRY_COMPARE_WITH_TIMEOUT(run(u"xdotool"_s, {u"getactivewindow"_s}).trimmed().toULongLong(),
                                  window, 5000);
        // Focus opens on the sidebar's first tab. Down selects General, whose first control
        // folds the account's calendars open; the primary calendar's switch is next.
        typeInto(window, {u"Down"_s, u"Tab"_s, u"space"_s, u"Tab"_s, u"space"_s});
        const auto disabled = [this] {
            return QSettings(confPath(), QSettings::IniFormat)
                .value(u"disabledCalendars"_s)
                .toString();
        };
        QTRY_VERIFY_WITH_TIMEOUT(disabled().contains(primary), 5000);
        screenshot(u"settings-calendar-off.png"_s);
        QVERIFY(!disabled().contains(u"cal-team-"_s));

        QTRY_VERIFY2_WITH_TIMEOUT(!listed(u"E2E Planning"_s),
                                  qPrintable(host.openMenuLabels().join(u'|')), 10'000);
        QVERIFY(listed(u"No upcoming meetings"_s));

        // Covered by another window and opened again from the menu, the same window comes
        // back on top.
        fullscreen.start(QStringLiteral(E2E_XHELPER), {u"fullscreen"_s, u"Presentation"_s});
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(u"Presentation"_s).size(), 1, 10'000);
        QTRY_VERIFY_WITH_TIMEOUT(stackingOrder().value(stackingOrder().size() - 1) != window, 5000);
        QVERIFY(host.click(u"Open Zelvane"_s));
        QTRY_COMPARE_WITH_TIMEOUT(stackingOrder().value(stackingOrder().size() - 1), window, 5000);
        QCOMPARE(visibleWindows(u"Zelvane"_s), QList<qulonglong>{window});
        QCOMPARE(app.state(), QProcess::Running);
    }

    // A screen reader over AT-SPI: the settings sidebar reads as page tabs, whose action
    // opens the page; the calendar's switch is a check box whose action switches the calendar
    // off, and which then reads as unchecked.
    void settingsThroughAssistiveTools() {
        TrayHost host;
        QVERIFY(host.listen());
        const QString grantId = connectAccount({});
        QVERIFY(!grantId.isEmpty());
        const QString primary = u"cal-primary-"_s + grantId.left(8);
        startApp({u"QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"_s});
        QTRY_VERIFY_WITH_TIMEOUT(!host.item.isEmpty(), 20'000);
        QVERIFY(host.click(u"Open Zelvane"_s));
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(u"Zelvane"_s).size(), 1, 10'000);

        AtSpiClient atspi;
        QVERIFY2(atspi.connect(), qPrintable(atspi.error()));
        std::optional<AtSpiClient::Node> zelvane;
        QTRY_VERIFY_WITH_TIMEOUT((zelvane = [&]() -> std::optional<AtSpiClient::Node> {
                                     for (const AtSpiClient::Node &app : atspi.applications())
                                         if (atspi.name(app) == u"Zelvane"_s)
                                             return app;
                                     return std::nullopt;
                                 }()),
                                 20'000);
        const auto named = [&](const QString &role, const QString &name) {
            return atspi.find(*zelvane, [&](const AtSpiClient::Node &node) {
                return atspi.role(node) == role && atspi.name(node) == name &&
                       atspi.has(node, AtSpiClient::showing);
            });
        };
        const auto tabs = named(u"page tab list"_s, u"Settings"_s);
        QVERIFY(tabs);
        QStringList tabNames;
        for (const AtSpiClient::Node &tab : atspi.children(*tabs)) {
            QCOMPARE(atspi.role(tab), u"page tab"_s);
            tabNames << atspi.name(tab);
        }
        QCOMPARE(tabNames,
                 (QStringList{u"Accounts"_s, u"General"_s, u"AI Research (Beta)"_s, u"SMS"_s}));
        const auto general = named(u"page tab"_s, u"General"_s);
        QVERIFY(general && !atspi.has(*general, AtSpiClient::selected));
        QCOMPARE(atspi.actions(*general).value(0), u"Press"_s);
        QVERIFY(atspi.activate(*general));
        QTRY_VERIFY_WITH_TIMEOUT(atspi.has(*general, AtSpiClient::selected), 5000);
        QVERIFY(!atspi.has(*named(u"page tab"_s, u"Accounts"_s), AtSpiClient::selected));

        // The account's calendars fold open through the row's action; the primary calendar's
        // switch bears the calendar's name.
        std::optional<AtSpiClient::Node> fold;
        QTRY_VERIFY_WITH_TIMEOUT((fold = named(u"push button"_s, u"Calendars"_s)), 10'000);
        QVERIFY(atspi.activate(*fold));
        std::optional<AtSpiClient::Node> calendar;
        QTRY_VERIFY_WITH_TIMEOUT((calendar = named(u"check box"_s, u"e2e@zelvane.test"_s)), 10'000);
        QVERIFY(atspi.has(*calendar, AtSpiClient::checked));
        QVERIFY(atspi.activate(*calendar));
        const auto disabled = [this] {
            return QSettings(confPath(), QSettings::IniFormat)
                .value(u"disabledCalendars"_s)
                .toString();
        };
        QTRY_VERIFY_WITH_TIMEOUT(disabled().contains(primary), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!atspi.has(*calendar, AtSpiClient::checked), 5000);
        screenshot(u"settings-through-atspi.png"_s);
        QCOMPARE(app.state(), QProcess::Running);
    }

    // "Check for Updates…" opens the updater's window where the user is: with the pointer on
    // the second screen, centred across that screen with its title bar on it, and it stays
    // there when its failure page replaces the first one. Return closes it.
    void updateWindowOnThePointersScreen() {
        TrayHost host;
        QVERIFY(host.listen());
        startApp();
        QTRY_VERIFY_WITH_TIMEOUT(!host.item.isEmpty(), 20'000);
        run(u"xdotool"_s, {u"mousemove"_s, u"1900"_s, u"300"_s});
        QVERIFY(host.click(u"Check for Updates…"_s));
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(u"Software Update"_s).size(), 1, 10'000);
        const qulonglong window = visibleWindows(u"Software Update"_s).first();
        // The feed's port refuses at once; the failure page is the last one.
        QTest::qWait(1000);
        const QRect frame = frameOf(window);
        screenshot(u"update-window.png"_s);
        QVERIFY2(frame.height() > geometryOf(window).height(), "no title bar reported");
        QVERIFY2(screens[1].contains(frame), qPrintable(u"%1,%2 %3x%4"_s.arg(frame.x())
                                                            .arg(frame.y())
                                                            .arg(frame.width())
                                                            .arg(frame.height())));
        QVERIFY(std::abs(frame.center().x() - screens[1].center().x()) <= 2);
        typeInto(window, {u"Return"_s});
        QTRY_VERIFY_WITH_TIMEOUT(visibleWindows(u"Software Update"_s).isEmpty(), 5000);
        QCOMPARE(app.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
