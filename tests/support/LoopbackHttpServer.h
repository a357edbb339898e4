#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <functional>

// An HTTP/1.1 server on 127.0.0.1 that records every request and answers with what the handler
// for its path (or else the general handler) returns; a path nobody handles gets a 404.
class LoopbackHttpServer : public QObject {
public:
    struct Request {
        QByteArray method;
        QByteArray target;                     // path and query as sent
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;

        QString path() const { return QUrl(QString::fromUtf8(target)).path(); }
        QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
    };

    struct Response {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
        bool neverAnswer = false; // holds the connection, to exercise time limits
        // Content-Length to announce when it differs from the body (a cut-off transfer).
        qint64 announcedLength = -1;
        QList<std::pair<QByteArray, QByteArray>> headers = {};
        // When set, the body goes out one byte per interval after the head.
        std::chrono::milliseconds trickle{0};

        static Response json(QByteArray body, int status = 200) {
            return {status, std::move(body)};
        }
        static Response text(QByteArray body, int status) {
            return {status, std::move(body), "text/plain"};
        }
        static Response silence() { return {0, {}, {}, true}; }
        static Response redirect(int status, QByteArray location) {
            return {status, {}, "text/plain", false, -1, {{"Location", std::move(location)}}};
        }
    };
    using Handler = std::function<Response(const Request &)>;

    explicit LoopbackHttpServer(QObject *parent = nullptr)
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

    // Listens on an ephemeral port; false when no port could be had.
    bool start() { return m_server.listen(QHostAddress::LocalHost, 0); }
    QString origin() const {
        return QStringLiteral("http://127.0.0.1:") + QString::number(m_server.serverPort());
    }

    void setHandler(Handler handler) { m_handler = std::move(handler); }
    void on(const QString &path, Handler handler) { m_routes.insert(path, std::move(handler)); }
    void respondWith(Response response) {
        m_handler = [response](const Request &) { return response; };
    }

    const QList<Request> &requests() const { return m_requests; }
    // The requests whose path is `path`, in the order they came.
    QList<Request> requestsTo(QStringView path) const {
        QList<Request> found;
        for (const Request &r : m_requests)
            if (r.path() == path)
                found.append(r);
        return found;
    }
    void clearRequests() { m_requests.clear(); }
    // Connections the server is still holding without an answer.
    int openConnections() const { return int(m_buffers.size()); }

private:
    void readFrom(QTcpSocket *socket) {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        Request request{requestLine.value(0), requestLine.value(1), {}, {}};
        for (const QByteArray &line : lines.mid(1)) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.insert(line.left(colon).trimmed().toLower(),
                                       line.mid(colon + 1).trimmed());
        }
        const qsizetype length = request.header("content-length").toLongLong();
        if (buffer.size() < headEnd + 4 + length)
            return;
        request.body = buffer.mid(headEnd + 4, length);
        buffer.remove(0, headEnd + 4 + length);
        m_requests.append(request);
        answer(socket, request);
    }

    // One answer per connection: every response closes it.
    void answer(QTcpSocket *socket, const Request &request) {
        const Handler handler = m_routes.value(request.path(), m_handler);
        const Response response = handler ? handler(request) : Response::text("not found", 404);
        if (response.neverAnswer)
            return;
        // Clients read the status code, never the reason phrase.
        QByteArray head =
            "HTTP/1.1 " + QByteArray::number(response.status) +
            " Status\r\nContent-Type: " + response.contentType + "\r\nContent-Length: " +
            QByteArray::number(response.announcedLength >= 0 ? response.announcedLength
                                                             : response.body.size()) +
            "\r\n";
        for (const auto &[name, value] : response.headers)
            head += name + ": " + value + "\r\n";
        socket->write(head + "Connection: close\r\n\r\n");
        if (response.trickle.count() <= 0) {
            socket->write(response.body);
            socket->disconnectFromHost();
            return;
        }
        // The timer belongs to the socket, so a client that hangs up ends the trickle.
        auto *timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket,
                [socket, body = response.body, sent = qsizetype(0)]() mutable {
                    socket->write(body.mid(sent++, 1));
                    if (sent >= body.size())
                        socket->disconnectFromHost();
                });
        timer->start(response.trickle);
    }

    QTcpServer m_server;
    Handler m_handler;
    QHash<QString, Handler> m_routes;
    QList<Request> m_requests;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
