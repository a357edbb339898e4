#include "StatusMenu.h"

#include "ui/SymbolIcons.h"
#include "ui/Theme.h"

#include <QMenu>
#include <QMetaMethod>
#include <utility>

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

StatusMenu::StatusMenu(Source source, QObject *parent)
    : QObject(parent)
    , m_source(std::move(source))
    , m_menu(std::make_unique<QMenu>()) {
    m_menu->setAccessibleName(QStringLiteral("Zelvane"));
    connect(m_menu.get(), &QMenu::aboutToShow, this, &StatusMenu::rebuild);
    rebuild();
}

StatusMenu::~StatusMenu() = default;

std::function<void()> StatusMenu::announcerFor(const StatusMenuEntry &entry) {
    using Action = StatusMenuEntry::Action;
    const auto plain = [this](void (StatusMenu::*signal)()) -> std::function<void()> {
        if (!isSignalConnected(QMetaMethod::fromSignal(signal)))
            return {};
        return [this, signal] { Q_EMIT(this->*signal)(); };
    };
    const auto withEvent =
        [this, &entry](void (StatusMenu::*signal)(const CalendarEvent &)) -> std::function<void()> {
        if (!entry.event || !isSignalConnected(QMetaMethod::fromSignal(signal)))
            return {};
        return [this, signal, event = *entry.event] { Q_EMIT(this->*signal)(event); };
    };
    switch (entry.action) {
    case Action::none:
        return {};
    case Action::installUpdate:
        return plain(&StatusMenu::installUpdateRequested);
    case Action::viewBrief:
        return withEvent(&StatusMenu::viewBriefRequested);
    case Action::prepMeeting:
        return withEvent(&StatusMenu::prepMeetingRequested);
    case Action::join:
        return withEvent(&StatusMenu::joinRequested);
    case Action::connectCalendar:
        return plain(&StatusMenu::connectCalendarRequested);
    case Action::openApp:
        return plain(&StatusMenu::openAppRequested);
    case Action::checkForUpdates:
        return plain(&StatusMenu::checkForUpdatesRequested);
    case Action::quit:
        return plain(&StatusMenu::quitRequested);
    }
    return {};
}

void StatusMenu::rebuild() {
    m_menu->clear();
    qDeleteAll(std::exchange(m_submenus, {}));
    for (const StatusMenuEntry &entry : m_source())
        addEntry(m_menu.get(), entry);
}

void StatusMenu::addEntry(QMenu *menu, const StatusMenuEntry &entry) {
    if (entry.kind == StatusMenuEntry::Kind::separator) {
        menu->addSeparator();
        return;
    }
    if (!entry.submenu.isEmpty()) {
        auto *submenu = new QMenu(entry.title, m_menu.get());
        submenu->setAccessibleName(entry.title);
        m_submenus.append(submenu);
        for (const StatusMenuEntry &child : entry.submenu)
            addEntry(submenu, child);
        QAction *action = menu->addMenu(submenu);
        action->setFont(fontFor(entry.style));
        action->setIcon(
            SymbolIcons::icon(QStringLiteral("video.fill"), Theme::Colors::textSecondary()));
        return;
    }
    QAction *action = menu->addAction(entry.title);
    action->setFont(fontFor(entry.style));
    // Menu entries cannot be coloured on most panels; a blue icon marks the update.
    if (entry.style == StatusMenuEntry::Style::update)
        action->setIcon(
            SymbolIcons::icon(QStringLiteral("arrow.up.circle.fill"), Theme::Colors::primary()));
    // A meeting that its entry joins shows the camera.
    if (entry.kind == StatusMenuEntry::Kind::meeting &&
        entry.action == StatusMenuEntry::Action::join)
        action->setIcon(
            SymbolIcons::icon(QStringLiteral("video.fill"), Theme::Colors::textSecondary()));
    const std::function<void()> announce = announcerFor(entry);
    action->setEnabled(bool(announce));
    if (announce)
        connect(action, &QAction::triggered, this, announce);
}
