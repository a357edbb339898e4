#include "SMSContent.h"

#include "SettingsBlocks.h"
#include "sync/SMSService.h"
#include "ui/Controls.h"
#include "ui/Theme.h"
#include "ui/Widgets.h"

#include <QHBoxLayout>
#include <QLineEdit>

SMSContent::SMSContent(SMSService &sms, QWidget *parent)
    : SettingsTab(tr("SMS"), tr("Get text message reminders before meetings."), parent)
    , m_sms(sms) {
    addSection(tr("Configuration"));
    auto *card = new SettingsCard;

    SettingsRow *enableRow = card->addRow();
    enableRow->rowLayout()->addWidget(Widgets::label(
        tr("Enable SMS reminders"), Theme::Typography::body(), Theme::Colors::textPrimary()));
    enableRow->rowLayout()->addStretch();
    m_enabled = new SwitchButton(tr("Enable SMS reminders"));
    enableRow->rowLayout()->addWidget(m_enabled);
    // Toggled, not clicked: assistive tools switch it without a click.
    connect(m_enabled, &QAbstractButton::toggled, this,
            [this](bool on) { m_sms.setSmsEnabled(on); });

    SettingsRow *phoneRow = card->addRow();
    phoneRow->rowLayout()->addWidget(Widgets::label(tr("Phone number"), Theme::Typography::body(),
                                                    Theme::Colors::textPrimary()));
    phoneRow->rowLayout()->addStretch();
    m_phone = new QLineEdit;
    m_phone->setFrame(false);
    m_phone->setFont(Theme::Typography::body());
    m_phone->setFixedWidth(180);
    m_phone->setAlignment(Qt::AlignRight);
    m_phone->setPlaceholderText(QStringLiteral("+15551234567"));
    m_phone->setAccessibleName(tr("Phone number"));
    m_phone->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    phoneRow->rowLayout()->addWidget(m_phone);
    connect(m_phone, &QLineEdit::textEdited, this,
            [this](const QString &text) { m_sms.setPhoneNumber(text); });
    addInset(card);

    connect(&m_sms, &SMSService::smsEnabledChanged, this, &SMSContent::refresh);
    connect(&m_sms, &SMSService::phoneNumberChanged, this, &SMSContent::refresh);
    refresh();
}

void SMSContent::refresh() {
    m_enabled->setChecked(m_sms.smsEnabled());
    m_phone->setEnabled(m_sms.smsEnabled());
    if (m_phone->text() != m_sms.phoneNumber())
        m_phone->setText(m_sms.phoneNumber());
}
