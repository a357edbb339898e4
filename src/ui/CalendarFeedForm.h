#pragma once

#include <QWidget>

class AddFeedModel;
class CapsuleButton;
class QAbstractButton;
class QLabel;
class QLineEdit;
class Spinner;

// The "add calendar feed" form: the feed's address (https://, webcal:// or a file on this
// computer, typed or chosen) and a display name. Return adds, Escape cancels; the read's
// progress and its failure show under the fields.
class CalendarFeedForm : public QWidget {
    Q_OBJECT

public:
    explicit CalendarFeedForm(AddFeedModel &model, QWidget *parent = nullptr);

    QLineEdit *addressField() const { return m_address; }
    QLineEdit *nameField() const { return m_name; }
    QAbstractButton *chooseFileButton() const { return m_choose; }
    CapsuleButton *addButton() const { return m_add; }
    CapsuleButton *cancelButton() const { return m_cancel; }
    QLabel *progressLabel() const { return m_progress; }
    QLabel *errorLabel() const { return m_error; }
    // What the address may be, under its field.
    QLabel *addressHint() const { return m_addressHint; }

    // Empties both fields and puts the cursor in the address.
    void reset();

Q_SIGNALS:
    // The form is done: the feed was added, or the user cancelled.
    void closed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void submit();
    void cancel();
    void chooseFile();
    void refresh();

    AddFeedModel &m_model;
    QLineEdit *m_address;
    QLabel *m_addressHint;
    QLineEdit *m_name;
    QAbstractButton *m_choose;
    CapsuleButton *m_add;
    CapsuleButton *m_cancel;
    Spinner *m_spinner;
    QLabel *m_progress;
    QLabel *m_error;
};
