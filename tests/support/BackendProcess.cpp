#include "BackendProcess.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTest>
#include <memory>

BackendProcess::BackendProcess(QStringList arguments, Admin admin)
    : m_arguments(std::move(arguments)) {
    if (admin == Admin::on)
        m_arguments.prepend(QStringLiteral("--admin"));
    m_process.setReadChannel(QProcess::StandardOutput);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

BackendProcess::~BackendProcess() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5'000);
    }
}

bool BackendProcess::start(int timeoutMs) {
    const QString binary = qEnvironmentVariable("ZELVANE_BACKEND_BINARY");
    if (binary.isEmpty()) {
        m_error = QStringLiteral("ZELVANE_BACKEND_BINARY is not set");
        return false;
    }
    m_process.start(binary, m_arguments);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = m_process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() || !m_process.waitForReadyRead(int(deadline.remainingTime()))) {
            m_error = QStringLiteral("no start-up line from %1").arg(binary);
            return false;
        }
    }
    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
    static const QRegularExpression pattern(
        QStringLiteral("^zelvane-backend listening on http://127\\.0\\.0\\.1:(\\d+)$"));
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch()) {
        m_error = QStringLiteral("unexpected start-up line: ") + line;
        return false;
    }
    m_port = quint16(match.captured(1).toUInt());
    return true;
}

QString BackendProcess::origin() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QString BackendProcess::apiBase() const {
    return origin() + QStringLiteral("/functions/v1/api/");
}

QJsonObject BackendProcess::admin(const QByteArray &verb, const QString &path,
                                  const QJsonObject &body) {
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(origin() + QStringLiteral("/_admin/") + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    const std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(
        request, verb, verb == "POST" ? QJsonDocument(body).toJson() : QByteArray()));
    if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 10'000) || reply->error())
        return {};
    return QJsonDocument::fromJson(reply->readAll()).object();
}
