#pragma once

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QMap>
#include <QMenu>
#include <QMetaMethod>
#include <QPointer>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

// The controls of a window as an assistive tool (Orca, switch access, voice control) works
// them: through their accessible actions, never a click. Each shown, enabled control's every
// action must set off each signal of the control that the program listens to, as a click does,
// and a checkable control must change and announce its state.
namespace AccessibleWalk {
using namespace Qt::StringLiterals;

struct Report {
    QStringList covered;               // each control exercised, in the order met
    QMap<QString, QStringList> broken; // control -> what went wrong with it

    QStringList problems() const {
        QStringList all;
        for (auto it = broken.cbegin(); it != broken.cend(); ++it)
            for (const QString &problem : it.value())
                all << it.key() + u": "_s + problem;
        return all;
    }
};

namespace Detail {
// Whether anything in the program listens to `signal` of `object`.
struct ConnectionPeek : QObject {
    using QObject::isSignalConnected;
};
inline bool listened(const QObject *object, const QMetaMethod &signal) {
    return (object->*&ConnectionPeek::isSignalConnected)(signal);
}

inline bool shown(QAccessibleInterface *iface) {
    const QAccessible::State state = iface->state();
    return !state.invisible && !state.offscreen;
}

inline QStringList actionsOf(QAccessibleInterface *iface) {
    QStringList actions;
    if (QAccessibleActionInterface *a = iface->actionInterface())
        for (const QString &name : a->actionNames())
            if (name != QAccessibleActionInterface::setFocusAction())
                actions << name;
    return actions;
}

struct Found {
    QAccessible::Id id;
    QString key;
};

inline void collect(QAccessibleInterface *iface, QList<Found> &found, QMap<QString, int> &seen) {
    for (int i = 0; i < iface->childCount(); ++i) {
        QAccessibleInterface *child = iface->child(i);
        if (!child || !shown(child))
            continue;
        if (!child->state().disabled && !actionsOf(child).isEmpty()) {
            const QString base =
                QString::fromLatin1(child->object() ? child->object()->metaObject()->className()
                                                    : "?") +
                u" \""_s + child->text(QAccessible::Name) + u'"';
            const int n = seen[base]++;
            found.append({QAccessible::uniqueId(child),
                          n == 0 ? base : base + u" #"_s + QString::number(n + 1)});
        }
        collect(child, found, seen);
    }
}

// Popups and dialogs an action opened, closed again so the walk goes on in `window`.
inline void closeTransients(QWidget *window) {
    for (int i = 0; i < 10; ++i) {
        QWidget *popup = QApplication::activePopupWidget();
        if (!popup || popup == window)
            break;
        popup->close();
    }
    for (int i = 0; i < 10; ++i) {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == window)
            break;
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
    }
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *combo = qobject_cast<QComboBox *>(top->parentWidget()); combo && top->isVisible())
            combo->hidePopup();
    QCoreApplication::processEvents();
}

// What went wrong with `action` of the control, or nothing when the control went away first.
inline std::optional<QStringList> exercise(QAccessible::Id id, const QString &action,
                                           QWidget *window) {
    QAccessibleInterface *iface = QAccessible::accessibleInterface(id);
    // A control that another one has just switched off (a sign-in under way) is given the time
    // it takes to come back.
    if (!QTest::qWaitFor(
            [id] {
                QAccessibleInterface *now = QAccessible::accessibleInterface(id);
                return !now || !now->state().disabled;
            },
            3000))
        return QStringList();
    if (!(iface = QAccessible::accessibleInterface(id)))
        return QStringList();
    QObject *object = iface->object();
    const QPointer<QObject> alive(object);
    auto *button = qobject_cast<QAbstractButton *>(object);
    auto *qaction = qobject_cast<QAction *>(object);
    auto *combo = qobject_cast<QComboBox *>(object);
    if (!button && !qaction && !combo)
        return QStringList{u"a control of a kind the walk cannot check"_s};

    // What a click would set off: every signal of the control that someone listens to.
    std::vector<std::pair<QString, std::unique_ptr<QSignalSpy>>> expected;
    const auto expect = [&](auto *sender, auto signal, const QString &name) {
        if (listened(sender, QMetaMethod::fromSignal(signal)))
            expected.emplace_back(name, std::make_unique<QSignalSpy>(sender, signal));
    };
    const bool checkable = button && button->isCheckable();
    const bool exclusive =
        checkable && (button->autoExclusive() || (button->group() && button->group()->exclusive()));
    const bool wasChecked = checkable && button->isChecked();
    std::unique_ptr<QSignalSpy> released;
    if (button) {
        released = std::make_unique<QSignalSpy>(button, &QAbstractButton::released);
        expect(button, &QAbstractButton::clicked, u"clicked"_s);
        // A click on the chosen one of exclusive buttons changes nothing.
        if (!(exclusive && wasChecked))
            expect(button, &QAbstractButton::toggled, u"toggled"_s);
    }
    // An entry's ShowMenu opens its submenu; anything else it does is the menu's own.
    QMenu *submenu = qaction ? qaction->menu<QMenu *>() : nullptr;
    if (submenu && action != QAccessibleActionInterface::showMenuAction())
        submenu = nullptr;
    if (qaction && !submenu) {
        expect(qaction, &QAction::triggered, u"triggered"_s);
        expect(qaction, &QAction::toggled, u"toggled"_s);
    }
    if (expected.empty() && !combo && !submenu && !(exclusive && wasChecked))
        return QStringList{action + u": nothing listens to it, so no action can do anything"_s};

    iface->actionInterface()->doAction(action);
    const auto happened = [&] {
        if (combo)
            return combo->view()->isVisible();
        if (submenu)
            return submenu->isVisible();
        for (const auto &[name, spy] : expected)
            if (spy->isEmpty())
                return false;
        return true;
    };
    std::ignore = QTest::qWaitFor([&] { return !alive || happened(); }, 1000);

    if (!alive) {
        // Removed by its own click (a row that removes itself): its release came first, and
        // what listens to its click ran, the spy connected after them did not get to.
        if (released && !released->isEmpty())
            return QStringList();
        // Gone before it could act (a rebuild set off by an earlier control): met again later.
        if (!happened())
            return std::nullopt;
    }
    QStringList problems;
    if (combo && alive && !combo->view()->isVisible())
        problems << action + u": the list did not open"_s;
    if (submenu && !submenu->isVisible())
        problems << action + u": the submenu did not open"_s;
    for (const auto &[name, spy] : expected)
        if (spy->isEmpty())
            problems << action + u": no "_s + name + u" signal, which the program waits for"_s;
    if (checkable && alive) {
        const bool nowChecked = button->isChecked();
        if (nowChecked != (exclusive ? true : !wasChecked))
            problems << action + u": the checked state did not change"_s;
        QAccessibleInterface *after = QAccessible::queryAccessibleInterface(button);
        const QAccessible::State state = after->state();
        // A page tab is selected, not checked.
        const bool pageTab = after->role() == QAccessible::PageTab;
        if (!pageTab && !state.checkable)
            problems << u"not reported as checkable"_s;
        if (bool(pageTab ? state.selected : state.checked) != nowChecked)
            problems << u"reports its state wrongly"_s;
    }
    closeTransients(window);
    return problems;
}
} // namespace Detail

// Walks the shown controls under `root`, doing each action of each once. Rebuilt rows are found
// again by role, name and place, so a control that rebuilds its window does not stop the walk.
inline Report walk(QWidget *root) {
    Report report;
    QSet<QString> done;
    QMap<QString, int> tries;
    for (int round = 0; round < 400; ++round) {
        QList<Detail::Found> found;
        QMap<QString, int> seen;
        QAccessibleInterface *top = QAccessible::queryAccessibleInterface(root);
        Detail::collect(top, found, seen);
        const auto next = std::find_if(found.cbegin(), found.cend(), [&](const Detail::Found &f) {
            return !done.contains(f.key);
        });
        if (next == found.cend())
            break;
        const QString key = next->key;
        done.insert(key);
        const QStringList actions = Detail::actionsOf(QAccessible::accessibleInterface(next->id));
        for (const QString &action : actions) {
            if (!QAccessible::accessibleInterface(next->id))
                break;
            const std::optional<QStringList> problems =
                Detail::exercise(next->id, action, root->window());
            if (!problems && ++tries[key] < 3)
                done.remove(key);
            else if (problems && !problems->isEmpty())
                report.broken[key] << *problems;
        }
        if (done.contains(key) && !report.covered.contains(key))
            report.covered << key;
    }
    return report;
}
} // namespace AccessibleWalk
