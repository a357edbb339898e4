#include "Translations.h"

#include "AppLog.h"

#include <QCoreApplication>
#include <QLibraryInfo>

Translations::Translations(const QLocale &locale) {
    if (m_qt.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&m_qt);
    m_ownLoaded = m_own.load(locale, QStringLiteral("zelvane"), QStringLiteral("_"),
                             QStringLiteral(":/i18n"));
    if (m_ownLoaded)
        QCoreApplication::installTranslator(&m_own);
    qCDebug(lcApp) << "translations for" << locale.uiLanguages() << "own:" << m_ownLoaded
                   << "Qt:" << !m_qt.isEmpty();
}
