#include "tests/support/peers.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace TestPeers {

QString findTool(const QString &name)
{
    const QString path = QStandardPaths::findExecutable(name);
    return path.isEmpty() ? QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")})
                          : path;
}

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

bool waitForPort(quint16 port, int ms)
{
    const bool listening = QTest::qWaitFor([port] {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        return probe.waitForConnected(500);
    }, ms);
    // A probe makes ser2net open and close its device; let it finish.
    QTest::qWait(300);
    return listening;
}

bool hasPythonModule(const QString &module)
{
    QProcess probe;
    probe.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import ") + module});
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

QString sttyOf(const QString &device)
{
    QProcess stty;
    stty.start(QStringLiteral("stty"), {QStringLiteral("-F"), device, QStringLiteral("-a")});
    stty.waitForFinished(5000);
    return QString::fromLocal8Bit(stty.readAllStandardOutput());
}

QByteArray readFor(QIODevice &device, qsizetype size, int ms)
{
    QByteArray out;
    // The event loop runs meanwhile, so writers in this process get their bytes out.
    (void)QTest::qWaitFor([&] { return (out += device.readAll()).size() >= size; }, ms);
    return out;
}

void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

} // namespace TestPeers

bool Ser2net::start(const QString &device, const QString &accepter, const QString &folder)
{
    m_port = TestPeers::freePort();
    const QString yaml = QStringLiteral("%YAML 1.1\n---\nconnection: &port\n  accepter: %1,127.0.0.1,%2\n  enable: on\n"
                                        "  connector: serialdev,%3,115200n81,local\n"
                                        "  options:\n    kickolduser: true\n    chardelay: false\n")
                             .arg(accepter)
                             .arg(m_port)
                             .arg(device);
    QFile file(QDir(folder).filePath(QStringLiteral("ser2net.yaml")));
    if (program().isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(yaml.toUtf8()) < 0)
        return false;
    file.close();
    m_process.start(program(), {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), file.fileName(),
                                QStringLiteral("-P"), QDir(folder).filePath(QStringLiteral("ser2net.pid"))});
    return m_process.waitForStarted(5000) && TestPeers::waitForPort(m_port);
}

QString LrzszPeer::missingTools()
{
    QStringList missing = QStringLiteral("socat sx rx sb rb").split(QLatin1Char(' '));
    missing.removeIf([](const QString &tool) { return !QStandardPaths::findExecutable(tool).isEmpty(); });
    return missing.join(QLatin1Char(' '));
}

QProcess *LrzszPeer::run(const QString &tty, const QString &command, const QString &workDir)
{
    m_programs.push_back(std::make_unique<QProcess>());
    QProcess *p = m_programs.back().get();
    p->setWorkingDirectory(workDir);
    p->start(PtyPair::socat(), {QStringLiteral("-t"), QStringLiteral("0.05"), QStringLiteral("FILE:%1,raw,echo=0").arg(tty),
                                QStringLiteral("SYSTEM:exec %1").arg(command)});
    p->waitForStarted(5000);
    return p;
}
