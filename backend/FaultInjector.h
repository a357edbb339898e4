#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <chrono>
#include <optional>

struct Fault {
    QString endpoint;
    std::optional<int> status;
    std::optional<QString> body;
    std::chrono::milliseconds delay{0};
    int skip = 0;
    std::optional<int> times; // absent: every call after the skipped ones
    int seen = 0;
    int applied = 0;

    // Reads the test-control JSON; nothing when a member is missing or of the wrong type.
    static std::optional<Fault> fromJson(const QJsonObject &object, QString *error);
    QJsonObject toJson() const;
};

// Faults that tests install per endpoint; each matching call is counted so "skip" and "times"
// pick exactly which calls misbehave.
class FaultInjector {
public:
    void add(const Fault &fault) { m_faults.append(fault); }
    void clear() { m_faults.clear(); }

    // The fault for this call of `endpoint`, if one applies. Every installed fault for the
    // endpoint counts the call; the first that applies wins.
    std::optional<Fault> take(const QString &endpoint);

private:
    QList<Fault> m_faults;
};
