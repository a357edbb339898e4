#include "SignInListener.h"

#include <QCoreApplication>
#include <QCoroSignal>
#include <QCoroTimer>
#include <QStringDecoder>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>

QString SignInError::description() const {
    return QCoreApplication::translate("SignInError",
                                       "Authorization failed. No auth code received.");
}

QString SlackError::description() const {
    switch (m_kind) {
    case Kind::apiError:
        return QCoreApplication::translate("SlackError", "Slack API error: %1").arg(m_message);
    case Kind::notConnected:
        return QCoreApplication::translate("SlackError",
                                           "Slack is not connected. Please connect Slack first.");
    case Kind::authTimeout:
        return QCoreApplication::translate("SlackError",
                                           "Slack authorization timed out. Please try again.");
    case Kind::authFailed:
        return QCoreApplication::translate("SlackError",
                                           "Slack authorization failed. No auth code received.");
    case Kind::cancelled:
        return QCoreApplication::translate("SlackError", "Slack authorization was cancelled.");
    case Kind::requestFailed:
        break;
    }
    return QCoreApplication::translate("SlackError", "Slack API request failed.");
}

namespace SignInHttp {
namespace {
QByteArray page(const QString &heading, const QString &text) {
    return QStringLiteral(
               "<html><body style=\"font-family:system-ui;text-align:center;padding:60px\">\n"
               "<h2>%1</h2>\n<p>%2</p>\n</body></html>")
        .arg(heading.toHtmlEscaped(), text.toHtmlEscaped())
        .toUtf8();
}

QString backToZelvane() {
    return QCoreApplication::translate("SignInHttp",
                                       "You can close this tab and return to Zelvane.");
}

QByteArray answerWith(const char *statusLine, const QByteArray &body) {
    return QByteArray(statusLine) +
           "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}
} // namespace

QByteArray calendarSuccessBody() {
    return page(QCoreApplication::translate("SignInHttp", "Account connected!"), backToZelvane());
}

QByteArray calendarFailureBody() {
    return page(QCoreApplication::translate("SignInHttp", "Error"),
                QCoreApplication::translate(
                    "SignInHttp", "Authorization failed. Please try again from the Zelvane app."));
}

QByteArray slackSuccessBody() {
    return page(QCoreApplication::translate("SignInHttp", "Slack Connected!"), backToZelvane());
}

QByteArray slackFailureBody() {
    return page(
        QCoreApplication::translate("SignInHttp", "Error"),
        QCoreApplication::translate("SignInHttp", "Slack authorization failed. Please try again."));
}

QByteArray successAnswer(const QByteArray &body) {
    return answerWith("HTTP/1.1 200 OK", body);
}

QByteArray failureAnswer(const QByteArray &body) {
    return answerWith("HTTP/1.1 400 Bad Request", body);
}

QByteArray notFoundAnswer() {
    return QByteArrayLiteral(
        "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

qsizetype headLength(const QByteArray &bytes) {
    // Lines may end in CRLF or a bare LF; the head ends at the first empty line.
    qsizetype lineStart = 0;
    while (true) {
        const qsizetype newline = bytes.indexOf('\n', lineStart);
        if (newline < 0)
            return -1;
        const qsizetype length = newline - lineStart;
        if (lineStart > 0 && (length == 0 || (length == 1 && bytes.at(lineStart) == '\r')))
            return newline + 1;
        lineStart = newline + 1;
    }
}

std::optional<QString> Request::value(QStringView name) const {
    for (const auto &[key, value] : query)
        if (key == name)
            return value;
    return std::nullopt;
}

std::optional<Request> parseRequest(const QByteArray &head) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(head);
    if (decoder.hasError())
        return std::nullopt;
    QString requestLine = text.section(u'\n', 0, 0);
    if (requestLine.endsWith(u'\r'))
        requestLine.chop(1);
    const QStringList pieces = requestLine.split(u' ', Qt::SkipEmptyParts);
    if (pieces.size() < 2 || !pieces.at(1).startsWith(u'/') || pieces.at(1).startsWith(u"//"))
        return std::nullopt;
    const QUrl url(QStringLiteral("http://127.0.0.1") + pieces.at(1), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    Request request;
    request.method = pieces.at(0).toLatin1();
    request.path = url.path(QUrl::FullyEncoded);
    request.query = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    return request;
}
} // namespace SignInHttp

SignInListenerBase::SignInListenerBase(QString callbackPath, QObject *parent)
    : QObject(parent)
    , m_callbackPath(std::move(callbackPath)) {}

SignInListenerBase::~SignInListenerBase() {
    close();
}

bool SignInListenerBase::bind(quint16 port, QString *error) {
    close();
    auto server = std::make_unique<QTcpServer>();
    if (!server->listen(QHostAddress::LocalHost, port)) {
        if (error)
            *error = server->errorString();
        return false;
    }
    connect(server.get(), &QTcpServer::newConnection, this, &SignInListenerBase::accept);
    m_server = std::move(server);
    return true;
}

void SignInListenerBase::close() {
    // A connection accepted while listening must not deliver a redirect after the listener
    // has stopped; answered ones are left to finish writing.
    const QList<QTcpSocket *> unanswered = m_pending.keys();
    for (QTcpSocket *socket : unanswered)
        drop(socket);
    if (!m_server)
        return;
    m_server->close();
    // The server may be mid-signal; let it go once control returns to the loop.
    m_server.release()->deleteLater();
}

void SignInListenerBase::drop(QTcpSocket *socket) {
    m_pending.remove(socket);
    m_connections.removeOne(socket);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void SignInListenerBase::accept() {
    while (m_server) {
        QTcpSocket *socket = m_server->nextPendingConnection();
        if (!socket)
            return;
        socket->setParent(this);
        if (m_connections.size() >= maxConnections)
            drop(m_connections.first());
        m_connections.append(socket);

        auto *idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, this, [this, socket] { drop(socket); });
        idle->start(m_idleLimit);
        m_pending.insert(socket, {QByteArray(), idle});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            m_connections.removeOne(socket);
            socket->deleteLater();
        });
        if (socket->bytesAvailable() > 0)
            readFrom(socket);
    }
}

void SignInListenerBase::readFrom(QTcpSocket *socket) {
    const auto it = m_pending.find(socket);
    if (it == m_pending.end())
        return;
    QByteArray &head = it->head;
    head += socket->read(SignInHttp::maxRequestBytes + 1 - head.size());
    const qsizetype length = SignInHttp::headLength(head);
    if (length < 0 && head.size() <= SignInHttp::maxRequestBytes) {
        it->idle->start(m_idleLimit);
        return;
    }
    const auto request = length < 0 ? std::nullopt : SignInHttp::parseRequest(head.first(length));
    if (request && request->method == "GET" && request->path == m_callbackPath)
        handleCallback(socket, *request);
    else
        answer(socket, SignInHttp::notFoundAnswer());
}

void SignInListenerBase::answer(QTcpSocket *socket, const QByteArray &bytes) {
    const auto it = m_pending.find(socket);
    if (it == m_pending.end())
        return;
    delete it->idle;
    m_pending.erase(it);
    m_connections.removeOne(socket);
    // The sign-in that answered may end, and its owner delete the listener, before the answer
    // leaves: the connection lives on its own until it has written everything and closed, or
    // for the idle limit when the client does not take the answer.
    socket->disconnect(this);
    socket->setParent(QCoreApplication::instance());
    // Whatever else the client sends (a pipelined request) is ignored.
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(m_idleLimit, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->write(bytes);
    // Closes once everything is written.
    socket->disconnectFromHost();
}

CalendarSignInListener::CalendarSignInListener(QObject *parent)
    : SignInListenerBase(QStringLiteral("/nylas/callback"), parent) {}

QCoro::Task<int> CalendarSignInListener::startListening(CalendarProvider provider) {
    stopListening();
    QPointer<CalendarSignInListener> self(this);
    // Gives a listener that was just stopped time to release the port.
    co_await QCoro::sleepFor(std::chrono::milliseconds(100));
    if (!self)
        throw SignInError();
    m_pendingProvider = provider;
    if (!bind(preferredPort, nullptr) && !bind(0, nullptr)) {
        m_pendingProvider.reset();
        throw SignInError();
    }
    co_return port();
}

void CalendarSignInListener::stopListening() {
    close();
    m_pendingProvider.reset();
}

void CalendarSignInListener::handleCallback(QTcpSocket *socket,
                                            const SignInHttp::Request &request) {
    if (!m_pendingProvider) {
        answer(socket, SignInHttp::notFoundAnswer());
        return;
    }
    const CalendarProvider provider = *m_pendingProvider;
    const auto code = request.value(u"code");
    if (code && !code->isEmpty()) {
        answer(socket, SignInHttp::successAnswer(SignInHttp::calendarSuccessBody()));
        stopListening();
        Q_EMIT codeReceived(*code, provider);
    } else {
        answer(socket, SignInHttp::failureAnswer(SignInHttp::calendarFailureBody()));
        stopListening();
        Q_EMIT failed();
    }
}

SlackSignInListener::SlackSignInListener(QObject *parent)
    : SignInListenerBase(QStringLiteral("/slack/callback"), parent) {}

quint16 SlackSignInListener::start() {
    QString error;
    if (!bind(0, &error))
        throw ListenerError(error);
    m_state = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QLatin1Char(':') +
              QString::number(port());
    return port();
}

QCoro::Task<QString> SlackSignInListener::waitForCode() {
    QPointer<SlackSignInListener> self(this);
    if (!m_finished)
        co_await qCoro(this, &SlackSignInListener::finished);
    if (!self)
        throw SlackError::authFailed();
    if (m_code)
        co_return *m_code;
    throw m_error.value_or(SlackError::authFailed());
}

void SlackSignInListener::fail(const SlackError &error) {
    finish(std::nullopt, error);
}

void SlackSignInListener::finish(std::optional<QString> code, std::optional<SlackError> error) {
    close();
    if (m_finished)
        return;
    m_finished = true;
    m_code = std::move(code);
    m_error = std::move(error);
    Q_EMIT finished();
}

void SlackSignInListener::handleCallback(QTcpSocket *socket, const SignInHttp::Request &request) {
    // A redirect without the state this sign-in issued was not started by it.
    if (m_state.isEmpty() || m_finished || request.value(u"state") != m_state) {
        answer(socket, SignInHttp::notFoundAnswer());
        return;
    }
    const auto code = request.value(u"code");
    if (code && !code->isEmpty()) {
        answer(socket, SignInHttp::successAnswer(SignInHttp::slackSuccessBody()));
        finish(*code, std::nullopt);
    } else {
        answer(socket, SignInHttp::failureAnswer(SignInHttp::slackFailureBody()));
        finish(std::nullopt, SlackError::authFailed());
    }
}
