#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// quillon-cloud on a free loopback port with a database of its own, its stderr kept
// line by line (every request it handled is one).
class CloudServiceRunner
{
public:
    ~CloudServiceRunner() { stop(); }

    static QString binary() { return QStringLiteral(QUILLON_CLOUD_BINARY); }

    // Port 0 takes a free one; a restart passes the previous port to come back there.
    bool start(int accessTokenTtlSeconds = 900, quint16 port = 0);
    void stop();
    bool restart() { return start(m_ttl, m_port); }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    QString database() const { return QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("cloud.sqlite")); }

    // Lines such as "POST /api/v3/account/token/refresh 200 812 us" seen so far.
    int requestCount(const QString &method, const QString &path);
    bool addUser(const QString &email, const QString &password);

private:
    void readLines();

    QTemporaryDir m_dir;
    QProcess m_process;
    QStringList m_lines;
    QByteArray m_partial;
    quint16 m_port = 0;
    int m_ttl = 900;
};
