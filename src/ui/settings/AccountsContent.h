#pragma once

#include "SettingsBlocks.h"
#include "core/CalendarEvent.h"

#include <QAbstractButton>
#include <QHash>
#include <QWidget>

class AccountsModel;
class CalendarFeedForm;
class QLabel;
class QVBoxLayout;
class SettingsCard;

// "Google" / "Microsoft" / "Calendar Feed" with the provider's symbol, on a soft capsule.
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
// calendar feed), and Slack.
class AccountsContent : public SettingsTab {
    Q_OBJECT

public:
    explicit AccountsContent(AccountsModel &model, QWidget *parent = nullptr);

    ConnectButton *connectButton(CalendarProvider provider) const;
    QLabel *errorLabel() const { return m_error; }
    CalendarFeedForm *feedForm() const { return m_feedForm; }
    // The red reason under a failing feed's row, or null.
    QLabel *feedProblemLabel(const QString &accountId) const;

Q_SIGNALS:
    void rebuilt();

private:
    void refresh();
    void rebuildAccounts();
    void rebuildSlack();
    void showFeedForm(bool shown);

    AccountsModel &m_model;
    SettingsCard *m_accountsCard = nullptr;
    QWidget *m_accountsHolder;
    QVBoxLayout *m_accountsLayout;
    QHash<CalendarProvider, ConnectButton *> m_connect;
    CalendarFeedForm *m_feedForm;
    QLabel *m_error;
    QWidget *m_slackHolder;
    QVBoxLayout *m_slackLayout;
    QString m_shownAccounts;
    QString m_shownSlack;
};
