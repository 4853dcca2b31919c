#pragma once

#include "tests/support/ptypair.h"

#include <QProcess>
#include <QString>

#include <memory>
#include <vector>

class QIODevice;

// Finding and starting the real peers the wire tests talk to.
namespace TestPeers {

// PATH first, then the system folders a non-root PATH may lack (ser2net is in /usr/sbin).
QString findTool(const QString &name);
// A loopback TCP port nobody listens on right now.
quint16 freePort();
// Until something accepts on the loopback port, or ms pass.
bool waitForPort(quint16 port, int ms = 15000);
// True when /usr/bin/python3 imports the module.
bool hasPythonModule(const QString &module);
// The output of stty -a for a terminal device: its line settings as the kernel holds them.
QString sttyOf(const QString &device);
// Reads until size bytes came or ms passed.
QByteArray readFor(QIODevice &device, qsizetype size, int ms);
// Terminates a process, killing it if it does not end.
void stop(QProcess &process);

} // namespace TestPeers

// ser2net serving one device on a free loopback port.
class Ser2net
{
public:
    ~Ser2net() { TestPeers::stop(m_process); }
    static QString program() { return TestPeers::findTool(QStringLiteral("ser2net")); }

    // accepter is the ser2net protocol stack, e.g. "telnet(rfc2217),tcp" or "tcp";
    // the configuration file goes into folder.
    bool start(const QString &device, const QString &accepter, const QString &folder);
    quint16 port() const { return m_port; }
    QByteArray errors() { return m_process.readAllStandardError(); }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// lrzsz programs run on a pty end. lrzsz runs behind a second socat, so its flush on
// exit hits a socket and cannot throw away its own last bytes still waiting in the pty.
class LrzszPeer
{
public:
    ~LrzszPeer()
    {
        for (auto &p : m_programs)
            TestPeers::stop(*p);
    }

    // Empty when socat and lrzsz are installed, else what is missing.
    static QString missingTools();
    // Runs a shell command such as "rx -q -c out.bin" on tty inside workDir.
    QProcess *run(const QString &tty, const QString &command, const QString &workDir);

private:
    std::vector<std::unique_ptr<QProcess>> m_programs;
};
