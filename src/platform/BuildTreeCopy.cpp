#include "BuildTreeCopy.h"

#include <QCoreApplication>
#include <QFileInfo>

bool BuildTreeCopy::isSystemInstall(const QString &executable) {
    const QFileInfo file(executable);
    const QString path =
        file.canonicalFilePath().isEmpty() ? file.absoluteFilePath() : file.canonicalFilePath();
    return path.startsWith(QLatin1String("/usr/")) &&
           !path.startsWith(QLatin1String("/usr/local/"));
}

std::optional<QString> BuildTreeCopy::refusal(const QString &version) const {
    return tr("This copy of Zelvane was built from source, so it does not update itself. To get "
              "Zelvane %1, update your source tree and build it again.")
        .arg(version);
}

QCoro::Task<UpdateInstaller::Outcome> BuildTreeCopy::install(QString, QString version) {
    throw InstallError(*refusal(version));
    co_return Outcome::handedToInstaller;
}
