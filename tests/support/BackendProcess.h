#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTest>
#include <memory>
#include <sys/resource.h>

// Runs the real zelvane-backend for one test: the binary named by $ZELVANE_BACKEND_BINARY (set
// per test in CMake), on the port its first line announces. It runs as the demo stand-in
// unless `Mode::live` is asked for (the arguments then name a configuration).
class BackendProcess {
public:
    struct Reply {
        int status = 0; // 0: no answer
        QByteArray body;
        QUrl location;
        QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    };
    // With `Admin::on`, the stand-in serves its test-control interface.
    enum class Admin { off, on };
    enum class Mode { demo, live };

    explicit BackendProcess(QStringList arguments = {}, Admin admin = Admin::on,
                            Mode mode = Mode::demo)
        : m_arguments(std::move(arguments)) {
        if (admin == Admin::on)
            m_arguments.prepend(QStringLiteral("--admin"));
        if (mode == Mode::demo)
            m_arguments.prepend(QStringLiteral("--demo"));
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    ~BackendProcess() { stop(); }

    // Ends the process the way a service manager does (killed if it does not end in time); its
    // address then refuses every connection.
    void stop() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5'000)) {
            m_process.kill();
            m_process.waitForFinished(5'000);
        }
    }

    // Before start(): the process may hold at most `count` descriptors.
    void limitOpenFiles(int count) {
        m_process.setChildProcessModifier([count] {
            const rlimit limit{rlim_t(count), rlim_t(count)};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        });
    }
    int openFiles() const {
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(m_process.processId()));
        return int(fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
    }

    // Starts the process and waits for its first line; false with error() when it fails.
    bool start(int timeoutMs = 10'000) {
        m_process.start(qEnvironmentVariable("ZELVANE_BACKEND_BINARY"), m_arguments);
        const QDeadlineTimer deadline(timeoutMs);
        while (!m_process.canReadLine())
            if (!m_process.waitForReadyRead(int(deadline.remainingTime()))) {
                m_error = m_process.program() + QStringLiteral(": ") + m_process.errorString();
                return false;
            }
        const QByteArray line = m_process.readLine().trimmed();
        const QByteArray prefix = "zelvane-backend listening on http://127.0.0.1:";
        m_port = line.startsWith(prefix) ? quint16(line.mid(prefix.size()).toUInt()) : 0;
        if (m_port == 0)
            m_error = QStringLiteral("unexpected start-up line: ") + QString::fromUtf8(line);
        return m_port != 0;
    }
    QString error() const { return m_error; }
    // Before start(): the error channel goes to this file instead of the test's own.
    void captureErrorsIn(const QString &file) {
        m_errorFile = file;
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.setStandardErrorFile(file);
    }
    // What the process wrote to that file, once it has ended (after start() failed or after
    // stop()).
    QByteArray errorOutput() {
        m_process.waitForFinished(5'000);
        QFile file(m_errorFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    int exitCode() const { return m_process.exitCode(); }

    quint16 port() const { return m_port; }
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

    // One request, a redirect reported rather than followed.
    Reply request(const QByteArray &verb, const QString &pathAndQuery, const QJsonObject &body = {},
                  const QByteArray &authorization = {}) {
        QNetworkAccessManager network;
        QNetworkRequest request(QUrl::fromEncoded((origin() + pathAndQuery).toUtf8()));
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/json"));
        if (!authorization.isEmpty())
            request.setRawHeader("Authorization", authorization);
        const std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(
            request, verb,
            verb == "POST" || !body.isEmpty() ? QJsonDocument(body).toJson() : QByteArray()));
        if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 15'000))
            return {};
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                reply->readAll(), QUrl(QString::fromUtf8(reply->rawHeader("Location")))};
    }
    // A call of the test-control interface: its JSON answer, empty when the call failed.
    QJsonObject admin(const QByteArray &verb, const QString &path, const QJsonObject &body = {}) {
        const Reply reply = request(verb, QStringLiteral("/_admin/") + path, body);
        return reply.status == 200 ? reply.json() : QJsonObject();
    }

    // What the stand-in was asked on `endpoint` since its log was last cleared.
    QJsonArray requestsTo(const QString &endpoint) {
        QJsonArray found;
        for (const QJsonValue &r : admin("GET", QStringLiteral("requests"))["requests"].toArray())
            if (r["path"].toString().endsWith(endpoint))
                found.append(r);
        return found;
    }

private:
    QStringList m_arguments;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
    QString m_errorFile;
};
