#pragma once

#include "CardOverlay.h"

// The full-screen critical-battery alert: a dimmed backdrop with one card and "Dismiss".
// Escape dismisses too.
class BatteryAlertView : public CardOverlay {
    Q_OBJECT

public:
    explicit BatteryAlertView(QWidget *parent = nullptr);

Q_SIGNALS:
    void dismissRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
