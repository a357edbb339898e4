#include "BackendProcess.h"
#include "LoopbackHttpServer.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "core/AppSettings.h"
#include "core/Clock.h"
#include "platform/SecretStore.h"
#include "prep/LLMService.h"
#include "sync/BackendAPIClient.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/SMSService.h"
#include "sync/SignInListener.h"
#include "sync/SlackService.h"
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
#include <QLineEdit>
#include <QMenu>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

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

namespace {
QStringList visibleTexts(const QWidget *root) {
    QStringList texts;
    for (const QLabel *label : root->findChildren<QLabel *>())
        if (label->isVisibleTo(root) && !label->text().isEmpty())
            texts << label->text();
    return texts;
}

QAbstractButton *button(const QWidget *root, const QString &name) {
    for (QAbstractButton *b : root->findChildren<QAbstractButton *>())
        if (b->isVisibleTo(root) && b->accessibleName() == name)
            return b;
    return nullptr;
}

QColor textColor(const QLabel *label) {
    return label->palette().color(QPalette::WindowText);
}

QStringList actionTexts(const QMenu *menu) {
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts << action->text();
    return texts;
}
} // namespace

class TestSettingsView : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<BackendProcess> standIn;
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<SecretStore> secrets;
    std::unique_ptr<CalendarProxyClient> proxy;
    std::unique_ptr<CalendarSignInListener> listener;
    std::unique_ptr<CalendarService> calendar;
    std::unique_ptr<BackendAPIClient> backend;
    std::unique_ptr<SlackService> slack;
    std::unique_ptr<LLMService> llm;
    std::unique_ptr<SMSService> sms;
    std::unique_ptr<SettingsView> view;
    Browser browser;

    std::optional<QString> stored(const char *key) {
        return settle(secrets->load(QString::fromLatin1(key))).value.value_or(std::nullopt);
    }
    void store(const char *key, const QString &value) {
        QVERIFY(settle(secrets->save(QString::fromLatin1(key), value)).ok());
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
        calendar = std::make_unique<CalendarService>(*settings, *proxy, *secrets, *listener,
                                                     Clock::system());
        view = std::make_unique<SettingsView>(
            SettingsServices{*settings, *calendar, *slack, *llm, *sms, *secrets});
        calendar->fetchEvents();
        view->resize(720, 520);
        view->show();
        view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
        if (!accounts.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(calendar->accountCalendars().size(), accounts.size(), 10'000);
    }

    // Clicks like a user: scrolls the control into view first, waiting out the fold animation.
    void click(QWidget *target) {
        QVERIFY(target);
        view->contentPane()->ensureWidgetVisible(target);
        QTRY_COMPARE(target->visibleRegion().boundingRect(), target->rect());
        QTest::mouseClick(target, Qt::LeftButton);
    }

    void saveScreenshot(const QString &name) {
        QCoreApplication::processEvents();
        const QString path =
            QCoreApplication::applicationDirPath() + u"/settings-"_s + name + u".png"_s;
        QVERIFY(view->grab().save(path));
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
        secrets = std::make_unique<SecretStore>();
        proxy = std::make_unique<CalendarProxyClient>(*secrets, Clock::system());
        listener = std::make_unique<CalendarSignInListener>();
        backend = std::make_unique<BackendAPIClient>();
        slack = std::make_unique<SlackService>(*backend, *secrets, Clock::system());
        llm = std::make_unique<LLMService>(*secrets);
        sms = std::make_unique<SMSService>(*backend, *secrets, Clock::system());
        for (const char *key :
             {SecretStore::llmApiKey, SecretStore::llmProvider, SecretStore::slackToken})
            settle(secrets->remove(QString::fromLatin1(key)));
        browser.opened.clear();
        browser.wait = false;
    }

    void cleanup() {
        // A refresh still on the wire would leave its coroutines suspended forever.
        if (calendar)
            QTRY_VERIFY_WITH_TIMEOUT(!calendar->isLoading(), 10'000);
        view.reset();
        calendar.reset();
        sms.reset();
        llm.reset();
        slack.reset();
        backend.reset();
        listener.reset();
        proxy.reset();
        secrets.reset();
        settings.reset();
        env.reset();
        standIn->admin("DELETE", u"faults"_s);
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(u"http"_s); }

    // The shell: sidebar in order, one tab at a time, and a keyboard path through all of it.
    void windowAndKeyboard() {
        openWith({});
        QCOMPARE(view->minimumSize(), QSize(620, 420));
        const QStringList texts = visibleTexts(view.get());
        for (const QString &text : {u"Zelvane"_s, u"SETTINGS"_s, u"Accounts"_s})
            QVERIFY2(texts.contains(text), qPrintable(text));
        QCOMPARE(SettingsView::versionText({}), u"v1.0.0"_s);
        QCOMPARE(SettingsView::versionText(u"2.3.1"_s), u"v2.3.1"_s);
        QCOMPARE(view->selectedTab(), SidebarTab::accounts);

        // Tab leaves the sidebar from its selected item for the tab's first control; the arrow
        // keys move through the sidebar and select as they go.
        view->sidebarItem(SidebarTab::accounts)->setFocus();
        QStringList order;
        for (int i = 0; i < 5; ++i) {
            order << QApplication::focusWidget()->accessibleName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(order, (QStringList{u"Accounts"_s, u"Google"_s, u"Microsoft"_s, u"Calendar Feed"_s,
                                     u"Connect"_s}));
        view->sidebarItem(SidebarTab::accounts)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), view->sidebarItem(SidebarTab::ai));
        QCOMPARE(view->selectedTab(), SidebarTab::ai);
        QVERIFY(view->ai()->isVisible());
        QVERIFY(!view->accounts()->isVisible());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->accessibleName(), u"Claude"_s);

        // Every control of every tab carries a name a screen reader can read, and every text
        // is read exactly as it is shown.
        for (SidebarTab tab : SidebarTabs::all()) {
            view->selectTab(tab);
            for (QAbstractButton *b : view->findChildren<QAbstractButton *>())
                if (b->isVisibleTo(view.get()))
                    QVERIFY2(!b->accessibleName().isEmpty(), qPrintable(b->objectName()));
            for (QLineEdit *field : view->findChildren<QLineEdit *>())
                if (field->isVisibleTo(view.get()))
                    QVERIFY2(!field->accessibleName().isEmpty(), qPrintable(field->objectName()));
            for (QLabel *label : view->findChildren<QLabel *>())
                if (label->isVisibleTo(view.get()) && !label->text().isEmpty())
                    QCOMPARE(label->accessibleName(), label->text());
        }

        view->setUpdateAvailable(true);
        QVERIFY(view->updateBanner()->isVisible());
        QSignalSpy update(view.get(), &SettingsView::updateRequested);
        QTest::mouseClick(button(view->updateBanner(), u"Update Now"_s), Qt::LeftButton);
        QCOMPARE(update.size(), 1);
        view->setUpdateAvailable(false);
        QVERIFY(!view->updateBanner()->isVisible());
    }

    // With an account connected, Tab from the selected tab in the sidebar reaches every
    // control of that tab, top to bottom, and comes back to the sidebar.
    void everyControlInTabOrder() {
        openWith({grant(u"sam@northwind.test"_s, CalendarProvider::google)});
        for (SidebarTab tab : SidebarTabs::all()) {
            view->selectTab(tab);
            QWidget *content = view->tabContent(tab);
            QSet<QWidget *> expected;
            for (QWidget *w : content->findChildren<QWidget *>())
                if ((qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w)) &&
                    w->isVisibleTo(view.get()) && w->isEnabled())
                    expected.insert(w);
            QVERIFY(!expected.isEmpty());

            view->sidebarItem(tab)->setFocus();
            QList<QWidget *> reached;
            for (int step = 0; step < 40; ++step) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                QWidget *focused = QApplication::focusWidget();
                if (!content->isAncestorOf(focused))
                    break;
                reached << focused;
            }
            QCOMPARE(QApplication::focusWidget(), view->sidebarItem(tab));
            QCOMPARE(QSet<QWidget *>(reached.cbegin(), reached.cend()), expected);
            QCOMPARE(reached.size(), expected.size());
            for (qsizetype i = 1; i < reached.size(); ++i) {
                const QPoint before =
                    reached[i - 1]->mapTo(content, reached[i - 1]->rect().center());
                const QPoint after = reached[i]->mapTo(content, reached[i]->rect().center());
                QVERIFY2(after.y() > before.y() + 2 ||
                             (std::abs(after.y() - before.y()) <= 2 && after.x() > before.x()),
                         qPrintable(reached[i - 1]->accessibleName() + u" before "_s +
                                    reached[i]->accessibleName()));
            }
        }
    }

    void generalWithoutAccounts() {
        openWith({});
        view->selectTab(SidebarTab::general);
        const QStringList texts = visibleTexts(view->general());
        QVERIFY(texts.contains(u"Connect an account to configure reminders."_s));
        QVERIFY(!texts.contains(u"REMINDERS"_s));
        QVERIFY(texts.contains(u"ALERTS"_s) && texts.contains(u"UPDATES"_s));
        QVERIFY(!view->general()->checkNowButton()->isEnabled());

        QAbstractButton *sound = button(view->general(), u"Play sound"_s);
        QAbstractButton *dnd = button(view->general(), u"Respect Do Not Disturb"_s);
        QCOMPARE(sound->isChecked(), settings->soundEnabled());
        QTest::keyClick(sound, Qt::Key_Space);
        QCOMPARE(settings->soundEnabled(), sound->isChecked());
        const bool respect = settings->respectDND();
        QTest::mouseClick(dnd, Qt::LeftButton);
        QCOMPARE(settings->respectDND(), !respect);
        QCOMPARE(env->makeSettings()->respectDND(), !respect);
        saveScreenshot(u"general-empty"_s);
    }

    // Several accounts: titled by address or provider, calendars folded, counted and
    // switched; switching one off re-fetches and its meetings leave the list.
    void generalCalendars() {
        const ConnectedAccount first = grant(u"alex@northwind.test"_s, CalendarProvider::google);
        const ConnectedAccount second = grant(QString(), CalendarProvider::microsoft);
        openWith({first, second});
        QTRY_VERIFY_WITH_TIMEOUT(!calendar->events().isEmpty(), 10'000);
        view->selectTab(SidebarTab::general);
        GeneralContent *general = view->general();
        const QStringList texts = visibleTexts(general);
        QVERIFY(texts.contains(u"ALEX@NORTHWIND.TEST"_s));
        QVERIFY(texts.contains(u"MICROSOFT"_s));
        QCOMPARE(texts.count(u"All 2 active"_s), 2);
        QVERIFY(!texts.contains(u"Team Events"_s));

        auto *toggle = general->findChild<QAbstractButton *>(u"calendars:"_s + first.id);
        QTest::keyClick(toggle, Qt::Key_Space);
        QTRY_VERIFY(visibleTexts(general).contains(u"Team Events"_s));
        QVERIFY(general->isExpanded(first.id));

        // Events come from each account's primary calendar, named after the address.
        const ProxyCalendar primary = calendar->accountCalendars().value(first.id).at(0);
        auto onPrimary = [&] {
            return std::count_if(
                calendar->events().cbegin(), calendar->events().cend(),
                [&](const CalendarEvent &e) { return e.calendarId == primary.id; });
        };
        QVERIFY(onPrimary() > 0);
        QSignalSpy refetched(calendar.get(), &CalendarService::eventsChanged);
        QAbstractButton *primarySwitch = button(general, primary.name);
        QVERIFY(primarySwitch->isChecked());
        click(primarySwitch);
        QVERIFY(!settings->isCalendarEnabled(primary.id));
        QVERIFY(visibleTexts(general).contains(u"1 of 2 active"_s));
        QTRY_COMPARE_WITH_TIMEOUT(refetched.size(), 1, 10'000);
        QCOMPARE(onPrimary(), 0);
        saveScreenshot(u"general"_s);

        click(primarySwitch);
        QVERIFY(settings->isCalendarEnabled(primary.id));
        QCOMPARE(visibleTexts(general).count(u"All 2 active"_s), 2);
        QTRY_VERIFY_WITH_TIMEOUT(onPrimary() > 0, 10'000);

        QTest::keyClick(toggle, Qt::Key_Space);
        QTRY_VERIFY(!visibleTexts(general).contains(u"Team Events"_s));
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
    void reminderOffsets() {
        QFETCH(QList<int>, stored);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, menu);
        const ConnectedAccount account = grant(u"sam@northwind.test"_s, CalendarProvider::google);
        if (stored != QList<int>{-1}) {
            QList<ReminderOffset> offsets;
            for (int minutes : stored)
                offsets << *ReminderOffsets::fromRaw(minutes);
            settings->setAccountReminders({{account.id, offsets}});
        }
        openWith({account});
        view->selectTab(SidebarTab::general);
        GeneralContent *general = view->general();
        QStringList shown;
        for (const QString &text : visibleTexts(general))
            if (text.contains(u"before"_s) || text == u"At start"_s)
                shown << text;
        QCOMPARE(shown, rows);
        QMenu *add = general->addReminderMenu(account.id);
        QCOMPARE(add != nullptr, !menu.isEmpty());
        if (!add)
            return;
        QCOMPARE(actionTexts(add), menu);
        QVERIFY(button(general, u"Add reminder"_s));

        // Adding the last missing offset takes the menu away; removing one brings it back
        // and keeps the keyboard focus inside the card.
        add->actions().last()->trigger();
        QVERIFY(settings->accountReminders()
                    .value(account.id)
                    .contains(*ReminderOffsets::fromRaw(menu.last() == u"At start"_s ? 0 : 15)));
        QAbstractButton *remove = button(general, u"Remove "_s + menu.last());
        QVERIFY(remove);
        remove->setFocus();
        QTest::keyClick(remove, Qt::Key_Space);
        QCOMPARE(actionTexts(general->addReminderMenu(account.id)).last(), menu.last());
        QVERIFY(general->isAncestorOf(QApplication::focusWidget()));
    }

    void accountsListAndRemove() {
        openWith({});
        QVERIFY(visibleTexts(view->accounts()).contains(u"No accounts connected"_s));
        saveScreenshot(u"accounts-empty"_s);

        const ConnectedAccount google = grant(u"alex@northwind.test"_s, CalendarProvider::google);
        const ConnectedAccount microsoft =
            grant(u"kim@contoso.test"_s, CalendarProvider::microsoft);
        view.reset();
        openWith({google, microsoft});
        store(SecretStore::slackToken, u"xoxp-stored"_s);
        view->selectTab(SidebarTab::general);
        view->selectTab(SidebarTab::accounts);
        QStringList texts = visibleTexts(view->accounts());
        for (const QString &text :
             {u"alex@northwind.test"_s, u"kim@contoso.test"_s, u"Google"_s, u"Microsoft"_s})
            QVERIFY2(texts.contains(text), qPrintable(text));
        QVERIFY(!texts.contains(u"No accounts connected"_s));
        saveScreenshot(u"accounts"_s);

        auto *remove =
            view->accounts()->findChild<QAbstractButton *>(u"remove-account:"_s + google.id);
        QCOMPARE(remove->accessibleName(), u"Remove"_s);
        remove->setFocus();
        QTest::keyClick(remove, Qt::Key_Space);
        QCOMPARE(calendar->accounts().size(), 1);
        QVERIFY(!visibleTexts(view->accounts()).contains(u"alex@northwind.test"_s));
        QVERIFY(view->accounts()->isAncestorOf(QApplication::focusWidget()));
    }

    // The real sign-in through the stand-in's page; the window comes back when it completes.
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

        // Another window took the front meanwhile.
        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &other);
        browser.follow(browser.opened.first());
        QTRY_COMPARE_WITH_TIMEOUT(calendar->accounts().size(), 1, 10'000);
        QTRY_COMPARE(QApplication::activeWindow(), view.get());
        QVERIFY(visibleTexts(view->accounts()).contains(calendar->accounts().first().email));
    }

    // Failures show in red under the buttons; the next attempt clears them at its start.
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

        // No browser at all (the offscreen platform opens nothing without a handler): the
        // attempt fails at once instead of waiting for a redirect.
        QDesktopServices::unsetUrlHandler(u"http"_s);
        QTest::mouseClick(google, Qt::LeftButton);
        QVERIFY(!error->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(error->isVisible(), 10'000);
        QDesktopServices::setUrlHandler(u"http"_s, &browser, "open");
        QVERIFY2(error->text().contains(u"browser"_s), qPrintable(error->text()));
        QVERIFY(!listener->isListening());
        QVERIFY(google->isEnabled());
    }

    void slackConnectAndDisconnect() {
        openWith({});
        QVERIFY(visibleTexts(view->accounts()).contains(u"Connect Slack"_s));
        QTest::mouseClick(button(view->accounts(), u"Connect"_s), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(visibleTexts(view->accounts()).contains(u"Slack Connected"_s),
                                 10'000);
        QVERIFY(stored(SecretStore::slackToken).has_value());
        QVERIFY(!view->accounts()->errorLabel()->isVisible());
        QTest::mouseClick(button(view->accounts(), u"Disconnect"_s), Qt::LeftButton);
        QVERIFY(visibleTexts(view->accounts()).contains(u"Connect Slack"_s));
        QTRY_VERIFY(!stored(SecretStore::slackToken));
    }

    // Provider and key live in the keyring; the tab reads them back each time it appears.
    void aiProviderAndKey() {
        store(SecretStore::llmProvider, u"Llama"_s);
        openWith({});
        view->selectTab(SidebarTab::ai);
        AIContent *ai = view->ai();
        QVERIFY(ai->providerRow(LLMProvider::claude)->isChecked());
        QVERIFY(ai->keyField()->text().isEmpty());
        QCOMPARE(ai->keyField()->placeholderText(), u"Paste your Claude API key"_s);
        QVERIFY(!ai->testButton()->isEnabled());
        QVERIFY(!visibleTexts(ai).contains(u"Connected"_s));
        QVERIFY(visibleTexts(ai).contains(
            u"Your API key is stored securely in your system keyring. It is never sent to "
            "Zelvane — only directly to Claude."_s));

        QTest::keyClicks(ai->keyField(), u"  "_s);
        QTRY_COMPARE(stored(SecretStore::llmApiKey), u"  "_s);
        QVERIFY(ai->testButton()->isEnabled());
        QVERIFY(!visibleTexts(ai).contains(u"Connected"_s));
        QTest::keyClicks(ai->keyField(), u"sk"_s);
        QTRY_COMPARE(stored(SecretStore::llmApiKey), u"  sk"_s);
        QVERIFY(visibleTexts(ai).contains(u"Connected"_s));

        click(ai->providerRow(LLMProvider::openai));
        QVERIFY(ai->providerRow(LLMProvider::openai)->isChecked());
        QVERIFY(!ai->providerRow(LLMProvider::claude)->isChecked());
        QTRY_COMPARE(stored(SecretStore::llmProvider), u"OpenAI"_s);
        QCOMPARE(ai->keyField()->text(), u"  sk"_s);
        QCOMPARE(ai->consoleLink()->accessibleName(),
                 LLMProviders::apiKeyButtonLabel(LLMProvider::openai));
        saveScreenshot(u"ai"_s);

        // Shown again: read back from the keyring, not from the widgets.
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
    void aiTestConnection() {
        QFETCH(int, status);
        QFETCH(QString, prefix);
        QFETCH(bool, green);
        LoopbackHttpServer provider;
        QVERIFY(provider.start());
        provider.respondWith(LoopbackHttpServer::Response::json("{}", status));
        const QString origin = status ? provider.origin() : u"http://127.0.0.1:9"_s;
        qputenv("ZELVANE_ANTHROPIC_ORIGIN", origin.toUtf8());
        store(SecretStore::llmApiKey, u"sk-test"_s);
        openWith({});
        view->selectTab(SidebarTab::ai);
        AIContent *ai = view->ai();
        // The key arrives from the keyring after the tab appears.
        QTRY_VERIFY(ai->testButton()->isEnabled());
        QTest::mouseClick(ai->testButton(), Qt::LeftButton);
        QCOMPARE(ai->testButton()->text(), u"Testing..."_s);
        QVERIFY(!ai->testButton()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(ai->testResultLabel()->isVisible(), 10'000);
        QVERIFY2(ai->testResultLabel()->text().startsWith(prefix),
                 qPrintable(ai->testResultLabel()->text()));
        QCOMPARE(textColor(ai->testResultLabel()),
                 green ? Theme::Colors::green() : Theme::Colors::red());
        QCOMPARE(ai->testButton()->text(), u"Test Connection"_s);
        if (status)
            QCOMPARE(provider.requests().first().header("x-api-key"), QByteArray("sk-test"));

        // Typing clears the outcome at once.
        QTest::keyClick(ai->keyField(), Qt::Key_X);
        QVERIFY(!ai->testResultLabel()->isVisible());
        qunsetenv("ZELVANE_ANTHROPIC_ORIGIN");
    }

    void smsSwitchGatesTheField() {
        sms->setPhoneNumber(u"+4915112345678"_s);
        openWith({});
        view->selectTab(SidebarTab::sms);
        SMSContent *tab = view->sms();
        QVERIFY(!tab->phoneField()->isEnabled());
        QCOMPARE(tab->phoneField()->text(), u"+4915112345678"_s);
        QCOMPARE(tab->phoneField()->placeholderText(), u"+15551234567"_s);

        QTest::mouseClick(tab->enableSwitch(), Qt::LeftButton);
        QVERIFY(sms->smsEnabled());
        QVERIFY(tab->phoneField()->isEnabled());
        tab->phoneField()->clear();
        QTest::keyClicks(tab->phoneField(), u"+1"_s);
        QCOMPARE(sms->phoneNumber(), u"+1"_s);
        QTest::keyClick(tab->phoneField(), Qt::Key_Backspace);
        QTest::keyClick(tab->phoneField(), Qt::Key_Backspace);
        QCOMPARE(sms->phoneNumber(), QString());
        saveScreenshot(u"sms"_s);

        sms->setSmsEnabled(false);
        QVERIFY(!tab->enableSwitch()->isChecked());
        QVERIFY(!tab->phoneField()->isEnabled());
    }
};

QTEST_MAIN(TestSettingsView)
#include "tst_settingsview.moc"
