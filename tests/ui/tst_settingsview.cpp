#include "BackendProcess.h"
#include "LoopbackHttpServer.h"
#include "ServiceGraph.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "WidgetTestSupport.h"
#include "core/AppSettings.h"
#include "sync/SMSService.h"
#include "ui/CalendarFeedForm.h"
#include "ui/CapsuleButton.h"
#include "ui/OnboardingFlow.h"
#include "ui/OnboardingView.h"
#include "ui/Theme.h"
#include "ui/settings/AIContent.h"
#include "ui/settings/AccountsContent.h"
#include "ui/settings/GeneralContent.h"
#include "ui/settings/SettingsBlocks.h"
#include "ui/settings/SettingsView.h"

#include <QDesktopServices>
#include <QJsonArray>
#include <QMenu>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QUrlQuery>

using namespace Qt::StringLiterals;
using namespace WidgetTest;
using Response = LoopbackHttpServer::Response;

namespace {
// One meeting tomorrow.
QByteArray icsFeed() {
    const QString start =
        QDateTime::currentDateTimeUtc().addDays(1).toString(u"yyyyMMdd'T'HHmmss'Z'"_s);
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\nBEGIN:VEVENT\r\n"
           "UID:feed-meeting\r\nSUMMARY:Roadmap review\r\nDTSTART:" +
           start.toLatin1() + "\r\nDURATION:PT30M\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}
} // namespace

class TestSettingsView : public QObject {
    Q_OBJECT

public Q_SLOTS:
    // Plays the user's browser: records what the app opens; `follow` takes the sign-in page's
    // one link, so the test decides when a sign-in completes.
    void open(const QUrl &url) { opened.append(url); }

private:
    QList<QUrl> opened;
    QNetworkAccessManager network;
    std::unique_ptr<BackendProcess> standIn;
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<ServiceGraph> services;
    std::unique_ptr<SMSService> sms;
    std::unique_ptr<SettingsView> view;
    SecretStore keyring;
    LoopbackHttpServer feeds;

    void follow(const QUrl &url) {
        QUrl next = url;
        next.setPath(url.path() == u"/signin" ? u"/signin/continue"_s
                                              : u"/oauth/v2/authorize/allow"_s);
        QNetworkReply *reply = network.get(QNetworkRequest(next));
        connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    }

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

    CalendarFeedForm *form() const { return view->accounts()->feedForm(); }
    QString feedAddress() const { return feeds.origin() + u"/private/basic.ics"_s; }

    // Opens the feed form from its button and types into it as a user would, then sends it.
    void submit(const QString &address, const QString &name = {}) {
        if (!form()->isVisible())
            QTest::keyClick(view->accounts()->connectButton(CalendarProvider::feed), Qt::Key_Space);
        QCOMPARE(focused(), form()->addressField());
        form()->addressField()->selectAll();
        QTest::keyClicks(form()->addressField(), address);
        QTest::keyClick(form()->addressField(), Qt::Key_Tab);
        QTest::keyClick(focused(), Qt::Key_Tab);
        QCOMPARE(focused(), form()->nameField());
        QTest::keyClicks(form()->nameField(), name);
        QTest::keyClick(form()->nameField(), Qt::Key_Return);
    }

private Q_SLOTS:
    void initTestCase() {
        QDesktopServices::setUrlHandler(u"http"_s, this, "open");
        QVERIFY(feeds.start());
        standIn = std::make_unique<BackendProcess>();
        QVERIFY2(standIn->start(), qPrintable(standIn->error()));
        qputenv("ZELVANE_BACKEND_ORIGIN", standIn->origin().toUtf8());
        qputenv("ZELVANE_SLACK_ORIGIN", standIn->origin().toUtf8());
    }

    void init() {
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        opened.clear();
        feeds.respondWith({200, icsFeed(), "text/calendar", false});
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

        add->actions().last()->trigger();
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
        const bool respect = settings->respectDND();
        QTest::keyClick(button(general, u"Respect Do Not Disturb"_s), Qt::Key_Space);
        QCOMPARE(button(general, u"Respect Do Not Disturb"_s)->isChecked(), !respect);
        QCOMPARE(env->makeSettings()->respectDND(), !respect);
    }

    // A failure shows in red under the buttons and the next attempt clears it at its start.
    // One sign-in at a time, through the stand-in's page; the window comes back to the front
    // when it completes.
    void connectCalendarThroughTheBrowser() {
        openWith({});
        ConnectButton *google = view->accounts()->connectButton(CalendarProvider::google);
        ConnectButton *microsoft = view->accounts()->connectButton(CalendarProvider::microsoft);
        QLabel *error = view->accounts()->errorLabel();
        standIn->admin("POST", u"faults"_s,
                       {{"endpoint", "nylas/auth-url"}, {"status", 500}, {"times", 1}});
        QTest::mouseClick(google, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(error->isVisible(), 10'000);
        QCOMPARE(error->text(), u"HTTP error 500"_s);
        QCOMPARE(textColor(error), Theme::Colors::red());

        standIn->admin("POST", u"faults"_s, {{"endpoint", "nylas/auth-url"}, {"delayMs", 500}});
        QTest::mouseClick(google, Qt::LeftButton);
        QVERIFY(!error->isVisible());
        QVERIFY(!google->isEnabled() && !microsoft->isEnabled());
        QTest::mouseClick(microsoft, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 10'000);
        QCOMPARE(QUrlQuery(opened.first()).queryItemValue(u"provider"_s), u"google"_s);
        QTRY_VERIFY(google->isEnabled());

        QWidget other;
        QVERIFY(showActive(&other, {100, 100}));
        follow(opened.first());
        QTRY_COMPARE_WITH_TIMEOUT(calendar().accounts().size(), 1, 10'000);
        QTRY_COMPARE(QApplication::activeWindow(), view.get());
        QVERIFY(shows(view->accounts(), calendar().accounts().first().email));
    }

    // Provider and key live in the keyring; an unknown provider reads as Claude. Any key but
    // blanks counts as connected.
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
        QTRY_COMPARE(stored(SecretStore::llmProvider), u"OpenAI"_s);
        QCOMPARE(ai->keyField()->text(), u"  sk"_s);
        QCOMPARE(ai->keyField()->placeholderText(), u"Paste your OpenAI API key"_s);
    }

    // Addresses the feed reader refuses are named in red before anything is read, and editing
    // the address takes the complaint away. While a feed is read the form shows it and takes
    // no second attempt; a server that goes away is named. A feed that is read adds its account
    // row. Escape or success put the form away and the focus back on its button.
    void feedForm_data() {
        QTest::addColumn<QString>("address"); // "held": a server that holds the request
        QTest::addColumn<QString>("outcome"); // the complaint, or the account's name
        QTest::newRow("plain http elsewhere")
            << u"http://calendar.example/x.ics"_s
            << u"Use an https:// or webcal:// address, or a file on this computer."_s;
        QTest::newRow("missing file")
            << u"/nonexistent/zelvane/calendar.ics"_s << u"The calendar file could not be read."_s;
        QTest::newRow("server goes away")
            << u"held"_s << u"The calendar feed could not be reached."_s;
        QTest::newRow("feed on loopback") << QString() << u"Team Feed"_s;
    }
    void feedForm() {
        QFETCH(QString, address);
        QFETCH(QString, outcome);
        openWith({});
        auto held = std::make_unique<LoopbackHttpServer>();
        QVERIFY(held->start());
        held->respondWith(Response::silence());
        QVERIFY(!form()->isVisible() && !form()->addButton()->isEnabled());
        submit(address == u"held"  ? held->origin() + u"/held.ics"_s
               : address.isEmpty() ? feedAddress()
                                   : address,
               u"Team Feed"_s);
        if (address == u"held") {
            QCOMPARE(form()->progressLabel()->text(), u"Reading the calendar feed…"_s);
            QVERIFY(form()->progressLabel()->isVisible() && form()->addressField()->isReadOnly());
            QVERIFY(!form()->addButton()->isEnabled());
            QVERIFY(saveScreenshot(view->accounts(), u"feedform-reading"_s));
            QTest::keyClick(form()->nameField(), Qt::Key_Return);
            QTRY_COMPARE_WITH_TIMEOUT(held->requests().size(), 1, 10'000);
            QCOMPARE(held->openConnections(), 1);
            held.reset();
        }
        if (address.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(calendar().accounts().size(), 1, 10'000);
            QTRY_VERIFY(!form()->isVisible());
            QVERIFY(form()->addressField()->text().isEmpty() && shows(view->accounts(), outcome));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(form()->errorLabel()->isVisible(), 10'000);
            QCOMPARE(form()->errorLabel()->text(), outcome);
            QCOMPARE(textColor(form()->errorLabel()), Theme::Colors::red());
            QCOMPARE(unreadable(form()), QStringList());
            QVERIFY(!form()->progressLabel()->isVisible() && !form()->addressField()->isReadOnly());
            QVERIFY(calendar().accounts().isEmpty());
            QTest::keyClick(form()->addressField(), Qt::Key_Backspace);
            QVERIFY(!form()->errorLabel()->isVisible());
            QTest::keyClick(form()->addressField(), Qt::Key_Escape);
            QVERIFY(!form()->isVisible());
        }
        QCOMPARE(focused(), view->accounts()->connectButton(CalendarProvider::feed));
    }

    // A feed that fails later keeps its row and shows why in red until a poll succeeds again.
    void failingFeed() {
        openWith({});
        QVERIFY(settle(calendar().addFeed(feedAddress(), {})).ok());
        const QString id = calendar().accounts().first().id;
        feeds.respondWith(Response::text("busy", 503));
        settle(calendar().fetchEvents());
        QLabel *problem = view->accounts()->feedProblemLabel(id);
        QVERIFY(problem && problem->isVisibleTo(view->accounts()));
        QCOMPARE(problem->text(), u"The calendar feed answered with HTTP status 503."_s);
        QCOMPARE(textColor(problem), Theme::Colors::red());
        QCOMPARE(unreadable(view->accounts()), QStringList());
        feeds.respondWith({200, icsFeed(), "text/calendar", false});
        settle(calendar().fetchEvents());
        QVERIFY(!view->accounts()->feedProblemLabel(id));
    }

    // Onboarding offers the feed as a third choice; its form takes the choices' place and,
    // with its complaint, fits the fixed-size window; so do the choices once connected.
    void onboardingOffersAFeed() {
        openWith({});
        OnboardingView onboarding(calendar());
        onboarding.setFixedSize(OnboardingView::contentWidth, OnboardingView::contentHeight);
        QVERIFY(showActive(&onboarding, onboarding.size()));
        onboarding.flow()->forward();
        OnboardingProviderRow *feedRow = onboarding.providerRow(CalendarProvider::feed);
        CalendarFeedForm *form = onboarding.feedForm();
        QVERIFY(feedRow->isVisible() && !form->isVisible());
        QCOMPARE(unreadable(&onboarding), QStringList());

        QTest::mouseClick(feedRow->connectButton(), Qt::LeftButton);
        QVERIFY(form->isVisible() && !feedRow->isVisible());
        QCOMPARE(focused(), form->addressField());
        QTest::keyClicks(form->addressField(), u"webcal//missing-colon"_s);
        QTest::keyClick(form->addressField(), Qt::Key_Return);
        QTRY_VERIFY(form->errorLabel()->isVisible());
        QVERIFY(saveScreenshot(&onboarding, u"feedform-onboarding-form"_s));
        QLabel *error = form->errorLabel();
        QTRY_VERIFY(error->height() >= error->heightForWidth(error->width()));
        QVERIFY(form->geometry().bottom() < form->parentWidget()->height());

        form->addressField()->clear();
        QTest::keyClicks(form->addressField(), feedAddress());
        QTest::keyClick(form->addressField(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(calendar().accounts().size(), 1, 10'000);
        QTRY_VERIFY(!form->isVisible());
        QVERIFY(feedRow->isConnected() && feedRow->disconnectButton()->isVisible());
        QVERIFY(shows(&onboarding, u"Calendar connected"_s));
        QCOMPARE(focused()->accessibleName(), u"Get Started"_s);
        QTRY_COMPARE(feedRow->height(), feedRow->sizeHint().height());
    }
};

QTEST_MAIN(TestSettingsView)
#include "tst_settingsview.moc"
