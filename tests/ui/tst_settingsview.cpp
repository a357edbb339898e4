#include "BackendProcess.h"
#include "LoopbackHttpServer.h"
#include "ServiceGraph.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "WidgetTestSupport.h"
#include "core/AppSettings.h"
#include "sync/SMSService.h"
#include "ui/CapsuleButton.h"
#include "ui/Theme.h"
#include "ui/settings/AIContent.h"
#include "ui/settings/AccountsContent.h"
#include "ui/settings/GeneralContent.h"
#include "ui/settings/SMSContent.h"
#include "ui/settings/SettingsBlocks.h"
#include "ui/settings/SettingsView.h"

#include <QDesktopServices>
#include <QJsonArray>
#include <QMenu>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollArea>
#include <QSignalSpy>
#include <QUrlQuery>

using namespace Qt::StringLiterals;
using namespace WidgetTest;

// Plays the user's browser: follows the sign-in page's one link, or does nothing while
// `wait` is set, so the test decides when the sign-in completes.
class Browser : public QObject {
    Q_OBJECT
public:
    QNetworkAccessManager network;
    QList<QUrl> opened;
    bool wait = false;

    void follow(const QUrl &url) {
        QUrl next = url;
        next.setPath(url.path() == u"/signin" ? u"/signin/continue"_s
                                              : u"/oauth/v2/authorize/allow"_s);
        QNetworkReply *reply = network.get(QNetworkRequest(next));
        connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    }

public Q_SLOTS:
    void open(const QUrl &url) {
        opened.append(url);
        if (!wait)
            follow(url);
    }
};

class TestSettingsView : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<BackendProcess> standIn;
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<ServiceGraph> services;
    std::unique_ptr<SMSService> sms;
    std::unique_ptr<SettingsView> view;
    SecretStore keyring;
    Browser browser;

    CalendarService &calendar() { return services->calendar; }
    std::optional<QString> stored(const char *key) {
        return settle(keyring.load(QString::fromLatin1(key))).value.value_or(std::nullopt);
    }
    void store(const char *key, const QString &value) {
        QVERIFY(settle(keyring.save(QString::fromLatin1(key), value)).ok());
    }

    ConnectedAccount grant(const QString &email, CalendarProvider provider) {
        const QJsonObject g = standIn->admin(
            "POST", u"grants"_s,
            {{"email", email}, {"provider", CalendarProviders::toString(provider).toLower()}});
        return ConnectedAccount::create(provider, email, g.value("grantId").toString());
    }

    // Stores the accounts and opens the window on them, with their calendars listed.
    void openWith(const QList<ConnectedAccount> &accounts) {
        QJsonArray array;
        for (const ConnectedAccount &a : accounts)
            array.append(a.toJson());
        settings->setValue(AppSettings::Key::ConnectedAccounts, QJsonDocument(array).toJson());
        services = std::make_unique<ServiceGraph>(*settings, Clock::system());
        sms = std::make_unique<SMSService>(services->backend, services->secrets, Clock::system());
        view = std::make_unique<SettingsView>(SettingsServices{
            *settings, calendar(), services->slack, services->llm, *sms, services->secrets});
        calendar().fetchEvents();
        QVERIFY(showActive(view.get(), {720, 520}));
        QTRY_COMPARE_WITH_TIMEOUT(calendar().accountCalendars().size(), accounts.size(), 10'000);
    }

private Q_SLOTS:
    void initTestCase() {
        QDesktopServices::setUrlHandler(u"http"_s, &browser, "open");
        standIn = std::make_unique<BackendProcess>();
        QVERIFY2(standIn->start(), qPrintable(standIn->error()));
        qputenv("ZELVANE_BACKEND_ORIGIN", standIn->origin().toUtf8());
        qputenv("ZELVANE_SLACK_ORIGIN", standIn->origin().toUtf8());
    }

    void init() {
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        for (const char *key :
             {SecretStore::llmApiKey, SecretStore::llmProvider, SecretStore::slackToken})
            settle(keyring.remove(QString::fromLatin1(key)));
        browser.opened.clear();
        browser.wait = false;
    }

    void cleanup() {
        // A refresh still on the wire would leave its coroutines suspended forever.
        if (services)
            QTRY_VERIFY_WITH_TIMEOUT(!calendar().isLoading(), 10'000);
        view.reset();
        sms.reset();
        services.reset();
        settings.reset();
        env.reset();
        standIn->admin("DELETE", u"faults"_s);
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(u"http"_s); }

    // Down in the sidebar selects each tab in turn. In each, every text is read as shown, and
    // Tab from the sidebar reaches every enabled control once, top to bottom and left to right,
    // then the sidebar again.
    void everyTabByKeyboard() {
        openWith({grant(u"sam@northwind.test"_s, CalendarProvider::google)});
        view->sidebarItem(SidebarTab::accounts)->setFocus();
        for (SidebarTab tab : SidebarTabs::all()) {
            if (tab != SidebarTab::accounts)
                QTest::keyClick(focused(), Qt::Key_Down);
            QCOMPARE(focused(), view->sidebarItem(tab));
            QCOMPARE(view->selectedTab(), tab);
            for (SidebarTab other : SidebarTabs::all())
                QCOMPARE(view->tabContent(other)->isVisible(), other == tab);
            QCOMPARE(unreadable(view.get()), QStringList());
            const QString name = SidebarTabs::toString(tab).section(u' ', 0, 0).toLower();
            QVERIFY(saveScreenshot(view.get(), u"settings-"_s + name));

            QWidget *content = view->tabContent(tab);
            const auto centre = [&](QWidget *w) { return w->mapTo(content, w->rect().center()); };
            QList<QWidget *> expected;
            for (QWidget *w : content->findChildren<QWidget *>())
                if ((qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w)) &&
                    w->isVisible() && w->isEnabled())
                    expected << w;
            std::sort(expected.begin(), expected.end(), [&](QWidget *a, QWidget *b) {
                const QPoint pa = centre(a), pb = centre(b);
                return std::abs(pa.y() - pb.y()) > 2 ? pa.y() < pb.y() : pa.x() < pb.x();
            });
            QList<QWidget *> reached;
            for (QTest::keyClick(focused(), Qt::Key_Tab);
                 content->isAncestorOf(focused()) && reached.size() < 40;
                 QTest::keyClick(focused(), Qt::Key_Tab))
                reached << focused();
            QCOMPARE(reached, expected);
            QCOMPARE(focused(), view->sidebarItem(tab));
        }

        view->setUpdateAvailable(true);
        QSignalSpy update(view.get(), &SettingsView::updateRequested);
        QTest::mouseClick(button(view->updateBanner(), u"Update Now"_s), Qt::LeftButton);
        QCOMPARE(update.size(), 1);
        view->setUpdateAvailable(false);
        QVERIFY(!view->updateBanner()->isVisible());
    }

    // Each account is titled by its address or provider, with its calendars folded and
    // counted; switching one off re-fetches without its meetings.
    void generalCalendars() {
        const ConnectedAccount first = grant(u"alex@northwind.test"_s, CalendarProvider::google);
        openWith({first, grant(QString(), CalendarProvider::microsoft)});
        QTRY_VERIFY_WITH_TIMEOUT(!calendar().events().isEmpty(), 10'000);
        view->selectTab(SidebarTab::general);
        GeneralContent *general = view->general();
        const QStringList texts = visibleTexts(general);
        QVERIFY(texts.contains(u"ALEX@NORTHWIND.TEST"_s) && texts.contains(u"MICROSOFT"_s));
        QCOMPARE(texts.count(u"All 2 active"_s), 2);
        QVERIFY(!texts.contains(u"Team Events"_s));
        QTest::keyClick(general->findChild<QAbstractButton *>(u"calendars:"_s + first.id),
                        Qt::Key_Space);
        QTRY_VERIFY(shows(general, u"Team Events"_s));

        const ProxyCalendar primary = calendar().accountCalendars().value(first.id).at(0);
        const auto onPrimary = [&] {
            return std::ranges::count(calendar().events(), primary.id, &CalendarEvent::calendarId);
        };
        QVERIFY(onPrimary() > 0);
        QAbstractButton *primarySwitch = button(general, primary.name);
        QVERIFY(primarySwitch->isChecked());
        QTest::keyClick(primarySwitch, Qt::Key_Space);
        QVERIFY(!settings->isCalendarEnabled(primary.id));
        QVERIFY(shows(general, u"1 of 2 active"_s));
        QTRY_COMPARE_WITH_TIMEOUT(onPrimary(), 0, 10'000);
    }

    void reminderOffsets_data() {
        QTest::addColumn<QList<int>>("stored"); // minutes; -1 for no entry
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QStringList>("menu");
        const QStringList all{u"At start"_s,          u"1 minute before"_s,
                              u"2 minutes before"_s,  u"5 minutes before"_s,
                              u"10 minutes before"_s, u"15 minutes before"_s};
        QTest::newRow("no entry") << QList<int>{-1} << QStringList{all[0]} << all.mid(1);
        QTest::newRow("empty") << QList<int>{} << QStringList{} << all;
        QTest::newRow("full") << QList<int>{0, 1, 2, 5, 10, 15} << all << QStringList{};
        QTest::newRow("stored out of order") << QList<int>{15, 1} << QStringList{all[5], all[1]}
                                             << QStringList{all[0], all[2], all[3], all[4]};
    }
    // The account's lead times in order, and a menu of the missing ones. Adding the last
    // missing one and removing it again by keyboard keeps the focus inside the card.
    void reminderOffsets() {
        QFETCH(QList<int>, stored);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, menu);
        const ConnectedAccount account = grant(u"sam@northwind.test"_s, CalendarProvider::google);
        QList<ReminderOffset> offsets;
        for (int minutes : stored)
            if (minutes >= 0)
                offsets << *ReminderOffsets::fromRaw(minutes);
        if (stored != QList<int>{-1})
            settings->setAccountReminders({{account.id, offsets}});
        openWith({account});
        view->selectTab(SidebarTab::general);
        GeneralContent *general = view->general();
        QCOMPARE(visibleTexts(general).filter(QRegularExpression(u"before$|^At start$"_s)), rows);
        QMenu *add = general->addReminderMenu(account.id);
        QCOMPARE(add != nullptr, !menu.isEmpty());
        if (!add)
            return;
        QStringList offered;
        for (const QAction *action : add->actions())
            offered << action->text();
        QCOMPARE(offered, menu);

        const qsizetype before = settings->accountReminders().value(account.id).size();
        add->actions().last()->trigger();
        QCOMPARE(settings->accountReminders().value(account.id).size(), before + 1);
        QAbstractButton *remove = button(general, u"Remove "_s + menu.last());
        remove->setFocus();
        QTest::keyClick(remove, Qt::Key_Space);
        QCOMPARE(general->addReminderMenu(account.id)->actions().last()->text(), menu.last());
        QVERIFY(general->isAncestorOf(focused()));
    }

    // Accounts are listed with their provider; removing one by keyboard keeps the focus in
    // the tab. Without accounts the General tab sets no reminders, and its switches are saved
    // at once.
    void accountsListAndRemove() {
        const ConnectedAccount google = grant(u"alex@northwind.test"_s, CalendarProvider::google);
        const ConnectedAccount microsoft =
            grant(u"kim@contoso.test"_s, CalendarProvider::microsoft);
        openWith({google, microsoft});
        AccountsContent *accounts = view->accounts();
        for (const QString &text :
             {u"alex@northwind.test"_s, u"kim@contoso.test"_s, u"Google"_s, u"Microsoft"_s})
            QVERIFY2(shows(accounts, text), qPrintable(text));
        QVERIFY(!shows(accounts, u"No accounts connected"_s));
        for (const ConnectedAccount &account : {google, microsoft}) {
            auto *remove =
                accounts->findChild<QAbstractButton *>(u"remove-account:"_s + account.id);
            remove->setFocus();
            QTest::keyClick(remove, Qt::Key_Space);
            QVERIFY(!shows(accounts, account.email));
            QVERIFY(accounts->isAncestorOf(focused()));
        }
        QVERIFY(shows(accounts, u"No accounts connected"_s));

        view->selectTab(SidebarTab::general);
        GeneralContent *general = view->general();
        QVERIFY(shows(general, u"Connect an account to configure reminders."_s));
        QVERIFY(!general->checkNowButton()->isEnabled());
        const bool sound = settings->soundEnabled(), respect = settings->respectDND();
        QTest::keyClick(button(general, u"Play sound"_s), Qt::Key_Space);
        QTest::keyClick(button(general, u"Respect Do Not Disturb"_s), Qt::Key_Space);
        QCOMPARE(button(general, u"Play sound"_s)->isChecked(), !sound);
        QCOMPARE(env->makeSettings()->soundEnabled(), !sound);
        QCOMPARE(env->makeSettings()->respectDND(), !respect);
    }

    // The real sign-in through the stand-in's page, one at a time; the window comes back to the
    // front when it completes.
    void connectCalendarThroughTheBrowser() {
        openWith({});
        browser.wait = true;
        ConnectButton *google = view->accounts()->connectButton(CalendarProvider::google);
        ConnectButton *microsoft = view->accounts()->connectButton(CalendarProvider::microsoft);
        standIn->admin("POST", u"faults"_s, {{"endpoint", "nylas/auth-url"}, {"delayMs", 500}});
        QTest::mouseClick(google, Qt::LeftButton);
        QVERIFY(!google->isEnabled() && !microsoft->isEnabled());
        QTest::mouseClick(microsoft, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(browser.opened.size(), 1, 10'000);
        QCOMPARE(QUrlQuery(browser.opened.first()).queryItemValue(u"provider"_s), u"google"_s);
        QTRY_VERIFY(google->isEnabled());

        QWidget other;
        QVERIFY(showActive(&other, {100, 100}));
        browser.follow(browser.opened.first());
        QTRY_COMPARE_WITH_TIMEOUT(calendar().accounts().size(), 1, 10'000);
        QTRY_COMPARE(QApplication::activeWindow(), view.get());
        QVERIFY(shows(view->accounts(), calendar().accounts().first().email));
    }

    // Failures show in red under the buttons; the next attempt clears them at its start.
    // Without a browser the attempt fails at once instead of waiting for a redirect.
    void connectionErrors() {
        openWith({});
        ConnectButton *google = view->accounts()->connectButton(CalendarProvider::google);
        QLabel *error = view->accounts()->errorLabel();
        standIn->admin("POST", u"faults"_s,
                       {{"endpoint", "nylas/auth-url"}, {"status", 500}, {"times", 1}});
        QTest::mouseClick(google, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(error->isVisible(), 10'000);
        QCOMPARE(error->text(), u"HTTP error 500"_s);
        QCOMPARE(textColor(error), Theme::Colors::red());

        QDesktopServices::unsetUrlHandler(u"http"_s);
        QTest::mouseClick(google, Qt::LeftButton);
        QVERIFY(!error->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(error->isVisible(), 10'000);
        QDesktopServices::setUrlHandler(u"http"_s, &browser, "open");
        QVERIFY2(error->text().contains(u"browser"_s), qPrintable(error->text()));
        QVERIFY(!services->signIn.isListening());
        QVERIFY(google->isEnabled());
    }

    void slackConnectAndDisconnect() {
        openWith({});
        QTest::mouseClick(button(view->accounts(), u"Connect"_s), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(shows(view->accounts(), u"Slack Connected"_s), 10'000);
        QVERIFY(stored(SecretStore::slackToken).has_value());
        QTest::mouseClick(button(view->accounts(), u"Disconnect"_s), Qt::LeftButton);
        QVERIFY(shows(view->accounts(), u"Connect Slack"_s));
        QTRY_VERIFY(!stored(SecretStore::slackToken));
    }

    // Provider and key live in the keyring; the tab reads them back each time it appears. Any
    // key but blanks counts as connected.
    void aiProviderAndKey() {
        store(SecretStore::llmProvider, u"Llama"_s);
        openWith({});
        view->selectTab(SidebarTab::ai);
        AIContent *ai = view->ai();
        QVERIFY(ai->providerRow(LLMProvider::claude)->isChecked());
        QVERIFY(!ai->testButton()->isEnabled());
        QTest::keyClicks(ai->keyField(), u"  "_s);
        QTRY_COMPARE(stored(SecretStore::llmApiKey), u"  "_s);
        QVERIFY(ai->testButton()->isEnabled());
        QVERIFY(!shows(ai, u"Connected"_s));
        QTest::keyClicks(ai->keyField(), u"sk"_s);
        QVERIFY(shows(ai, u"Connected"_s));

        QTest::keyClick(ai->providerRow(LLMProvider::openai), Qt::Key_Space);
        QVERIFY(!ai->providerRow(LLMProvider::claude)->isChecked());
        QTRY_COMPARE(stored(SecretStore::llmProvider), u"OpenAI"_s);
        QCOMPARE(ai->keyField()->text(), u"  sk"_s);
        QCOMPARE(ai->keyField()->placeholderText(), u"Paste your OpenAI API key"_s);

        store(SecretStore::llmApiKey, u"from-elsewhere"_s);
        view->selectTab(SidebarTab::sms);
        view->selectTab(SidebarTab::ai);
        QTRY_COMPARE(ai->keyField()->text(), u"from-elsewhere"_s);
    }

    void aiTestConnection_data() {
        QTest::addColumn<int>("status"); // 0: nobody listening
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<bool>("green");
        QTest::newRow("accepted") << 200 << u"Success — you're all set!"_s << true;
        QTest::newRow("refused") << 401 << u"Failed — check your key"_s << false;
        QTest::newRow("unreachable") << 0 << u"Error: "_s << false;
    }
    // The button says it is testing and takes no second test; the outcome shows in green or
    // red until the key is edited.
    void aiTestConnection() {
        QFETCH(int, status);
        QFETCH(QString, prefix);
        QFETCH(bool, green);
        LoopbackHttpServer provider;
        QVERIFY(provider.start());
        provider.respondWith(LoopbackHttpServer::Response::json("{}", status));
        const QString origin = status ? provider.origin() : u"http://127.0.0.1:9"_s;
        qputenv("ZELVANE_ANTHROPIC_ORIGIN", origin.toUtf8());
        const auto unset = qScopeGuard([] { qunsetenv("ZELVANE_ANTHROPIC_ORIGIN"); });
        store(SecretStore::llmApiKey, u"sk-test"_s);
        openWith({});
        view->selectTab(SidebarTab::ai);
        AIContent *ai = view->ai();
        QTRY_VERIFY(ai->testButton()->isEnabled()); // once the key is read from the keyring
        QTest::mouseClick(ai->testButton(), Qt::LeftButton);
        QCOMPARE(ai->testButton()->text(), u"Testing..."_s);
        QVERIFY(!ai->testButton()->isEnabled());
        QLabel *result = ai->testResultLabel();
        QTRY_VERIFY_WITH_TIMEOUT(result->isVisible(), 10'000);
        QVERIFY2(result->text().startsWith(prefix), qPrintable(result->text()));
        QCOMPARE(textColor(result), green ? Theme::Colors::green() : Theme::Colors::red());
        QCOMPARE(ai->testButton()->text(), u"Test Connection"_s);
        if (status)
            QCOMPARE(provider.requests().first().header("x-api-key"), QByteArray("sk-test"));
        QTest::keyClick(ai->keyField(), Qt::Key_X);
        QVERIFY(!result->isVisible());
    }

    // The number can be edited only while texts are switched on; edits reach the service.
    void smsSwitchGatesTheField() {
        openWith({});
        sms->setPhoneNumber(u"+4915112345678"_s);
        view->selectTab(SidebarTab::sms);
        SMSContent *tab = view->sms();
        QVERIFY(!tab->phoneField()->isEnabled());
        QCOMPARE(tab->phoneField()->text(), u"+4915112345678"_s);
        QTest::mouseClick(tab->enableSwitch(), Qt::LeftButton);
        QVERIFY(sms->smsEnabled() && tab->phoneField()->isEnabled());
        tab->phoneField()->clear();
        QTest::keyClicks(tab->phoneField(), u"+1"_s);
        QCOMPARE(sms->phoneNumber(), u"+1"_s);
        sms->setSmsEnabled(false);
        QVERIFY(!tab->enableSwitch()->isChecked() && !tab->phoneField()->isEnabled());
    }
};

QTEST_MAIN(TestSettingsView)
#include "tst_settingsview.moc"
