#pragma once

#include "core/CalendarEvent.h"

#include <QColor>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QVBoxLayout;

// The row of one account or provider to connect: its symbol in its colour (a green check once
// connected), its title over smaller lines, and its controls at the trailing end. Outlined, it
// stands on its own as a rounded card; plain, it fills a settings card's row.
class ProviderRow : public QWidget {
    Q_OBJECT

public:
    enum class Style { outlined, plain };

    ProviderRow(const QString &symbol, const QColor &color, const QString &title, Style style,
                QWidget *parent = nullptr);
    // In the calendar provider's symbol and colour.
    ProviderRow(CalendarProvider provider, const QString &title, Style style,
                QWidget *parent = nullptr);

    static QString symbolName(CalendarProvider provider);
    static QColor color(CalendarProvider provider);

    bool isConnected() const { return m_isConnected; }
    void setConnected(bool connected);
    // A wrapping line in a smaller font under the title and the lines added before it.
    QLabel *addLine(const QString &text, const QColor &color);
    void addControl(QWidget *control);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbolName;
    QColor m_color;
    Style m_style;
    QLabel *m_symbol;
    QVBoxLayout *m_lines;
    QHBoxLayout *m_layout;
    bool m_isConnected = false;
};
