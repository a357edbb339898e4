#pragma once

#include <QDateTime>
#include <QObject>
#include <chrono>
#include <functional>

// The source of "now" and of deferred work. Services take a Clock so tests can walk a
// timeline without sleeping.
class Clock {
public:
    virtual ~Clock() = default;

    virtual QDateTime now() const = 0;

    // Runs `fn` on the main thread `delay` from now, unless `context` is destroyed first.
    virtual void after(std::chrono::milliseconds delay, QObject *context,
                       std::function<void()> fn) = 0;

    // Runs `fn` every `interval` until `context` is destroyed.
    void every(std::chrono::milliseconds interval, QObject *context, std::function<void()> fn);

    static Clock &system();
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
    void after(std::chrono::milliseconds delay, QObject *context,
               std::function<void()> fn) override;
};
