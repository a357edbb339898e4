#include "HttpRequest.h"

#include <QStringDecoder>
#include <algorithm>

namespace {

std::optional<QString> decodeUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool isTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isControl(char c) {
    return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Strict percent-decoding: a '%' must be followed by two hex digits.
std::optional<QByteArray> percentDecode(QByteArrayView text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.append(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out.append(char(high * 16 + low));
        i += 2;
    }
    return out;
}

QByteArrayView trimmed(QByteArrayView text) {
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

} // namespace

std::optional<QString> HttpRequest::header(const QByteArray &lowerCaseName) const {
    const auto it = headers.constFind(lowerCaseName);
    if (it == headers.constEnd())
        return std::nullopt;
    return *it;
}

HttpRequestParser::State HttpRequestParser::fail(int status, const QString &reason) {
    m_state = State::Invalid;
    m_errorStatus = status;
    m_errorReason = reason;
    m_buffer.clear();
    return m_state;
}

HttpRequestParser::State HttpRequestParser::feed(QByteArrayView bytes) {
    if (m_state != State::Incomplete)
        return m_state;
    m_buffer.append(bytes);
    if (!m_headParsed) {
        // The head ends at the first empty line; lines may end in CRLF or a bare LF.
        qsizetype lineStart = m_scanFrom;
        qsizetype headEnd = -1;
        while (true) {
            const qsizetype newline = m_buffer.indexOf('\n', lineStart);
            if (newline < 0 || newline > maxHeaderBytes)
                break;
            const qsizetype lineLength = newline - lineStart;
            const bool empty =
                lineLength == 0 || (lineLength == 1 && m_buffer.at(lineStart) == '\r');
            if (empty && lineStart > 0) {
                headEnd = lineStart;
                m_bodyStart = newline + 1;
                break;
            }
            if (empty)
                return fail(400, QStringLiteral("Empty request line"));
            lineStart = newline + 1;
        }
        m_scanFrom = lineStart;
        if (headEnd < 0) {
            if (m_buffer.size() > maxHeaderBytes)
                return fail(400, QStringLiteral("Request head too large"));
            return m_state;
        }
        if (parseHead(QByteArrayView(m_buffer).first(headEnd)) == State::Invalid)
            return m_state;
        m_headParsed = true;
    }
    return takeBody();
}

HttpRequestParser::State HttpRequestParser::parseHead(QByteArrayView head) {
    bool first = true;
    int headerCount = 0;
    while (!head.isEmpty()) {
        qsizetype newline = head.indexOf('\n');
        QByteArrayView line = newline < 0 ? head : head.first(newline);
        head = newline < 0 ? QByteArrayView() : head.sliced(newline + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (first) {
            if (!parseRequestLine(line))
                return m_state;
            first = false;
            continue;
        }
        if (++headerCount > maxHeaderCount)
            return fail(400, QStringLiteral("Too many header fields"));
        if (!parseHeaderLine(line))
            return m_state;
    }
    return m_state;
}

bool HttpRequestParser::parseRequestLine(QByteArrayView line) {
    const QList<QByteArrayView> parts = [&] {
        QList<QByteArrayView> out;
        qsizetype start = 0;
        for (qsizetype i = 0; i <= line.size(); ++i) {
            if (i == line.size() || line[i] == ' ') {
                out.append(line.sliced(start, i - start));
                start = i + 1;
            }
        }
        return out;
    }();
    if (parts.size() != 3) {
        fail(400, QStringLiteral("Malformed request line"));
        return false;
    }
    const QByteArrayView method = parts[0];
    const QByteArrayView target = parts[1];
    const QByteArrayView version = parts[2];
    if (method.isEmpty() || method.size() > 16 ||
        !std::all_of(method.begin(), method.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) {
        fail(400, QStringLiteral("Malformed method"));
        return false;
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        fail(400, QStringLiteral("Unsupported HTTP version"));
        return false;
    }
    if (!target.startsWith('/') || std::any_of(target.begin(), target.end(), isControl) ||
        !decodeUtf8(target)) {
        fail(400, QStringLiteral("Malformed request target"));
        return false;
    }
    const qsizetype question = target.indexOf('?');
    const QByteArrayView rawPath = question < 0 ? target : target.first(question);
    const std::optional<QByteArray> path = percentDecode(rawPath);
    const std::optional<QString> pathText = path ? decodeUtf8(*path) : std::nullopt;
    if (!pathText || pathText->contains(QChar(0))) {
        fail(400, QStringLiteral("Malformed request path"));
        return false;
    }
    m_request.method = QString::fromLatin1(method);
    m_request.path = *pathText;
    m_request.rawQuery = question < 0 ? QString() : *decodeUtf8(target.sliced(question + 1));
    return true;
}

bool HttpRequestParser::parseHeaderLine(QByteArrayView line) {
    const qsizetype colon = line.indexOf(':');
    const QByteArrayView name = colon < 0 ? QByteArrayView() : line.first(colon);
    if (name.isEmpty() || !std::all_of(name.begin(), name.end(), isTokenChar)) {
        fail(400, QStringLiteral("Malformed header field"));
        return false;
    }
    const QByteArrayView toString = trimmed(line.sliced(colon + 1));
    const std::optional<QString> value = decodeUtf8(toString);
    if (!value || std::any_of(toString.begin(), toString.end(), isControl)) {
        fail(400, QStringLiteral("Malformed header value"));
        return false;
    }
    const QByteArray key = name.toByteArray().toLower();
    if (key == "transfer-encoding") {
        fail(400, QStringLiteral("Transfer-Encoding is not supported"));
        return false;
    }
    if (key == "content-length") {
        if (toString.isEmpty() || toString.size() > 12 ||
            !std::all_of(toString.begin(), toString.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            fail(400, QStringLiteral("Malformed Content-Length"));
            return false;
        }
        const qsizetype length = toString.toByteArray().toLongLong();
        if (m_request.headers.contains(key) && length != m_contentLength) {
            fail(400, QStringLiteral("Conflicting Content-Length"));
            return false;
        }
        if (length > maxBodyBytes) {
            fail(413, QStringLiteral("Request body too large"));
            return false;
        }
        m_contentLength = length;
        m_request.headers.insert(key, *value);
        return true;
    }
    auto existing = m_request.headers.find(key);
    if (existing == m_request.headers.end())
        m_request.headers.insert(key, *value);
    else
        *existing += QStringLiteral(", ") + *value;
    return true;
}

HttpRequestParser::State HttpRequestParser::takeBody() {
    if (m_buffer.size() - m_bodyStart < m_contentLength)
        return m_state;
    const std::optional<QString> body =
        decodeUtf8(QByteArrayView(m_buffer).sliced(m_bodyStart, m_contentLength));
    if (!body)
        return fail(400, QStringLiteral("Request body is not UTF-8"));
    m_request.body = *body;
    m_buffer.clear();
    m_state = State::Complete;
    return m_state;
}
