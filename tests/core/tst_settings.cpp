#include "TestEnvironment.h"
#include "core/AppSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaEnum>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

using namespace std::chrono_literals;
using Seconds = QList<std::chrono::seconds>;

namespace {
bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Of the entry itself, never of what a link leads to.
mode_t modeOf(const QString &path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode : 0;
}
mode_t typeOf(const QString &path) {
    return modeOf(path) & S_IFMT;
}

QString folderIn(const TestEnvironment &env) {
    return env.configHome() + u"/Zelvane"_s;
}
QString fileIn(const TestEnvironment &env) {
    return folderIn(env) + u"/Zelvane.conf"_s;
}
} // namespace

class TestSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Values survive a restart in a file and folder that are the user's alone.
    void valuesSurviveARestart() {
        TestEnvironment env;
        const mode_t oldMask = ::umask(0);
        const auto restore = qScopeGuard([oldMask] { ::umask(oldMask); });
        {
            auto settings = env.makeSettings();
            QCOMPARE(settings->soundEnabled(), true);
            QCOMPARE(settings->launchAtLogin(), true);
            QCOMPARE(settings->respectDND(), false);
            QCOMPARE(settings->value(AppSettings::Key::BackgroundNoticeShown), QVariant(false));
            QCOMPARE(settings->hasCompletedOnboarding(), false);
            QCOMPARE(settings->reminderOffsets(u"any"_s), Seconds{0s});
            settings->setSoundEnabled(false);
            settings->setRespectDND(true);
            settings->setValue(AppSettings::Key::UpdateSkippedVersion, u"2.1"_s);
            settings->setHasCompletedOnboarding(true);
            settings->setLaunchAtLogin(false);
            settings->addReminder(ReminderOffset::tenMin, u"A"_s);
            settings->toggleCalendar(u"cal-1"_s);
            settings->toggleCalendar(u"x"_s);
            settings->toggleCalendar(u"x"_s);
        }
        auto settings = env.makeSettings();
        // The INI file hands back "false" as text: read in the default's type, it is no change.
        QSignalSpy changes(settings.get(), &AppSettings::changed);
        QCOMPARE(settings->value(AppSettings::Key::SoundEnabled), QVariant(false));
        settings->setSoundEnabled(false);
        QCOMPARE(changes.count(), 0);
        QCOMPARE(settings->respectDND(), true);
        QCOMPARE(settings->value(AppSettings::Key::UpdateSkippedVersion), QVariant(u"2.1"_s));
        QCOMPARE(settings->hasCompletedOnboarding(), true);
        QCOMPARE(settings->launchAtLogin(), false);
        QCOMPARE(settings->reminderOffsets(u"A"_s), Seconds{600s});
        QCOMPARE(settings->disabledCalendarIds(), QSet<QString>{u"cal-1"_s});
        QCOMPARE(QDir(folderIn(env)).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"Zelvane.conf"_s});
        QCOMPARE(modeOf(folderIn(env)), mode_t(S_IFDIR | 0700));
        QCOMPARE(modeOf(fileIn(env)), mode_t(S_IFREG | 0600));

        // The file lives where the desktop expects a program's configuration.
        QCOMPARE(AppSettings::defaultStore()->fileName(), fileIn(env));
        QSettings raw(fileIn(env), QSettings::IniFormat);
        QCOMPARE(raw.value(u"accountReminders"_s).toByteArray(), QByteArray(R"({"A":[10]})"));
        // A value that cannot take the key's type reads as the default.
        raw.setValue(u"SULastItem"_s, u"2.0"_s);
        raw.sync();
        QCOMPARE(env.makeSettings()->value(AppSettings::Key::UpdateLastItem),
                 QVariant(QVariantMap()));
    }

    // Anything but a regular file under the settings file's name is set aside, never followed:
    // what a link leads to is neither read nor written, and the settings start afresh in a file
    // of the user's. A folder others could write to is taken back.
    void settingsFileThatIsNotAFile_data() {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<bool>("storeMadeFirst"); // QSettings read the name before AppSettings
        QTest::newRow("link to a file") << u"link"_s << false;
        QTest::newRow("link to a file, store made first") << u"link"_s << true;
        QTest::newRow("dangling link") << u"dangling"_s << false;
        QTest::newRow("folder") << u"folder"_s << false;
        QTest::newRow("FIFO") << u"fifo"_s << false;
    }
    void settingsFileThatIsNotAFile() {
        QFETCH(QString, planted);
        QFETCH(bool, storeMadeFirst);
        TestEnvironment env;
        const QString folder = folderIn(env), path = fileIn(env);
        const QString outside = env.path() + u"/outside.conf"_s;
        const QByteArray outsideText = "[General]\nsoundEnabled=false\n";
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0775), 0);
        if (planted == u"link")
            QVERIFY(writeFile(outside, outsideText));
        if (planted == u"folder")
            QVERIFY(QDir().mkpath(path + u"/inside"_s));
        else if (planted == u"fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else
            QVERIFY(QFile::link(outside, path));
        const mode_t plantedType = typeOf(path);

        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(u"others could write to the folder"_s));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(u"not a regular file; it was set aside"_s));
        {
            AppSettings settings(storeMadeFirst
                                     ? std::make_unique<QSettings>(path, QSettings::IniFormat)
                                     : AppSettings::defaultStore());
            QCOMPARE(settings.soundEnabled(), true);
            settings.setRespectDND(true);
        }
        QCOMPARE(modeOf(folder), mode_t(S_IFDIR | 0700));
        QCOMPARE(modeOf(path), mode_t(S_IFREG | 0600));
        QFile target(outside);
        QCOMPARE(target.open(QIODevice::ReadOnly) ? target.readAll() : QByteArray("<none>"),
                 planted == u"link" ? outsideText : QByteArray("<none>"));
        const QStringList aside = QDir(folder).entryList(
            {u"Zelvane.conf.bad-*"_s}, QDir::AllEntries | QDir::System | QDir::Hidden);
        QCOMPARE(aside.size(), 1);
        QCOMPARE(typeOf(folder + u'/' + aside.first()), plantedType);
        QVERIFY(AppSettings(AppSettings::defaultStore()).respectDND());
    }

    // A settings file larger than the app writes is set aside before QSettings reads it,
    // which would cost seconds at every start; the app's settings in it stay when their line
    // is at most a sixteenth of the limit. The limit itself is inclusive.
    void oversizedSettingsFile_data() {
        QTest::addColumn<qsizetype>("overLimit");
        QTest::newRow("exactly the limit is read as it is") << qsizetype(0);
        QTest::newRow("one byte over is set aside") << qsizetype(1);
    }
    void oversizedSettingsFile() {
        QFETCH(qsizetype, overLimit);
        constexpr qsizetype limit = 1024 * 1024;
        TestEnvironment env;
        const QString folder = folderIn(env), path = fileIn(env);
        const auto line = [](const QByteArray &key, qsizetype length) {
            return key + '=' + QByteArray(length - key.size() - 1, 'v') + '\n';
        };
        const QByteArray longest = line("SUSkippedVersion", limit / 16);
        const QByteArray tooLong = line("backendOrigin", limit / 16 + 1);
        QByteArray text = "[General]\n" + longest + tooLong + "soundEnabled=false\nnotOurs=";
        const QByteArray end = "\nrespectDND=true\n";
        text += QByteArray(limit + overLimit - text.size() - end.size(), 'x') + end;
        QCOMPARE(text.size(), limit + overLimit);
        QVERIFY(QDir().mkpath(folder) && writeFile(path, text));

        if (overLimit > 0)
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(u"is larger than .* set aside"_s));
        AppSettings settings(AppSettings::defaultStore());
        QCOMPARE(settings.soundEnabled(), false);
        QCOMPARE(settings.respectDND(), true);
        QCOMPARE(settings.value(AppSettings::Key::UpdateSkippedVersion).toByteArray(),
                 longest.mid(17).chopped(1));
        QCOMPARE(settings.value(AppSettings::Key::BackendOrigin).toByteArray().size(),
                 overLimit ? 0 : tooLong.size() - 15);
        QCOMPARE(QSettings(path, QSettings::IniFormat).contains(u"notOurs"_s), overLimit == 0);
        QCOMPARE(modeOf(path), mode_t(S_IFREG | 0600));
        const QStringList aside = QDir(folder).entryList({u"Zelvane.conf.bad-*"_s}, QDir::Files);
        QCOMPARE(aside.size(), overLimit ? 1 : 0);
        if (overLimit) {
            QFile original(folder + u'/' + aside.first());
            QVERIFY(original.open(QIODevice::ReadOnly));
            QCOMPARE(original.readAll(), text);
        }
    }

    void reminderListOperations() {
        TestEnvironment env;
        auto settings = env.makeSettings();
        const QString account = u"ACC"_s;

        settings->addReminder(ReminderOffset::fifteenMin, account);
        settings->addReminder(ReminderOffset::fiveMin, account);
        QCOMPARE(settings->accountReminders().value(account),
                 (QList<ReminderOffset>{ReminderOffset::fiveMin, ReminderOffset::fifteenMin}));
        QCOMPARE(settings->reminderOffsets(account), (Seconds{900s, 300s}));

        // Adding an offset already present changes nothing, and says nothing.
        QSignalSpy writes(settings.get(), &AppSettings::changed);
        settings->addReminder(ReminderOffset::fiveMin, account);
        QCOMPARE(writes.count(), 0);
        QCOMPARE(settings->reminderOffsets(account), (Seconds{900s, 300s}));

        settings->addDefaultReminders(account);
        QCOMPARE(settings->reminderOffsets(account), (Seconds{900s, 300s}));

        settings->removeReminder(ReminderOffset::fifteenMin, account);
        settings->removeReminder(ReminderOffset::fiveMin, account);
        QVERIFY(settings->accountReminders().contains(account));
        QCOMPARE(settings->reminderOffsets(account), Seconds{});

        // An existing empty entry is not replaced by the default.
        settings->addDefaultReminders(account);
        QCOMPARE(settings->reminderOffsets(account), Seconds{});

        settings->removeReminders(account);
        QCOMPARE(settings->reminderOffsets(account), Seconds{0s});
        settings->addDefaultReminders(account);
        QCOMPARE(settings->accountReminders().value(account),
                 QList<ReminderOffset>{ReminderOffset::atStart});
    }

    void changeNamesItsKeyOnce() {
        TestEnvironment env;
        auto settings = env.makeSettings();
        QSignalSpy changes(settings.get(), &AppSettings::changed);
        QSignalSpy announcements(settings.get(), &AppSettings::aboutToChange);
        // The announcement comes before the write.
        bool soundWhenAnnounced = false;
        connect(settings.get(), &AppSettings::aboutToChange, this,
                [&] { soundWhenAnnounced = settings->soundEnabled(); });

        settings->setSoundEnabled(false);
        QVERIFY(soundWhenAnnounced);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(changes.takeFirst().first().value<AppSettings::Key>(),
                 AppSettings::Key::SoundEnabled);
        QCOMPARE(announcements.count(), 1);

        // The same value again, or the default written over nothing, is no change.
        settings->setSoundEnabled(false);
        settings->setValue(AppSettings::Key::UpdateDownloadsEnabled, false);
        QCOMPARE(changes.count(), 0);
        QVERIFY(settings->contains(AppSettings::Key::UpdateDownloadsEnabled));

        settings->setValue(AppSettings::Key::UpdateSkippedVersion, u"2.1"_s);
        settings->remove(AppSettings::Key::UpdateSkippedVersion);
        settings->remove(AppSettings::Key::UpdateSkippedVersion);
        QCOMPARE(changes.count(), 2);
        QCOMPARE(changes.at(1).first().value<AppSettings::Key>(),
                 AppSettings::Key::UpdateSkippedVersion);
        QCOMPARE(settings->value(AppSettings::Key::UpdateSkippedVersion), QVariant(QString()));
    }

    void everyKeyHasItsOwnStoredName() {
        const QMetaEnum keys = QMetaEnum::fromType<AppSettings::Key>();
        QSet<QString> names;
        for (int i = 0; i < keys.keyCount(); ++i) {
            const auto key = AppSettings::Key(keys.value(i));
            names.insert(AppSettings::storedName(key));
            QVERIFY2(AppSettings::defaultValue(key).isValid(), keys.key(i));
        }
        QCOMPARE(names.size(), keys.keyCount());
    }

    // Each account's alert style survives a restart; full-screen is the absence of an entry,
    // so choosing it where nothing is stored writes nothing. A record that does not read, or
    // names a style it does not know, leaves the account full-screen.
    void alertStylePerAccount_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("quiet");
        QTest::newRow("nothing") << QByteArray() << false;
        QTest::newRow("notifications only") << QByteArray(R"({"A":"notificationOnly"})") << true;
        QTest::newRow("another account") << QByteArray(R"({"B":"notificationOnly"})") << false;
        QTest::newRow("unknown style") << QByteArray(R"({"A":"whisper"})") << false;
        QTest::newRow("not an object") << QByteArray(R"(["A"])") << false;
        QTest::newRow("not json") << QByteArray("{\"A\":") << false;
    }
    void alertStylePerAccount() {
        QFETCH(QByteArray, stored);
        QFETCH(bool, quiet);
        TestEnvironment env;
        if (!stored.isEmpty()) {
            QSettings(fileIn(env), QSettings::IniFormat).setValue(u"accountAlertStyles"_s, stored);
        }
        auto settings = env.makeSettings();
        QCOMPARE(settings->alertStyle(u"A"_s),
                 quiet ? AlertStyle::notificationOnly : AlertStyle::fullScreen);
        QSignalSpy changes(settings.get(), &AppSettings::changed);
        settings->setAlertStyle(u"C"_s, AlertStyle::fullScreen);
        QCOMPARE(changes.count(), 0);
        settings->setAlertStyle(u"C"_s, AlertStyle::notificationOnly);
        settings->setAlertStyle(u"A"_s, AlertStyle::fullScreen);
        auto reread = env.makeSettings();
        QCOMPARE(reread->alertStyle(u"C"_s), AlertStyle::notificationOnly);
        QCOMPARE(reread->alertStyle(u"A"_s), AlertStyle::fullScreen);
        QCOMPARE(reread->alertStyle(u"B"_s),
                 stored.contains("\"B\"") ? AlertStyle::notificationOnly : AlertStyle::fullScreen);
    }

    void corruptStoredJson_data() {
        QTest::addColumn<QByteArray>("reminders");
        QTest::addColumn<QByteArray>("calendars");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("not json") << QByteArray("{oops") << QByteArray("[\"a\"");
        QTest::newRow("wrong shapes") << QByteArray("[1,2]") << QByteArray(R"({"a":1})");
        QTest::newRow("unknown lead time")
            << QByteArray(R"({"A":[5],"B":[3]})") << QByteArray(R"(["a",7])");
        QTest::newRow("fractional") << QByteArray(R"({"A":[1.5]})") << QByteArray("null");
        QTest::newRow("nested") << QByteArray(R"({"A":[[0]]})") << QByteArray("[[\"a\"]]");
        QTest::newRow("huge") << QByteArray(R"({"A":[1e300]})") << QByteArray("\"a\"");
    }

    void corruptStoredJson() {
        QFETCH(QByteArray, reminders);
        QFETCH(QByteArray, calendars);
        TestEnvironment env;
        {
            QSettings raw(fileIn(env), QSettings::IniFormat);
            raw.setValue(u"accountReminders"_s, reminders);
            raw.setValue(u"disabledCalendars"_s, calendars);
        }
        auto settings = env.makeSettings();
        QVERIFY(settings->accountReminders().isEmpty());
        QCOMPARE(settings->reminderOffsets(u"A"_s), Seconds{0s});
        QVERIFY(settings->disabledCalendarIds().isEmpty());
        // Writing over an unreadable value starts from empty and leaves readable JSON.
        settings->addReminder(ReminderOffset::twoMin, u"A"_s);
        QCOMPARE(settings->reminderOffsets(u"A"_s), Seconds{120s});
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
