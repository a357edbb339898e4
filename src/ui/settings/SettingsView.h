#pragma once

#include <QAbstractButton>
#include <QList>
#include <QString>
#include <QWidget>

class AccountsContent;
class AccountsModel;
class BackendAddressModel;
class AIContent;
class AISettingsModel;
class AppSettings;
class CalendarService;
class GeneralContent;
class GeneralSettingsModel;
class LLMService;
class QScrollArea;
class SecretStore;
class SlackService;
class SMSContent;
class SMSService;

enum class SidebarTab { accounts, general, ai, sms };

namespace SidebarTabs {
const QList<SidebarTab> &all();
QString toString(SidebarTab tab);
QString icon(SidebarTab tab);
} // namespace SidebarTabs

// The services the settings tabs edit.
struct SettingsServices {
    AppSettings &settings;
    CalendarService &calendarService;
    SlackService &slack;
    LLMService &llm;
    SMSService &sms;
    SecretStore &secrets;
};

// One tab in the settings sidebar: a symbol and a title on a rounded strip when selected.
class SidebarItem : public QAbstractButton {
    Q_OBJECT

public:
    SidebarItem(const QString &title, const QString &icon, QWidget *parent = nullptr);

    QString iconName() const { return m_icon; }
    bool isSelected() const { return isChecked(); }
    void setSelected(bool selected) { setChecked(selected); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_icon;
};

// The sidebar's tabs, which screen readers meet as a list of page tabs.
class SidebarTabList : public QWidget {
    Q_OBJECT

public:
    explicit SidebarTabList(QWidget *parent = nullptr);
};

// The settings window's content: a sidebar of tabs beside the selected tab in a scrolling pane.
class SettingsView : public QWidget {
    Q_OBJECT

public:
    explicit SettingsView(const SettingsServices &services, QWidget *parent = nullptr);
    ~SettingsView() override;

    static constexpr int sidebarWidth = 220;
    static constexpr int minimumWidth = 620;
    static constexpr int minimumHeight = 420;

    SidebarTab selectedTab() const { return m_selected; }
    void selectTab(SidebarTab tab);
    SidebarItem *sidebarItem(SidebarTab tab) const;
    QWidget *tabContent(SidebarTab tab) const;
    AccountsContent *accounts() const { return m_accounts; }
    GeneralContent *general() const { return m_general; }
    AIContent *ai() const { return m_ai; }
    SMSContent *sms() const { return m_sms; }
    QScrollArea *contentPane() const { return m_scroll; }
    // Shown over the tabs while an update is waiting.
    QWidget *updateBanner() const { return m_banner; }

    void setUpdateAvailable(bool available);
    // "v" + the application's version, or v1.0.0 when it has none.
    static QString versionText(const QString &applicationVersion);

    QAbstractButton *quitButton() const { return m_quit; }

Q_SIGNALS:
    void updateRequested();
    void quitRequested();

private:
    QWidget *buildSidebar();
    void orderFocus();

    GeneralSettingsModel *m_generalModel;
    AccountsModel *m_accountsModel;
    BackendAddressModel *m_backendModel;
    AISettingsModel *m_aiModel;
    SidebarTab m_selected = SidebarTab::accounts;
    QList<SidebarItem *> m_items;
    QScrollArea *m_scroll = nullptr;
    QAbstractButton *m_quit = nullptr;
    QWidget *m_banner = nullptr;
    AccountsContent *m_accounts = nullptr;
    GeneralContent *m_general = nullptr;
    AIContent *m_ai = nullptr;
    SMSContent *m_sms = nullptr;
};
