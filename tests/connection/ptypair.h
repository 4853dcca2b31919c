#pragma once

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

// A linked pseudo-terminal pair made by socat, with fixed link names so that a
// device can vanish (stop) and come back under the same path (start again).
class PtyPair
{
public:
    PtyPair() = default;
    ~PtyPair() { stop(); }

    static bool available() { return !QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty(); }

    bool start()
    {
        if (!m_dir.isValid())
            return false;
        m_socat.setProgram(QStringLiteral("socat"));
        m_socat.setArguments({QStringLiteral("pty,raw,echo=0,link=%1").arg(a()),
                              QStringLiteral("pty,raw,echo=0,link=%1").arg(b())});
        m_socat.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_socat.start();
        if (!m_socat.waitForStarted(5000))
            return false;
        return QTest::qWaitFor([this] { return QFileInfo::exists(a()) && QFileInfo::exists(b()); }, 5000);
    }

    void stop()
    {
        if (m_socat.state() == QProcess::NotRunning)
            return;
        m_socat.terminate();
        if (!m_socat.waitForFinished(3000)) {
            m_socat.kill();
            m_socat.waitForFinished(3000);
        }
    }

    QString a() const { return m_dir.filePath(QStringLiteral("ttyA")); }
    QString b() const { return m_dir.filePath(QStringLiteral("ttyB")); }

private:
    QTemporaryDir m_dir;
    QProcess m_socat;
};
