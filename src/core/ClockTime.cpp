#include "ClockTime.h"

#include <QRegularExpression>

QString ClockTime::shortFormat(const QLocale &locale) {
    const QString format = locale.timeFormat(QLocale::ShortFormat);
    // Seconds with the separator before them and any fraction after them, outside quoted text.
    static const QRegularExpression seconds(
        QStringLiteral(R"('[^']*'|([.:,]\s*)?\bss?(?:[.,]z{1,3})?\b)"));
    QString stripped;
    qsizetype from = 0;
    for (auto it = seconds.globalMatch(format); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (match.captured().startsWith(u'\''))
            continue;
        stripped += format.mid(from, match.capturedStart() - from);
        from = match.capturedEnd();
    }
    stripped += format.mid(from);
    return stripped.trimmed();
}

QString ClockTime::format(QTime time, const QLocale &locale) {
    return locale.toString(time, shortFormat(locale));
}
