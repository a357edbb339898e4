// Small X11 helpers for the end-to-end tests:
//   e2e_xhelper fullscreen <title>   a full-screen window that stays until terminated
//   e2e_xhelper screenshot <file>    the whole desktop, every screen, as PNG
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <cstdio>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: e2e_xhelper fullscreen <title> | screenshot <file>\n");
        return 2;
    }
    if (args[1] == QLatin1String("fullscreen")) {
        QWidget window;
        window.setWindowTitle(args[2]);
        window.setStyleSheet(QStringLiteral("background: #2b6cb0"));
        window.showFullScreen();
        return app.exec();
    }
    if (args[1] == QLatin1String("screenshot")) {
        QScreen *screen = QGuiApplication::primaryScreen();
        const QRect desktop = screen->virtualGeometry();
        // Window 0 is the root window, which spans every screen.
        const QPixmap shot =
            screen->grabWindow(0, desktop.x(), desktop.y(), desktop.width(), desktop.height());
        return shot.save(args[2], "PNG") ? 0 : 1;
    }
    std::fprintf(stderr, "unknown command %s\n", qPrintable(args[1]));
    return 2;
}
