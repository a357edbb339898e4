#include "FaultInjector.h"

#include <cmath>

namespace {

// A JSON member that must be a whole number within [min, max] when present.
bool readInt(const QJsonObject &object, const QString &key, int min, int max,
             std::optional<int> *out, QString *error) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    const double number = value.toDouble();
    if (!value.isDouble() || !(number >= min && number <= max) || std::floor(number) != number) {
        *error = QStringLiteral("\"%1\" must be a whole number from %2 to %3")
                     .arg(key)
                     .arg(min)
                     .arg(max);
        return false;
    }
    *out = int(number);
    return true;
}

} // namespace

std::optional<Fault> Fault::fromJson(const QJsonObject &object, QString *error) {
    Fault fault;
    const QJsonValue endpoint = object.value(QStringLiteral("endpoint"));
    if (!endpoint.isString() || endpoint.toString().isEmpty()) {
        *error = QStringLiteral("\"endpoint\" must be a non-empty string");
        return std::nullopt;
    }
    fault.endpoint = endpoint.toString();
    const QJsonValue body = object.value(QStringLiteral("body"));
    if (body.isString())
        fault.body = body.toString();
    else if (!body.isUndefined() && !body.isNull()) {
        *error = QStringLiteral("\"body\" must be a string");
        return std::nullopt;
    }
    std::optional<int> delay;
    std::optional<int> skip;
    if (!readInt(object, QStringLiteral("status"), 100, 599, &fault.status, error) ||
        !readInt(object, QStringLiteral("delayMs"), 0, 600'000, &delay, error) ||
        !readInt(object, QStringLiteral("skip"), 0, 1'000'000, &skip, error) ||
        !readInt(object, QStringLiteral("times"), 1, 1'000'000, &fault.times, error))
        return std::nullopt;
    if (!fault.status && !fault.body && !delay) {
        *error = QStringLiteral("a fault needs \"status\", \"body\" or \"delayMs\"");
        return std::nullopt;
    }
    fault.delay = std::chrono::milliseconds(delay.value_or(0));
    fault.skip = skip.value_or(0);
    return fault;
}

QJsonObject Fault::toJson() const {
    QJsonObject object{{QStringLiteral("endpoint"), endpoint},
                       {QStringLiteral("delayMs"), qint64(delay.count())},
                       {QStringLiteral("skip"), skip}};
    if (status)
        object.insert(QStringLiteral("status"), *status);
    if (body)
        object.insert(QStringLiteral("body"), *body);
    if (times)
        object.insert(QStringLiteral("times"), *times);
    return object;
}

std::optional<Fault> FaultInjector::take(const QString &endpoint) {
    std::optional<Fault> chosen;
    for (Fault &fault : m_faults) {
        if (fault.endpoint != endpoint)
            continue;
        ++fault.seen;
        const bool applies =
            fault.seen > fault.skip && (!fault.times || fault.applied < *fault.times);
        if (applies && !chosen) {
            ++fault.applied;
            chosen = fault;
        }
    }
    return chosen;
}
