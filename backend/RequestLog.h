#pragma once

#include "HttpRequest.h"

#include <QJsonArray>

// What the app sent, kept so tests can check query order, headers and bodies.
class RequestLog {
public:
    void record(const HttpRequest &request);
    void clear() { m_entries = QJsonArray(); }
    const QJsonArray &entries() const { return m_entries; }

private:
    QJsonArray m_entries;
};
