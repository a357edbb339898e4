#pragma once

#include "SlackError.h"
#include "core/CalendarEvent.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <chrono>
#include <memory>
#include <optional>

class QTcpSocket;
class QTimer;

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

// The fixed answers and the parsing of the requests a loopback listener serves.
namespace SignInHttp {
// A request head (request line and header fields) longer than this is refused.
inline constexpr int maxRequestBytes = 8192;

// The pages the browser shows when the sign-in comes back, in the user's language.
QByteArray calendarSuccessBody();
QByteArray calendarFailureBody();
QByteArray slackSuccessBody();
QByteArray slackFailureBody();

QByteArray successAnswer(const QByteArray &body);
QByteArray failureAnswer(const QByteArray &body);
// For anything that is not the expected redirect.
QByteArray notFoundAnswer();

// The length of the request head up to and including its closing empty line, or -1 while the
// bytes hold no complete head yet.
qsizetype headLength(const QByteArray &bytes);

// The request line of a head.
struct Request {
    QByteArray method;
    QString path;
    QList<std::pair<QString, QString>> query; // fully decoded, in order

    // The first value of the query parameter `name` (case-sensitive), or nothing.
    std::optional<QString> value(QStringView name) const;
};

// Nothing when the bytes are not UTF-8, the request line has no target, or the target is not
// an absolute path.
std::optional<Request> parseRequest(const QByteArray &head);
} // namespace SignInHttp

// Listens on 127.0.0.1 for a browser's redirect. Each accepted connection is read until its
// request head is complete; a connection that stays silent for `idleLimit`, sends more than
// `maxRequestBytes` or asks for anything but `GET` on the callback path is answered with 404
// or dropped, and listening goes on. Browsers open speculative connections that never carry a
// request, so no single connection may end the sign-in. Closing the listener drops every
// connection not answered yet; an answered one goes on until its answer is out, the listener
// gone or not.
class SignInListenerBase : public QObject {
    Q_OBJECT

public:
    explicit SignInListenerBase(QString callbackPath, QObject *parent = nullptr);
    ~SignInListenerBase() override;

    bool isListening() const { return m_server && m_server->isListening(); }
    quint16 port() const { return isListening() ? m_server->serverPort() : 0; }

    static constexpr std::chrono::milliseconds defaultIdleLimit{10'000};
    // Connections open at once; the oldest is dropped to make room for a new one.
    static constexpr int maxConnections = 256;
    void setIdleLimit(std::chrono::milliseconds limit) { m_idleLimit = limit; }

protected:
    // Binds 127.0.0.1:`port`; false with the server's error text in `error`.
    bool bind(quint16 port, QString *error);
    void close();
    // A `GET` on the callback path. Answers with `answer`; an implementation that does not take
    // the request answers `notFoundAnswer()`.
    virtual void handleCallback(QTcpSocket *socket, const SignInHttp::Request &request) = 0;
    // Answers a connection once and closes it after writing; the connection no longer belongs
    // to the listener, and ends on its own at the latest after the idle limit.
    void answer(QTcpSocket *socket, const QByteArray &bytes);

private:
    struct Pending {
        QByteArray head;
        QTimer *idle = nullptr;
    };

    void accept();
    void readFrom(QTcpSocket *socket);
    void drop(QTcpSocket *socket);

    QString m_callbackPath;
    std::chrono::milliseconds m_idleLimit = defaultIdleLimit;
    std::unique_ptr<QTcpServer> m_server;
    QList<QTcpSocket *> m_connections;      // oldest first
    QHash<QTcpSocket *, Pending> m_pending; // not answered yet
};

// Receives the calendar provider's redirect at http://127.0.0.1:<port>/nylas/callback and
// announces the code with the provider whose sign-in is pending. It listens only between
// `startListening` (the user asked to connect an account) and the first redirect.
class CalendarSignInListener : public SignInListenerBase {
    Q_OBJECT

public:
    explicit CalendarSignInListener(QObject *parent = nullptr);

    static constexpr quint16 preferredPort = 8976;

    // Ends any sign-in still waiting, then listens on 8976 or, when that is taken, on any free
    // port. Returns the bound port.
    QCoro::Task<int> startListening(CalendarProvider provider);
    void stopListening();

    std::optional<CalendarProvider> pendingProvider() const { return m_pendingProvider; }

Q_SIGNALS:
    void codeReceived(const QString &code, CalendarProvider provider);
    // The redirect carried no usable code.
    void failed();

protected:
    void handleCallback(QTcpSocket *socket, const SignInHttp::Request &request) override;

private:
    std::optional<CalendarProvider> m_pendingProvider;
};

// Receives one Slack redirect (forwarded by the backend) on a port of its own. Only a redirect
// that returns the "state" this listener issued counts.
class SlackSignInListener : public SignInListenerBase {
    Q_OBJECT

public:
    explicit SlackSignInListener(QObject *parent = nullptr);

    // Listens on any free port of 127.0.0.1 and issues a fresh state; throws ListenerError.
    quint16 start();
    // "<UUID>:<port>": the backend finds the listener through the port after the last ':'.
    const QString &state() const { return m_state; }
    // The code, or SlackError::authFailed for a request without one; also ends with whatever
    // `fail` is given first.
    QCoro::Task<QString> waitForCode();
    // Ends the wait with `error` unless it has already ended, and stops listening.
    void fail(const SlackError &error);
    void stop() { close(); }

Q_SIGNALS:
    void finished();

protected:
    void handleCallback(QTcpSocket *socket, const SignInHttp::Request &request) override;

private:
    void finish(std::optional<QString> code, std::optional<SlackError> error);

    QString m_state;
    bool m_finished = false;
    std::optional<QString> m_code;
    std::optional<SlackError> m_error;
};
