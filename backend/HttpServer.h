#pragma once

#include "HttpRequest.h"
#include "HttpResponse.h"

#include <QObject>
#include <QTcpServer>
#include <functional>

// A minimal HTTP/1.1 server on 127.0.0.1: one request per connection, answered through the
// handler and then closed. Malformed requests get a 400 without reaching the handler.
class HttpServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<HttpResponse(const HttpRequest &)>;

    static constexpr int idleTimeoutMs = 30'000;

    explicit HttpServer(Handler handler, QObject *parent = nullptr);

    bool listen(quint16 port);
    quint16 port() const;
    QString errorString() const;

private:
    void acceptConnections();

    Handler m_handler;
    QTcpServer m_server;
};
