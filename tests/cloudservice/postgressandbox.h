#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>

#include <memory>

#include <unistd.h>

// A throwaway PostgreSQL server in a temporary folder, reached over a Unix socket with
// trust authentication. The server refuses to run as root, so as root it runs as the
// postgres user through runuser. start() says why when it cannot.
class PostgresSandbox
{
public:
    ~PostgresSandbox() { stop(); }

    bool start(QString *why)
    {
        m_bin = qEnvironmentVariable("QUILLON_PG_BIN", QStringLiteral("/usr/lib/postgresql/15/bin"));
        if (!QFile::exists(m_bin + QStringLiteral("/initdb"))) {
            *why = QStringLiteral("PostgreSQL server binaries not found in %1").arg(m_bin);
            return false;
        }
        m_asRoot = ::geteuid() == 0;
        if (m_asRoot && QStandardPaths::findExecutable(QStringLiteral("runuser")).isEmpty()) {
            *why = QStringLiteral("running as root without runuser to switch to the postgres user");
            return false;
        }
        m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/qcloud-pg-XXXXXX"));
        // The postgres user must be able to write here.
        QFile::setPermissions(m_dir->path(), QFileDevice::Permissions(0x7777));
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
        probe.close();
        const QString data = m_dir->path() + QStringLiteral("/data");
        QString output;
        if (!run({m_bin + QStringLiteral("/initdb"), QStringLiteral("-D"), data, QStringLiteral("-A"),
                  QStringLiteral("trust"), QStringLiteral("-U"), QStringLiteral("postgres"),
                  QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--no-sync")},
                 &output)) {
            *why = QStringLiteral("initdb failed: %1").arg(output.right(400));
            return false;
        }
        const QString options = QStringLiteral("-p %1 -k %2 -c listen_addresses='' -c fsync=off")
                                        .arg(m_port)
                                        .arg(m_dir->path());
        if (!run({m_bin + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), data, QStringLiteral("-o"), options,
                  QStringLiteral("-l"), m_dir->path() + QStringLiteral("/server.log"), QStringLiteral("-w"),
                  QStringLiteral("start")},
                 &output)) {
            *why = QStringLiteral("the server did not start: %1").arg(output.right(400));
            return false;
        }
        m_running = true;
        return true;
    }

    void stop()
    {
        if (!m_running)
            return;
        m_running = false;
        QString ignored;
        run({m_bin + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), m_dir->path() + QStringLiteral("/data"),
             QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")},
            &ignored);
    }

    QString url(const QString &database) const
    {
        return QStringLiteral("postgresql://postgres@localhost:%1/%2?host=%3").arg(m_port).arg(database, m_dir->path());
    }

private:
    bool run(QStringList command, QString *output) const
    {
        if (m_asRoot)
            command = QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--")} + command;
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setWorkingDirectory(m_dir->path());
        const QString program = m_asRoot ? QStringLiteral("runuser") : command.takeFirst();
        process.start(program, command);
        const bool done = process.waitForFinished(60000);
        *output = QString::fromLocal8Bit(process.readAll());
        return done && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    QString m_bin;
    bool m_asRoot = false;
    std::unique_ptr<QTemporaryDir> m_dir;
    quint16 m_port = 0;
    bool m_running = false;
};
