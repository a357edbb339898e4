#include "HexColor.h"

namespace {
QStringView trimNumberSigns(QStringView text) {
    while (text.startsWith(u'#'))
        text = text.mid(1);
    while (text.endsWith(u'#'))
        text.chop(1);
    return text;
}

QColor fromRgb(quint64 value) {
    return QColor::fromRgb(int((value >> 16) & 0xff), int((value >> 8) & 0xff), int(value & 0xff));
}

int hexDigit(QChar c) {
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}
} // namespace

std::optional<QColor> colorFromSixDigitHex(std::optional<QStringView> text) {
    if (!text)
        return std::nullopt;
    const QStringView digits = trimNumberSigns(*text);
    if (digits.size() != 6)
        return std::nullopt;
    bool ok = false;
    const uint value = digits.toUInt(&ok, 16);
    return fromRgb(ok ? value : 0);
}

QColor colorFromScannedHex(QStringView text) {
    text = trimNumberSigns(text);
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    if (text.mid(i).startsWith(u"0x", Qt::CaseInsensitive))
        i += 2;
    quint64 value = 0;
    for (; i < text.size(); ++i) {
        const int d = hexDigit(text[i]);
        if (d < 0)
            break;
        value = (value << 4) | quint64(d); // overflow keeps the low bits, which are all we use
    }
    return fromRgb(value);
}
