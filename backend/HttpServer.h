#pragma once

#include "HttpRequest.h"
#include "HttpResponse.h"

#include <QObject>
#include <QTcpServer>
#include <chrono>
#include <functional>

// A minimal HTTP/1.1 server: one request per connection, answered through the handler (at once
// or later, through the responder it is given) and then closed. Malformed requests get a 400
// without reaching the handler. It never runs out of file descriptors on its own: beyond
// `connectionLimit()` open connections it stops accepting until one closes, and when accepting
// fails it pauses for `acceptBackoff`.
class HttpServer : public QObject {
    Q_OBJECT
public:
    // Answers the request it was handed with; calling it after the client left does nothing.
    using Responder = std::function<void(const HttpResponse &)>;
    using Handler = std::function<void(const HttpRequest &, const Responder &)>;

    static constexpr int idleTimeoutMs = 30'000;
    static constexpr std::chrono::milliseconds acceptBackoff{200};

    // Open connections at most: the descriptor limit less a reserve for everything else.
    static int connectionLimit();

    explicit HttpServer(Handler handler, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const;
    QString errorString() const;

private:
    void acceptConnections();
    void backOff();

    Handler m_handler;
    QTcpServer m_server;
    const int m_limit = connectionLimit();
    int m_open = 0;
};
