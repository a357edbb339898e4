#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrlQuery>
#include <functional>

// A scripted HTTP/1.1 server on 127.0.0.1 for one test: every request is recorded and
// answered by the handler registered for its path.
class FakeHttpServer : public QObject {
    Q_OBJECT

public:
    struct Request {
        QByteArray method;
        QByteArray target;
        QHash<QByteArray, QByteArray> headers; // lower-case names
        QByteArray body;

        QString path() const;
        QUrlQuery query() const;
        // A query value, percent-decoded.
        QString item(const QString &name) const;
    };
    struct Response {
        int status = 200;
        QByteArray body;
        int delayMs = 0;
        bool hangUp = false; // close without answering
    };
    using Handler = std::function<Response(const Request &)>;

    FakeHttpServer();

    QString origin() const;
    void on(const QString &path, Handler handler) { m_handlers.insert(path, std::move(handler)); }
    QList<Request> requests;

private:
    void serve(class QTcpSocket *socket);

    QTcpServer m_server;
    QHash<QString, Handler> m_handlers;
};
