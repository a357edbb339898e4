#pragma once

#include "SlackError.h"
#include "core/CalendarEvent.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <memory>
#include <optional>

class QTcpSocket;

class SignInError : public Error {
public:
    enum class Kind { noAuthCode };
    Kind kind() const { return Kind::noAuthCode; }
    QString description() const override;
};

// The loopback socket could not be bound.
class ListenerError : public Error {
public:
    explicit ListenerError(QString message)
        : m_message(std::move(message)) {}
    QString description() const override { return m_message; }

private:
    QString m_message;
};

// The fixed answers and the parsing of the one request a loopback listener serves.
namespace SignInHttp {
inline constexpr int maxRequestBytes = 8192;

extern const QByteArray calendarSuccessBody;
extern const QByteArray calendarFailureBody;
extern const QByteArray slackSuccessBody;
extern const QByteArray slackFailureBody;

QByteArray successAnswer(const QByteArray &body);
QByteArray failureAnswer(const QByteArray &body);

// The first "code" query parameter of the request line, or nothing when the bytes are not
// UTF-8, the request line has no target, the target has no query, or no code has a value.
std::optional<QString> extractCode(const QByteArray &request);
} // namespace SignInHttp

// Accepts one connection on 127.0.0.1, reads its request once and hands the bytes on. The
// server is closed as soon as that connection arrives, so it never outlives the first request.
class SignInListenerBase : public QObject {
    Q_OBJECT

public:
    explicit SignInListenerBase(QObject *parent = nullptr);
    ~SignInListenerBase() override;

    bool isListening() const { return m_server && m_server->isListening(); }
    quint16 port() const { return isListening() ? m_server->serverPort() : 0; }

protected:
    // Binds 127.0.0.1:`port`; false with the server's error text in `error`.
    bool bind(quint16 port, QString *error);
    void close();
    // The request bytes; empty when the client hung up without sending any.
    virtual void handleRequest(QTcpSocket *socket, const QByteArray &request) = 0;
    static void answer(QTcpSocket *socket, const QByteArray &bytes);

private:
    void accept();

    std::unique_ptr<QTcpServer> m_server;
};

// Receives the calendar provider's redirect at http://127.0.0.1:<port>/nylas/callback and
// announces the code with the provider whose sign-in is pending.
class CalendarSignInListener : public SignInListenerBase {
    Q_OBJECT

public:
    explicit CalendarSignInListener(QObject *parent = nullptr);

    static CalendarSignInListener &shared();

    static constexpr quint16 preferredPort = 8976;

    // Ends any sign-in still waiting, then listens on 8976 or, when that is taken, on any free
    // port. Returns the bound port.
    QCoro::Task<int> startListening(CalendarProvider provider);
    void stopListening();

    std::optional<CalendarProvider> pendingProvider() const { return m_pendingProvider; }

Q_SIGNALS:
    void codeReceived(const QString &code, CalendarProvider provider);
    // The redirect carried no usable code (or the browser sent nothing).
    void failed();

protected:
    void handleRequest(QTcpSocket *socket, const QByteArray &request) override;

private:
    std::optional<CalendarProvider> m_pendingProvider;
};

// Receives one Slack redirect (forwarded by the backend) on a port of its own.
class SlackSignInListener : public SignInListenerBase {
    Q_OBJECT

public:
    explicit SlackSignInListener(QObject *parent = nullptr);

    // Listens on any free port of 127.0.0.1; throws ListenerError.
    quint16 start();
    // The code, or SlackError::authFailed for a request without one; also ends with whatever
    // `fail` is given first.
    QCoro::Task<QString> waitForCode();
    // Ends the wait with `error` unless it has already ended, and stops listening.
    void fail(const SlackError &error);
    void stop() { close(); }

Q_SIGNALS:
    void finished();

protected:
    void handleRequest(QTcpSocket *socket, const QByteArray &request) override;

private:
    void finish(std::optional<QString> code, std::optional<SlackError> error);

    bool m_finished = false;
    std::optional<QString> m_code;
    std::optional<SlackError> m_error;
};
