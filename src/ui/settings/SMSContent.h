#pragma once

#include "SettingsBlocks.h"

class QLineEdit;
class SMSService;
class SwitchButton;

// The SMS settings tab: text-message reminders on or off, and the number they go to.
class SMSContent : public SettingsTab {
    Q_OBJECT

public:
    explicit SMSContent(SMSService &sms, QWidget *parent = nullptr);

    SwitchButton *enableSwitch() const { return m_enabled; }
    QLineEdit *phoneField() const { return m_phone; }

private:
    void refresh();

    SMSService &m_sms;
    SwitchButton *m_enabled;
    QLineEdit *m_phone;
};
