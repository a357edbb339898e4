#include "SymbolIcons.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

namespace {
// Symbol name -> file in the bundled icon set (resources under :/icons/).
const QHash<QString, QString> &table() {
    static const QHash<QString, QString> names{
        {QStringLiteral("calendar"), QStringLiteral("calendar")},
    };
    return names;
}

QString resourcePath(const QString &symbolName) {
    return QStringLiteral(":/icons/%1.svg").arg(table().value(symbolName));
}
} // namespace

bool SymbolIcons::has(const QString &symbolName) {
    return table().contains(symbolName) && QFile::exists(resourcePath(symbolName));
}

QPixmap SymbolIcons::pixmap(const QString &symbolName, const QColor &color, int size,
                            qreal devicePixelRatio) {
    if (!has(symbolName))
        return {};
    QSvgRenderer renderer(resourcePath(symbolName));
    const int pixels = qRound(size * devicePixelRatio);
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    {
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        renderer.render(&p);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(pixmap.rect(), color);
    }
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon SymbolIcons::icon(const QString &symbolName, const QColor &color) {
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addPixmap(pixmap(symbolName, color, size));
    return icon;
}
