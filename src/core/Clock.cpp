#include "Clock.h"

#include <QPointer>
#include <QTimer>
#include <memory>

using namespace std::chrono_literals;

namespace {
void arm(Clock &clock, std::chrono::milliseconds interval, QPointer<QObject> context,
         std::shared_ptr<std::function<void()>> fn) {
    clock.after(interval, context, [&clock, interval, context, fn] {
        (*fn)();
        if (context)
            arm(clock, interval, context, fn);
    });
}
} // namespace

void Clock::every(std::chrono::milliseconds interval, QObject *context, std::function<void()> fn) {
    arm(*this, interval, context, std::make_shared<std::function<void()>>(std::move(fn)));
}

Clock &Clock::system() {
    static SystemClock clock;
    return clock;
}

QDateTime SystemClock::now() const {
    return QDateTime::currentDateTimeUtc();
}

void SystemClock::after(std::chrono::milliseconds delay, QObject *context,
                        std::function<void()> fn) {
    const auto wait = std::max(delay, 0ms);
    // Long waits tolerate coarse timing so the process wakes less often.
    QTimer::singleShot(wait, wait >= 1s ? Qt::CoarseTimer : Qt::PreciseTimer, context,
                       std::move(fn));
}
