#pragma once

#include <QByteArray>
#include <QTcpSocket>
#include <QtTest>

// A client that writes raw bytes to a loopback port and collects the answer, for servers that
// must survive clients no browser would be. Every wait is bounded.
class RawClient {
public:
    static constexpr auto noConnection = "<no connection>";
    static constexpr auto stillOpen = "<still open>";

    // Connects; false when nobody accepted within `timeoutMs`.
    bool connectTo(quint16 port, int timeoutMs = 3000) {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return QTest::qWaitFor(
                   [&] {
                       const auto state = m_socket.state();
                       return state == QAbstractSocket::ConnectedState ||
                              state == QAbstractSocket::UnconnectedState;
                   },
                   timeoutMs) &&
               m_socket.state() == QAbstractSocket::ConnectedState;
    }
    void send(const QByteArray &bytes) {
        m_socket.write(bytes);
        m_socket.flush();
    }
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    // Everything the server sent before closing, or `stillOpen` followed by what came so far.
    QByteArray answer(int timeoutMs = 3000) {
        const bool closed = QTest::qWaitFor(
            [&] {
                m_answer += m_socket.readAll();
                return m_socket.state() == QAbstractSocket::UnconnectedState;
            },
            timeoutMs);
        m_answer += m_socket.readAll();
        return closed ? m_answer : stillOpen + m_answer;
    }
    QTcpSocket &socket() { return m_socket; }

    // One whole exchange on a fresh connection.
    static QByteArray talk(quint16 port, const QByteArray &bytes) {
        RawClient client;
        if (!client.connectTo(port))
            return noConnection;
        client.send(bytes);
        return client.answer();
    }

private:
    QTcpSocket m_socket;
    QByteArray m_answer;
};
