#include "ManualClock.h"
#include "TestEnvironment.h"
#include "core/AppSettings.h"
#include "platform/SecretStore.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/SignInListener.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
bool mapped(const QByteArray &library) {
    QFile maps(u"/proc/self/maps"_s);
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(library);
}
} // namespace

// The desktop's calendar store comes in a module of its own: nothing of Evolution Data Server
// is loaded until a desktop account is opened, and the module is then found from the build tree.
class TestDesktopModule : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void storeLoadedOnlyForADesktopAccount() {
        TestEnvironment environment;
        auto settings = environment.makeSettings();
        ManualClock clock;
        SecretStore secrets;
        CalendarProxyClient proxy(secrets, clock);
        CalendarSignInListener listener;
        CalendarService service(*settings, proxy, secrets, listener, clock);
        service.startMonitoring();
        // Nothing provides the store on this bus: known without its libraries.
        QTRY_COMPARE(service.desktopAvailability(), DesktopCalendars::Availability::absent);
        QVERIFY(!mapped(DesktopCalendarStore::moduleName));
        QVERIFY(!mapped("/libecal-"));
        QVERIFY(!mapped("/libedataserver-"));

        const ConnectedAccount account = service.addDesktopCalendars();
        QVERIFY(mapped(DesktopCalendarStore::moduleName));
        QVERIFY(mapped("/libecal-"));
        // The store's own word, through the module: it is not running.
        QTRY_COMPARE(service.accountProblem(account.id), DesktopCalendars::problemText());

        service.removeAccount(account);
        QVERIFY(!service.accountProblem(account.id));
    }
};

QTEST_GUILESS_MAIN(TestDesktopModule)
#include "tst_desktopmodule.moc"
