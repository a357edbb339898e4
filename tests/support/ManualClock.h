#pragma once

#include "core/Clock.h"

#include <QPointer>
#include <algorithm>
#include <chrono>
#include <map>

// A clock that only moves when told to; `advance` runs the work that falls due, in order.
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC))
        : m_now(std::move(start)) {}

    QDateTime now() const override { return m_now; }

    void after(std::chrono::milliseconds delay, QObject *context,
               std::function<void()> fn) override {
        m_pending.emplace(m_now.toMSecsSinceEpoch() + delay.count(),
                          Pending{context, context != nullptr, std::move(fn)});
    }

    void advance(std::chrono::milliseconds step) {
        const qint64 end = m_now.toMSecsSinceEpoch() + step.count();
        while (!m_pending.empty() && m_pending.begin()->first <= end) {
            auto node = m_pending.extract(m_pending.begin());
            // A timer due before a jump made with setNow fires late, at the new time, as a
            // real one does after the machine slept.
            m_now = std::max(m_now, QDateTime::fromMSecsSinceEpoch(node.key(), Qt::UTC));
            if (node.mapped().hadContext && !node.mapped().context)
                continue;
            node.mapped().fn();
        }
        m_now = QDateTime::fromMSecsSinceEpoch(end, Qt::UTC);
    }
    // Seconds, for tests that walk odd steps such as 59.9.
    void advance(double seconds) {
        advance(
            std::chrono::round<std::chrono::milliseconds>(std::chrono::duration<double>(seconds)));
    }

    // Jumps without running timers: those now overdue run at the next advance.
    void setNow(const QDateTime &now) { m_now = now; }
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
