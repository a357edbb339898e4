#pragma once

#include <QLocale>
#include <QTranslator>

// The texts in the user's language: Zelvane's own, built into the binary, and Qt's (standard
// buttons, command-line help) from the system's Qt translations. Installed into the running
// application while this object lives; a language without a translation keeps the English texts.
class Translations {
public:
    explicit Translations(const QLocale &locale = QLocale::system());
    Translations(const Translations &) = delete;
    Translations &operator=(const Translations &) = delete;

    // Whether Zelvane's own texts are translated for this locale.
    bool ownLoaded() const { return m_ownLoaded; }

private:
    QTranslator m_qt;
    QTranslator m_own;
    bool m_ownLoaded = false;
};
