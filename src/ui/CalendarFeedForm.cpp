#include "CalendarFeedForm.h"

#include "CapsuleButton.h"
#include "Controls.h"
#include "Theme.h"
#include "Widgets.h"
#include "models/AddFeedModel.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>

namespace {
QLineEdit *field(const QString &name, const QString &placeholder, QWidget *parent) {
    auto *edit = new QLineEdit(parent);
    edit->setAccessibleName(name);
    edit->setPlaceholderText(placeholder);
    edit->setFont(Theme::Typography::body());
    edit->setStyleSheet(QStringLiteral("QLineEdit { background: %1; color: %2; border: 1px solid "
                                       "%3; border-radius: 8px; padding: 5px 8px; }"
                                       "QLineEdit:focus { border-color: %4; }")
                            .arg(Theme::cssColor(Theme::Colors::cardSubtle()),
                                 Theme::cssColor(Theme::Colors::textPrimary()),
                                 Theme::cssColor(Theme::Colors::border()),
                                 Theme::cssColor(Theme::Colors::primary())));
    return edit;
}

QLabel *caption(const QString &text, QWidget *buddy, QWidget *parent) {
    QLabel *label =
        Widgets::label(text, Theme::Typography::caption(), Theme::Colors::textSecondary(), parent);
    label->setBuddy(buddy);
    return label;
}
} // namespace

CalendarFeedForm::CalendarFeedForm(AddFeedModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model) {
    setAccessibleName(tr("Add Calendar Feed"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setSpacing(10);

    auto *fields = new QGridLayout;
    fields->setHorizontalSpacing(12);
    fields->setVerticalSpacing(8);
    m_address = field(tr("Address"), tr("https://…"), this);
    m_address->setObjectName(QStringLiteral("feed-address"));
    m_choose = new TextButton(tr("Choose File…"), Theme::Typography::caption(),
                              Theme::Colors::primary(), this);
    m_choose->setObjectName(QStringLiteral("feed-choose-file"));
    // Under the field rather than in it, where a narrow window would cut it off.
    m_addressHint =
        Widgets::label(tr("An https:// or webcal:// address, or a calendar file on this computer."),
                       Theme::Typography::tiny(), Theme::Colors::textTertiary(), this);
    m_addressHint->setWordWrap(true);
    m_address->setAccessibleDescription(m_addressHint->text());
    m_name = field(tr("Name"), tr("The feed's own name"), this);
    m_name->setObjectName(QStringLiteral("feed-name"));
    fields->addWidget(caption(tr("Address"), m_address, this), 0, 0);
    fields->addWidget(m_address, 0, 1);
    fields->addWidget(m_choose, 0, 2);
    fields->addWidget(m_addressHint, 1, 1, 1, 2);
    fields->addWidget(caption(tr("Name"), m_name, this), 2, 0);
    fields->addWidget(m_name, 2, 1, 1, 2);
    fields->setColumnStretch(1, 1);
    layout->addLayout(fields);

    auto *status = new QHBoxLayout;
    status->setSpacing(8);
    m_spinner = new Spinner(12, this);
    status->addWidget(m_spinner);
    m_progress = Widgets::label(tr("Reading the calendar feed…"), Theme::Typography::tiny(),
                                Theme::Colors::textSecondary(), this);
    status->addWidget(m_progress);
    m_error = Widgets::label(QString(), Theme::Typography::tiny(), Theme::Colors::red(), this);
    m_error->setWordWrap(true);
    status->addWidget(m_error, 1);
    status->addStretch();
    layout->addLayout(status);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch();
    m_cancel = new CapsuleButton(tr("Cancel"), CapsuleButton::Style::ghost, {}, this);
    m_cancel->setObjectName(QStringLiteral("feed-cancel"));
    buttons->addWidget(m_cancel);
    m_add = new CapsuleButton(tr("Add Feed"), CapsuleButton::Style::primary, {}, this);
    m_add->setObjectName(QStringLiteral("feed-add"));
    buttons->addWidget(m_add);
    layout->addLayout(buttons);

    connect(m_address, &QLineEdit::returnPressed, this, &CalendarFeedForm::submit);
    connect(m_name, &QLineEdit::returnPressed, this, &CalendarFeedForm::submit);
    connect(m_address, &QLineEdit::textChanged, this, &CalendarFeedForm::refresh);
    // A changed address is a new attempt; the old failure no longer applies.
    connect(m_address, &QLineEdit::textEdited, &m_model, &AddFeedModel::clearError);
    connect(m_add, &QAbstractButton::clicked, this, &CalendarFeedForm::submit);
    connect(m_cancel, &QAbstractButton::clicked, this, &CalendarFeedForm::cancel);
    connect(m_choose, &QAbstractButton::clicked, this, &CalendarFeedForm::chooseFile);
    connect(&m_model, &AddFeedModel::changed, this, &CalendarFeedForm::refresh);
    connect(&m_model, &AddFeedModel::added, this, [this] {
        reset();
        Q_EMIT closed();
    });
    refresh();
}

void CalendarFeedForm::reset() {
    m_address->clear();
    m_name->clear();
    m_address->setFocus();
}

void CalendarFeedForm::submit() {
    if (m_model.isAdding() || m_address->text().trimmed().isEmpty())
        return;
    m_model.add(m_address->text(), m_name->text());
}

void CalendarFeedForm::cancel() {
    // A read already running still completes and adds its account; the form opens empty next
    // time either way.
    m_model.clearError();
    m_address->clear();
    m_name->clear();
    Q_EMIT closed();
}

void CalendarFeedForm::chooseFile() {
    auto *dialog = new QFileDialog(window(), tr("Choose a Calendar File"), QDir::homePath(),
                                   tr("Calendars (*.ics *.ical *.ifb);;All files (*)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString &file) {
        m_address->setText(QDir::toNativeSeparators(file));
        if (m_name->text().trimmed().isEmpty())
            m_name->setText(QFileInfo(file).completeBaseName());
        m_add->setFocus();
    });
    dialog->open();
}

void CalendarFeedForm::refresh() {
    const bool adding = m_model.isAdding();
    m_address->setReadOnly(adding);
    m_name->setReadOnly(adding);
    m_choose->setEnabled(!adding);
    m_add->setEnabled(!adding && !m_address->text().trimmed().isEmpty());
    m_add->setTitle(adding ? tr("Adding…") : tr("Add Feed"));
    m_spinner->setVisible(adding);
    m_progress->setVisible(adding);
    const auto &error = m_model.error();
    m_error->setText(error.value_or(QString()));
    m_error->setAccessibleName(m_error->text());
    m_error->setVisible(error.has_value() && !adding);
}

void CalendarFeedForm::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape) {
        cancel();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CalendarFeedForm::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Theme::Colors::border(), 1));
    p.setBrush(Theme::Colors::surface());
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
}
