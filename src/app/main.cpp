#include "AppController.h"
#include "AppLog.h"
#include "AppServices.h"
#include "LoopbackProxyFactory.h"
#include "Translations.h"
#include "core/AppSettings.h"
#include "core/Clock.h"
#include "platform/Relaunch.h"
#include "platform/SingleInstance.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoroTask>
#include <QSocketNotifier>
#include <QThreadPool>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string_view>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

constexpr char quitByte = 1;
constexpr char reportByte = 2;

void onSignal(int signal) {
    const char byte = signal == SIGUSR1 ? reportByte : quitByte;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// The process's CPU time and voluntary context switches (its wake-ups), ended threads
// included, for the measurement script.
void reportCpuTime() {
    timespec used = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "zelvane-measure cpu-ns=%lld nvcsw=%ld\n",
                 static_cast<long long>(used.tv_sec) * 1'000'000'000LL + used.tv_nsec,
                 usage.ru_nvcsw);
    std::fflush(stderr);
}

// SIGTERM and SIGINT end the event loop so Qt can tear windows and the tray icon down. With
// ZELVANE_MEASURE=1, SIGUSR1 reports the CPU time and wake-ups so far.
void handleSignals(QApplication &app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte = quitByte;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
        if (byte == reportByte)
            reportCpuTime();
        else
            app.quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    if (qEnvironmentVariableIntValue("ZELVANE_MEASURE") == 1)
        sigaction(SIGUSR1, &action, nullptr);
}
// Full-screen reminders must stay above other windows on every screen, which Wayland does not
// let a client ask for; X11 through XWayland does. A platform the user chose wins.
void preferXWayland() {
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    const bool wayland = qEnvironmentVariable("XDG_SESSION_TYPE") == u"wayland" ||
                         qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
    if (wayland && qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

// What runs once this process owns the session's bus name; destroyed in reverse order.
struct Running {
    AppServices services;
    AppController controller;

    Running(AppSettings &settings, SingleInstance &instance)
        : services(settings, Clock::system(), &instance)
        , controller(settings, services) {}
};

// Runs Zelvane unless one already runs in this session; then that one opens its settings
// window and this process ends with status 0, having started none of the services.
QCoro::Task<> startOrHandOver(SingleInstance &instance, AppSettings &settings,
                              std::unique_ptr<Running> &running) {
    try {
        bool owner = co_await instance.claim();
        // The owner may have been ending just then; a second try settles it.
        if (!owner && !co_await instance.activateRunning())
            owner = co_await instance.claim();
        if (!owner) {
            QCoreApplication::exit(0);
            co_return;
        }
        running = std::make_unique<Running>(settings, instance);
        QObject::connect(&instance, &SingleInstance::activated, &running->controller,
                         &AppController::openApp);
        running->controller.start();
        Relaunch::reportStarted();
    } catch (const std::exception &error) {
        qCWarning(lcApp) << "start-up failed:" << error.what();
        QCoreApplication::exit(1);
    }
}

// --help and --version are answered before anything starts: no display, no settings, no
// autostart entry. Other arguments are left to Qt (-platform, -display, ...).
void answerInformationRequests(int argc, char *argv[]) {
    // The usual start names neither, and is spared a second application object.
    const auto asksForInformation = [](std::string_view argument) {
        return argument == "--help" || argument == "-h" || argument == "-?" ||
               argument == "--help-all" || argument == "--version" || argument == "-v";
    };
    if (std::none_of(argv + 1, argv + argc, asksForInformation))
        return;
    QCoreApplication probe(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zelvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZELVANE_VERSION));
    const Translations translations;
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Zelvane makes upcoming meetings impossible to miss: it lives in the system tray "
                "and covers every screen with a reminder before each meeting."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.parse(QCoreApplication::arguments());
    // Both print and end the process.
    if (parser.isSet(help))
        parser.showHelp(0);
    if (parser.isSet(version))
        parser.showVersion();
}
} // namespace

int main(int argc, char *argv[]) {
    answerInformationRequests(argc, argv);
    preferXWayland();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zelvane"));
    QApplication::setOrganizationName(QStringLiteral("Zelvane"));
    QApplication::setApplicationVersion(QStringLiteral(ZELVANE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("app.zelvane.Zelvane"));
    QApplication::setQuitOnLastWindowClosed(false);
    handleSignals(app);
    // The workers of each calendar refresh would otherwise wake 30 s later only to end; idle,
    // they wait without a timeout for the next refresh.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);
    // Before any window or tray menu exists, so every text is created in the user's language.
    const Translations translations;
    // Owned by Qt from here on.
    QNetworkProxyFactory::setApplicationProxyFactory(new LoopbackProxyFactory);

    AppSettings settings(AppSettings::defaultStore());
    SingleInstance instance;
    std::unique_ptr<Running> running;
    startOrHandOver(instance, settings, running);
    return app.exec();
}
