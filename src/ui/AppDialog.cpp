#include "AppDialog.h"

#include "Theme.h"
#include "Widgets.h"
#include "WindowPlacement.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {
// The application's light colours for everything the dialog holds, so a dark desktop theme
// does not leave text fields or bars of its own colours inside it.
QPalette appPalette(QPalette palette) {
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, Theme::Colors::background());
        palette.setColor(group, QPalette::Base, Theme::Colors::surfaceSecondary());
        palette.setColor(group, QPalette::AlternateBase, Theme::Colors::surfaceSecondary());
        palette.setColor(group, QPalette::Button, Theme::Colors::surface());
        for (QPalette::ColorRole role :
             {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(group, role, Theme::Colors::textPrimary());
        palette.setColor(group, QPalette::Highlight, Theme::Colors::primary());
        palette.setColor(group, QPalette::HighlightedText, Theme::Colors::textOnDark());
        palette.setColor(group, QPalette::Link, Theme::Colors::primary());
    }
    return palette;
}
} // namespace

AppDialog::AppDialog(QWidget *parent)
    : QDialog(parent)
    , m_layout(new QVBoxLayout(this)) {
    setPalette(appPalette(palette()));
    setAutoFillBackground(true);
    m_layout->setContentsMargins(24, 20, 24, 20);
}

void AppDialog::startPage(const QString &heading, const QString &text) {
    delete m_page;
    m_focused = nullptr;
    m_page = new QWidget(this);
    m_pageLayout = new QVBoxLayout(m_page);
    m_pageLayout->setContentsMargins(0, 0, 0, 0);
    m_pageLayout->setSpacing(10);
    QLabel *title =
        Widgets::label(heading, Theme::Typography::h3(), Theme::Colors::textPrimary(), m_page);
    title->setWordWrap(true);
    m_pageLayout->addWidget(title);
    if (!text.isEmpty()) {
        QLabel *body =
            Widgets::label(text, Theme::Typography::body(), Theme::Colors::textSecondary(), m_page);
        body->setWordWrap(true);
        m_pageLayout->addWidget(body);
    }
    m_buttons = new QWidget(m_page);
    auto *row = new QHBoxLayout(m_buttons);
    row->setContentsMargins(0, 8, 0, 0);
    row->setSpacing(8);
    row->addStretch();
    m_layout->addWidget(m_page);
}

CapsuleButton *AppDialog::addButton(const QString &title, CapsuleButton::Style style,
                                    bool focused) {
    auto *button = new CapsuleButton(title, style, QString(), m_buttons);
    m_buttons->layout()->addWidget(button);
    if (focused)
        m_focused = button;
    return button;
}

void AppDialog::finishPage() {
    m_pageLayout->addWidget(m_buttons);
    // A child added to a visible window would be shown only later, leaving the size below
    // and the focus chain without the new page.
    m_page->show();
    if (m_focused)
        m_focused->setFocus();
    const bool wasVisible = isVisible();
    adjustSize();
    if (wasVisible)
        WindowPlacement::keepOnScreen(this);
}

void AppDialog::showPage() {
    finishPage();
    show();
    raise();
    activateWindow();
}

void AppDialog::setVisible(bool visible) {
    // Placed by the application rather than left to the toolkit's guess, before the window
    // exists on screen: on the screen the user is at, frame and title bar included.
    if (visible && !isVisible())
        WindowPlacement::centreOnPointerScreen(this);
    QDialog::setVisible(visible);
}

ConfirmationDialog::ConfirmationDialog(const QString &heading, const QString &text,
                                       const QString &action, QWidget *parent)
    : AppDialog(parent) {
    setWindowTitle(heading);
    setMinimumWidth(400);
    startPage(heading, text);
    connect(addButton(tr("Cancel"), CapsuleButton::Style::secondary, true),
            &QAbstractButton::clicked, this, &QDialog::reject);
    connect(addButton(action, CapsuleButton::Style::destructive, false), &QAbstractButton::clicked,
            this, &QDialog::accept);
    finishPage();
}
