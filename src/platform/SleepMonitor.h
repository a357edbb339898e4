#pragma once

#include <QObject>

// Says when the machine is about to sleep and when it has woken, as logind announces it
// (PrepareForSleep on the system bus). Where logind is absent nothing is announced; the
// reminder scheduler notices a jump of the clock instead.
class SleepMonitor : public QObject {
    Q_OBJECT

public:
    explicit SleepMonitor(QObject *parent = nullptr);

Q_SIGNALS:
    void aboutToSleep();
    void woke();

private Q_SLOTS:
    void onPrepareForSleep(bool sleeping);
};
