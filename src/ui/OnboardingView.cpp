#include "OnboardingView.h"

#include "CalendarFeedForm.h"
#include "CapsuleButton.h"
#include "SymbolIcons.h"
#include "Theme.h"
#include "models/OnboardingFlow.h"

#include <QEasingCurve>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace {
constexpr int capsuleHeight = 4;
constexpr int longCapsule = 24;
constexpr int shortCapsule = 8;
constexpr int capsuleSpacing = 6;

QLabel *symbolLabel(const QString &name, const QColor &color, int size, QWidget *parent) {
    auto *label = new QLabel(parent);
    label->setPixmap(SymbolIcons::pixmap(name, color, size, parent->devicePixelRatioF()));
    label->setFixedSize(size, size);
    return label;
}

QLabel *textLabel(const QString &text, const QFont &font, const QColor &color, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    label->setFont(font);
    label->setStyleSheet(
        QStringLiteral("color: %1; background: transparent;").arg(Theme::cssColor(color)));
    return label;
}

QLabel *centred(QLabel *label) {
    label->setAlignment(Qt::AlignHCenter);
    label->setWordWrap(true);
    return label;
}

QWidget *tipRow(const QString &icon, const QString &text, QWidget *parent) {
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto *symbol = symbolLabel(icon, Theme::Colors::purple(), 15, row);
    symbol->setFixedWidth(20);
    symbol->setAlignment(Qt::AlignCenter);
    layout->addWidget(symbol);
    layout->addWidget(
        textLabel(text, Theme::Typography::small(), Theme::Colors::textPrimary(), row));
    layout->addStretch();
    return row;
}

} // namespace

OnboardingStepIndicator::OnboardingStepIndicator(int count, QWidget *parent)
    : QWidget(parent)
    , m_count(count)
    , m_animation(new QVariantAnimation(this)) {
    m_animation->setDuration(300);
    m_animation->setEasingCurve(QEasingCurve::InOutQuad);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_progress = value.toReal();
        QWidget::update();
    });
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void OnboardingStepIndicator::setStep(int step) {
    if (step == m_step)
        return;
    m_previousStep = m_step;
    m_step = step;
    m_progress = 0.0;
    m_animation->stop();
    m_animation->start();
}

qreal OnboardingStepIndicator::capsuleWidth(int index) const {
    const qreal from = index <= m_previousStep ? longCapsule : shortCapsule;
    const qreal to = index <= m_step ? longCapsule : shortCapsule;
    return from + (to - from) * m_progress;
}

QSize OnboardingStepIndicator::sizeHint() const {
    return {m_count * longCapsule + (m_count - 1) * capsuleSpacing, capsuleHeight};
}

void OnboardingStepIndicator::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    qreal total = (m_count - 1) * capsuleSpacing;
    for (int i = 0; i < m_count; ++i)
        total += capsuleWidth(i);
    qreal x = (width() - total) / 2;
    for (int i = 0; i < m_count; ++i) {
        const qreal w = capsuleWidth(i);
        const qreal t = (w - shortCapsule) / (longCapsule - shortCapsule);
        const QColor from = Theme::Colors::border(), to = Theme::Colors::primary();
        p.setBrush(QColor::fromRgbF(from.redF() + (to.redF() - from.redF()) * t,
                                    from.greenF() + (to.greenF() - from.greenF()) * t,
                                    from.blueF() + (to.blueF() - from.blueF()) * t));
        p.drawRoundedRect(QRectF(x, 0, w, capsuleHeight), capsuleHeight / 2.0, capsuleHeight / 2.0);
        x += w + capsuleSpacing;
    }
}

OnboardingProviderRow::OnboardingProviderRow(CalendarProvider provider, QWidget *parent)
    : ProviderRow(provider, CalendarProviders::displayName(provider), Style::outlined, parent) {
    m_connect = new CapsuleButton(tr("Connect"), CapsuleButton::Style::primary, {}, this);
    connect(m_connect, &QAbstractButton::clicked, this, &OnboardingProviderRow::connectRequested);
    addControl(m_connect);

    auto *disconnect = new QPushButton(tr("Disconnect"), this);
    disconnect->setAccessibleName(tr("Disconnect"));
    disconnect->setFlat(true);
    disconnect->setCursor(Qt::PointingHandCursor);
    disconnect->setFont(Theme::Typography::caption());
    disconnect->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; "
                                             "background: transparent; padding: 0; }")
                                  .arg(Theme::cssColor(Theme::Colors::red())));
    connect(disconnect, &QPushButton::clicked, this, &OnboardingProviderRow::disconnectRequested);
    m_disconnect = disconnect;
    addControl(m_disconnect);
    setState(false, false);
}

void OnboardingProviderRow::setState(bool isConnected, bool isConnecting) {
    setConnected(isConnected);
    m_connect->setVisible(!isConnected);
    m_connect->setEnabled(!isConnecting);
    m_disconnect->setVisible(isConnected);
}

void OnboardingProviderRow::setUnavailableReason(const std::optional<QString> &reason) {
    if (reason && !m_reason)
        m_reason = addLine(QString(), Theme::Colors::textTertiary());
    if (m_reason) {
        m_reason->setText(reason.value_or(QString()));
        m_reason->setAccessibleName(m_reason->text());
        m_reason->setVisible(reason.has_value());
    }
    if (reason)
        m_connect->setEnabled(false);
}

OnboardingView::OnboardingView(CalendarService &calendarService, QWidget *parent)
    : QWidget(parent)
    , m_flow(new OnboardingFlow(calendarService, this)) {
    connect(m_flow, &OnboardingFlow::completed, this, &OnboardingView::completed);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Theme::Colors::background());
    setPalette(palette);
    resize(contentWidth, contentHeight);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 24, 0, 0);
    layout->setSpacing(0);

    m_indicator = new OnboardingStepIndicator(OnboardingFlow::stepCount, this);
    layout->addWidget(m_indicator, 0, Qt::AlignHCenter);
    layout->addStretch();

    m_steps = new QStackedWidget(this);
    m_steps->addWidget(buildWelcome());
    m_steps->addWidget(buildConnect());
    auto *stepBox = new QHBoxLayout;
    stepBox->setContentsMargins(32, 0, 32, 0);
    stepBox->addWidget(m_steps);
    layout->addLayout(stepBox);
    layout->addStretch();

    auto *navigation = new QHBoxLayout;
    navigation->setContentsMargins(24, 24, 24, 24);
    m_back = new CapsuleButton(tr("Back"), CapsuleButton::Style::ghost, {}, this);
    m_forward = new CapsuleButton(tr("Continue"), CapsuleButton::Style::primary, {}, this);
    connect(m_back, &QAbstractButton::clicked, m_flow, &OnboardingFlow::back);
    connect(m_forward, &QAbstractButton::clicked, m_flow, &OnboardingFlow::forward);
    navigation->addWidget(m_back);
    navigation->addStretch();
    navigation->addWidget(m_forward);
    layout->addLayout(navigation);

    connect(m_flow, &OnboardingFlow::changed, this, &OnboardingView::refresh);
    refresh();
    m_forward->setFocus();
}

QWidget *OnboardingView::buildWelcome() {
    auto *page = new QWidget(this);
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    column->addWidget(symbolLabel(QStringLiteral("calendar"), Theme::Colors::primary(), 40, page),
                      0, Qt::AlignHCenter);
    column->addWidget(centred(textLabel(tr("Welcome to Zelvane"), Theme::Typography::h1(),
                                        Theme::Colors::textPrimary(), page)));
    column->addWidget(
        centred(textLabel(tr("Full-screen meeting reminders with\nAI-powered meeting prep."),
                          Theme::Typography::body(), Theme::Colors::textSecondary(), page)));
    column->addSpacing(8);
    auto *tips = new QVBoxLayout;
    tips->setSpacing(10);
    tips->addWidget(tipRow(QStringLiteral("deskclock.fill"),
                           tr("Impossible-to-miss full-screen reminders"), page));
    tips->addWidget(
        tipRow(QStringLiteral("video.fill"), tr("One-click join for Zoom, Teams, and Meet"), page));
    tips->addWidget(tipRow(QStringLiteral("sparkles"),
                           tr("AI researches your attendees before every meeting"), page));
    auto *tipBox = new QHBoxLayout;
    tipBox->addStretch();
    tipBox->addLayout(tips);
    tipBox->addStretch();
    column->addLayout(tipBox);
    return page;
}

QWidget *OnboardingView::buildConnect() {
    auto *page = new QWidget(this);
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    // Three choices and the "connected" line must fit the fixed-size window.
    column->setSpacing(10);
    m_connectSymbol = new QLabel(page);
    m_connectSymbol->setFixedSize(40, 40);
    column->addWidget(m_connectSymbol, 0, Qt::AlignHCenter);
    column->addWidget(centred(textLabel(tr("Connect Your Calendar"), Theme::Typography::h1(),
                                        Theme::Colors::textPrimary(), page)));
    m_connectSubtitle =
        centred(textLabel(tr("Sign in to see upcoming meetings and trigger reminders."),
                          Theme::Typography::body(), Theme::Colors::textSecondary(), page));
    column->addWidget(m_connectSubtitle);

    m_choices = new QWidget(page);
    auto *choices = new QVBoxLayout(m_choices);
    choices->setContentsMargins(0, 0, 0, 0);
    choices->setSpacing(6);
    for (CalendarProvider provider : {CalendarProvider::google, CalendarProvider::microsoft,
                                      CalendarProvider::feed, CalendarProvider::desktop}) {
        auto *row = new OnboardingProviderRow(provider, m_choices);
        connect(row, &OnboardingProviderRow::connectRequested, this, [this, provider] {
            // A feed has no sign-in: its form opens instead.
            if (provider == CalendarProvider::feed)
                showFeedForm(true);
            else
                m_flow->connectProvider(provider);
        });
        connect(row, &OnboardingProviderRow::disconnectRequested, m_flow,
                [this, provider] { m_flow->disconnectProvider(provider); });
        choices->addWidget(row);
        m_rows.insert(provider, row);
    }
    column->addWidget(m_choices);

    m_feedForm = new CalendarFeedForm(m_flow->feedForm(), page);
    m_feedForm->hide();
    connect(m_feedForm, &CalendarFeedForm::closed, this, [this] { showFeedForm(false); });
    column->addWidget(m_feedForm);

    m_error = centred(textLabel({}, Theme::Typography::caption(), Theme::Colors::red(), page));
    column->addWidget(m_error);

    m_connectedRow = new QWidget(page);
    auto *connected = new QHBoxLayout(m_connectedRow);
    connected->setContentsMargins(0, 0, 0, 0);
    connected->setSpacing(6);
    connected->addStretch();
    connected->addWidget(symbolLabel(QStringLiteral("checkmark.circle.fill"),
                                     Theme::Colors::green(), 14, m_connectedRow));
    connected->addWidget(textLabel(tr("Calendar connected"), Theme::Typography::small(),
                                   Theme::Colors::green(), m_connectedRow));
    connected->addStretch();
    column->addWidget(m_connectedRow);
    return page;
}

void OnboardingView::showFeedForm(bool shown) {
    m_choices->setVisible(!shown);
    m_feedForm->setVisible(shown);
    // A feed needs no sign-in: the line above its form says what it does need.
    m_connectSubtitle->setText(
        shown ? tr("Add your calendar's feed address to see upcoming meetings and trigger "
                   "reminders.")
              : tr("Sign in to see upcoming meetings and trigger reminders."));
    if (shown)
        m_feedForm->addressField()->setFocus();
    else if (providerRow(CalendarProvider::feed)->isConnected())
        m_forward->setFocus();
    else
        providerRow(CalendarProvider::feed)->connectButton()->setFocus();
}

void OnboardingView::refresh() {
    const int step = m_flow->step();
    m_indicator->setStep(step);
    m_steps->setCurrentIndex(step);
    m_back->setVisible(step > 0);
    m_forward->setTitle(m_flow->isLastStep() ? tr("Get Started") : tr("Continue"));

    const bool calendarConnected = m_flow->isCalendarConnected();
    m_connectSymbol->setPixmap(
        SymbolIcons::pixmap(QStringLiteral("calendar.badge.checkmark"),
                            calendarConnected ? Theme::Colors::green() : Theme::Colors::primary(),
                            40, devicePixelRatioF()));
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        it.value()->setState(m_flow->isProviderConnected(it.key()), m_flow->isConnecting());
        it.value()->setUnavailableReason(m_flow->unavailableReason(it.key()));
    }
    const auto &error = m_flow->connectionError();
    m_error->setText(error.value_or(QString()));
    m_error->setVisible(error.has_value());
    m_connectedRow->setVisible(calendarConnected);
}
