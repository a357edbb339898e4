#pragma once

#include <QTcpSocket>
#include <QtTest>

// A client that writes raw bytes to a loopback port and collects the answer, for servers that
// must survive clients no browser would be. Every wait is bounded.
class RawClient {
public:
    explicit RawClient(quint16 port) { m_socket.connectToHost(QHostAddress::LocalHost, port); }
    // False when nobody accepted within `timeoutMs`.
    bool waitConnected(int timeoutMs = 3000) {
        const auto settled = [&] { return m_socket.state() != QAbstractSocket::ConnectingState; };
        return QTest::qWaitFor(settled, timeoutMs) && isOpen();
    }
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    void send(const QByteArray &bytes) {
        m_socket.write(bytes);
        m_socket.flush();
    }
    // Everything the server sent before closing, or "<still open>" and what came so far.
    QByteArray answer(int timeoutMs = 3000) {
        const bool closed = QTest::qWaitFor(
            [&] {
                m_answer += m_socket.readAll();
                return m_socket.state() == QAbstractSocket::UnconnectedState;
            },
            timeoutMs);
        m_answer += m_socket.readAll();
        return closed ? m_answer : "<still open>" + m_answer;
    }

    // One whole exchange on a fresh connection.
    static QByteArray talk(quint16 port, const QByteArray &bytes) {
        RawClient client(port);
        if (!client.waitConnected())
            return "<no connection>";
        client.send(bytes);
        return client.answer();
    }

private:
    QTcpSocket m_socket;
    QByteArray m_answer;
};
