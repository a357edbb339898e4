#pragma once

#include "UpdateInstaller.h"

#include <QDir>
#include <chrono>
#include <optional>

class SingleInstance;

// A self-contained installation in the user's home:
//   <root>/versions/<version>/   one tree per version, laid out by `cmake --install`
//   <root>/current               a symbolic link to the running version's tree
// An update is unpacked beside the running version, `current` is swapped atomically, and
// the old tree is removed only once the new version has started; otherwise the swap is undone.
// An update made ready in the background is unpacked and tried (`bin/zelvane --version`)
// first; when the app quits, `current` is swapped to it and the tree that was running is kept
// as the one to go back to, any older one removed.
class UserLocalInstall : public UpdateInstaller {
    Q_OBJECT

public:
    UserLocalInstall(QString root, SingleInstance *instance,
                     std::chrono::milliseconds startTimeout = std::chrono::seconds(30),
                     QObject *parent = nullptr);

    // The root when `executable` runs from <root>/versions/<v>/bin with <root>/current in place.
    static std::optional<QString> rootOf(const QString &executable);

    bool usesDebianPackage() const override { return false; }
    QCoro::Task<Outcome> install(QString file, QString version) override;

    bool installsAtQuit() const override { return true; }
    QCoro::Task<> prepare(QString file, QString version) override;
    bool finishPrepared(const QString &version) override;

private:
    // Unpacks `file` into versions/<version> and returns that folder; throws InstallError.
    QCoro::Task<QString> unpack(QString file, QString version);
    bool pointCurrentAt(const QString &versionDir);
    QString currentDir() const;

    QDir m_root;
    SingleInstance *m_instance;
    std::chrono::milliseconds m_startTimeout;
};
