#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QUrl>
#include <chrono>
#include <functional>

class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 for tests: it records every request and answers each
// with what the handler for its path (or else the general handler) returns, or never answers,
// to exercise time limits. A path nobody handles gets a 404.
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
        bool neverAnswer = false;
        // Content-Length to announce when it differs from the body (a cut-off transfer).
        qint64 announcedLength = -1;
        QList<std::pair<QByteArray, QByteArray>> headers = {}; // extra response headers
        // When set, the body goes out one byte per interval after the head.
        std::chrono::milliseconds trickle{0};
        std::chrono::milliseconds delay{0}; // before anything goes out

        static Response json(QByteArray body, int status = 200) {
            return {status, std::move(body), "application/json", false};
        }
        static Response text(QByteArray body, int status) {
            return {status, std::move(body), "text/plain", false};
        }
        static Response silence() { return {0, {}, {}, true}; }
        static Response redirect(int status, QByteArray location) {
            return {status, {}, "text/plain", false, -1, {{"Location", std::move(location)}}};
        }
    };

    using Handler = std::function<Response(const Request &)>;

    explicit LoopbackHttpServer(QObject *parent = nullptr);

    // Listens on an ephemeral port; false when no port could be had.
    bool start();
    // "http://127.0.0.1:<port>"
    QString origin() const;

    void setHandler(Handler handler) { m_handler = std::move(handler); }
    void on(const QString &path, Handler handler) { m_routes.insert(path, std::move(handler)); }
    // Every request answered with the same response.
    void respondWith(Response response);

    const QList<Request> &requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    // Connections the server is still holding without an answer.
    int openConnections() const;

private:
    void readFrom(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Request &request);

    QTcpServer m_server;
    Handler m_handler;
    QHash<QString, Handler> m_routes;
    QList<Request> m_requests;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
