#include "AccountsContent.h"

#include "SettingsBlocks.h"
#include "models/AccountsModel.h"
#include "models/AddFeedModel.h"
#include "models/BackendAddressModel.h"
#include "ui/AppDialog.h"
#include "ui/CalendarFeedForm.h"
#include "ui/CapsuleButton.h"
#include "ui/Controls.h"
#include "ui/ProviderRow.h"
#include "ui/SymbolIcons.h"
#include "ui/Theme.h"
#include "ui/Widgets.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>

namespace {
QString feedProblemName(const QString &accountId) {
    return QStringLiteral("feed-problem:") + accountId;
}

void clear(QVBoxLayout *layout) {
    while (QLayoutItem *item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
}
} // namespace

ConnectButton::ConnectButton(const QString &title, const QString &icon, const QColor &color,
                             QWidget *parent)
    : QAbstractButton(parent)
    , m_icon(icon)
    , m_color(color) {
    setText(title);
    setAccessibleName(title);
    setFont(Theme::Typography::bodyMedium());
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize ConnectButton::sizeHint() const {
    const QFontMetrics fm(font());
    return {16 + 16 + 6 + fm.horizontalAdvance(text()) + 16, std::max(fm.height(), 16) + 16};
}

void ConnectButton::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF capsule = rect();
    const qreal radius = capsule.height() / 2;
    if (hasFocus())
        Controls::paintFocusRing(p, capsule, radius);
    Theme::dimForState(p, *this);
    p.setPen(Qt::NoPen);
    p.setBrush(Theme::Colors::cardSubtle());
    p.drawRoundedRect(capsule.adjusted(2, 2, -2, -2), radius - 2, radius - 2);
    p.drawPixmap(QPointF(16, (height() - 16) / 2.0),
                 SymbolIcons::pixmap(m_icon, m_color, 16, devicePixelRatioF()));
    p.setFont(font());
    p.setPen(Theme::Colors::textPrimary());
    p.drawText(QRect(16 + 16 + 6, 0, width() - 38, height()), Qt::AlignLeft | Qt::AlignVCenter,
               text());
}

AccountsContent::AccountsContent(AccountsModel &model, BackendAddressModel &backend,
                                 QWidget *parent)
    : SettingsTab(tr("Accounts"), tr("Manage your calendar and messaging connections."), parent)
    , m_model(model)
    , m_backend(backend) {
    addSection(tr("Connected"));
    m_accountsHolder = new QWidget(this);
    m_accountsLayout = new QVBoxLayout(m_accountsHolder);
    m_accountsLayout->setContentsMargins(SettingsBlocks::paneInset, 0, SettingsBlocks::paneInset,
                                         0);
    addWidget(m_accountsHolder);

    addSection(tr("Add Account"));
    auto *buttons = new QWidget(this);
    // Two to a row: four side by side do not fit the narrowest window.
    auto *buttonGrid = new QGridLayout(buttons);
    buttonGrid->setContentsMargins(SettingsBlocks::paneInset, 0, SettingsBlocks::paneInset, 0);
    buttonGrid->setHorizontalSpacing(12);
    buttonGrid->setVerticalSpacing(8);
    buttonGrid->setColumnStretch(2, 1);
    const QList<CalendarProvider> providers{CalendarProvider::google, CalendarProvider::microsoft,
                                            CalendarProvider::feed, CalendarProvider::desktop};
    for (qsizetype i = 0; i < providers.size(); ++i) {
        const CalendarProvider provider = providers[i];
        auto *button =
            new ConnectButton(CalendarProviders::displayName(provider),
                              ProviderRow::symbolName(provider), ProviderRow::color(provider));
        buttonGrid->addWidget(button, int(i / 2), int(i % 2), Qt::AlignLeft);
        m_connect.insert(provider, button);
        // A feed has no sign-in: its form opens instead.
        connect(button, &QAbstractButton::clicked, this, [this, provider] {
            if (provider == CalendarProvider::feed)
                showFeedForm(true);
            else
                m_model.connectProvider(provider);
        });
    }
    addWidget(buttons);
    m_desktopUnavailable =
        Widgets::label(QString(), Theme::Typography::tiny(), Theme::Colors::textTertiary());
    addInset(m_desktopUnavailable, 6);

    m_feedForm = new CalendarFeedForm(m_model.feedForm());
    m_feedForm->hide();
    addInset(m_feedForm, 12);
    connect(m_feedForm, &CalendarFeedForm::closed, this, [this] { showFeedForm(false); });

    m_error = Widgets::label(QString(), Theme::Typography::tiny(), Theme::Colors::red());
    m_error->setWordWrap(true);
    addInset(m_error, 8);

    addSection(QStringLiteral("Slack"));
    m_slackHolder = new QWidget(this);
    m_slackLayout = new QVBoxLayout(m_slackHolder);
    m_slackLayout->setContentsMargins(SettingsBlocks::paneInset, 0, SettingsBlocks::paneInset, 0);
    addWidget(m_slackHolder);
    addBackendSection();

    connect(&m_model, &AccountsModel::changed, this, &AccountsContent::refresh);
    connect(&m_model, &AccountsModel::signInReturned, this, [this] {
        if (window()->isVisible())
            Widgets::bringToFront(window());
    });
    refresh();
}

void AccountsContent::addBackendSection() {
    addSection(tr("Backend"));
    auto *card = new SettingsCard;
    SettingsRow *row = card->addRow();
    const QString name = tr("Backend address");
    row->rowLayout()->addWidget(
        Widgets::label(name, Theme::Typography::body(), Theme::Colors::textPrimary()));
    m_backendField = new QLineEdit;
    m_backendField->setFrame(false);
    m_backendField->setFont(Theme::Typography::body());
    m_backendField->setMinimumWidth(200);
    m_backendField->setPlaceholderText(QStringLiteral("https://api.zelvane.app"));
    m_backendField->setAccessibleName(name);
    m_backendField->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    row->rowLayout()->addWidget(m_backendField, 1);
    m_backendSave = new CapsuleButton(tr("Save"), CapsuleButton::Style::secondary);
    m_backendSave->setAccessibleName(m_backendSave->text());
    row->rowLayout()->addWidget(m_backendSave);
    addInset(card);

    const auto save = [this] { m_backend.setAddress(m_backendField->text()); };
    connect(m_backendSave, &QAbstractButton::clicked, this, save);
    connect(m_backendField, &QLineEdit::returnPressed, this, save);

    // Grants belong to the backend that made them.
    auto *note = Widgets::label(
        BackendAddressModel::setByEnvironment()
            ? tr("ZELVANE_BACKEND_ORIGIN is set for this run, so this address is not used now.")
            : tr("Leave it empty for Zelvane's own backend. Calendars connected through another "
                 "backend must be connected again after a change."),
        Theme::Typography::tiny(), Theme::Colors::textTertiary());
    note->setWordWrap(true);
    note->setAccessibleName(note->text());
    addInset(note, 6);
    m_backendError = Widgets::label(QString(), Theme::Typography::tiny(), Theme::Colors::red());
    m_backendError->setWordWrap(true);
    addInset(m_backendError, 6);

    connect(&m_backend, &BackendAddressModel::changed, this, &AccountsContent::refreshBackend);
    m_backendField->setText(m_backend.address());
    refreshBackend();
}

void AccountsContent::refreshBackend() {
    const auto &error = m_backend.error();
    m_backendError->setText(error.value_or(QString()));
    m_backendError->setAccessibleName(m_backendError->text());
    m_backendError->setVisible(error.has_value());
    // A kept address is shown as kept (trimmed, without a trailing slash); a refused one stays
    // as typed, to be corrected.
    if (!error)
        m_backendField->setText(m_backend.address());
}

ConnectButton *AccountsContent::connectButton(CalendarProvider provider) const {
    return m_connect.value(provider);
}

QLabel *AccountsContent::feedProblemLabel(const QString &accountId) const {
    return m_accountsHolder->findChild<QLabel *>(feedProblemName(accountId));
}

void AccountsContent::showEvent(QShowEvent *event) {
    m_model.tabShown();
    QWidget::showEvent(event);
}

void AccountsContent::showFeedForm(bool shown) {
    const bool hadFocus = m_feedForm->isAncestorOf(QApplication::focusWidget());
    m_feedForm->setVisible(shown);
    if (shown) {
        m_feedForm->addressField()->setFocus();
    } else if (hadFocus || !QApplication::focusWidget()) {
        connectButton(CalendarProvider::feed)->setFocus();
    }
    Q_EMIT rebuilt();
}

void AccountsContent::refresh() {
    const bool connecting = m_model.isConnecting();
    connectButton(CalendarProvider::google)->setEnabled(!connecting);
    connectButton(CalendarProvider::microsoft)->setEnabled(!connecting);
    const auto desktopReason = m_model.unavailableReason(CalendarProvider::desktop);
    connectButton(CalendarProvider::desktop)->setEnabled(!desktopReason);
    m_desktopUnavailable->setText(desktopReason.value_or(QString()));
    m_desktopUnavailable->setAccessibleName(m_desktopUnavailable->text());
    m_desktopUnavailable->setVisible(desktopReason.has_value());
    const auto &error = m_model.connectionError();
    m_error->setText(error.value_or(QString()));
    m_error->setAccessibleName(m_error->text());
    m_error->setVisible(error.has_value());
    rebuildAccounts();
    rebuildSlack();
}

void AccountsContent::rebuildAccounts() {
    const QList<ConnectedAccount> accounts = m_model.accounts();
    // A feed's failure changes its row too.
    QStringList shown;
    for (const ConnectedAccount &account : accounts)
        shown << account.id + u'\n' + m_model.accountProblem(account.id).value_or(QString()) +
                     u'\n' + m_model.feedAddress(account.id).value_or(QString());
    if (shown.join(u'\n') == m_shownAccounts && m_accountsCard)
        return;
    m_shownAccounts = shown.join(u'\n');
    const QString focused = SettingsBlocks::focusedName(m_accountsHolder);
    clear(m_accountsLayout);
    m_accountsCard = new SettingsCard;
    if (accounts.isEmpty()) {
        SettingsRow *row = m_accountsCard->addRow();
        row->rowLayout()->addWidget(
            Widgets::symbol(QStringLiteral("person.crop.circle.badge.questionmark"),
                            Theme::Colors::textTertiary(), 18));
        row->rowLayout()->addWidget(Widgets::label(tr("No accounts connected"),
                                                   Theme::Typography::body(),
                                                   Theme::Colors::textSecondary()));
        row->rowLayout()->addStretch();
    }
    QStringList removeNames;
    for (const ConnectedAccount &account : accounts) {
        auto *accountRow =
            new ProviderRow(account.provider, account.email, ProviderRow::Style::plain);
        accountRow->addLine(CalendarProviders::displayName(account.provider),
                            Theme::Colors::textTertiary());
        // Two feeds are told apart by where they come from.
        if (const auto address = m_model.feedAddress(account.id))
            accountRow->addLine(*address, Theme::Colors::textTertiary())
                ->setObjectName(QStringLiteral("feed-address:") + account.id);
        if (const auto reason = m_model.accountProblem(account.id))
            accountRow->addLine(*reason, Theme::Colors::red())
                ->setObjectName(feedProblemName(account.id));
        m_accountsCard->addRow()->rowLayout()->addWidget(accountRow);
        auto *remove =
            new TextButton(tr("Remove"), Theme::Typography::tiny(), Theme::Colors::red());
        remove->setAccessibleDescription(account.email);
        remove->setObjectName(QStringLiteral("remove-account:") + account.id);
        removeNames << remove->objectName();
        connect(remove, &QAbstractButton::clicked, this,
                [this, account] { confirmRemoval(account); });
        accountRow->addControl(remove);
    }
    m_accountsLayout->addWidget(m_accountsCard);
    m_accountsCard->show();
    if (!focused.isEmpty())
        SettingsBlocks::restoreFocus(m_accountsHolder, QStringList{focused} + removeNames);
    if (!focused.isEmpty() && !m_accountsHolder->isAncestorOf(window()->focusWidget()))
        connectButton(CalendarProvider::google)->setFocus();
    Q_EMIT rebuilt();
}

void AccountsContent::confirmRemoval(const ConnectedAccount &account) {
    const QString name =
        account.email.isEmpty() ? CalendarProviders::displayName(account.provider) : account.email;
    auto *dialog = new ConfirmationDialog(
        tr("Remove %1?").arg(name),
        tr("Zelvane stops reminding you of its meetings. You can connect it again later."),
        tr("Remove"), window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("confirm-remove:") + account.id);
    connect(dialog, &QDialog::accepted, this,
            [this, id = account.id] { m_model.removeAccount(id); });
    // The keyboard returns to the settings window, on the control that asked.
    connect(dialog, &QDialog::finished, this, [this] { window()->activateWindow(); });
    dialog->open();
}

void AccountsContent::rebuildSlack() {
    const bool connected = m_model.isSlackConnected();
    const bool waiting = !connected && m_model.isSlackWaiting();
    const std::optional<QString> error = connected ? std::nullopt : m_model.slackError();
    const QString state =
        QStringLiteral("%1%2\n").arg(int(connected)).arg(int(waiting)) + error.value_or(QString());
    if (state == m_shownSlack)
        return;
    m_shownSlack = state;
    const bool hadFocus = !SettingsBlocks::focusedName(m_slackHolder).isEmpty();
    clear(m_slackLayout);
    auto *slack = new ProviderRow(
        QStringLiteral("number.square.fill"),
        connected ? Theme::Colors::purple() : Theme::Colors::textTertiary(),
        connected ? tr("Slack Connected") : tr("Connect Slack"), ProviderRow::Style::plain);
    QAbstractButton *action = nullptr;
    if (connected) {
        slack->addLine(tr("Meeting prep includes Slack message context"),
                       Theme::Colors::textTertiary());
        action = new TextButton(tr("Disconnect"), Theme::Typography::tiny(), Theme::Colors::red());
        connect(action, &QAbstractButton::clicked, this, [this] { m_model.disconnectSlack(); });
    } else if (waiting) {
        // The sign-in goes on in the browser; until it comes back the row says so.
        slack
            ->addLine(tr("Waiting for Slack… Finish signing in in your browser."),
                      Theme::Colors::textSecondary())
            ->setObjectName(QStringLiteral("slack-waiting"));
        action = new CapsuleButton(tr("Cancel"), CapsuleButton::Style::ghost);
        connect(action, &QAbstractButton::clicked, this, [this] { m_model.cancelSlack(); });
    } else {
        slack->addLine(tr("Optional — adds Slack context to meeting briefings"),
                       Theme::Colors::textTertiary());
        if (error)
            slack->addLine(*error, Theme::Colors::red())
                ->setObjectName(QStringLiteral("slack-error"));
        action = new CapsuleButton(tr("Connect"), CapsuleButton::Style::primary);
        connect(action, &QAbstractButton::clicked, this, [this] { m_model.connectSlack(); });
    }
    action->setObjectName(QStringLiteral("slack-action"));
    slack->addControl(action);
    auto *card = new SettingsCard;
    card->addRow()->rowLayout()->addWidget(slack);
    m_slackLayout->addWidget(card);
    card->show();
    if (hadFocus)
        action->setFocus();
    Q_EMIT rebuilt();
}
