// Small X11 helpers for the end-to-end tests:
//   e2e_xhelper fullscreen <title>   a full-screen window that stays until terminated
//   e2e_xhelper screenshot <file>    the whole desktop, every screen, as PNG
//   e2e_xhelper brief-preview <dir>  the app's brief preview window for a sample meeting,
//                                    with settings kept in <dir>, until terminated
#include "app/AppController.h"
#include "core/AppSettings.h"

#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace {
CalendarEvent sampleMeeting() {
    CalendarEvent event;
    event.id = QStringLiteral("nylas_renewal");
    event.title = QStringLiteral("Contract renewal with Northwind");
    event.startDate = QDateTime::currentDateTime().addSecs(25 * 60);
    event.endDate = event.startDate.addSecs(45 * 60);
    event.calendarTitle = QStringLiteral("Work");
    event.calendarColor = QColor(QStringLiteral("#34C759"));
    event.location = QStringLiteral("Room 4.12");
    event.meetingLink = QUrl(QStringLiteral("https://zoom.us/j/123456789"));
    event.attendeeEmails = {QStringLiteral("maria.lopez@northwind.example")};
    return event;
}

MeetingBrief sampleBrief() {
    MeetingBrief brief;
    brief.eventId = QStringLiteral("nylas_renewal");
    brief.generatedAt = QDateTime::currentDateTime().addSecs(-12 * 60);
    brief.summary = {QStringLiteral("Northwind's contract ends next month; they asked for a "
                                    "three-year option."),
                     QStringLiteral("Maria led the last pricing review.")};
    brief.talkingPoints = {QStringLiteral("Confirm the seat count for next year"),
                           QStringLiteral("Offer the annual prepay discount")};
    MeetingBrief::AttendeeProfile maria;
    maria.email = QStringLiteral("maria.lopez@northwind.example");
    maria.name = QStringLiteral("Maria Lopez");
    maria.role = QStringLiteral("Head of Procurement");
    maria.company = QStringLiteral("Northwind");
    maria.notes = QStringLiteral("Prefers written follow-ups.");
    brief.attendeeProfiles = {maria};
    return brief;
}
} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(
            stderr,
            "usage: e2e_xhelper fullscreen <title> | screenshot <file> | brief-preview <dir>\n");
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
    if (args[1] == QLatin1String("brief-preview")) {
        AppSettings settings(std::make_unique<QSettings>(args[2] + QStringLiteral("/Zelvane.conf"),
                                                         QSettings::IniFormat));
        AppController delegate(settings);
        delegate.showBriefPreview(sampleMeeting(), sampleBrief());
        return app.exec();
    }
    std::fprintf(stderr, "unknown command %s\n", qPrintable(args[1]));
    return 2;
}
