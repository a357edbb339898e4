#pragma once

#include <QTemporaryDir>
#include <memory>

class AppSettings;

// A throw-away home for one test: XDG_CONFIG_HOME and XDG_DATA_HOME point into a
// temporary folder that is removed afterwards.
class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();

    QString path() const { return m_dir.path(); }
    QString configHome() const;
    QString dataHome() const;

    // Settings stored in this environment's config home.
    std::unique_ptr<AppSettings> makeSettings() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldConfig, m_oldData;
};
