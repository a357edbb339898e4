#include "ClockTime.h"

// A scan rather than a regular expression: this runs for every time shown, and a pattern would
// bring the regular-expression engine's pages in for it.
QString ClockTime::shortFormat(const QLocale &locale) {
    const QString format = locale.timeFormat(QLocale::ShortFormat);
    const qsizetype size = format.size();
    QString stripped;
    stripped.reserve(size);
    for (qsizetype i = 0; i < size;) {
        const QChar c = format[i];
        if (c == u'\'') {
            // Quoted text is kept as it is; a quote that is never closed is an ordinary sign.
            const qsizetype close = format.indexOf(u'\'', i + 1);
            const qsizetype end = close < 0 ? i + 1 : close + 1;
            stripped += QStringView(format).sliced(i, end - i);
            i = end;
        } else if (c == u's') {
            // The seconds go with the separator before them and any fraction after them.
            qsizetype kept = stripped.size();
            while (kept > 0 && stripped[kept - 1].isSpace())
                --kept;
            if (kept > 0 && QStringView(u".:,").contains(stripped[kept - 1]))
                stripped.truncate(kept - 1);
            while (i < size && format[i] == u's')
                ++i;
            if (i + 1 < size && (format[i] == u'.' || format[i] == u',') && format[i + 1] == u'z') {
                ++i;
                while (i < size && format[i] == u'z')
                    ++i;
            }
        } else {
            stripped += c;
            ++i;
        }
    }
    return stripped.trimmed();
}

QString ClockTime::format(QTime time, const QLocale &locale) {
    return locale.toString(time, shortFormat(locale));
}
