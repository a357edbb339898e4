#pragma once

#include <QAbstractButton>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QMenu;
class RowButton;
class QVBoxLayout;

// The layout blocks every settings tab is built from.

// A settings tab: its title over its subtitle, then what the tab adds below them, kept to the
// top of the pane.
class SettingsTab : public QWidget {
    Q_OBJECT

protected:
    SettingsTab(const QString &title, const QString &subtitle, QWidget *parent = nullptr);

    void addSection(const QString &title);
    // `content` inset from the pane's sides, `top` below what comes before it.
    void addInset(QWidget *content, int top = 0);
    void addWidget(QWidget *widget);

private:
    QVBoxLayout *m_body;
};

// A section caption, always shown in capitals.
class ContentSection : public QWidget {
    Q_OBJECT

public:
    explicit ContentSection(const QString &title, QWidget *parent = nullptr);
    QString title() const;

private:
    QLabel *m_label;
};

// One row of a card: its content padded, with a hairline below unless it is the card's last.
class SettingsRow : public QWidget {
    Q_OBJECT

public:
    explicit SettingsRow(QWidget *parent = nullptr);

    QHBoxLayout *rowLayout() const { return m_layout; }
    // Makes `button` the whole row, its content where the row's own would be.
    void holdButton(RowButton *button);
    bool isLast() const { return m_isLast; }
    void setLast(bool last);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QHBoxLayout *m_layout;
    bool m_isLast = true;
};

// A white, outlined, rounded card of rows stacked without spacing, inset from the pane.
class SettingsCard : public QWidget {
    Q_OBJECT

public:
    explicit SettingsCard(QWidget *parent = nullptr);

    // Appends a row (or any widget) and makes it the card's last row.
    void addRow(QWidget *row);
    SettingsRow *addRow();
    QList<QWidget *> rows() const { return m_rows; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVBoxLayout *m_layout;
    QList<QWidget *> m_rows;
};

// A whole row that acts as one button: its child widgets show the content, the button takes
// the clicks and the keyboard focus.
class RowButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit RowButton(const QString &accessibleName, QWidget *parent = nullptr);
    static constexpr int focusMargin = 4;
    QHBoxLayout *rowLayout() const { return m_layout; }
    // Children only draw; clicks reach the button.
    void addContent(QWidget *widget, int stretch = 0);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QHBoxLayout *m_layout;
};

namespace SettingsBlocks {
// The card and header insets from the pane's sides.
inline constexpr int paneInset = 32;

// Orders the keyboard focus chain of `root` by layout position (top to bottom, leading to
// trailing), so rows rebuilt later still come in reading order.
void orderFocusChain(QWidget *root);

// The object name of the focused widget inside `root`, if any; rebuilt rows carry stable
// object names so focus can return to the same control after a rebuild.
QString focusedName(QWidget *root);
// Focuses the first named widget of `names` found in `root`.
void restoreFocus(QWidget *root, const QStringList &names);

// A widget that holds `content` inset `inset` from both sides.
QWidget *inset(QWidget *content, int inset, int top = 0, int bottom = 0);
} // namespace SettingsBlocks
