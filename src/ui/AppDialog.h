#pragma once

#include "CapsuleButton.h"

#include <QDialog>

class QVBoxLayout;

// A small window in the application's own look, whatever the desktop's theme: a heading, a
// text, anything the page adds, and a row of capsule buttons at the bottom right. It opens
// centred on the screen with the pointer and stays on that screen as its pages grow.
class AppDialog : public QDialog {
    Q_OBJECT

public:
    explicit AppDialog(QWidget *parent = nullptr);

    void setVisible(bool visible) override;

protected:
    // Replaces the current page with a new one: `heading` over `text` (when not empty).
    void startPage(const QString &heading, const QString &text);
    // Where the page's own content goes, below its text and above its buttons.
    QVBoxLayout *pageLayout() const { return m_pageLayout; }
    QWidget *page() const { return m_page; }
    // A button on the page's row, in the order added; `focused` takes the keyboard focus.
    CapsuleButton *addButton(const QString &title, CapsuleButton::Style style, bool focused);
    // Lays the page out with the focus on its focused button; a shown dialog that grew is
    // kept on its screen.
    void finishPage();
    // Finishes the page and brings the dialog to the front.
    void showPage();

private:
    QVBoxLayout *m_layout;
    QWidget *m_page = nullptr;
    QVBoxLayout *m_pageLayout = nullptr;
    QWidget *m_buttons = nullptr;
    CapsuleButton *m_focused = nullptr;
};

// Asks before an action that cannot be undone. Escape and "Cancel" (which has the focus at
// first, so a stray Return does nothing harmful) reject; the action's button accepts.
class ConfirmationDialog : public AppDialog {
    Q_OBJECT

public:
    ConfirmationDialog(const QString &heading, const QString &text, const QString &action,
                       QWidget *parent = nullptr);
};
