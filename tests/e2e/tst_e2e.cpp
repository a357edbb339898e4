// The real zelvane binary against the backend stand-in on a real X server with two screens
// (run through run-on-xorg.sh). Windows are inspected and driven with xdotool, xprop and
// xwininfo, as a user's desktop would see them.
#include "BackendProcess.h"
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
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

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
    const QString out =
        run(QStringLiteral("xdotool"),
            {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
             QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$')});
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        ids << line.trimmed().toULongLong();
    return ids;
}

QRect geometryOf(qulonglong window) {
    const QString info =
        run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)});
    const auto field = [&info](const char *name) {
        const QRegularExpression re(QString::fromLatin1(name) + QStringLiteral(":\\s+(-?\\d+)"));
        return re.match(info).captured(1).toInt();
    };
    return {field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
            field("Height")};
}

// Managed windows, bottom to top.
QList<qulonglong> stackingOrder() {
    const QString out = run(QStringLiteral("xprop"),
                            {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")});
    QList<qulonglong> ids;
    static const QRegularExpression hex(QStringLiteral("0x[0-9a-fA-F]+"));
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
    run(QStringLiteral("xdotool"),
        {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(window)});
    run(QStringLiteral("xdotool"),
        QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("100")} +
            keys);
}

void screenshot(const QString &name) {
    const QString dir = qEnvironmentVariable("ZELVANE_E2E_ARTIFACTS");
    QDir().mkpath(dir);
    int code = -1;
    run(QStringLiteral(E2E_XHELPER), {QStringLiteral("screenshot"), dir + QLatin1Char('/') + name},
        &code);
    QCOMPARE(code, 0);
}

} // namespace

// ---- Settings from the tray menu -------------------------------------------------------------
// A panel's tray host as the desktop would run it: a StatusNotifierWatcher on the session bus
// that the app's tray icon registers with, and whose menu is read and clicked over dbusmenu.
namespace {
struct TrayMenuItem {
    int id = 0;
    QString label;
};

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

void collectMenu(const QDBusArgument &node, QList<TrayMenuItem> &items) {
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
    if (properties.contains(QStringLiteral("label")))
        items << TrayMenuItem{id, properties.value(QStringLiteral("label")).toString()};
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
        return bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                  QDBusConnection::ExportAllSlots |
                                      QDBusConnection::ExportAllProperties) &&
               bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }

    // The menu as a panel shows it: announced as about to open, then read.
    QList<TrayMenuItem> openMenu() const {
        QDBusMessage get = QDBusMessage::createMethodCall(
            item, QStringLiteral("/StatusNotifierItem"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("Menu");
        const QDBusMessage path = callServing(get);
        if (path.type() != QDBusMessage::ReplyMessage)
            return {};
        const QString menu = qvariant_cast<QDBusObjectPath>(
                                 path.arguments().constFirst().value<QDBusVariant>().variant())
                                 .path();
        callServing(menuCall(menu, QStringLiteral("AboutToShow")) << 0);
        const QDBusMessage layout =
            callServing(menuCall(menu, QStringLiteral("GetLayout")) << 0 << -1 << QStringList());
        if (layout.type() != QDBusMessage::ReplyMessage || layout.arguments().size() != 2)
            return {};
        QList<TrayMenuItem> items;
        collectMenu(qvariant_cast<QDBusArgument>(layout.arguments().at(1)), items);
        m_menu = menu;
        return items;
    }

    QStringList openMenuLabels() const {
        QStringList labels;
        for (const TrayMenuItem &entry : openMenu())
            labels << entry.label;
        return labels;
    }

    bool click(const QString &label) const {
        for (const TrayMenuItem &entry : openMenu()) {
            if (entry.label != label)
                continue;
            const QDBusMessage reply =
                callServing(menuCall(m_menu, QStringLiteral("Event"))
                            << entry.id << QStringLiteral("clicked")
                            << QVariant::fromValue(QDBusVariant(0)) << uint(0));
            return reply.type() == QDBusMessage::ReplyMessage;
        }
        return false;
    }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString &service) { item = service; }
    void RegisterStatusNotifierHost(const QString &) {}

private:
    QDBusMessage menuCall(const QString &menu, const QString &method) const {
        return QDBusMessage::createMethodCall(item, menu, QStringLiteral("com.canonical.dbusmenu"),
                                              method);
    }

    mutable QString m_menu;
};
// ---- end of settings from the tray menu ------------------------------------------------------

class TestEndToEnd : public QObject {
    Q_OBJECT

private:
    BackendProcess backend{{QStringLiteral("--port"), QStringLiteral("0")}};
    QProcess app;
    QProcess fullscreen;
    std::unique_ptr<QTemporaryDir> home;

    QString confPath() const {
        return home->path() + QStringLiteral("/config/Zelvane/Zelvane.conf");
    }

    void writeAccount(const QString &id, const QString &provider, const QString &email,
                      const QString &grantId) {
        const QJsonObject account{
            {"id", id}, {"provider", provider}, {"email", email}, {"grantId", grantId}};
        QSettings(confPath(), QSettings::IniFormat)
            .setValue(QStringLiteral("connectedAccounts"),
                      QJsonDocument(QJsonArray{account}).toJson(QJsonDocument::Compact));
    }

    // A grant on the stand-in with exactly these events, connected in a fresh profile; its id,
    // or empty when the stand-in refused.
    QString connectAccount(const QJsonArray &events) {
        const QString grantId = backend
                                    .admin("POST", QStringLiteral("grants"),
                                           {{"email", "e2e@zelvane.test"}, {"provider", "google"}})
                                    .value(QStringLiteral("grantId"))
                                    .toString();
        backend.admin("POST", QStringLiteral("events"), {{"grantId", grantId}, {"events", events}});
        writeAccount(QStringLiteral("6E3F0C7A-0000-4000-8000-00000000E2E0"),
                     QStringLiteral("Google"), QStringLiteral("e2e@zelvane.test"), grantId);
        return grantId;
    }

    static QJsonObject meeting(const QString &id, const QString &title, qint64 startsInSeconds) {
        const qint64 start = QDateTime::currentSecsSinceEpoch() + startsInSeconds;
        return {{"id", id},
                {"title", title},
                {"when", QJsonObject{{"start_time", start}, {"end_time", start + 1800}}}};
    }

    void startApp() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("HOME"), home->path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home->path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home->path() + QStringLiteral("/data"));
        env.insert(QStringLiteral("ZELVANE_BACKEND_ORIGIN"), backend.origin());
        env.insert(QStringLiteral("ZELVANE_SLACK_ORIGIN"), backend.origin());
        env.insert(QStringLiteral("ZELVANE_POWER_SUPPLY_DIR"),
                   home->path() + QStringLiteral("/power"));
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(ZELVANE_BINARY), {});
        QVERIFY(app.waitForStarted());
    }

    void writePowerSupply(int capacity, const QString &status) {
        const QString dir = home->path() + QStringLiteral("/power/BAT0");
        QDir().mkpath(dir);
        const auto write = [&dir](const char *name, const QString &text) {
            QFile file(dir + QLatin1Char('/') + QLatin1String(name));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(text.toUtf8() + '\n');
        };
        write("type", QStringLiteral("Battery"));
        write("capacity", QString::number(capacity));
        write("status", status);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(backend.start(), qPrintable(backend.error())); }

    void init() {
        home = std::make_unique<QTemporaryDir>();
        QVERIFY(home->isValid());
        QSettings conf(confPath(), QSettings::IniFormat);
        conf.setValue(QStringLiteral("hasCompletedOnboarding"), true);
        conf.setValue(QStringLiteral("launchAtLogin"), false);
        QDir().mkpath(home->path() + QStringLiteral("/power"));
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
            return run(QStringLiteral("dbus-send"),
                       {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                        QStringLiteral("--dest=org.freedesktop.DBus"),
                        QStringLiteral("/org/freedesktop/DBus"),
                        QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                        QStringLiteral("string:app.zelvane.Zelvane")})
                .contains(QStringLiteral("boolean true"));
        };
        QTRY_VERIFY_WITH_TIMEOUT(ownsName(), 20'000);
        const auto windowsOfApp = [this] {
            return run(QStringLiteral("xdotool"),
                       {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                        QStringLiteral("--pid"), QString::number(app.processId())})
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
            QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(QStringLiteral("Zelvane")).size(), 1, 10'000);
        }
        QCOMPARE(windowsOfApp().toULongLong(), visibleWindows(QStringLiteral("Zelvane")).first());

        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(10'000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QCOMPARE(app.readAllStandardOutput(), QByteArray());
    }

    // A reminder covers both screens above a full-screen window in the last 15 s before the
    // meeting; "1 min" takes it down and brings it back a minute later; Dismiss removes it.
    void reminderOnEveryScreenSnoozeAndDismiss() {
        fullscreen.start(QStringLiteral(E2E_XHELPER),
                         {QStringLiteral("fullscreen"), QStringLiteral("Presentation")});
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(QStringLiteral("Presentation")).size(), 1, 10'000);
        const qulonglong presentation = visibleWindows(QStringLiteral("Presentation")).first();

        const QString title = QStringLiteral("E2E Standup");
        const qint64 lead = 25;
        QVERIFY(!connectAccount({meeting(QStringLiteral("standup"), title, lead)}).isEmpty());
        const qint64 start = QDateTime::currentSecsSinceEpoch() + lead;
        startApp();

        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 2, (lead + 10) * 1000);
        const qint64 shownAt = QDateTime::currentSecsSinceEpoch();
        QVERIFY2(shownAt >= start - 16 && shownAt <= start + 1,
                 qPrintable(QStringLiteral("shown %1 s before the start").arg(start - shownAt)));

        QList<qulonglong> overlays = visibleWindows(title);
        QCOMPARE(sortedGeometries(overlays), screens);
        const QList<qulonglong> stacking = stackingOrder();
        QVERIFY(stacking.contains(presentation));
        for (qulonglong overlay : overlays)
            QVERIFY2(stacking.indexOf(overlay) > stacking.indexOf(presentation),
                     "the reminder is below the full-screen window");
        QTest::qWait(800); // let the card finish springing in before the picture
        screenshot(QStringLiteral("overlay.png"));

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
        writePowerSupply(1, QStringLiteral("Discharging"));
        qputenv("ZELVANE_BATTERY_CHECK_SECONDS", "2");
        startApp();
        const QString title = QStringLiteral("Battery Critical");
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 1, 20'000);
        QCOMPARE(geometryOf(visibleWindows(title).first()), screens.first());
        QTest::qWait(800);
        screenshot(QStringLiteral("battery-alert.png"));

        QTest::qWait(5000); // two more checks at 1 %
        QCOMPARE(visibleWindows(title).size(), 1);
        pressDismiss(visibleWindows(title).first());
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 0, 5000);
    }

    // ---- Calendar feed scenario -------------------------------------------------------------
    // A calendar feed account (its address in the keyring, served on 127.0.0.1) whose meeting
    // carries a Jitsi room: its reminder covers both screens and Return on the focused join
    // button hands the room's address to the desktop's opener.
    void feedMeetingJoinsItsJitsiRoom() {
        const QString title = QStringLiteral("E2E Feed Sync");
        const QString room = QStringLiteral("https://meet.jit.si/ZelvaneFeedE2E");
        const qint64 lead = 25;
        const qint64 start = QDateTime::currentSecsSinceEpoch() + lead;
        const QByteArray dtstart = QDateTime::fromSecsSinceEpoch(start, Qt::UTC)
                                       .toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"))
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
        const QString address = feed.origin() + QStringLiteral("/private/e2e-secret.ics");

        const QString accountId = QStringLiteral("6E3F0C7A-0000-4000-8000-00000000FEED");
        writeAccount(accountId, QStringLiteral("Calendar Feed"), QStringLiteral("Team Feed"), {});
        QProcess store;
        store.start(QStringLiteral("secret-tool"),
                    {QStringLiteral("store"), QStringLiteral("--label=Zelvane calendar feed"),
                     QStringLiteral("service"), QStringLiteral("app.zelvane.Zelvane"),
                     QStringLiteral("account"), QStringLiteral("calendar_feed_") + accountId});
        QVERIFY(store.waitForStarted());
        store.write(address.toUtf8());
        store.closeWriteChannel();
        QVERIFY(store.waitForFinished(10'000));
        QCOMPARE(store.exitCode(), 0);

        // The desktop's opener is a script that records what it was given.
        const QString bin = home->path() + QStringLiteral("/bin");
        const QString openedLog = home->path() + QStringLiteral("/opened.txt");
        QDir().mkpath(bin);
        QFile opener(bin + QStringLiteral("/xdg-open"));
        QVERIFY(opener.open(QIODevice::WriteOnly));
        opener.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + openedLog.toUtf8() + "\"\n");
        opener.close();
        QVERIFY(opener.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ExeOwner));
        // Each scenario runs in a process of its own, so the changed PATH ends with it.
        qputenv("PATH", (bin + QLatin1Char(':')).toUtf8() + qgetenv("PATH"));
        startApp();

        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 2, (lead + 10) * 1000);
        QVERIFY(!feed.requests().isEmpty());
        QCOMPARE(feed.requests().first().path(), QStringLiteral("/private/e2e-secret.ics"));
        const QList<qulonglong> overlays = visibleWindows(title);
        QCOMPARE(sortedGeometries(overlays), screens);
        QTest::qWait(1200); // past the key guard, and the card has sprung in
        screenshot(QStringLiteral("feed-overlay.png"));

        // Focus starts on the join button; Return presses it.
        typeInto(overlays.first(), {QStringLiteral("Return")});
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(title).size(), 0, 5000);
        const auto opened = [&openedLog] {
            QFile log(openedLog);
            return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll())
                                                       .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                                                 : QStringList();
        };
        QTRY_COMPARE_WITH_TIMEOUT(opened(), QStringList{room}, 10'000);
        QCOMPARE(app.state(), QProcess::Running);

        // The address stayed out of the settings file.
        QFile conf(confPath());
        QVERIFY(conf.open(QIODevice::ReadOnly));
        QVERIFY(!conf.readAll().contains("e2e-secret"));
    }
    // ---- end of the calendar feed scenario --------------------------------------------------

private:
    // The reminder's focus starts on "Dismiss" (no join button here); "1 min" sits before it.
    static void pressSnooze(qulonglong window) {
        typeInto(window, {QStringLiteral("shift+Tab"), QStringLiteral("space")});
    }
    static void pressDismiss(qulonglong window) { typeInto(window, {QStringLiteral("Escape")}); }

    // ---- Settings from the tray menu ---------------------------------------------------------
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
        const QString primary = QStringLiteral("cal-primary-") + grantId.left(8);
        QJsonObject planning =
            meeting(QStringLiteral("planning"), QStringLiteral("E2E Planning"), 3 * 3600);
        planning.insert(QStringLiteral("calendar_id"), primary);
        backend.admin("POST", QStringLiteral("events"),
                      {{"grantId", grantId}, {"events", QJsonArray{planning}}});
        startApp();

        QTRY_VERIFY_WITH_TIMEOUT(!host.item.isEmpty(), 20'000);
        const auto listed = [&host](const QString &title) {
            const QStringList labels = host.openMenuLabels();
            return std::any_of(labels.cbegin(), labels.cend(),
                               [&title](const QString &label) { return label.endsWith(title); });
        };
        QTRY_VERIFY2_WITH_TIMEOUT(listed(QStringLiteral("E2E Planning")),
                                  qPrintable(host.openMenuLabels().join(u'|')), 20'000);

        QVERIFY(host.click(QStringLiteral("Open Zelvane")));
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(QStringLiteral("Zelvane")).size(), 1, 10'000);
        const qulonglong window = visibleWindows(QStringLiteral("Zelvane")).first();
        QVERIFY(geometryOf(window).width() >= 620 && geometryOf(window).height() >= 420);

        // Keys typed before the window has taken focus would go nowhere.
        QTRY_COMPARE_WITH_TIMEOUT(
            run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")})
                .trimmed()
                .toULongLong(),
            window, 5000);
        // Focus opens on the sidebar's first tab. Down selects General, whose first control
        // folds the account's calendars open; the primary calendar's switch is next.
        typeInto(window, {QStringLiteral("Down"), QStringLiteral("Tab"), QStringLiteral("space"),
                          QStringLiteral("Tab"), QStringLiteral("space")});
        const auto disabled = [this] {
            return QSettings(confPath(), QSettings::IniFormat)
                .value(QStringLiteral("disabledCalendars"))
                .toString();
        };
        QTRY_VERIFY_WITH_TIMEOUT(disabled().contains(primary), 5000);
        screenshot(QStringLiteral("settings-calendar-off.png"));
        QVERIFY(!disabled().contains(QStringLiteral("cal-team-")));

        QTRY_VERIFY2_WITH_TIMEOUT(!listed(QStringLiteral("E2E Planning")),
                                  qPrintable(host.openMenuLabels().join(u'|')), 10'000);
        QVERIFY(listed(QStringLiteral("No upcoming meetings")));

        // Covered by another window and opened again from the menu, the same window comes
        // back on top.
        fullscreen.start(QStringLiteral(E2E_XHELPER),
                         {QStringLiteral("fullscreen"), QStringLiteral("Presentation")});
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(QStringLiteral("Presentation")).size(), 1, 10'000);
        QTRY_VERIFY_WITH_TIMEOUT(stackingOrder().value(stackingOrder().size() - 1) != window, 5000);
        QVERIFY(host.click(QStringLiteral("Open Zelvane")));
        QTRY_COMPARE_WITH_TIMEOUT(stackingOrder().value(stackingOrder().size() - 1), window, 5000);
        QCOMPARE(visibleWindows(QStringLiteral("Zelvane")), QList<qulonglong>{window});
        QCOMPARE(app.state(), QProcess::Running);
    }
    // ---- end of settings from the tray menu --------------------------------------------------
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
