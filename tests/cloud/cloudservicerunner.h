#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

// quillon-cloud on a free loopback port with a database of its own, its stderr kept
// line by line (registration codes, and every request it handled).
class CloudServiceRunner
{
public:
    CloudServiceRunner() = default;
    ~CloudServiceRunner() { stop(); }

    static QString binary() { return QStringLiteral(QUILLON_CLOUD_BINARY); }

    // Port 0 takes a free one; a restart passes the previous port to come back there.
    bool start(int accessTokenTtlSeconds = 900, quint16 port = 0);
    void stop();
    bool restart() { return start(m_ttl, m_port); }

    quint16 port() const { return m_port; }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    QString database() const { return QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("cloud.sqlite")); }

    // Lines such as "POST /api/v3/account/token/refresh 200 812 us" seen so far.
    int requestCount(const QString &method, const QString &path);
    // Waits for the code the service wrote for `email`.
    QString registrationCode(const QString &email);
    bool addUser(const QString &email, const QString &password);

private:
    void readLines();
    QString waitFor(const QRegularExpression &pattern, int ms);

    QTemporaryDir m_dir;
    QProcess m_process;
    QStringList m_lines;
    QByteArray m_partial;
    quint16 m_port = 0;
    int m_ttl = 900;
};
