#include "SettingsView.h"

#include "AIContent.h"
#include "AccountsContent.h"
#include "GeneralContent.h"
#include "SMSContent.h"
#include "SettingsBlocks.h"
#include "models/AISettingsModel.h"
#include "models/AccountsModel.h"
#include "models/BackendAddressModel.h"
#include "models/GeneralSettingsModel.h"
#include "ui/Controls.h"
#include "ui/SymbolIcons.h"
#include "ui/Theme.h"
#include "ui/Widgets.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>

namespace {
constexpr int sidebarSymbol = 14;
constexpr int sidebarSymbolFrame = 18;

QFont sidebarFont(bool selected) {
    return Theme::Typography::font(14, selected ? QFont::Medium : QFont::Normal);
}

void fill(QWidget *widget, const QColor &color) {
    widget->setAutoFillBackground(true);
    QPalette pal = widget->palette();
    pal.setColor(QPalette::Window, color);
    widget->setPalette(pal);
}

// The banner's one button: white capsule, brand-coloured title.
class BannerButton : public TextButton {
    Q_DECLARE_TR_FUNCTIONS(BannerButton)

public:
    explicit BannerButton(QWidget *parent)
        : TextButton(tr("Update Now"), Theme::Typography::bodyMedium(), Theme::Colors::primary(),
                     parent) {}

    QSize sizeHint() const override {
        const QFontMetrics fm(font());
        return {fm.horizontalAdvance(text()) + 32, fm.height() + 16};
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        Theme::dimForState(p, *this);
        p.setPen(hasFocus() ? QPen(Theme::Colors::primary(), 2) : Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 15, 15);
        p.setFont(font());
        p.setPen(Theme::Colors::primary());
        p.drawText(rect(), Qt::AlignCenter, text());
    }
};

// The banner shown over the tabs while an update is waiting; its button asks for the update.
class UpdateBanner : public QWidget {
    Q_DECLARE_TR_FUNCTIONS(UpdateBanner)

public:
    UpdateBanner() {
        auto *layout = new QHBoxLayout(this);
        layout->setContentsMargins(16, 16, 16, 16);
        layout->setSpacing(12);
        layout->addWidget(Widgets::symbol(QStringLiteral("arrow.down.circle.fill"), Qt::white, 18),
                          0, Qt::AlignVCenter);
        auto *column = new QVBoxLayout;
        column->setSpacing(2);
        column->addWidget(
            Widgets::label(tr("Update Available"), Theme::Typography::bodyMedium(), Qt::white));
        QColor dimWhite(Qt::white);
        dimWhite.setAlphaF(0.8);
        column->addWidget(Widgets::label(tr("A new version of Zelvane is ready to install."),
                                         Theme::Typography::caption(), dimWhite));
        layout->addLayout(column);
        layout->addStretch();
        m_button = new BannerButton(this);
        layout->addWidget(m_button, 0, Qt::AlignVCenter);
    }

    QAbstractButton *button() const { return m_button; }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient gradient(rect().topLeft(), rect().topRight());
        QColor faded = Theme::Colors::primary();
        faded.setAlphaF(0.8);
        gradient.setColorAt(0, Theme::Colors::primary());
        gradient.setColorAt(1, faded);
        p.setPen(Qt::NoPen);
        p.setBrush(gradient);
        p.drawRoundedRect(rect(), 18, 18);
    }

private:
    QAbstractButton *m_button;
};

// A sidebar entry as a screen reader meets it: a page tab, selected while its page shows, whose
// action opens its page as a click does (a checkable button's own action only toggles it).
class AccessibleSidebarTab : public QAccessibleWidget {
public:
    explicit AccessibleSidebarTab(SidebarItem *item)
        : QAccessibleWidget(item, QAccessible::PageTab) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.selectable = true;
        state.selected = item()->isSelected();
        return state;
    }
    QStringList actionNames() const override {
        QStringList names;
        if (widget()->isEnabled())
            names << pressAction();
        return names + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &actionName) override {
        if (actionName != pressAction())
            QAccessibleWidget::doAction(actionName);
        else if (widget()->isEnabled())
            item()->click();
    }

private:
    SidebarItem *item() const { return static_cast<SidebarItem *>(widget()); }
};

QAccessibleInterface *sidebarAccessible(const QString &className, QObject *object) {
    if (className == QLatin1String(SidebarItem::staticMetaObject.className()))
        if (auto *item = qobject_cast<SidebarItem *>(object))
            return new AccessibleSidebarTab(item);
    if (className == QLatin1String(SidebarTabList::staticMetaObject.className()))
        if (auto *list = qobject_cast<SidebarTabList *>(object))
            return new QAccessibleWidget(list, QAccessible::PageTabList);
    return nullptr;
}
} // namespace

const QList<SidebarTab> &SidebarTabs::all() {
    static const QList<SidebarTab> tabs{SidebarTab::accounts, SidebarTab::general, SidebarTab::ai,
                                        SidebarTab::sms};
    return tabs;
}

QString SidebarTabs::toString(SidebarTab tab) {
    switch (tab) {
    case SidebarTab::accounts:
        return QCoreApplication::translate("SidebarTabs", "Accounts");
    case SidebarTab::general:
        return QCoreApplication::translate("SidebarTabs", "General");
    case SidebarTab::ai:
        return QCoreApplication::translate("SidebarTabs", "AI Research (Beta)");
    case SidebarTab::sms:
        return QCoreApplication::translate("SidebarTabs", "SMS");
    }
    return {};
}

QString SidebarTabs::icon(SidebarTab tab) {
    switch (tab) {
    case SidebarTab::accounts:
        return QStringLiteral("person.crop.circle");
    case SidebarTab::general:
        return QStringLiteral("gear");
    case SidebarTab::ai:
        return QStringLiteral("sparkles");
    case SidebarTab::sms:
        return QStringLiteral("message");
    }
    return {};
}

SidebarItem::SidebarItem(const QString &title, const QString &icon, QWidget *parent)
    : QAbstractButton(parent)
    , m_icon(icon) {
    setText(title);
    setAccessibleName(title);
    setCheckable(true);
    setAutoExclusive(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize SidebarItem::sizeHint() const {
    const QFontMetrics fm(sidebarFont(true));
    return {12 + sidebarSymbolFrame + 8 + fm.horizontalAdvance(text()) + 12,
            std::max(fm.height(), sidebarSymbolFrame) + 2 * 7};
}

void SidebarItem::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool selected = isChecked();
    const QRectF strip = rect();
    if (selected) {
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::Colors::cardSubtle());
        p.drawRoundedRect(strip, 8, 8);
    }
    if (hasFocus())
        Controls::paintFocusRing(p, strip, 8);
    Theme::dimForState(p, *this);

    const QColor symbolColor = selected ? Theme::Colors::primary() : Theme::Colors::textTertiary();
    const QPixmap symbol =
        SymbolIcons::pixmap(m_icon, symbolColor, sidebarSymbol, devicePixelRatioF());
    const int x = 12;
    p.drawPixmap(
        QPointF(x + (sidebarSymbolFrame - sidebarSymbol) / 2.0, (height() - sidebarSymbol) / 2.0),
        symbol);
    p.setFont(sidebarFont(selected));
    p.setPen(selected ? Theme::Colors::textPrimary() : Theme::Colors::textSecondary());
    p.drawText(
        QRect(x + sidebarSymbolFrame + 8, 0, width() - x - sidebarSymbolFrame - 20, height()),
        Qt::AlignLeft | Qt::AlignVCenter, text());
}

SidebarTabList::SidebarTabList(QWidget *parent)
    : QWidget(parent) {
    setAccessibleName(tr("Settings"));
}

SettingsView::SettingsView(const SettingsServices &services, QWidget *parent)
    : QWidget(parent)
    , m_generalModel(new GeneralSettingsModel(services.settings, services.calendarService, this))
    , m_accountsModel(new AccountsModel(services.calendarService, services.slack, this))
    , m_backendModel(new BackendAddressModel(services.settings, this))
    , m_aiModel(new AISettingsModel(services.llm, services.secrets, this)) {
    [[maybe_unused]] static const bool factoryInstalled = [] {
        QAccessible::installFactory(sidebarAccessible);
        return true;
    }();
    setMinimumSize(minimumWidth, minimumHeight);
    fill(this, Theme::Colors::surface());

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildSidebar());
    auto *divider = new QWidget(this);
    divider->setFixedWidth(1);
    fill(divider, Theme::Colors::borderStrong());
    layout->addWidget(divider);

    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    // Drawn in the window's own light colours: the desktop's style may paint a dark groove
    // with a light handle, which reads upside down on the white pane.
    m_scroll->verticalScrollBar()->setStyleSheet(
        QStringLiteral(
            "QScrollBar:vertical { background: %1; width: 12px; margin: 0; border: none; }"
            "QScrollBar::handle:vertical { background: %2; min-height: 32px; "
            "border-radius: 3px; margin: 2px 3px; }"
            "QScrollBar::handle:vertical:hover { background: %3; }"
            "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; "
            "border: none; background: none; }"
            "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { "
            "background: none; }")
            .arg(Theme::cssColor(Theme::Colors::surface()),
                 Theme::cssColor(Theme::Colors::textTertiary()),
                 Theme::cssColor(Theme::Colors::textSecondary())));
    auto *pane = new QWidget;
    fill(pane, Theme::Colors::surface());
    auto *column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto *banner = new UpdateBanner;
    connect(banner->button(), &QAbstractButton::clicked, this, &SettingsView::updateRequested);
    m_banner = banner;
    QWidget *bannerHolder = SettingsBlocks::inset(m_banner, 24, 20);
    bannerHolder->setVisible(false);
    column->addWidget(bannerHolder);
    m_accounts = new AccountsContent(*m_accountsModel, *m_backendModel);
    m_general = new GeneralContent(*m_generalModel);
    m_ai = new AIContent(*m_aiModel);
    m_sms = new SMSContent(services.sms);
    for (QWidget *tab : {static_cast<QWidget *>(m_accounts), static_cast<QWidget *>(m_general),
                         static_cast<QWidget *>(m_ai), static_cast<QWidget *>(m_sms)}) {
        tab->setVisible(false);
        column->addWidget(tab);
    }
    column->addStretch();
    m_scroll->setWidget(pane);
    layout->addWidget(m_scroll, 1);

    connect(m_accounts, &AccountsContent::rebuilt, this, &SettingsView::orderFocus);
    connect(m_general, &GeneralContent::rebuilt, this, &SettingsView::orderFocus);
    // Closing only hides the window; Zelvane keeps running in the tray.
    new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this, this, &QWidget::close);
    selectTab(SidebarTab::accounts);
}

SettingsView::~SettingsView() = default;

QWidget *SettingsView::buildSidebar() {
    auto *sidebar = new QWidget(this);
    sidebar->setFixedWidth(sidebarWidth);
    fill(sidebar, Theme::Colors::surfaceSecondary());
    auto *layout = new QVBoxLayout(sidebar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(16, 20, 16, 24);
    header->setSpacing(8);
    header->addWidget(Widgets::symbol(QStringLiteral("calendar"), Theme::Colors::primary(), 15));
    header->addWidget(Widgets::label(QStringLiteral("Zelvane"),
                                     Theme::Typography::font(15, QFont::DemiBold),
                                     Theme::Colors::textPrimary()));
    header->addStretch();
    layout->addLayout(header);

    QFont overline = Theme::Typography::overline();
    overline.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
    QLabel *caption = Widgets::label(tr("SETTINGS"), overline, Theme::Colors::textTertiary());
    caption->setContentsMargins(16, 0, 16, 8);
    layout->addWidget(caption);

    auto *tabList = new SidebarTabList(sidebar);
    auto *items = new QVBoxLayout(tabList);
    items->setContentsMargins(8, 0, 8, 0);
    items->setSpacing(2);
    for (SidebarTab tab : SidebarTabs::all()) {
        auto *item = new SidebarItem(SidebarTabs::toString(tab), SidebarTabs::icon(tab), tabList);
        // Toggled, not clicked: assistive tools choose a tab without a click.
        connect(item, &QAbstractButton::toggled, this, [this, tab](bool on) {
            if (on && tab != m_selected)
                selectTab(tab);
        });
        items->addWidget(item);
        m_items.append(item);
    }
    layout->addWidget(tabList);
    layout->addStretch();

    // Without a tray there is no menu to quit from, so the window offers it too.
    m_quit = new TextButton(tr("Quit"), Theme::Typography::caption(),
                            Theme::Colors::textSecondary(), sidebar);
    m_quit->setObjectName(QStringLiteral("quit"));
    connect(m_quit, &QAbstractButton::clicked, this, &SettingsView::quitRequested);
    auto *quitRow = new QHBoxLayout;
    quitRow->setContentsMargins(16, 0, 16, 8);
    quitRow->addWidget(m_quit);
    quitRow->addStretch();
    layout->addLayout(quitRow);

    QLabel *version = Widgets::label(versionText(QCoreApplication::applicationVersion()),
                                     Theme::Typography::tiny(), Theme::Colors::textTertiary());
    version->setContentsMargins(16, 0, 16, 16);
    layout->addWidget(version);
    return sidebar;
}

QString SettingsView::versionText(const QString &applicationVersion) {
    return QStringLiteral("v") +
           (applicationVersion.isEmpty() ? QStringLiteral("1.0.0") : applicationVersion);
}

SidebarItem *SettingsView::sidebarItem(SidebarTab tab) const {
    return m_items.value(SidebarTabs::all().indexOf(tab));
}

QWidget *SettingsView::tabContent(SidebarTab tab) const {
    switch (tab) {
    case SidebarTab::accounts:
        return m_accounts;
    case SidebarTab::general:
        return m_general;
    case SidebarTab::ai:
        return m_ai;
    case SidebarTab::sms:
        return m_sms;
    }
    return nullptr;
}

void SettingsView::selectTab(SidebarTab tab) {
    m_selected = tab;
    for (SidebarTab each : SidebarTabs::all()) {
        SidebarItem *item = sidebarItem(each);
        if (item->isSelected() != (each == tab)) {
            item->setSelected(each == tab);
            // Screen readers announce the newly selected tab.
            QAccessible::State changed;
            changed.selected = true;
            QAccessibleStateChangeEvent event(item, changed);
            QAccessible::updateAccessibility(&event);
        }
        tabContent(each)->setVisible(each == tab);
    }
    m_scroll->verticalScrollBar()->setValue(0);
    orderFocus();
}

void SettingsView::setUpdateAvailable(bool available) {
    m_banner->parentWidget()->setVisible(available);
    orderFocus();
}

void SettingsView::orderFocus() {
    SettingsBlocks::orderFocusChain(this);
    // Quit is the window's last stop, after the tab's controls: between the sidebar and the
    // tab, a Space meant for the tab would end the app.
    QWidget *last = nullptr;
    for (QWidget *w = m_quit->nextInFocusChain(); w != m_items.constFirst() && w != m_quit;
         w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(this))
            last = w;
    if (last)
        QWidget::setTabOrder(last, m_quit);
}
