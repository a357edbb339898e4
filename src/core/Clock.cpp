#include "Clock.h"

#include <QPointer>
#include <QTimer>
#include <memory>

namespace {
void arm(Clock &clock, double seconds, QPointer<QObject> context,
         std::shared_ptr<std::function<void()>> fn) {
    clock.after(seconds, context, [&clock, seconds, context, fn] {
        (*fn)();
        if (context)
            arm(clock, seconds, context, fn);
    });
}
} // namespace

void Clock::every(double seconds, QObject *context, std::function<void()> fn) {
    arm(*this, seconds, context, std::make_shared<std::function<void()>>(std::move(fn)));
}

Clock &Clock::system() {
    static SystemClock clock;
    return clock;
}

QDateTime SystemClock::now() const {
    return QDateTime::currentDateTimeUtc();
}

void SystemClock::after(double seconds, QObject *context, std::function<void()> fn) {
    const int ms = int(std::max(0.0, seconds) * 1000.0);
    // Long waits tolerate coarse timing so the process wakes less often.
    QTimer::singleShot(ms, ms >= 1000 ? Qt::CoarseTimer : Qt::PreciseTimer, context, std::move(fn));
}

ManualClock::ManualClock(QDateTime start)
    : m_now(std::move(start)) {}

void ManualClock::after(double seconds, QObject *context, std::function<void()> fn) {
    const qint64 due = m_now.toMSecsSinceEpoch() + qint64(seconds * 1000.0);
    m_pending.emplace(due, Pending{context, context != nullptr, std::move(fn)});
}

void ManualClock::advance(double seconds) {
    const qint64 end = m_now.toMSecsSinceEpoch() + qint64(seconds * 1000.0);
    while (!m_pending.empty() && m_pending.begin()->first <= end) {
        auto node = m_pending.extract(m_pending.begin());
        m_now = QDateTime::fromMSecsSinceEpoch(node.key(), Qt::UTC);
        if (node.mapped().hadContext && !node.mapped().context)
            continue;
        node.mapped().fn();
    }
    m_now = QDateTime::fromMSecsSinceEpoch(end, Qt::UTC);
}

void ManualClock::setNow(const QDateTime &now) {
    m_now = now;
}
