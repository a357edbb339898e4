#pragma once

#include "StatusMenuModel.h"

#include <QObject>
#include <functional>
#include <memory>

class QMenu;

// The tray menu: asks for fresh entries each time it is about to open and turns them into
// actions. An action whose handler is missing is shown disabled.
class StatusMenu : public QObject {
    Q_OBJECT

public:
    struct Handlers {
        std::function<void(const CalendarEvent &)> prepMeeting;
        std::function<void(const CalendarEvent &)> viewBrief;
        std::function<void()> openApp;
        std::function<void()> checkForUpdates;
        std::function<void()> installUpdate;
        std::function<void()> quit;
    };
    using Source = std::function<QList<StatusMenuEntry>()>;

    StatusMenu(Source source, Handlers handlers, QObject *parent = nullptr);
    ~StatusMenu() override;

    QMenu *menu() const { return m_menu.get(); }
    void rebuild();

private:
    std::function<void()> handlerFor(const StatusMenuEntry &entry) const;

    Source m_source;
    Handlers m_handlers;
    std::unique_ptr<QMenu> m_menu;
};
