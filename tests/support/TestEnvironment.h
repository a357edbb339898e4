#pragma once

#include "core/AppSettings.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>

// A throw-away home for one test: XDG_CONFIG_HOME and XDG_DATA_HOME point into a temporary
// folder that is removed afterwards.
class TestEnvironment {
public:
    TestEnvironment() {
        QDir().mkpath(configHome());
        QDir().mkpath(dataHome());
        qputenv("XDG_CONFIG_HOME", configHome().toUtf8());
        qputenv("XDG_DATA_HOME", dataHome().toUtf8());
    }
    ~TestEnvironment() {
        qputenv("XDG_CONFIG_HOME", m_oldConfig);
        qputenv("XDG_DATA_HOME", m_oldData);
    }

    QString path() const { return m_dir.path(); }
    QString configHome() const { return m_dir.path() + QStringLiteral("/config"); }
    QString dataHome() const { return m_dir.path() + QStringLiteral("/data"); }

    // Settings stored in this environment's config home.
    std::unique_ptr<AppSettings> makeSettings() const {
        return std::make_unique<AppSettings>(std::make_unique<QSettings>(
            configHome() + QStringLiteral("/Zelvane/Zelvane.conf"), QSettings::IniFormat));
    }

private:
    QTemporaryDir m_dir;
    const QByteArray m_oldConfig = qgetenv("XDG_CONFIG_HOME"), m_oldData = qgetenv("XDG_DATA_HOME");
};
