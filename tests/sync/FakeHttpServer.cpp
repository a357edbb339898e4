#include "FakeHttpServer.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

QString FakeHttpServer::Request::path() const {
    const qsizetype at = target.indexOf('?');
    return QString::fromUtf8(at < 0 ? target : target.left(at));
}

QUrlQuery FakeHttpServer::Request::query() const {
    const qsizetype at = target.indexOf('?');
    return at < 0 ? QUrlQuery() : QUrlQuery(QString::fromUtf8(target.mid(at + 1)));
}

QString FakeHttpServer::Request::item(const QString &name) const {
    return query().queryItemValue(name, QUrl::FullyDecoded);
}

FakeHttpServer::FakeHttpServer() {
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection())
            serve(socket);
    });
}

QString FakeHttpServer::origin() const {
    return QStringLiteral("http://127.0.0.1:") + QString::number(m_server.serverPort());
}

void FakeHttpServer::serve(QTcpSocket *socket) {
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
        buffer->append(socket->readAll());
        const qsizetype headerEnd = buffer->indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        Request request;
        const QList<QByteArray> lines = buffer->left(headerEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        qsizetype length = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray name = lines[i].left(colon).trimmed().toLower();
            request.headers.insert(name, lines[i].mid(colon + 1).trimmed());
            if (name == "content-length")
                length = lines[i].mid(colon + 1).trimmed().toLongLong();
        }
        if (buffer->size() < headerEnd + 4 + length)
            return;
        request.body = buffer->mid(headerEnd + 4, length);
        buffer->remove(0, headerEnd + 4 + length);
        requests.append(request);

        const auto handler = m_handlers.value(request.path());
        const Response response = handler ? handler(request) : Response{404, "not found"};
        QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(response.delayMs, this, [guard, response] {
            if (!guard)
                return;
            if (response.hangUp) {
                guard->abort();
                return;
            }
            guard->write("HTTP/1.1 " + QByteArray::number(response.status) +
                         " Status\r\nContent-Type: application/json\r\nContent-Length: " +
                         QByteArray::number(response.body.size()) +
                         "\r\nConnection: close\r\n\r\n" + response.body);
            guard->disconnectFromHost();
        });
    });
}
