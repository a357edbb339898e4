#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimeZone>
#include <functional>
#include <map>

// The source of "now" and of deferred work. Services take a Clock so tests can walk a
// timeline without sleeping.
class Clock {
public:
    virtual ~Clock() = default;

    virtual QDateTime now() const = 0;

    // Runs `fn` on the main thread `seconds` from now, unless `context` is destroyed first.
    virtual void after(double seconds, QObject *context, std::function<void()> fn) = 0;

    // Runs `fn` every `seconds` until `context` is destroyed.
    void every(double seconds, QObject *context, std::function<void()> fn);

    static Clock &system();
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
    void after(double seconds, QObject *context, std::function<void()> fn) override;
};

// A clock that only moves when told to; `advance` runs the work that falls due, in order.
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC));

    QDateTime now() const override { return m_now; }
    void after(double seconds, QObject *context, std::function<void()> fn) override;

    void advance(double seconds);
    void setNow(const QDateTime &now);
    int pendingCount() const { return int(m_pending.size()); }

private:
    struct Pending {
        QPointer<QObject> context;
        bool hadContext;
        std::function<void()> fn;
    };
    QDateTime m_now;
    std::multimap<qint64, Pending> m_pending; // due time in ms since epoch
};
