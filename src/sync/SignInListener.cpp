#include "SignInListener.h"

#include <QCoroSignal>
#include <QCoroTimer>
#include <QStringDecoder>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

QString SignInError::description() const {
    return QStringLiteral("Authorization failed. No auth code received.");
}

QString SlackError::description() const {
    switch (m_kind) {
    case Kind::apiError:
        return QStringLiteral("Slack API error: ") + m_message;
    case Kind::notConnected:
        return QStringLiteral("Slack is not connected. Please connect Slack first.");
    case Kind::authTimeout:
        return QStringLiteral("Slack authorization timed out. Please try again.");
    case Kind::authFailed:
        return QStringLiteral("Slack authorization failed. No auth code received.");
    case Kind::requestFailed:
        break;
    }
    return QStringLiteral("Slack API request failed.");
}

namespace SignInHttp {
const QByteArray calendarSuccessBody = QByteArrayLiteral(
    "<html><body style=\"font-family:system-ui;text-align:center;padding:60px\">\n"
    "<h2>Account connected!</h2>\n"
    "<p>You can close this tab and return to Zelvane.</p>\n"
    "</body></html>");
const QByteArray calendarFailureBody = QByteArrayLiteral(
    "<html><body style=\"font-family:system-ui;text-align:center;padding:60px\">\n"
    "<h2>Error</h2>\n"
    "<p>Authorization failed. Please try again from the Zelvane app.</p>\n"
    "</body></html>");
const QByteArray slackSuccessBody = QByteArrayLiteral(
    "<html><body style='font-family:system-ui;text-align:center;padding:60px'><h2>Slack "
    "Connected!</h2><p>You can close this tab and return to Zelvane.</p></body></html>");
const QByteArray slackFailureBody = QByteArrayLiteral(
    "<html><body style='font-family:system-ui;text-align:center;padding:60px'><h2>Error</h2>"
    "<p>Slack authorization failed. Please try again.</p></body></html>");

namespace {
QByteArray answerWith(const char *statusLine, const QByteArray &body) {
    return QByteArray(statusLine) +
           "\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}
} // namespace

QByteArray successAnswer(const QByteArray &body) {
    return answerWith("HTTP/1.1 200 OK", body);
}

QByteArray failureAnswer(const QByteArray &body) {
    return answerWith("HTTP/1.1 400 Bad Request", body);
}

std::optional<QString> extractCode(const QByteArray &request) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(request);
    if (decoder.hasError())
        text.clear();
    const QString requestLine = text.section(QStringLiteral("\r\n"), 0, 0);
    const QStringList pieces = requestLine.split(u' ', Qt::SkipEmptyParts);
    if (pieces.size() < 2)
        return std::nullopt;
    const QUrl url(QStringLiteral("http://127.0.0.1") + pieces.at(1), QUrl::StrictMode);
    if (!url.isValid() || !url.hasQuery())
        return std::nullopt;
    const QUrlQuery query(url);
    const auto items = query.queryItems(QUrl::FullyDecoded);
    for (const auto &[name, value] : items)
        if (name == u"code")
            return value.isEmpty() ? std::nullopt : std::optional<QString>(value);
    return std::nullopt;
}
} // namespace SignInHttp

SignInListenerBase::SignInListenerBase(QObject *parent)
    : QObject(parent) {}

SignInListenerBase::~SignInListenerBase() = default;

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
    if (!m_server)
        return;
    m_server->close();
    // The server may be mid-signal; let it go once control returns to the loop.
    m_server.release()->deleteLater();
}

void SignInListenerBase::accept() {
    if (!m_server)
        return;
    QTcpSocket *socket = m_server->nextPendingConnection();
    if (!socket)
        return;
    socket->setParent(this);
    // Only the first request counts: nobody else gets to connect after it.
    close();

    QPointer<QTcpSocket> guard(socket);
    auto handled = std::make_shared<bool>(false);
    auto deliver = [this, guard, handled](const QByteArray &bytes) {
        if (*handled || !guard)
            return;
        *handled = true;
        handleRequest(guard, bytes);
    };
    connect(socket, &QTcpSocket::readyRead, this,
            [socket, deliver] { deliver(socket->read(SignInHttp::maxRequestBytes)); });
    connect(socket, &QTcpSocket::disconnected, this, [socket, deliver] {
        deliver(QByteArray());
        socket->deleteLater();
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [socket, deliver] {
        deliver(QByteArray());
        socket->deleteLater();
    });
    if (socket->bytesAvailable() > 0)
        deliver(socket->read(SignInHttp::maxRequestBytes));
}

void SignInListenerBase::answer(QTcpSocket *socket, const QByteArray &bytes) {
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    socket->write(bytes);
    // Closes once everything is written.
    socket->disconnectFromHost();
}

CalendarSignInListener::CalendarSignInListener(QObject *parent)
    : SignInListenerBase(parent) {}

CalendarSignInListener &CalendarSignInListener::shared() {
    static CalendarSignInListener *instance = new CalendarSignInListener;
    return *instance;
}

QCoro::Task<int> CalendarSignInListener::startListening(CalendarProvider provider) {
    stopListening();
    QPointer<CalendarSignInListener> self(this);
    // Gives a listener that was just stopped time to release the port.
    co_await QCoro::sleepFor(std::chrono::milliseconds(100));
    if (!self)
        throw SignInError();
    m_pendingProvider = provider;
    if (!bind(preferredPort, nullptr) && !bind(0, nullptr))
        throw SignInError();
    co_return port();
}

void CalendarSignInListener::stopListening() {
    close();
    m_pendingProvider.reset();
}

void CalendarSignInListener::handleRequest(QTcpSocket *socket, const QByteArray &request) {
    const auto code = SignInHttp::extractCode(request);
    const CalendarProvider provider = m_pendingProvider.value_or(CalendarProvider::google);
    if (code) {
        answer(socket, SignInHttp::successAnswer(SignInHttp::calendarSuccessBody));
        stopListening();
        Q_EMIT codeReceived(*code, provider);
    } else {
        answer(socket, SignInHttp::failureAnswer(SignInHttp::calendarFailureBody));
        stopListening();
        Q_EMIT failed();
    }
}

SlackSignInListener::SlackSignInListener(QObject *parent)
    : SignInListenerBase(parent) {}

quint16 SlackSignInListener::start() {
    QString error;
    if (!bind(0, &error))
        throw ListenerError(error);
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

void SlackSignInListener::handleRequest(QTcpSocket *socket, const QByteArray &request) {
    // Nothing read: nobody to answer, the wait just fails.
    if (request.isEmpty()) {
        finish(std::nullopt, SlackError::authFailed());
        return;
    }
    if (const auto code = SignInHttp::extractCode(request)) {
        answer(socket, SignInHttp::successAnswer(SignInHttp::slackSuccessBody));
        finish(*code, std::nullopt);
    } else {
        answer(socket, SignInHttp::failureAnswer(SignInHttp::slackFailureBody));
        finish(std::nullopt, SlackError::authFailed());
    }
}
