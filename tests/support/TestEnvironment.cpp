#include "TestEnvironment.h"

#include "core/AppSettings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

TestEnvironment::TestEnvironment()
    : m_oldConfig(qgetenv("XDG_CONFIG_HOME"))
    , m_oldData(qgetenv("XDG_DATA_HOME")) {
    QDir().mkpath(configHome());
    QDir().mkpath(dataHome());
    qputenv("XDG_CONFIG_HOME", configHome().toUtf8());
    qputenv("XDG_DATA_HOME", dataHome().toUtf8());
}

TestEnvironment::~TestEnvironment() {
    qputenv("XDG_CONFIG_HOME", m_oldConfig);
    qputenv("XDG_DATA_HOME", m_oldData);
}

QString TestEnvironment::configHome() const {
    return m_dir.path() + QStringLiteral("/config");
}
QString TestEnvironment::dataHome() const {
    return m_dir.path() + QStringLiteral("/data");
}

std::unique_ptr<AppSettings> TestEnvironment::makeSettings() const {
    return std::make_unique<AppSettings>(std::make_unique<QSettings>(
        configHome() + QStringLiteral("/Zelvane/Zelvane.conf"), QSettings::IniFormat));
}
