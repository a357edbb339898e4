#include "BatteryAlertView.h"

#include "CapsuleButton.h"
#include "Theme.h"
#include "Widgets.h"

#include <QKeyEvent>
#include <QVBoxLayout>

namespace {
constexpr int cornerRadius = 20;
constexpr int padding = 32;
constexpr int maxWidth = 480;
} // namespace

BatteryAlertView::BatteryAlertView(QWidget *parent)
    : CardOverlay(parent) {
    setAccessibleName(tr("Battery Critical"));
    auto *card = new CardFrame(cornerRadius, false);
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(12);

    layout->addWidget(Widgets::symbol(QStringLiteral("battery.0percent"), Theme::Colors::red(), 48),
                      0, Qt::AlignHCenter);
    QLabel *title =
        Widgets::label(tr("Battery Critical"), Theme::Typography::font(32, QFont::Medium),
                       Theme::Colors::textPrimary());
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    QLabel *message = Widgets::label(tr("Your computer is at 1% battery. Plug in now."),
                                     Theme::Typography::body(), Theme::Colors::textSecondary());
    message->setAlignment(Qt::AlignCenter);
    message->setWordWrap(true);
    layout->addWidget(message);
    layout->addSpacing(8);
    auto *dismiss = new CapsuleButton(tr("Dismiss"), CapsuleButton::Style::primary);
    connect(dismiss, &QAbstractButton::clicked, this, &BatteryAlertView::dismissRequested);
    layout->addWidget(dismiss, 0, Qt::AlignHCenter);

    setCard(card, maxWidth, false);
    setInitialFocus(dismiss);
}

void BatteryAlertView::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape) {
        Q_EMIT dismissRequested();
        return;
    }
    CardOverlay::keyPressEvent(event);
}
