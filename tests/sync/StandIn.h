#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QString>
#include <QtTest>

// The backend stand-in, started for one test and stopped with it.
class StandIn {
public:
    explicit StandIn(const QStringList &arguments = {}) {
        m_process.start(QStringLiteral(ZELVANE_BACKEND_BINARY),
                        QStringList{QStringLiteral("--admin")} + arguments);
        if (!m_process.waitForStarted(5000))
            return;
        if (!QTest::qWaitFor([&] { return m_process.canReadLine(); }, 10000))
            return;
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        const QString prefix = QStringLiteral("zelvane-backend listening on ");
        if (line.startsWith(prefix))
            m_origin = line.mid(prefix.size());
    }
    ~StandIn() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    bool isRunning() const { return !m_origin.isEmpty(); }
    const QString &origin() const { return m_origin; }

    // One call of the test-control API; the answer's body, or null on a transport failure.
    QByteArray admin(const QByteArray &verb, const QString &path, const QJsonObject &body = {}) {
        QNetworkRequest request(QUrl(m_origin + QStringLiteral("/_admin/") + path));
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/json"));
        QNetworkReply *reply = m_network.sendCustomRequest(
            request, verb, body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson());
        const bool finished = QTest::qWaitFor([&] { return reply->isFinished(); }, 10000);
        const QByteArray answer =
            finished && reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
        reply->deleteLater();
        return answer;
    }
    QJsonObject adminJson(const QByteArray &verb, const QString &path,
                          const QJsonObject &body = {}) {
        return QJsonDocument::fromJson(admin(verb, path, body)).object();
    }

private:
    QProcess m_process;
    QNetworkAccessManager m_network;
    QString m_origin;
};
