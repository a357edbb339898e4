#pragma once

#include "UpdateInstaller.h"

// A copy run from where it was built (neither the system's package nor a user-local
// installation): nothing here may replace it, so every update is refused with a word on how
// to get it.
class BuildTreeCopy : public UpdateInstaller {
    Q_OBJECT

public:
    using UpdateInstaller::UpdateInstaller;

    // True for a binary the system's package put in place (under /usr, not /usr/local).
    static bool isSystemInstall(const QString &executable);

    bool usesDebianPackage() const override { return false; }
    std::optional<QString> refusal(const QString &version) const override;
    QCoro::Task<Outcome> install(QString file, QString version) override;
};
