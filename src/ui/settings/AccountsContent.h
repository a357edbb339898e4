#pragma once

#include "SettingsBlocks.h"
#include "core/CalendarEvent.h"

#include <QAbstractButton>
#include <QHash>
#include <QWidget>

class AccountsModel;
class BackendAddressModel;
class CapsuleButton;
class QLineEdit;
class CalendarFeedForm;
class QLabel;
class QVBoxLayout;
class SettingsCard;

// "Google" / "Microsoft" / "Calendar Feed" / "Desktop Calendars" with the provider's symbol, on a
// soft capsule.
class ConnectButton : public QAbstractButton {
    Q_OBJECT

public:
    ConnectButton(const QString &title, const QString &icon, const QColor &color,
                  QWidget *parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_icon;
    QColor m_color;
};

// The Accounts settings tab: connected calendar accounts, adding one (by sign-in or as a
// calendar feed), Slack, and the backend they are connected through.
class AccountsContent : public SettingsTab {
    Q_OBJECT

public:
    AccountsContent(AccountsModel &model, BackendAddressModel &backend, QWidget *parent = nullptr);

    ConnectButton *connectButton(CalendarProvider provider) const;
    QLabel *errorLabel() const { return m_error; }
    // Why "Desktop Calendars" cannot be connected here; hidden when it can.
    QLabel *desktopUnavailableLabel() const { return m_desktopUnavailable; }
    CalendarFeedForm *feedForm() const { return m_feedForm; }
    // The red reason under a failing feed's row, or null.
    QLabel *feedProblemLabel(const QString &accountId) const;
    QLineEdit *backendField() const { return m_backendField; }
    CapsuleButton *backendSaveButton() const { return m_backendSave; }
    QLabel *backendErrorLabel() const { return m_backendError; }

Q_SIGNALS:
    void rebuilt();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();
    void rebuildAccounts();
    void rebuildSlack();
    void showFeedForm(bool shown);
    void addBackendSection();
    void refreshBackend();
    // Removing an account drops its reminders at once, so the user is asked first.
    void confirmRemoval(const ConnectedAccount &account);

    AccountsModel &m_model;
    BackendAddressModel &m_backend;
    SettingsCard *m_accountsCard = nullptr;
    QWidget *m_accountsHolder;
    QVBoxLayout *m_accountsLayout;
    QHash<CalendarProvider, ConnectButton *> m_connect;
    CalendarFeedForm *m_feedForm;
    QLabel *m_error;
    QLabel *m_desktopUnavailable;
    QWidget *m_slackHolder;
    QVBoxLayout *m_slackLayout;
    QString m_shownAccounts;
    QString m_shownSlack;
    QLineEdit *m_backendField = nullptr;
    CapsuleButton *m_backendSave = nullptr;
    QLabel *m_backendError = nullptr;
};
