// Every window in German. The suite runs under LANGUAGE=de: the app's translations load for the
// system locale, and no text that the German translation covers may be met in English, whether
// shown, read out by a screen reader or offered in a menu.
#include "BackendProcess.h"
#include "ManualClock.h"
#include "TestEnvironment.h"
#include "WidgetTestSupport.h"
#include "app/AppServices.h"
#include "app/StatusMenu.h"
#include "app/Translations.h"
#include "core/AppSettings.h"
#include "models/AddFeedModel.h"
#include "models/OnboardingFlow.h"
#include "sync/SMSService.h"
#include "ui/AppDialog.h"
#include "ui/BatteryAlertView.h"
#include "ui/BriefPreviewView.h"
#include "ui/CalendarFeedForm.h"
#include "ui/OnboardingView.h"
#include "ui/ReminderOverlayView.h"
#include "ui/UpdateDialog.h"
#include "ui/settings/AccountsContent.h"
#include "ui/settings/GeneralContent.h"
#include "ui/settings/SettingsView.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QMenu>
#include <QRegularExpression>
#include <QXmlStreamReader>

using namespace Qt::StringLiterals;
using namespace WidgetTest;

namespace {
const QDateTime meetingStart(QDate(2027, 1, 15), QTime(10, 0), Qt::UTC);

// The English source texts that the German file translates into something else, each as a
// pattern: a number stands for %n, any text for %1..%9. A text ending in a space is the start
// of a longer one ("NOW • " and the time range after it).
QList<QRegularExpression> translatedEnglish(const QString &tsFile) {
    QFile file(tsFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QRegularExpression> patterns;
    QXmlStreamReader xml(&file);
    QString source;
    QStringList translations;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == u"message") {
            source.clear();
            translations.clear();
        } else if (xml.isStartElement() && xml.name() == u"source") {
            source = xml.readElementText();
        } else if (xml.isStartElement() &&
                   (xml.name() == u"translation" || xml.name() == u"numerusform")) {
            const QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            if (!text.isEmpty())
                translations << text;
        } else if (xml.isEndElement() && xml.name() == u"message") {
            if (translations.isEmpty() ||
                std::all_of(translations.begin(), translations.end(),
                            [&](const QString &t) { return t == source; }))
                continue;
            QString pattern = QRegularExpression::escape(source);
            pattern.replace(u"\\%n"_s, u"\\d+"_s);
            pattern.replace(QRegularExpression(u"\\\\%[1-9]"_s), u".*"_s);
            pattern = source.endsWith(u' ') ? u"^"_s + pattern : u"^"_s + pattern + u'$';
            patterns << QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption);
        }
    }
    return xml.hasError() ? QList<QRegularExpression>() : patterns;
}

void addMenuTexts(const QMenu *menu, QStringList &texts) {
    texts << menu->title() << menu->accessibleName();
    for (const QAction *action : menu->actions()) {
        texts << action->text() << action->toolTip();
        if (action->menu())
            addMenuTexts(action->menu(), texts);
    }
}

// Every text a person can meet in `root`, hidden parts included (a step or state not shown
// yet): titles, labels, buttons, names and descriptions for screen readers, placeholders,
// tool tips, list entries and menu entries.
QStringList textsOf(const QWidget *root) {
    QList<const QWidget *> widgets{root};
    for (const QWidget *w : root->findChildren<QWidget *>())
        widgets << w;
    QStringList texts;
    for (const QWidget *w : widgets) {
        texts << w->windowTitle() << w->accessibleName() << w->accessibleDescription()
              << w->toolTip();
        if (const auto *label = qobject_cast<const QLabel *>(w))
            texts << shownText(label);
        if (const auto *button = qobject_cast<const QAbstractButton *>(w))
            texts << button->text();
        if (const auto *edit = qobject_cast<const QLineEdit *>(w))
            texts << edit->placeholderText();
        if (const auto *box = qobject_cast<const QComboBox *>(w))
            for (int i = 0; i < box->count(); ++i)
                texts << box->itemText(i);
        if (const auto *menu = qobject_cast<const QMenu *>(w))
            addMenuTexts(menu, texts);
    }
    texts.removeAll(QString());
    return texts;
}

CalendarEvent meeting(std::optional<QUrl> link, std::optional<QString> location = std::nullopt) {
    CalendarEvent e;
    e.id = u"quartal"_s;
    e.title = u"Quartalsplanung"_s;
    e.startDate = meetingStart;
    e.endDate = meetingStart.addSecs(30 * 60);
    e.calendarTitle = u"Arbeit"_s;
    e.meetingLink = std::move(link);
    e.location = std::move(location);
    return e;
}

const MeetingBrief brief{
    u"quartal"_s,
    meetingStart.addSecs(-3600),
    {u"Die Verlängerung steht an"_s},
    {{u"dana@example.org"_s, u"Dana Lee"_s, u"Einkauf"_s, u"Nordwind"_s, {}, {}, {}, {}}},
    {u"Nach dem Pilotprojekt fragen"_s}};
} // namespace

class TestTranslations : public QObject {
    Q_OBJECT

    std::unique_ptr<Translations> translations;
    QList<QRegularExpression> english;

    // The texts that are still the English that German translates.
    QStringList untranslated(const QStringList &texts) const {
        QStringList found;
        for (const QString &text : texts)
            for (const QRegularExpression &pattern : english)
                if (pattern.match(text).hasMatch() && !found.contains(text))
                    found << text;
        return found;
    }

    // Fails with the English texts found in `root`; `root` must show something.
    void verifyGerman(const QWidget *root) const {
        const QStringList texts = textsOf(root);
        QVERIFY(!texts.isEmpty());
        QCOMPARE(untranslated(texts), QStringList());
    }

private Q_SLOTS:
    void initTestCase() {
        QCOMPARE(QLocale::system().uiLanguages().value(0).left(2), u"de"_s);
        translations = std::make_unique<Translations>();
        QVERIFY(translations->ownLoaded());
        english = translatedEnglish(QStringLiteral(ZELVANE_GERMAN_TS));
        QVERIFY(english.size() > 200);
    }

    // A locale finds the translation of its language, a region of it included; others keep
    // the English texts.
    void locales_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<bool>("translated");
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << true;
        QTest::newRow("Austrian German") << QLocale(QLocale::German, QLocale::Austria) << true;
        QTest::newRow("French") << QLocale(QLocale::French, QLocale::France) << false;
        QTest::newRow("C") << QLocale::c() << false;
    }
    void locales() {
        QFETCH(QLocale, locale);
        QFETCH(bool, translated);
        QCOMPARE(Translations(locale).ownLoaded(), translated);
    }

    // The check itself: English that German covers is caught, in whole or, for a text that
    // goes on, at its start; German, names and numbers pass.
    void patterns_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("english");
        QTest::newRow("button") << u"Dismiss"_s << true;
        QTest::newRow("count") << u"in 4 min"_s << true;
        QTest::newRow("placeholder") << u"Paste your Claude API key"_s << true;
        QTest::newRow("start of a line") << u"NOW • 10:00 – 10:30"_s << true;
        QTest::newRow("German") << u"Schließen"_s << false;
        QTest::newRow("same in both") << u"OK"_s << false;
        QTest::newRow("a name") << u"Zoom"_s << false;
        QTest::newRow("longer English") << u"Dismiss all"_s << false;
    }
    void patterns() {
        QFETCH(QString, text);
        QFETCH(bool, english);
        QCOMPARE(untranslated({text}).isEmpty(), !english);
    }

    // The plural forms: one and more than one, in texts built from counts.
    void plurals_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("german");
        const QDateTime now = meetingStart;
        QTest::newRow("a minute ago") << BriefPreviewView::preparedText(now.addSecs(-60), now)
                                      << u"Vorbereitet vor 1 Minute"_s;
        QTest::newRow("minutes ago") << BriefPreviewView::preparedText(now.addSecs(-180), now)
                                     << u"Vorbereitet vor 3 Minuten"_s;
        QTest::newRow("days ahead")
            << BriefPreviewView::preparedText(now.addDays(3), now) << u"Vorbereitet in 3 Tagen"_s;
        QTest::newRow("yesterday")
            << BriefPreviewView::preparedText(now.addDays(-1), now) << u"Vorbereitet gestern"_s;
        QTest::newRow("starting")
            << meeting({}).reminderTimeText(now.addSecs(-5 * 60)).section(u'•', 0, 0)
            << u"Beginnt in 5 Min. "_s;
        QTest::newRow("started")
            << meeting({}).reminderTimeText(now.addSecs(2 * 60)).section(u'•', 0, 0)
            << u"Seit 2 Min. begonnen "_s;
    }
    void plurals() {
        QFETCH(QString, text);
        QFETCH(QString, german);
        QCOMPARE(text, german);
    }

    void onboarding() {
        TestEnvironment env;
        const auto settings = env.makeSettings();
        AppServices services(*settings, Clock::system());
        OnboardingView view(services.calendar);
        QVERIFY(showActive(&view, {OnboardingView::contentWidth, OnboardingView::contentHeight}));
        verifyGerman(&view);
        QVERIFY(shows(&view, u"Willkommen bei Zelvane"_s));
        view.flow()->forward();
        verifyGerman(&view);
        QTest::mouseClick(view.providerRow(CalendarProvider::feed)->connectButton(),
                          Qt::LeftButton);
        QVERIFY(view.feedForm()->isVisible());
        verifyGerman(&view);
        QVERIFY(shows(&view, u"Adresse"_s));
    }

    // Each tab with an account and its calendars, and the update banner.
    void settings() {
        BackendProcess standIn;
        QVERIFY2(standIn.start(), qPrintable(standIn.error()));
        qputenv("ZELVANE_BACKEND_ORIGIN", standIn.origin().toUtf8());
        TestEnvironment env;
        const auto settings = env.makeSettings();
        const QJsonObject g = standIn.admin(
            "POST", u"grants"_s, {{"email", u"sam@northwind.test"_s}, {"provider", u"google"_s}});
        const ConnectedAccount account = ConnectedAccount::create(
            CalendarProvider::google, u"sam@northwind.test"_s, g.value("grantId").toString());
        settings->setValue(AppSettings::Key::ConnectedAccounts,
                           QJsonDocument(QJsonArray{account.toJson()}).toJson());
        AppServices services(*settings, Clock::system());
        SMSService sms(services.backend, services.secrets, *settings, Clock::system());
        SettingsView view(SettingsServices{*settings, services.calendar, services.slack,
                                           services.llm, sms, services.secrets});
        services.calendar.fetchEvents();
        QVERIFY(showActive(&view, {720, 520}));
        QTRY_COMPARE_WITH_TIMEOUT(services.calendar.accountCalendars().size(), 1, 10'000);
        QTRY_VERIFY_WITH_TIMEOUT(!services.calendar.isLoading(), 10'000);
        view.setUpdateAvailable(true);
        for (SidebarTab tab : SidebarTabs::all()) {
            view.selectTab(tab);
            QVERIFY(view.tabContent(tab)->isVisible());
            verifyGerman(&view);
        }
        QTest::keyClick(view.general()->findChild<QAbstractButton *>(u"calendars:"_s + account.id),
                        Qt::Key_Space);
        verifyGerman(&view);
        QVERIFY(shows(view.accounts(), u"Konten"_s));
    }

    void reminder_data() {
        QTest::addColumn<CalendarEvent>("event");
        QTest::addColumn<bool>("withBrief");
        QTest::newRow("Zoom, with a brief") << meeting(QUrl(u"https://zoom.us/j/1"_s)) << true;
        QTest::newRow("another service")
            << meeting(QUrl(u"https://meet.jit.si/quartal"_s)) << false;
        QTest::newRow("in a room") << meeting({}, u"Raum 4"_s) << false;
    }
    void reminder() {
        QFETCH(CalendarEvent, event);
        QFETCH(bool, withBrief);
        ManualClock clock(meetingStart.addSecs(-3 * 60));
        ReminderOverlayView view(event, withBrief ? std::optional(brief) : std::nullopt, clock);
        view.resize(1000, 800);
        view.show();
        verifyGerman(&view);
        QVERIFY(textsOf(&view).contains(u"Schließen"_s));
    }

    void briefPreview_data() {
        QTest::addColumn<CalendarEvent>("event");
        QTest::newRow("Zoom") << meeting(QUrl(u"https://zoom.us/j/1"_s));
        QTest::newRow("another service") << meeting(QUrl(u"https://meet.jit.si/quartal"_s));
    }
    void briefPreview() {
        QFETCH(CalendarEvent, event);
        ManualClock clock(meetingStart);
        BriefPreviewView view(event, brief, clock);
        view.show();
        verifyGerman(&view);
    }

    void batteryAlert() {
        BatteryAlertView view;
        view.show();
        verifyGerman(&view);
    }

    void updateDialog() {
        UpdateDialog dialog;
        const QList<std::function<void()>> steps{
            [&] { dialog.showChecking(); },
            [&] { dialog.showUpToDate(u"1.2.0"_s); },
            [&] {
                dialog.showUpdateFound(u"1.3.0"_s, u"1.2.0"_s, u"Schnellere Erinnerungen."_s, {});
            },
            [&] { dialog.showUpdateFound(u"1.3.0"_s, u"1.2.0"_s, {}, QUrl(u"https://x.test/"_s)); },
            [&] { dialog.showDownloading(); },
            [&] { dialog.showInstalling(); },
            [&] { dialog.showHandedToInstaller(); },
            [&] { dialog.showError(u"Das Update konnte nicht heruntergeladen werden."_s); },
        };
        for (const auto &step : steps) {
            step();
            verifyGerman(&dialog);
        }
    }

    void confirmation() {
        ConfirmationDialog dialog(u"sam@northwind.test entfernen?"_s, u"Weg ist weg."_s,
                                  u"Entfernen"_s);
        verifyGerman(&dialog);
        QVERIFY(button(&dialog, u"Abbrechen"_s));
    }

    void feedForm() {
        TestEnvironment env;
        const auto settings = env.makeSettings();
        AppServices services(*settings, Clock::system());
        AddFeedModel model(services.calendar);
        CalendarFeedForm form(model);
        verifyGerman(&form);
    }

    // The tray menu in each of its states: no calendar; an update and meetings, one under way,
    // one soon with its brief ready; nothing ahead.
    void trayMenu_data() {
        QTest::addColumn<StatusMenuState>("state");
        StatusMenuState empty;
        empty.now = meetingStart;
        empty.hasCalendar = false;
        QTest::newRow("no calendar") << empty;
        StatusMenuState busy = empty;
        busy.hasCalendar = true;
        busy.updateAvailable = true;
        CalendarEvent now = meeting(QUrl(u"https://zoom.us/j/1"_s));
        now.id = u"now"_s;
        now.startDate = meetingStart.addSecs(-60);
        CalendarEvent soon = meeting(QUrl(u"https://zoom.us/j/2"_s));
        soon.startDate = meetingStart.addSecs(3 * 60);
        busy.events = {now, soon};
        busy.briefs.insert(soon.id, brief);
        QTest::newRow("update and meetings") << busy;
        StatusMenuState quiet = empty;
        quiet.hasCalendar = true;
        QTest::newRow("nothing ahead") << quiet;
    }
    void trayMenu() {
        QFETCH(StatusMenuState, state);
        StatusMenu tray([&] { return StatusMenuModel::entries(state); });
        tray.rebuild();
        QStringList texts;
        addMenuTexts(tray.menu(), texts);
        texts.removeAll(QString());
        QVERIFY(texts.contains(u"Zelvane beenden"_s));
        QCOMPARE(untranslated(texts), QStringList());
    }
};

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
