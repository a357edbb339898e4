#pragma once

#include <QObject>

class QSocketNotifier;

// Says when the wall clock was set (by the user, NTP stepping it, or the kernel after a resume
// from suspend), without waking the process otherwise: a realtime timerfd armed far in the
// future with TFD_TIMER_CANCEL_ON_SET is cancelled by every such change.
class ClockChangeMonitor : public QObject {
    Q_OBJECT

public:
    explicit ClockChangeMonitor(QObject *parent = nullptr);
    ~ClockChangeMonitor() override;

    // Whether changes are announced on this system.
    bool isWatching() const { return m_fd >= 0; }

Q_SIGNALS:
    void clockChanged();

private:
    bool arm();
    void onReadable();

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
};
