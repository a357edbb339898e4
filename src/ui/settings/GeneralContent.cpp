#include "GeneralContent.h"

#include "SettingsBlocks.h"
#include "core/HexColor.h"
#include "models/GeneralSettingsModel.h"
#include "ui/Controls.h"
#include "ui/SymbolIcons.h"
#include "ui/Theme.h"
#include "ui/Widgets.h"

#include <QComboBox>
#include <QEasingCurve>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPropertyAnimation>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {
QWidget *switchRow(SettingsCard *card, const QString &title, SwitchButton *toggle) {
    SettingsRow *row = card->addRow();
    row->rowLayout()->addWidget(
        Widgets::label(title, Theme::Typography::body(), Theme::Colors::textPrimary()));
    row->rowLayout()->addStretch();
    row->rowLayout()->addWidget(toggle);
    return row;
}

QLabel *chevron(bool expanded) {
    return Widgets::symbol(expanded ? QStringLiteral("chevron.down")
                                    : QStringLiteral("chevron.right"),
                           Theme::Colors::textTertiary(), 10);
}
} // namespace

GeneralContent::GeneralContent(GeneralSettingsModel &model, QWidget *parent)
    : SettingsTab(tr("General"), tr("Configure reminders and alert preferences."), parent)
    , m_model(model) {
    m_accountsBox = new QWidget(this);
    m_accountsLayout = new QVBoxLayout(m_accountsBox);
    m_accountsLayout->setContentsMargins(0, 0, 0, 0);
    m_accountsLayout->setSpacing(0);
    addWidget(m_accountsBox);

    addSection(tr("Alerts"));
    auto *alerts = new SettingsCard;
    m_playSound = new SwitchButton(tr("Play sound"));
    m_playSound->setObjectName(QStringLiteral("play-sound"));
    switchRow(alerts, tr("Play sound"), m_playSound);
    m_respectDND = new SwitchButton(tr("Respect Do Not Disturb"));
    m_respectDND->setObjectName(QStringLiteral("respect-dnd"));
    switchRow(alerts, tr("Respect Do Not Disturb"), m_respectDND);
    addInset(alerts);
    // Toggled, not clicked: assistive tools switch them without a click. Showing the stored
    // value writes nothing.
    connect(m_playSound, &QAbstractButton::toggled, this, [this](bool on) {
        if (on != m_model.soundEnabled())
            m_model.setSoundEnabled(on);
    });
    connect(m_respectDND, &QAbstractButton::toggled, this, [this](bool on) {
        if (on != m_model.respectDND())
            m_model.setRespectDND(on);
    });

    addSection(tr("Updates"));
    auto *updates = new SettingsCard;
    m_automaticUpdates = new SwitchButton(tr("Automatically install updates"));
    switchRow(updates, tr("Automatically install updates"), m_automaticUpdates);
    SettingsRow *check = updates->addRow();
    check->rowLayout()->addWidget(Widgets::label(tr("Check for Updates"), Theme::Typography::body(),
                                                 Theme::Colors::textPrimary()));
    check->rowLayout()->addStretch();
    auto *checkNow =
        new TextButton(tr("Check Now"), Theme::Typography::caption(), Theme::Colors::primary());
    check->rowLayout()->addWidget(checkNow);
    m_checkNow = checkNow;
    // Kept disabled until an updater is wired to them.
    for (QAbstractButton *w : {static_cast<QAbstractButton *>(m_automaticUpdates), m_checkNow}) {
        w->setEnabled(false);
        w->setToolTip(tr("Automatic updates are not available in this build of Zelvane."));
    }
    connect(m_automaticUpdates, &QAbstractButton::toggled, this,
            &GeneralContent::automaticUpdatesToggled);
    connect(m_checkNow, &QAbstractButton::clicked, this, &GeneralContent::checkNowRequested);
    addInset(updates);

    addSection(tr("Startup"));
    auto *startup = new SettingsCard;
    m_openAtLogin = new SwitchButton(tr("Open at login"));
    m_openAtLogin->setObjectName(QStringLiteral("open-at-login"));
    switchRow(startup, tr("Open at login"), m_openAtLogin);
    addInset(startup);
    // Only the user's change is carried out; showing the stored value writes nothing.
    connect(m_openAtLogin, &QAbstractButton::toggled, this, [this](bool on) {
        if (on != m_model.launchAtLogin())
            m_model.setLaunchAtLogin(on);
    });

    connect(&m_model, &GeneralSettingsModel::accountsChanged, this,
            &GeneralContent::rebuildAccounts);
    connect(&m_model, &GeneralSettingsModel::calendarsChanged, this,
            &GeneralContent::rebuildAccounts);
    connect(&m_model, &GeneralSettingsModel::settingsChanged, this,
            &GeneralContent::rebuildAccounts);
    rebuildAccounts();
}

void GeneralContent::enableUpdates() {
    for (QAbstractButton *w : {static_cast<QAbstractButton *>(m_automaticUpdates), m_checkNow}) {
        w->setEnabled(true);
        w->setToolTip(QString());
    }
}

void GeneralContent::setAutomaticUpdates(bool enabled) {
    // Shown, not chosen: only the user's change is announced.
    const QSignalBlocker quiet(m_automaticUpdates);
    m_automaticUpdates->setChecked(enabled);
}

void GeneralContent::showEvent(QShowEvent *event) {
    m_model.tabAppeared();
    QWidget::showEvent(event);
}

QString GeneralContent::structure() const {
    // Everything that decides which rows exist; switch states and counts are updated in place.
    QStringList parts;
    for (const ConnectedAccount &account : m_model.accounts()) {
        parts << account.id << GeneralSettingsModel::sectionTitle(account);
        for (const ProxyCalendar &calendar : m_model.calendars(account.id))
            parts << calendar.id << calendar.name << calendar.hexColor.value_or(QString())
                  << m_model.calendarGroup(calendar.id).value_or(QString());
        parts << QStringLiteral("|");
        for (ReminderOffset offset : m_model.reminders(account.id))
            parts << QString::number(ReminderOffsets::raw(offset));
        parts << QStringLiteral("#");
    }
    return parts.join(QChar(0x1f));
}

void GeneralContent::rebuildAccounts() {
    const QString now = structure();
    if (m_shownStructure && now == *m_shownStructure) {
        refreshValues();
        return;
    }
    m_shownStructure = now;
    const QString focused = SettingsBlocks::focusedName(m_accountsBox);

    m_calendarLists.clear();
    m_countTexts.clear();
    m_chevrons.clear();
    m_calendarSwitches.clear();
    m_addMenus.clear();
    m_alertStyles.clear();
    while (QLayoutItem *item = m_accountsLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }

    const QList<ConnectedAccount> accounts = m_model.accounts();
    if (accounts.isEmpty()) {
        QLabel *none = Widgets::label(tr("Connect an account to configure reminders."),
                                      Theme::Typography::body(), Theme::Colors::textSecondary());
        none->setWordWrap(true);
        m_accountsLayout->addWidget(SettingsBlocks::inset(none, SettingsBlocks::paneInset));
    }
    for (const ConnectedAccount &account : accounts)
        m_accountsLayout->addWidget(buildAccount(account.id));
    // Shown now rather than when the layout gets to it, so focus can move onto the new rows.
    for (QWidget *child : m_accountsBox->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        child->show();
    refreshValues();

    // Focus stays on the same control; a removed reminder hands it to its card's menu.
    QStringList candidates{focused};
    if (focused.startsWith(QLatin1String("remove-reminder:")) ||
        focused.startsWith(QLatin1String("add-reminder:"))) {
        const QString accountId = focused.section(u':', 1, 1);
        candidates << QStringLiteral("add-reminder:") + accountId;
        for (ReminderOffset offset : m_model.reminders(accountId))
            candidates << QStringLiteral("remove-reminder:%1:%2")
                              .arg(accountId)
                              .arg(ReminderOffsets::raw(offset));
    }
    SettingsBlocks::restoreFocus(m_accountsBox, candidates);
    Q_EMIT rebuilt();
}

void GeneralContent::refreshValues() {
    m_playSound->setChecked(m_model.soundEnabled());
    m_respectDND->setChecked(m_model.respectDND());
    m_openAtLogin->setChecked(m_model.launchAtLogin());
    for (auto it = m_calendarSwitches.cbegin(); it != m_calendarSwitches.cend(); ++it)
        it.value()->setChecked(m_model.isCalendarEnabled(it.key()));
    for (auto it = m_alertStyles.cbegin(); it != m_alertStyles.cend(); ++it) {
        const QSignalBlocker quiet(it.value());
        it.value()->setCurrentIndex(
            int(GeneralSettingsModel::alertStyles().indexOf(m_model.alertStyle(it.key()))));
    }
    for (auto it = m_countTexts.cbegin(); it != m_countTexts.cend(); ++it) {
        const QString text = m_model.calendarCountText(it.key());
        it.value()->setText(text);
        it.value()->setAccessibleName(text);
    }
}

QWidget *GeneralContent::buildAccount(const QString &accountId) {
    ConnectedAccount account;
    for (const ConnectedAccount &a : m_model.accounts())
        if (a.id == accountId)
            account = a;

    auto *block = new QWidget;
    auto *layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new ContentSection(GeneralSettingsModel::sectionTitle(account)));

    auto *card = new SettingsCard;
    SettingsRow *header = card->addRow();
    auto *toggle = new RowButton(tr("Calendars"));
    toggle->setObjectName(QStringLiteral("calendars:") + accountId);
    QLabel *chevronLabel = chevron(isExpanded(accountId));
    chevronLabel->setFixedWidth(14);
    m_chevrons.insert(accountId, chevronLabel);
    toggle->addContent(chevronLabel);
    toggle->addContent(Widgets::label(tr("Calendars"), Theme::Typography::bodyMedium(),
                                      Theme::Colors::textPrimary()));
    toggle->rowLayout()->addStretch();
    QLabel *count =
        Widgets::label(QString(), Theme::Typography::tiny(), Theme::Colors::textTertiary());
    m_countTexts.insert(accountId, count);
    toggle->addContent(count);
    header->holdButton(toggle);
    connect(toggle, &QAbstractButton::clicked, this,
            [this, accountId] { setExpanded(accountId, !isExpanded(accountId)); });

    QWidget *list = buildCalendarList(accountId);
    list->setVisible(isExpanded(accountId));
    m_calendarLists.insert(accountId, list);
    card->addRow(list);
    // The list is the card's last child but not a row: the header keeps its hairline only
    // while the list shows.
    header->setLast(!isExpanded(accountId));
    layout->addWidget(SettingsBlocks::inset(card, SettingsBlocks::paneInset));

    layout->addWidget(new ContentSection(tr("Reminders")));
    layout->addWidget(
        SettingsBlocks::inset(buildRemindersCard(accountId), SettingsBlocks::paneInset));
    return block;
}

QWidget *GeneralContent::buildCalendarList(const QString &accountId) {
    auto *list = new QWidget;
    auto *layout = new QVBoxLayout(list);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    const QList<ProxyCalendar> calendars = m_model.calendars(accountId);
    if (calendars.isEmpty()) {
        auto *row = new SettingsRow(list);
        row->rowLayout()->addWidget(new Spinner(12, row));
        row->rowLayout()->addWidget(Widgets::label(tr("Loading calendars..."),
                                                   Theme::Typography::caption(),
                                                   Theme::Colors::textTertiary()));
        row->rowLayout()->addStretch();
        layout->addWidget(row);
        return list;
    }
    std::optional<QString> shownGroup;
    for (qsizetype i = 0; i < calendars.size(); ++i) {
        const ProxyCalendar &calendar = calendars[i];
        // The desktop's calendars come under the account each belongs to.
        if (const auto group = m_model.calendarGroup(calendar.id); group && group != shownGroup) {
            auto *heading = new SettingsRow(list);
            heading->rowLayout()->addWidget(Widgets::label(*group, Theme::Typography::caption(),
                                                           Theme::Colors::textSecondary()));
            heading->rowLayout()->addStretch();
            layout->addWidget(heading);
            shownGroup = group;
        }
        auto *row = new SettingsRow(list);
        row->setLast(i == calendars.size() - 1);
        const QColor color =
            colorFromSixDigitHex(calendar.hexColor ? std::optional<QStringView>(*calendar.hexColor)
                                                   : std::nullopt)
                .value_or(Theme::Colors::blue());
        row->rowLayout()->addWidget(new Dot(10, color, 0, row));
        row->rowLayout()->addWidget(
            Widgets::label(calendar.name, Theme::Typography::body(), Theme::Colors::textPrimary()));
        row->rowLayout()->addStretch();
        auto *toggle = new SwitchButton(calendar.name, row);
        toggle->setObjectName(QStringLiteral("calendar:") + calendar.id);
        m_calendarSwitches.insert(calendar.id, toggle);
        connect(toggle, &QAbstractButton::toggled, this, [this, id = calendar.id](bool on) {
            if (on != m_model.isCalendarEnabled(id))
                m_model.setCalendarEnabled(id, on);
        });
        row->rowLayout()->addWidget(toggle);
        layout->addWidget(row);
    }
    return list;
}

QWidget *GeneralContent::buildRemindersCard(const QString &accountId) {
    auto *card = new SettingsCard;
    const QList<ReminderOffset> offsets = m_model.reminders(accountId);
    for (qsizetype i = 0; i < offsets.size(); ++i) {
        const ReminderOffset offset = offsets[i];
        const QString label = ReminderOffsets::label(offset);
        SettingsRow *row = card->addRow();
        row->rowLayout()->addWidget(
            Widgets::symbol(QStringLiteral("clock.fill"), Theme::Colors::orange(), 12));
        row->rowLayout()->addWidget(
            Widgets::label(label, Theme::Typography::body(), Theme::Colors::textPrimary()));
        row->rowLayout()->addStretch();
        auto *remove = new TextButton(QString(), Theme::Typography::font(10, QFont::Medium),
                                      Theme::Colors::textTertiary());
        remove->setSymbol(QStringLiteral("xmark"), 10);
        remove->setAccessibleName(tr("Remove %1", "a reminder time").arg(label));
        remove->setObjectName(QStringLiteral("remove-reminder:%1:%2")
                                  .arg(accountId)
                                  .arg(ReminderOffsets::raw(offset)));
        connect(remove, &QAbstractButton::clicked, this,
                [this, accountId, offset] { m_model.removeReminder(accountId, offset); });
        row->rowLayout()->addWidget(remove);
    }
    const QList<ReminderOffset> missing = m_model.missingReminders(accountId);
    if (!missing.isEmpty()) {
        SettingsRow *row = card->addRow();
        auto *add = new TextButton(tr("Add reminder"), Theme::Typography::caption(),
                                   Theme::Colors::textSecondary());
        add->setSymbol(QStringLiteral("plus"), 11, TextButton::IconSide::before, 5,
                       Theme::Colors::primary());
        add->setObjectName(QStringLiteral("add-reminder:") + accountId);
        auto *menu = new QMenu(add);
        menu->setAccessibleName(tr("Add reminder"));
        for (ReminderOffset offset : missing) {
            QAction *action = menu->addAction(ReminderOffsets::label(offset));
            connect(action, &QAction::triggered, this,
                    [this, accountId, offset] { m_model.addReminder(accountId, offset); });
        }
        m_addMenus.insert(accountId, menu);
        connect(add, &QAbstractButton::clicked, menu,
                [add, menu] { menu->popup(add->mapToGlobal(QPoint(0, add->height()))); });
        row->rowLayout()->addWidget(add);
        row->rowLayout()->addStretch();
    }

    SettingsRow *styleRow = card->addRow();
    const QString styleTitle = tr("Alert style");
    styleRow->rowLayout()->addWidget(
        Widgets::label(styleTitle, Theme::Typography::body(), Theme::Colors::textPrimary()));
    styleRow->rowLayout()->addStretch();
    auto *styles = new QComboBox;
    styles->setObjectName(QStringLiteral("alert-style:") + accountId);
    styles->setAccessibleName(styleTitle);
    for (AlertStyle style : GeneralSettingsModel::alertStyles())
        styles->addItem(GeneralSettingsModel::alertStyleLabel(style));
    // Every way of choosing (mouse, keys, an assistive tool) changes the current index.
    connect(styles, &QComboBox::currentIndexChanged, this, [this, accountId](int index) {
        if (index >= 0 && index < GeneralSettingsModel::alertStyles().size())
            m_model.setAlertStyle(accountId, GeneralSettingsModel::alertStyles().at(index));
    });
    m_alertStyles.insert(accountId, styles);
    styleRow->rowLayout()->addWidget(styles);
    return card;
}

QMenu *GeneralContent::addReminderMenu(const QString &accountId) const {
    return m_addMenus.value(accountId);
}

void GeneralContent::setExpanded(const QString &accountId, bool expanded) {
    if (isExpanded(accountId) == expanded)
        return;
    if (expanded)
        m_expanded.insert(accountId);
    else
        m_expanded.remove(accountId);
    if (QLabel *label = m_chevrons.value(accountId))
        label->setPixmap(SymbolIcons::pixmap(
            expanded ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right"),
            Theme::Colors::textTertiary(), 10, label->devicePixelRatioF()));
    animateFold(accountId, expanded);
}

void GeneralContent::animateFold(const QString &accountId, bool expanded) {
    QWidget *list = m_calendarLists.value(accountId);
    if (!list)
        return;
    auto *toggle =
        list->parentWidget()->findChild<RowButton *>(QStringLiteral("calendars:") + accountId);
    if (auto *header = toggle ? qobject_cast<SettingsRow *>(toggle->parentWidget()) : nullptr)
        header->setLast(!expanded);
    const int full = list->sizeHint().height();
    auto *animation = new QPropertyAnimation(list, "maximumHeight", list);
    animation->setDuration(foldMilliseconds);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->setStartValue(expanded ? 0 : list->height());
    animation->setEndValue(expanded ? full : 0);
    if (expanded)
        list->setMaximumHeight(0);
    list->setVisible(true);
    connect(animation, &QPropertyAnimation::finished, list, [list, expanded] {
        list->setMaximumHeight(QWIDGETSIZE_MAX);
        list->setVisible(expanded);
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    Q_EMIT rebuilt();
}
