#pragma once

#include "StatusMenuModel.h"

#include <QObject>
#include <functional>
#include <memory>

class QMenu;

// The tray menu: asks for fresh entries each time it is about to open and turns them into
// actions that announce themselves with a signal. An action whose signal has no listener is
// shown disabled.
class StatusMenu : public QObject {
    Q_OBJECT

public:
    using Source = std::function<QList<StatusMenuEntry>()>;

    explicit StatusMenu(Source source, QObject *parent = nullptr);
    ~StatusMenu() override;

    QMenu *menu() const { return m_menu.get(); }
    void rebuild();

Q_SIGNALS:
    void prepMeetingRequested(const CalendarEvent &event);
    void viewBriefRequested(const CalendarEvent &event);
    void joinRequested(const CalendarEvent &event);
    void connectCalendarRequested();
    void openAppRequested();
    void checkForUpdatesRequested();
    void installUpdateRequested();
    void quitRequested();

private:
    // Emits the entry's signal; empty when the entry has no action or nobody listens.
    std::function<void()> announcerFor(const StatusMenuEntry &entry);
    // Adds the entry's action to `menu`, or its submenu when it has one.
    void addEntry(QMenu *menu, const StatusMenuEntry &entry);

    Source m_source;
    std::unique_ptr<QMenu> m_menu;
    // Meetings' submenus of the current opening; clearing the menu leaves them behind.
    QList<QMenu *> m_submenus;
};
