#pragma once

#include "platform/Error.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

// Puts a verified update in place. One implementation per kind of installation: a
// self-contained folder in the user's home, or the system's package manager.
class UpdateInstaller : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        restarted,         // the new version runs; this process should end
        handedToInstaller, // the desktop's package installer took over
    };

    using QObject::QObject;

    // Whether this installation takes a Debian package rather than an archive.
    virtual bool usesDebianPackage() const = 0;
    // Throws an Error describing what went wrong; the running version stays in place then.
    virtual QCoro::Task<Outcome> install(QString file, QString version) = 0;
};

class InstallError : public Error {
public:
    explicit InstallError(QString text)
        : m_text(std::move(text)) {}
    QString description() const override { return m_text; }

private:
    QString m_text;
};
