#include "UpdateInstaller.h"

#include <QCoreApplication>

std::optional<QString> UpdateInstaller::refusal(const QString &) const {
    return std::nullopt;
}

QCoro::Task<> UpdateInstaller::prepare(QString, QString) {
    throw InstallError(
        QCoreApplication::translate("InstallError", "This installation cannot prepare an update."));
    co_return;
}

bool UpdateInstaller::finishPrepared(const QString &) {
    return false;
}
