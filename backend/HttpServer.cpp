#include "HttpServer.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <sys/resource.h>

namespace {

// One accepted socket with its parser; it deletes itself when the socket goes away.
class HttpConnection : public QObject {
public:
    HttpConnection(QTcpSocket *socket, const HttpServer::Handler &handler)
        : QObject(socket)
        , m_socket(socket)
        , m_handler(handler) {
        connect(socket, &QTcpSocket::readyRead, this, &HttpConnection::readAvailable);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // A client that never finishes its request must not hold the socket forever.
        m_idle.setSingleShot(true);
        connect(&m_idle, &QTimer::timeout, socket, &QTcpSocket::abort);
        m_idle.start(HttpServer::idleTimeoutMs);
    }

private:
    void readAvailable() {
        if (m_answered) {
            m_socket->readAll();
            return;
        }
        switch (m_parser.feed(m_socket->readAll())) {
        case HttpRequestParser::State::Incomplete:
            return;
        case HttpRequestParser::State::Invalid:
            send(HttpResponse::error(m_parser.errorStatus(), m_parser.errorReason()));
            return;
        case HttpRequestParser::State::Complete:
            // The answer may come after an outside call; no more reading meanwhile.
            m_answered = true;
            m_idle.stop();
            m_handler(m_parser.request(), [self = QPointer(this)](const HttpResponse &response) {
                if (self)
                    self->send(response);
            });
            return;
        }
    }

    void send(const HttpResponse &response) {
        m_answered = true;
        m_idle.stop();
        if (response.delay.count() <= 0) {
            write(response);
            return;
        }
        // `this` is owned by the socket, so a client that hangs up cancels the delayed answer.
        QTimer::singleShot(response.delay, this, [this, response] { write(response); });
    }

    void write(const HttpResponse &response) {
        m_socket->write(response.serialize());
        m_socket->disconnectFromHost();
    }

    QTcpSocket *m_socket;
    HttpServer::Handler m_handler;
    HttpRequestParser m_parser;
    QTimer m_idle;
    bool m_answered = false;
};

} // namespace

HttpServer::HttpServer(Handler handler, QObject *parent)
    : QObject(parent)
    , m_handler(std::move(handler)) {
    // The listening server accepts while fewer than this many wait to be taken: at the limit one
    // waits, and the rest stay in the kernel's backlog, holding no descriptor of ours.
    m_server.setMaxPendingConnections(1);
    connect(&m_server, &QTcpServer::newConnection, this, &HttpServer::acceptConnections);
    connect(&m_server, &QTcpServer::acceptError, this, &HttpServer::backOff);
}

int HttpServer::connectionLimit() {
    // Sockets the server holds before handing them over, and files the process still needs.
    constexpr rlim_t reserve = 96;
    constexpr int ceiling = 4096;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return ceiling;
    return limit.rlim_cur <= reserve + 8 ? 8
                                         : int(std::min<rlim_t>(limit.rlim_cur - reserve, ceiling));
}

void HttpServer::backOff() {
    // Accepting again at once would fail again at once, in a busy loop.
    m_server.pauseAccepting();
    QTimer::singleShot(acceptBackoff, this, &HttpServer::acceptConnections);
}

bool HttpServer::listen(const QHostAddress &address, quint16 port) {
    return m_server.listen(address, port);
}

quint16 HttpServer::port() const {
    return m_server.serverPort();
}

QString HttpServer::errorString() const {
    return m_server.errorString();
}

void HttpServer::acceptConnections() {
    while (m_open < m_limit) {
        QTcpSocket *socket = m_server.nextPendingConnection();
        if (!socket)
            break;
        // A client that hung up while waiting to be taken has already been closed on, and its
        // socket will never report a disconnection.
        if (socket->state() != QAbstractSocket::ConnectedState) {
            socket->deleteLater();
            continue;
        }
        ++m_open;
        // In the listening server's context, so that its own teardown, which deletes the
        // sockets, calls nothing here.
        connect(socket, &QObject::destroyed, &m_server, [this] {
            --m_open;
            // Queued: the socket is still being destroyed here.
            QMetaObject::invokeMethod(
                &m_server, [this] { acceptConnections(); }, Qt::QueuedConnection);
        });
        new HttpConnection(socket, m_handler);
    }
    if (m_open < m_limit)
        m_server.resumeAccepting();
    else
        m_server.pauseAccepting();
}
