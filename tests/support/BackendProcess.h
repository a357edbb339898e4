#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// Runs the real zelvane-backend for one test. The binary comes from $ZELVANE_BACKEND_BINARY
// (set per test in CMake to $<TARGET_FILE:zelvane-backend>); the port from its first line.
class BackendProcess {
public:
    // With `Admin::on`, the stand-in serves its test-control interface.
    enum class Admin { off, on };
    explicit BackendProcess(QStringList arguments = {}, Admin admin = Admin::on);
    ~BackendProcess();
    BackendProcess(const BackendProcess &) = delete;
    BackendProcess &operator=(const BackendProcess &) = delete;

    // Starts the process and waits for its first line; false with error() when it fails.
    bool start(int timeoutMs = 10'000);
    QString error() const { return m_error; }

    quint16 port() const { return m_port; }
    QString origin() const;  // "http://127.0.0.1:<port>"
    QString apiBase() const; // origin + "/functions/v1/api/"

    // One call of the test-control interface: its JSON answer, or an empty object when the call
    // failed.
    QJsonObject admin(const QByteArray &verb, const QString &path, const QJsonObject &body = {});

private:
    QStringList m_arguments;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};
