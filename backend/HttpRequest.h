#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <optional>

// One parsed HTTP/1.x request. Header names are lower-cased; the path is percent-decoded and
// the query is kept raw (its order and encoding matter to tests that inspect requests).
struct HttpRequest {
    QString method;
    QString path;
    QString rawQuery;
    QHash<QByteArray, QString> headers;
    QString body;

    std::optional<QString> header(const QByteArray &lowerCaseName) const;
};

// Incremental parser for a single request. Everything that comes off the wire is untrusted:
// every malformed or oversized input ends in Invalid with a status and a reason, never a crash.
class HttpRequestParser {
public:
    enum class State { Incomplete, Complete, Invalid };

    static constexpr qsizetype maxHeaderBytes = 16 * 1024;
    static constexpr int maxHeaderCount = 100;
    static constexpr qsizetype maxBodyBytes = 1024 * 1024;

    State feed(QByteArrayView bytes);
    State state() const { return m_state; }
    const HttpRequest &request() const { return m_request; }
    int errorStatus() const { return m_errorStatus; }
    QString errorReason() const { return m_errorReason; }

private:
    State fail(int status, const QString &reason);
    State parseHead(QByteArrayView head);
    bool parseRequestLine(QByteArrayView line);
    bool parseHeaderLine(QByteArrayView line);
    State takeBody();

    QByteArray m_buffer;
    HttpRequest m_request;
    State m_state = State::Incomplete;
    bool m_headParsed = false;
    qsizetype m_scanFrom = 0; // start of the first head line not yet seen complete
    qsizetype m_bodyStart = 0;
    qsizetype m_contentLength = 0;
    int m_errorStatus = 0;
    QString m_errorReason;
};
