#include "AIContent.h"

#include "SettingsBlocks.h"
#include "models/AISettingsModel.h"
#include "ui/CapsuleButton.h"
#include "ui/Controls.h"
#include "ui/Theme.h"
#include "ui/Widgets.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {
void setColor(QLabel *label, const QColor &color) {
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
}

void setText(QLabel *label, const QString &text) {
    label->setText(text);
    label->setAccessibleName(text);
}

// The chosen provider's badge: its text and colour, or none.
std::optional<std::pair<QString, QColor>> badgeLook(AISettingsModel::KeyBadge badge) {
    switch (badge) {
    case AISettingsModel::KeyBadge::none:
        return std::nullopt;
    case AISettingsModel::KeyBadge::saved:
        return std::pair(AIContent::tr("Key saved"), Theme::Colors::textSecondary());
    case AISettingsModel::KeyBadge::connected:
        return std::pair(AIContent::tr("Connected"), Theme::Colors::green());
    case AISettingsModel::KeyBadge::notWorking:
        return std::pair(AIContent::tr("Not working"), Theme::Colors::red());
    }
    return std::nullopt;
}
} // namespace

AIContent::AIContent(AISettingsModel &model, QWidget *parent)
    : SettingsTab(tr("AI Research"),
                  tr("Zelvane uses AI to research meeting attendees and prepare briefings. "
                     "Choose any provider you already have an account with."),
                  parent)
    , m_model(model) {
    addSection(tr("1. Choose your AI provider"));
    auto *providers = new SettingsCard;
    for (LLMProvider provider : LLMProviders::all()) {
        const QString name = LLMProviders::toString(provider);
        SettingsRow *row = providers->addRow();
        auto *button = new RowButton(name);
        button->setCheckable(true);
        button->setAutoExclusive(true);
        button->addContent(
            Widgets::label(name, Theme::Typography::body(), Theme::Colors::textPrimary()));
        auto *badge = new Badge(QString(), Theme::Colors::green());
        button->addContent(badge);
        button->rowLayout()->addStretch();
        QLabel *check = Widgets::symbol(QStringLiteral("checkmark"), Theme::Colors::primary(), 13);
        button->addContent(check);
        row->holdButton(button);
        // Toggled, not clicked: assistive tools choose a row without a click.
        connect(button, &QAbstractButton::toggled, this, [this, provider, button](bool on) {
            if (on && provider != m_model.provider())
                m_model.chooseProvider(provider);
            // Each row sits alone in its own, out of reach of auto-exclusion: the chosen one
            // is kept checked here.
            else if (!on && provider == m_model.provider())
                button->setChecked(true);
        });
        m_providers.insert(provider, {button, badge, check});
    }
    addInset(providers);

    addSection(tr("2. Get your API key"));
    auto *keyHelp = new SettingsCard;
    SettingsRow *helpRow = keyHelp->addRow();
    auto *column = new QVBoxLayout;
    column->setSpacing(8);
    m_instructions =
        Widgets::label(QString(), Theme::Typography::caption(), Theme::Colors::textSecondary());
    m_instructions->setWordWrap(true);
    column->addWidget(m_instructions);
    m_link = new TextButton(QString(), Theme::Typography::bodyMedium(), Theme::Colors::primary());
    m_link->setSymbol(QStringLiteral("arrow.up.right"), 10, TextButton::IconSide::after, 5);
    connect(m_link, &QAbstractButton::clicked, this,
            [this] { QDesktopServices::openUrl(LLMProviders::apiKeyURL(m_model.provider())); });
    column->addWidget(m_link, 0, Qt::AlignLeft);
    helpRow->rowLayout()->addLayout(column, 1);
    addInset(keyHelp);

    addSection(tr("3. Paste your API key"));
    auto *keyCard = new SettingsCard;
    SettingsRow *fieldRow = keyCard->addRow();
    m_key = new QLineEdit;
    m_key->setEchoMode(QLineEdit::Password);
    m_key->setFrame(false);
    m_key->setFont(Theme::Typography::body());
    m_key->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    fieldRow->rowLayout()->addWidget(m_key);
    connect(m_key, &QLineEdit::textEdited, this,
            [this](const QString &text) { m_model.setApiKey(text); });
    m_problem = Widgets::label(QString(), Theme::Typography::tiny(), Theme::Colors::red());
    m_problem->setWordWrap(true);
    m_problem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    keyCard->addRow()->rowLayout()->addWidget(m_problem, 1);

    SettingsRow *testRow = keyCard->addRow();
    m_test = new CapsuleButton(tr("Test Connection"), CapsuleButton::Style::primary);
    connect(m_test, &QAbstractButton::clicked, this, [this] { m_model.testConnection(); });
    testRow->rowLayout()->addWidget(m_test);
    m_spinner = new Spinner(12);
    testRow->rowLayout()->addWidget(m_spinner);
    m_result = Widgets::label(QString(), Theme::Typography::tiny(), Theme::Colors::green());
    m_result->setWordWrap(true);
    testRow->rowLayout()->addWidget(m_result, 1);
    addInset(keyCard);

    m_privacy = Widgets::label(QString(), Theme::Typography::tiny(), Theme::Colors::textTertiary());
    m_privacy->setWordWrap(true);
    addInset(m_privacy, 8);

    connect(&m_model, &AISettingsModel::changed, this, &AIContent::refresh);
    refresh();
}

void AIContent::showEvent(QShowEvent *event) {
    m_model.load();
    QWidget::showEvent(event);
}

void AIContent::refresh() {
    const LLMProvider chosen = m_model.provider();
    const auto badge = badgeLook(m_model.keyBadge());
    for (auto it = m_providers.cbegin(); it != m_providers.cend(); ++it) {
        it->row->setChecked(it.key() == chosen);
        it->badge->setVisible(it.key() == chosen && badge);
        if (badge) {
            setText(it->badge, badge->first);
            it->badge->setColor(badge->second);
        }
        it->check->setVisible(it.key() == chosen);
    }
    setText(m_instructions, LLMProviders::setupInstructions(chosen));
    const QString linkLabel = LLMProviders::apiKeyButtonLabel(chosen);
    m_link->setText(linkLabel);
    m_link->setAccessibleName(linkLabel);
    m_link->updateGeometry();
    if (m_key->text() != m_model.apiKey())
        m_key->setText(m_model.apiKey());
    const QString placeholder = AISettingsModel::keyPlaceholder(chosen);
    m_key->setPlaceholderText(placeholder);
    m_key->setAccessibleName(placeholder);
    const auto problem = m_model.keyProblem();
    setText(m_problem, problem.value_or(QString()));
    // The row holding it shows only with a problem to tell.
    m_problem->parentWidget()->setVisible(problem.has_value());

    m_test->setTitle(m_model.isTesting() ? tr("Testing...") : tr("Test Connection"));
    m_test->setEnabled(m_model.canTest());
    m_spinner->setVisible(m_model.isTesting());
    const auto &result = m_model.testResult();
    setText(m_result, result.value_or(QString()));
    setColor(m_result, result && AISettingsModel::isSuccess(*result) ? Theme::Colors::green()
                                                                     : Theme::Colors::red());
    m_result->setVisible(result.has_value());
    setText(m_privacy, AISettingsModel::privacyNote(chosen));
}
