#include "Module.h"

#include "PlatformLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

namespace {
// Most likely first: where the installation puts the modules, relative to the binary, and for
// a binary run from the build tree (never an installed one), the tree's folder.
QStringList folders() {
    const QString binary = QCoreApplication::applicationDirPath();
    QStringList result{QDir::cleanPath(binary + u'/' + QLatin1String(ZELVANE_MODULE_FROM_BIN))};
    const QString tree = QFileInfo(QStringLiteral(ZELVANE_BUILD_TREE)).canonicalFilePath();
    if (!tree.isEmpty() && binary.startsWith(tree + u'/'))
        result.append(QStringLiteral(ZELVANE_BUILD_MODULE_DIR));
    return result;
}
} // namespace

namespace Module {
QFunctionPointer resolve(const char *fileName, const char *symbol) {
    const QStringList searched = folders();
    for (const QString &folder : searched) {
        const QString path = folder + u'/' + QLatin1String(fileName);
        if (!QFileInfo::exists(path))
            continue;
        // Never unloaded: libraries such as GLib's register types for good.
        QLibrary module(path);
        if (const QFunctionPointer function = module.resolve(symbol))
            return function;
        qCWarning(lcPlatform) << "Module" << path << "cannot be loaded:" << module.errorString();
        return nullptr;
    }
    qCWarning(lcPlatform) << "Module" << fileName << "was not found in" << searched;
    return nullptr;
}
} // namespace Module
