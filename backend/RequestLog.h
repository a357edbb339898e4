#pragma once

#include "HttpRequest.h"

#include <QJsonArray>
#include <QJsonObject>
#include <deque>

// What the app sent, kept so tests can check query order, headers and bodies. Only the latest
// requests are kept, bodies are cut, and credentials never enter it.
class RequestLog {
public:
    static constexpr qsizetype maxEntries = 1000;
    static constexpr qsizetype maxBodyBytes = 64 * 1024;

    void record(const HttpRequest &request);
    void clear() { m_entries.clear(); }
    QJsonArray entries() const;

private:
    std::deque<QJsonObject> m_entries;
};
