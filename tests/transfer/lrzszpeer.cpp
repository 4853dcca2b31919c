#include "lrzszpeer.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

LrzszPeer::~LrzszPeer()
{
    for (QProcess *p : m_programs) {
        if (p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished(3000);
        }
        delete p;
    }
    if (m_pair) {
        m_pair->terminate();
        if (!m_pair->waitForFinished(3000)) {
            m_pair->kill();
            m_pair->waitForFinished(3000);
        }
        delete m_pair;
    }
}

QString LrzszPeer::missingTools()
{
    QStringList missing;
    for (const char *tool : {"socat", "sx", "rx", "sb", "rb"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            missing << QString::fromLatin1(tool);
    }
    return missing.join(QLatin1Char(' '));
}

bool LrzszPeer::startPair(const QString &folder)
{
    m_folder = folder;
    m_pair = new QProcess;
    m_pair->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_pair->start(QStringLiteral("socat"),
                  {QStringLiteral("pty,raw,echo=0,link=%1").arg(ttyA()), QStringLiteral("pty,raw,echo=0,link=%1").arg(ttyB())});
    if (!m_pair->waitForStarted(5000))
        return false;
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (QFileInfo::exists(ttyA()) && QFileInfo::exists(ttyB()))
            return true;
        QThread::msleep(10);
    }
    return false;
}

QProcess *LrzszPeer::run(const QString &tty, const QString &command, const QString &workDir)
{
    auto *p = new QProcess;
    m_programs.append(p);
    p->setWorkingDirectory(workDir);
    p->setProcessChannelMode(QProcess::SeparateChannels);
    p->start(QStringLiteral("socat"), {QStringLiteral("-t"), QStringLiteral("0.05"),
                                       QStringLiteral("FILE:%1,raw,echo=0").arg(tty),
                                       QStringLiteral("SYSTEM:exec %1").arg(command)});
    p->waitForStarted(5000);
    return p;
}

bool LrzszPeer::wait(QProcess *process, int ms)
{
    if (process->state() == QProcess::NotRunning || process->waitForFinished(ms))
        return true;
    process->kill();
    process->waitForFinished(3000);
    return false;
}
