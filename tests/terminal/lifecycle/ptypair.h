#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTest>

// A linked pseudo-terminal pair made by socat under two fixed link names. Stopping
// socat removes the links, as an unplugged adapter loses its device node; starting
// it again brings the same names back with new terminals behind them.
class PtyPair
{
public:
    explicit PtyPair(const QString &folder)
        : m_a(QDir(folder).filePath(QStringLiteral("ttyA")))
        , m_b(QDir(folder).filePath(QStringLiteral("ttyB")))
    {
    }
    ~PtyPair() { stop(); }

    static QString socat() { return QStandardPaths::findExecutable(QStringLiteral("socat")); }
    QString a() const { return m_a; }
    QString b() const { return m_b; }

    bool start()
    {
        stop();
        m_process.setProgram(socat());
        m_process.setArguments({QStringLiteral("pty,raw,echo=0,link=") + m_a,
                                QStringLiteral("pty,raw,echo=0,link=") + m_b});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        return QTest::qWaitFor([this] { return QFileInfo::exists(m_a) && QFileInfo::exists(m_b); }, 10000);
    }

    bool stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return true;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
        return QTest::qWaitFor([this] { return !QFileInfo::exists(m_a) && !QFileInfo::exists(m_b); }, 5000);
    }

private:
    QString m_a;
    QString m_b;
    QProcess m_process;
};
