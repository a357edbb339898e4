#include "AppServices.h"

#include "core/AppConfig.h"
#include "core/AppSettings.h"
#include "platform/BuildTreeCopy.h"
#include "platform/PackageKitInstall.h"
#include "platform/UpdateSignature.h"
#include "platform/UserLocalInstall.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QStandardPaths>

namespace {
std::unique_ptr<UpdateInstaller> installerFor(SingleInstance *instance) {
    const QString executable = QCoreApplication::applicationFilePath();
    if (const auto root = UserLocalInstall::rootOf(executable))
        return std::make_unique<UserLocalInstall>(*root, instance);
    if (BuildTreeCopy::isSystemInstall(executable))
        return std::make_unique<PackageKitInstall>(QDBusConnection::systemBus(), executable,
                                                   instance);
    return std::make_unique<BuildTreeCopy>();
}

Updater::Config updaterConfig() {
    return Updater::Config{
        .feed = Updater::feedFromEnvironment(),
        .runningVersion = QCoreApplication::applicationVersion(),
        .publicKey = UpdateSignature::builtInPublicKey(),
        .downloadDir = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                       QStringLiteral("/Zelvane/Updates"),
    };
}
} // namespace

AppServices::AppServices(AppSettings &settings, Clock &clock_, SingleInstance *instance)
    : clock(clock_)
    , proxy(secrets, clock)
    , calendar(settings, proxy, secrets, signIn, clock, FiredReminders::defaultFolder())
    , slack(backend, secrets, clock)
    , sms(backend, secrets, settings, clock)
    , keyStatus(settings)
    , llm(secrets, keyStatus)
    , researchCache(ResearchCache::defaultDirectory(), clock)
    , research(llm, researchCache, calendar, slack, secrets, clock)
    , scheduler(calendar, research, settings, clock, FiredReminders::defaultFolder())
    , battery(clock)
    , updateInstaller(installerFor(instance))
    , updater(settings, clock, *updateInstaller, updaterConfig())
    , updates(updater, settings, QCoreApplication::applicationVersion()) {
    QObject::connect(&sleep, &SleepMonitor::aboutToSleep, &scheduler,
                     &ReminderScheduler::noteSleeping);
    QObject::connect(&sleep, &SleepMonitor::woke, &scheduler, &ReminderScheduler::noteWoken);
    // Every request reads the backend's address anew, so a changed one applies to the next.
    const auto chooseBackend = [&settings] {
        AppConfig::setChosenBackendOrigin(
            settings.value(AppSettings::Key::BackendOrigin).toString());
    };
    chooseBackend();
    QObject::connect(&settings, &AppSettings::changed, &settings,
                     [chooseBackend](AppSettings::Key key) {
                         if (key == AppSettings::Key::BackendOrigin)
                             chooseBackend();
                     });
    QObject::connect(&clockChanges, &ClockChangeMonitor::clockChanged, &scheduler,
                     &ReminderScheduler::noteClockChanged);
}

AppServices::~AppServices() = default;
