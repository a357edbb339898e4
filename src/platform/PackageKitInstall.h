#pragma once

#include "UpdateInstaller.h"

#include <QDBusConnection>
#include <chrono>

class SingleInstance;

// A system installation from the Debian package: the verified package goes to PackageKit
// (InstallFiles on the system bus), which asks the user for permission itself. Without
// PackageKit the package is opened in the desktop's software installer. Never runs sudo.
class PackageKitInstall : public UpdateInstaller {
    Q_OBJECT

public:
    static inline const QString service = QStringLiteral("org.freedesktop.PackageKit");

    // `executable` is started after a successful install; `bus` is the system bus.
    PackageKitInstall(QDBusConnection bus, QString executable, SingleInstance *instance,
                      std::chrono::milliseconds startTimeout = std::chrono::seconds(30),
                      QObject *parent = nullptr);

    bool usesDebianPackage() const override { return true; }
    QCoro::Task<Outcome> install(QString file, QString version) override;

private:
    QCoro::Task<bool> installWithPackageKit(const QString &file);

    QDBusConnection m_bus;
    QString m_executable;
    SingleInstance *m_instance;
    std::chrono::milliseconds m_startTimeout;
};
