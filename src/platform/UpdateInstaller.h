#pragma once

#include "platform/Error.h"

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <optional>

// Puts a verified update in place. One implementation per kind of installation: a
// self-contained folder in the user's home, the system's package manager, or a copy built
// from source, which cannot update itself.
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
    // Why this copy cannot take `version` at all, said before anything is downloaded; nothing
    // when it can.
    virtual std::optional<QString> refusal(const QString &version) const;
    // Throws an Error describing what went wrong; the running version stays in place then.
    virtual QCoro::Task<Outcome> install(QString file, QString version) = 0;

    // Whether an update can be made ready while this version runs and put in place when it
    // quits, without asking anyone.
    virtual bool installsAtQuit() const { return false; }
    // Makes `version` ready beside the running one without starting it. Throws an Error.
    virtual QCoro::Task<> prepare(QString file, QString version);
    // Puts the prepared `version` in place for the next start. Called as the application
    // quits, so it does not wait on anything; false when nothing changed.
    virtual bool finishPrepared(const QString &version);
};

class InstallError : public Error {
public:
    explicit InstallError(QString text)
        : m_text(std::move(text)) {}
    QString description() const override { return m_text; }

private:
    QString m_text;
};
