#pragma once

#include "CardOverlay.h"

#include <functional>

// The full-screen critical-battery alert: a dimmed backdrop with one card and "Dismiss".
// Escape dismisses too.
class BatteryAlertView : public CardOverlay {
    Q_OBJECT

public:
    explicit BatteryAlertView(std::function<void()> onDismiss, QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    std::function<void()> m_onDismiss;
};
