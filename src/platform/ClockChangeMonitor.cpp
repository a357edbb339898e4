#include "ClockChangeMonitor.h"

#include "PlatformLog.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <limits>
#include <sys/timerfd.h>
#include <unistd.h>
#include <utility>

ClockChangeMonitor::ClockChangeMonitor(QObject *parent)
    : QObject(parent)
    , m_fd(::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC)) {
    if (m_fd < 0 || !arm()) {
        qCInfo(lcPlatform) << "Clock changes are not announced on this system";
        if (m_fd >= 0)
            ::close(std::exchange(m_fd, -1));
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ClockChangeMonitor::onReadable);
}

ClockChangeMonitor::~ClockChangeMonitor() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ClockChangeMonitor::arm() {
    // The latest time the timer can hold: it never expires, it is only ever cancelled.
    itimerspec never = {};
    never.it_value.tv_sec = std::numeric_limits<time_t>::max() / 2;
    return ::timerfd_settime(m_fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &never, nullptr) ==
           0;
}

void ClockChangeMonitor::onReadable() {
    std::uint64_t expirations = 0;
    const bool cancelled = ::read(m_fd, &expirations, sizeof expirations) < 0 && errno == ECANCELED;
    // A cancelled timer stays readable until it is armed again.
    arm();
    if (cancelled)
        Q_EMIT clockChanged();
}
