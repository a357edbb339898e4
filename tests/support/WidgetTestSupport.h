#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTextDocumentFragment>

// Widgets as a user or a screen reader meets them: only what is shown counts.
namespace WidgetTest {
using namespace Qt::StringLiterals;

// A label's text as shown, without markup.
inline QString shownText(const QLabel *label) {
    return label->textFormat() == Qt::RichText
               ? QTextDocumentFragment::fromHtml(label->text()).toPlainText()
               : label->text();
}

inline QStringList visibleTexts(const QWidget *root) {
    QStringList texts;
    for (const QLabel *label : root->findChildren<QLabel *>())
        if (label->isVisibleTo(root) && !label->text().isEmpty())
            texts << shownText(label);
    return texts;
}

inline bool shows(const QWidget *root, const QString &text) {
    return visibleTexts(root).contains(text);
}

inline QWidget *focused() {
    return QApplication::focusWidget();
}

inline QLabel *label(const QWidget *root, const QString &text) {
    for (QLabel *l : root->findChildren<QLabel *>())
        if (l->isVisibleTo(root) && (l->text() == text || l->accessibleName() == text))
            return l;
    return nullptr;
}

inline QAbstractButton *button(const QWidget *root, const QString &name) {
    for (QAbstractButton *b : root->findChildren<QAbstractButton *>())
        if (b->isVisibleTo(root) && b->accessibleName() == name)
            return b;
    return nullptr;
}

// Left to right as laid out, the order a user reads them.
inline QStringList buttonNames(const QWidget *root) {
    QList<QAbstractButton *> buttons = root->findChildren<QAbstractButton *>();
    std::sort(buttons.begin(), buttons.end(), [](QAbstractButton *a, QAbstractButton *b) {
        return a->mapTo(a->window(), QPoint()).x() < b->mapTo(b->window(), QPoint()).x();
    });
    QStringList names;
    for (QAbstractButton *b : buttons)
        if (b->isVisibleTo(root))
            names << b->accessibleName();
    return names;
}

// What a screen reader gets: every shown text in its own words (line breaks aside), every
// shown control under a name (a button under its title); and no label that shows nothing.
// The widgets that break this, described.
inline QStringList unreadable(const QWidget *root) {
    QStringList problems;
    for (QWidget *w : root->findChildren<QWidget *>()) {
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
        const QString name = a ? a->text(QAccessible::Name) : QString();
        const auto *l = qobject_cast<const QLabel *>(w);
        const auto *b = qobject_cast<const QAbstractButton *>(w);
        const QString shown = l ? shownText(l) : b ? b->text() : QString();
        const bool control = b || qobject_cast<const QLineEdit *>(w);
        if (!w->isVisibleTo(root))
            continue;
        if (shown.isEmpty() ? control && name.isEmpty() : name.simplified() != shown.simplified())
            problems << w->metaObject()->className() + u" \""_s + shown + u"\" read as \""_s +
                            name + u'"';
        // A symbol whose picture is missing.
        if (l && shown.isEmpty() && l->pixmap().isNull())
            problems << u"blank label "_s + l->objectName();
    }
    return problems;
}

// Shown at `size` and active, as a window the user has just opened.
inline bool showActive(QWidget *window, QSize size) {
    window->resize(size);
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

// Pictures for a person to look at, beside the test binary.
inline bool saveScreenshot(QWidget *widget, const QString &name) {
    QCoreApplication::processEvents();
    return widget->grab().save(QCoreApplication::applicationDirPath() + u'/' + name + u".png"_s);
}
} // namespace WidgetTest
