#include "tests/support/ptypair.h"

#include "tests/support/peers.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

PtyPair::PtyPair(const QString &folder)
    : m_folder(folder)
{
    if (m_folder.isEmpty()) {
        m_ownFolder = std::make_unique<QTemporaryDir>();
        m_folder = m_ownFolder->path();
    }
}

bool PtyPair::start()
{
    stop();
    if (socat().isEmpty() || (m_ownFolder && !m_ownFolder->isValid()))
        return false;
    m_process.setProgram(socat());
    m_process.setArguments({QStringLiteral("pty,raw,echo=0,link=") + a(), QStringLiteral("pty,raw,echo=0,link=") + b()});
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return false;
    return QTest::qWaitFor([this] { return QFileInfo::exists(a()) && QFileInfo::exists(b()); }, 10000);
}

bool PtyPair::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    TestPeers::stop(m_process);
    return QTest::qWaitFor([this] { return !QFileInfo::exists(a()) && !QFileInfo::exists(b()); }, 5000);
}
