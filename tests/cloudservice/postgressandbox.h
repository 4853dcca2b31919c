#pragma once

#include "tests/support/peers.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>

#include <unistd.h>

// A throwaway PostgreSQL server in a temporary folder, reached over a Unix socket with
// trust authentication. The server refuses to run as root, so as root it runs as the
// postgres user through runuser. start() says why when it cannot.
class PostgresSandbox
{
public:
    ~PostgresSandbox()
    {
        if (m_running)
            run(QStringLiteral("pg_ctl -D %1 -m immediate -w stop").arg(data()));
    }

    bool start(QString *why)
    {
        m_bin = qEnvironmentVariable("QUILLON_PG_BIN", QStringLiteral("/usr/lib/postgresql/15/bin"));
        if (!QFile::exists(m_bin + QStringLiteral("/initdb")))
            *why = QStringLiteral("PostgreSQL server binaries not found in %1").arg(m_bin);
        else if (::geteuid() == 0 && QStandardPaths::findExecutable(QStringLiteral("runuser")).isEmpty())
            *why = QStringLiteral("running as root without runuser to switch to the postgres user");
        if (!why->isEmpty())
            return false;
        m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/qcloud-pg-XXXXXX"));
        QFile::setPermissions(m_dir->path(), QFileDevice::Permissions(0x7777)); // for the postgres user
        m_port = TestPeers::freePort();
        // The folder names have no spaces, so the command lines split on them.
        m_running = run(QStringLiteral("initdb -D %1 -A trust -U postgres --no-sync").arg(data()), why)
                && run(QStringLiteral("pg_ctl -D %1 -l %2/server.log -w start -o").arg(data(), m_dir->path()), why,
                       QStringLiteral("-p %1 -k %2 -c listen_addresses='' -c fsync=off").arg(m_port).arg(m_dir->path()));
        return m_running;
    }

    bool createDatabase(const QString &name) const
    {
        return run(QStringLiteral("createdb -h %1 -p %2 -U postgres %3").arg(m_dir->path()).arg(m_port).arg(name));
    }

    QString url(const QString &database) const
    {
        return QStringLiteral("postgresql://postgres@localhost:%1/%2?host=%3").arg(m_port).arg(database, m_dir->path());
    }

private:
    QString data() const { return m_dir->path() + QStringLiteral("/data"); }

    // Runs one of the server's programs, `last` as one more argument; `output` gets
    // its output when it fails.
    bool run(const QString &line, QString *output = nullptr, const QString &last = QString()) const
    {
        QStringList command = line.split(QLatin1Char(' '));
        command[0] = m_bin + QLatin1Char('/') + command[0];
        if (!last.isEmpty())
            command << last;
        if (::geteuid() == 0)
            command = QStringList{QStringLiteral("runuser"), QStringLiteral("-u"), QStringLiteral("postgres"),
                                  QStringLiteral("--")}
                    + command;
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setWorkingDirectory(m_dir->path());
        process.start(command.takeFirst(), command);
        const bool done = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
                && process.exitCode() == 0;
        if (!done && output)
            *output = QString::fromLocal8Bit(process.readAll()).right(400);
        return done;
    }

    QString m_bin;
    std::unique_ptr<QTemporaryDir> m_dir;
    quint16 m_port = 0;
    bool m_running = false;
};
