#include "Autostart.h"

#include "PrivateFiles.h"

#include <QFileInfo>
#include <QStandardPaths>

QString Autostart::entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/app.zelvane.Zelvane.desktop");
}

bool Autostart::enable(const QString &executable) {
    const QFileInfo path(entryPath());
    // The session runs the entry's Exec line at login: nobody else may change it, and a link
    // planted under its name is replaced rather than written through.
    const PrivateFiles::Folder folder(path.path());
    QString exec = executable;
    exec.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Zelvane\n"
                                         "Comment=Full-screen reminders for your meetings\n"
                                         "Exec=\"%1\"\n"
                                         "Icon=app.zelvane.Zelvane\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(exec);
    return folder.isOpen() && folder.write(path.fileName(), entry.toUtf8(), 0644);
}

bool Autostart::disable() {
    QFile file(entryPath());
    return !file.exists() || file.remove();
}

bool Autostart::isEnabled() {
    return QFileInfo::exists(entryPath());
}
