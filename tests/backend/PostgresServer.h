#pragma once

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <pwd.h>
#include <unistd.h>

// A throw-away PostgreSQL server for one test, reached only through a socket in its own
// folder. The server refuses to run as root, so under root it runs as the "postgres" user.
class PostgresServer {
public:
    ~PostgresServer() {
        if (m_started)
            run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), data(), QStringLiteral("-m"),
                                           QStringLiteral("immediate"), QStringLiteral("stop")});
    }

    // False with the reason when no server can be started here.
    bool start(QString *why) {
        const QStringList versions =
            QDir(QStringLiteral("/usr/lib/postgresql"))
                .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
        if (versions.isEmpty() || !m_dir.isValid()) {
            *why = QStringLiteral("no PostgreSQL server installed");
            return false;
        }
        m_bin = QStringLiteral("/usr/lib/postgresql/%1/bin/").arg(versions.first());
        if (::geteuid() == 0) {
            const passwd *user = ::getpwnam("postgres");
            if (!user || ::chown(qPrintable(m_dir.path()), user->pw_uid, user->pw_gid) != 0) {
                *why = QStringLiteral("running as root without a postgres user");
                return false;
            }
            m_asUser = true;
        }
        QString output;
        if (!run(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), data(), QStringLiteral("-U"), QStringLiteral("zelvane"),
                  QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("--no-sync")},
                 &output) ||
            !run(QStringLiteral("pg_ctl"),
                 {QStringLiteral("-D"), data(), QStringLiteral("-w"), QStringLiteral("-l"),
                  m_dir.filePath(QStringLiteral("server.log")), QStringLiteral("-o"),
                  QStringLiteral("-k %1 -c listen_addresses= -F").arg(m_dir.path()),
                  QStringLiteral("start")},
                 &output)) {
            *why = QStringLiteral("the server did not start: ") + output.right(400);
            return false;
        }
        m_started = true;
        return true;
    }

    QString address() const {
        return QStringLiteral("postgresql://zelvane@/postgres?host=%1").arg(m_dir.path());
    }

private:
    QString data() const { return m_dir.filePath(QStringLiteral("data")); }

    bool run(const QString &tool, QStringList arguments, QString *output = nullptr) const {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setWorkingDirectory(m_dir.path());
        if (m_asUser) {
            arguments.prepend(m_bin + tool);
            arguments = QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                    QStringLiteral("--")} +
                        arguments;
            process.start(QStringLiteral("runuser"), arguments);
        } else {
            process.start(m_bin + tool, arguments);
        }
        const bool ok = process.waitForFinished(60'000) &&
                        process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (output)
            *output = QString::fromLocal8Bit(process.readAll());
        return ok;
    }

    QTemporaryDir m_dir;
    QString m_bin;
    bool m_asUser = false;
    bool m_started = false;
};
