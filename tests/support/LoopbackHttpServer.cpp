#include "LoopbackHttpServer.h"

#include <QTcpSocket>
#include <QTimer>
#include <memory>

LoopbackHttpServer::LoopbackHttpServer(QObject *parent)
    : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            m_buffers.insert(socket, {});
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

bool LoopbackHttpServer::start() {
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString LoopbackHttpServer::origin() const {
    return QStringLiteral("http://127.0.0.1:") + QString::number(m_server.serverPort());
}

void LoopbackHttpServer::respondWith(Response response) {
    m_handler = [response](const Request &) { return response; };
}

int LoopbackHttpServer::openConnections() const {
    return int(m_buffers.size());
}

void LoopbackHttpServer::readFrom(QTcpSocket *socket) {
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    while (true) {
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        Request request;
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                       lines[i].mid(colon + 1).trimmed());
        }
        const qsizetype length = request.header("content-length").toLongLong();
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        buffer.remove(0, headerEnd + 4 + length);
        m_requests.append(request);
        answer(socket, request);
        if (!m_buffers.contains(socket))
            return;
    }
}

void LoopbackHttpServer::answer(QTcpSocket *socket, const Request &request) {
    const Handler handler = m_routes.value(request.path(), m_handler);
    const Response response = handler ? handler(request) : Response::text("not found", 404);
    if (response.neverAnswer)
        return;
    // Clients read the status code, never the reason phrase.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n";
    head += "Content-Type: " + response.contentType + "\r\n";
    const qint64 length =
        response.announcedLength >= 0 ? response.announcedLength : response.body.size();
    head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    head += "Connection: close\r\n\r\n";
    const auto send = [socket, head, response] {
        if (response.trickle.count() <= 0) {
            socket->write(head + response.body);
            socket->disconnectFromHost();
            return;
        }
        socket->write(head);
        // The timer belongs to the socket, so a client that hangs up ends the trickle.
        auto *timer = new QTimer(socket);
        auto remaining = std::make_shared<QByteArray>(response.body);
        connect(timer, &QTimer::timeout, socket, [socket, timer, remaining] {
            socket->write(remaining->left(1));
            remaining->remove(0, 1);
            if (remaining->isEmpty()) {
                timer->stop();
                socket->disconnectFromHost();
            }
        });
        timer->start(response.trickle);
    };
    if (response.delay.count() > 0)
        QTimer::singleShot(response.delay, socket, send);
    else
        send();
}
