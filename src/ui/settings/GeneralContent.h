#pragma once

#include "SettingsBlocks.h"

#include <QHash>
#include <QSet>
#include <QWidget>
#include <optional>

class GeneralSettingsModel;
class QAbstractButton;
class QComboBox;
class QLabel;
class QMenu;
class QVBoxLayout;
class SwitchButton;

// The General settings tab: per account its calendars (folded by default), reminder lead
// times and alert style, then the alert, update and startup preferences.
class GeneralContent : public SettingsTab {
    Q_OBJECT

public:
    explicit GeneralContent(GeneralSettingsModel &model, QWidget *parent = nullptr);

    static constexpr int foldMilliseconds = 200;

    bool isExpanded(const QString &accountId) const { return m_expanded.contains(accountId); }
    void setExpanded(const QString &accountId, bool expanded);
    // The "Add reminder" menu of an account, or null when every lead time is chosen.
    QMenu *addReminderMenu(const QString &accountId) const;
    // The account's choice between a full-screen reminder and a notification.
    QComboBox *alertStyleBox(const QString &accountId) const {
        return m_alertStyles.value(accountId);
    }
    QAbstractButton *checkNowButton() const { return m_checkNow; }
    SwitchButton *automaticUpdatesSwitch() const { return m_automaticUpdates; }

    // Enables the Updates card, which stays disabled while nothing checks for updates.
    void enableUpdates();
    void setAutomaticUpdates(bool enabled);

Q_SIGNALS:
    // The rows were rebuilt; the window re-orders its keyboard focus chain.
    void rebuilt();
    void automaticUpdatesToggled(bool enabled);
    void checkNowRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString structure() const;
    void rebuildAccounts();
    void refreshValues();
    QWidget *buildAccount(const QString &accountId);
    QWidget *buildCalendarList(const QString &accountId);
    QWidget *buildRemindersCard(const QString &accountId);
    void animateFold(const QString &accountId, bool expanded);

    GeneralSettingsModel &m_model;
    QVBoxLayout *m_accountsLayout;
    QWidget *m_accountsBox;
    QSet<QString> m_expanded;
    std::optional<QString> m_shownStructure;
    QHash<QString, QWidget *> m_calendarLists;
    QHash<QString, QLabel *> m_countTexts;
    QHash<QString, QLabel *> m_chevrons;
    QHash<QString, SwitchButton *> m_calendarSwitches;
    QHash<QString, QMenu *> m_addMenus;
    QHash<QString, QComboBox *> m_alertStyles;
    SwitchButton *m_playSound;
    SwitchButton *m_respectDND;
    SwitchButton *m_openAtLogin;
    SwitchButton *m_automaticUpdates;
    QAbstractButton *m_checkNow;
};
