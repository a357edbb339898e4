// The floor for the app's idle figures: one QSystemTrayIcon with a menu and nothing else.
// SIGUSR1 prints the CPU time and voluntary context switches used so far (every thread, ended
// ones included) in the app's own measurement format; SIGTERM quits.
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int signal) {
    const char byte = signal == SIGUSR1 ? 2 : 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

void report() {
    timespec used = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "zelvane-measure cpu-ns=%lld nvcsw=%ld\n",
                 static_cast<long long>(used.tv_sec) * 1'000'000'000LL + used.tv_nsec,
                 usage.ru_nvcsw);
    std::fflush(stderr);
}
} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return 1;
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte = 1;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
        if (byte == 2)
            report();
        else
            app.quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGUSR1, &action, nullptr);

    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::transparent);
    QPainter(&pixmap).fillRect(3, 3, 16, 16, QColor(0x2b6cb0));
    QMenu menu;
    menu.addAction(QStringLiteral("Open"));
    menu.addSeparator();
    menu.addAction(QStringLiteral("Quit"), &app, &QCoreApplication::quit);
    QSystemTrayIcon tray{QIcon(pixmap)};
    tray.setToolTip(QStringLiteral("Floor"));
    tray.setContextMenu(&menu);
    tray.show();
    return app.exec();
}
