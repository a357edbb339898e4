#include "Autostart.h"

#include "PrivateFiles.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

QString Autostart::entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/app.zelvane.Zelvane.desktop");
}

bool Autostart::enable(const QString &executable) {
    const QString path = entryPath();
    if (!PrivateFiles::makeFolder(QFileInfo(path).path()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
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
    file.write(entry.toUtf8());
    // The session runs the entry's Exec line at login: nobody else may change it.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                             QFileDevice::ReadGroup | QFileDevice::ReadOther)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool Autostart::disable() {
    QFile file(entryPath());
    return !file.exists() || file.remove();
}

bool Autostart::isEnabled() {
    return QFileInfo::exists(entryPath());
}
