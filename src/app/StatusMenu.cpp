#include "StatusMenu.h"

#include "ui/Theme.h"

#include <QKeySequence>
#include <QMenu>

namespace {
QFont fontFor(StatusMenuEntry::Style style) {
    switch (style) {
    case StatusMenuEntry::Style::update:
    case StatusMenuEntry::Style::firstMeeting:
        return Theme::Typography::font(13, QFont::DemiBold);
    case StatusMenuEntry::Style::meeting:
        return Theme::Typography::font(12, QFont::Normal);
    case StatusMenuEntry::Style::placeholder:
        return Theme::Typography::caption();
    case StatusMenuEntry::Style::plain:
        break;
    }
    return {};
}
} // namespace

StatusMenu::StatusMenu(Source source, Handlers handlers, QObject *parent)
    : QObject(parent)
    , m_source(std::move(source))
    , m_handlers(std::move(handlers))
    , m_menu(std::make_unique<QMenu>()) {
    m_menu->setAccessibleName(QStringLiteral("Zelvane"));
    connect(m_menu.get(), &QMenu::aboutToShow, this, &StatusMenu::rebuild);
    rebuild();
}

StatusMenu::~StatusMenu() = default;

std::function<void()> StatusMenu::handlerFor(const StatusMenuEntry &entry) const {
    using Action = StatusMenuEntry::Action;
    const auto withEvent = [&entry](const std::function<void(const CalendarEvent &)> &fn) {
        return fn && entry.event ? std::function<void()>([fn, event = *entry.event] { fn(event); })
                                 : std::function<void()>();
    };
    switch (entry.action) {
    case Action::none:
        return {};
    case Action::installUpdate:
        return m_handlers.installUpdate;
    case Action::viewBrief:
        return withEvent(m_handlers.viewBrief);
    case Action::prepMeeting:
        return withEvent(m_handlers.prepMeeting);
    case Action::openApp:
        return m_handlers.openApp;
    case Action::checkForUpdates:
        return m_handlers.checkForUpdates;
    case Action::quit:
        return m_handlers.quit;
    }
    return {};
}

void StatusMenu::rebuild() {
    m_menu->clear();
    for (const StatusMenuEntry &entry : m_source()) {
        if (entry.kind == StatusMenuEntry::Kind::separator) {
            m_menu->addSeparator();
            continue;
        }
        QAction *action = m_menu->addAction(entry.title);
        action->setFont(fontFor(entry.style));
        if (!entry.keyEquivalent.isEmpty())
            action->setShortcut(
                QKeySequence(QStringLiteral("Ctrl+") + entry.keyEquivalent.toUpper()));
        const std::function<void()> handler = handlerFor(entry);
        action->setEnabled(bool(handler));
        if (handler)
            connect(action, &QAction::triggered, this, handler);
    }
}
