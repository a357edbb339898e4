#pragma once

#include <QLocale>
#include <QString>
#include <QTime>

// Clock times as the user's locale writes them, to the minute.
namespace ClockTime {
// The locale's short time format without seconds (or fractions of them): Qt's C locale's short
// format carries seconds ("HH:mm:ss"), read as "HH:mm".
QString shortFormat(const QLocale &locale);
// `time` in shortFormat(`locale`).
QString format(QTime time, const QLocale &locale = QLocale());
} // namespace ClockTime
