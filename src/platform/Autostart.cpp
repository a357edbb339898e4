#include "Autostart.h"

#include "PrivateFiles.h"
#include "UserLocalInstall.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
// A desktop entry's string value: backslash and the characters a line cannot hold are escaped.
QString escapedValue(const QString &text) {
    QString out;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        default:
            out += c;
        }
    }
    if (out.startsWith(u' '))
        out.replace(0, 1, QStringLiteral("\\s"));
    return out;
}

// The program as the one quoted argument of an Exec line: quoting first, then "%" doubled
// (field codes), then the string escapes over it all.
QString execValue(const QString &program) {
    QString quoted;
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(u'%', QStringLiteral("%%"));
    return escapedValue(u'"' + quoted + u'"');
}
} // namespace

QString Autostart::entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/app.zelvane.Zelvane.desktop");
}

QString Autostart::launcher(const QString &running) {
    if (const auto root = UserLocalInstall::rootOf(running))
        return *root + QStringLiteral("/current/bin/") + QFileInfo(running).fileName();
    return running;
}

bool Autostart::enable(const QString &executable) {
    const QFileInfo path(entryPath());
    // The session runs the entry's Exec line at login: nobody else may change it, and a link
    // planted under its name is replaced rather than written through.
    const PrivateFiles::Folder folder(path.path());
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Zelvane\n"
                                         "Comment=Full-screen reminders for your meetings\n"
                                         "TryExec=%1\n"
                                         "Exec=%2\n"
                                         "Icon=app.zelvane.Zelvane\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(escapedValue(executable), execValue(executable));
    return folder.isOpen() && folder.write(path.fileName(), entry.toUtf8(), 0644);
}

bool Autostart::disable() {
    const QString path = entryPath();
    if (QFile::remove(path))
        return true;
    const QFileInfo left(path);
    return !left.exists() && !left.isSymLink();
}

bool Autostart::isEnabled() {
    const QFileInfo entry(entryPath());
    return !entry.isSymLink() && entry.isFile();
}

bool Autostart::apply(bool enabled) {
    return enabled ? enable(launcher(QCoreApplication::applicationFilePath())) : disable();
}
