// quillon-gateway against the usual tools, side by side in one run:
//   Modbus transactions/s from a pymodbus TCP client, reading 10 holding registers one
//   request at a time from a pymodbus RTU slave on a pty: through quillon-gateway,
//   through a small Python TCP-to-RTU forwarder, and straight to a pymodbus TCP server
//   with the same data (no serial line: the upper bound).
//   RFC 2217 server throughput TCP -> pty (MB = 10^6 bytes): quillon-gateway against
//   ser2net's telnet(rfc2217) port on the same kind of pty.
//
//   bench_gateway [seconds [MiB]]
#include "tests/support/peers.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

const QString python = QStringLiteral("/usr/bin/python3");
QString here(const QString &name)
{
    return QStringLiteral(QUILLON_BENCH_SOURCE_DIR "/") + name;
}

struct Processes
{
    ~Processes()
    {
        for (auto &p : list)
            TestPeers::stop(*p);
    }
    QProcess *start(const QString &program, const QStringList &args)
    {
        list.push_back(std::make_unique<QProcess>());
        list.back()->start(program, args);
        list.back()->waitForStarted(5000);
        return list.back().get();
    }
    std::vector<std::unique_ptr<QProcess>> list;
};

QString runClient(const QStringList &args, int ms)
{
    QProcess client;
    client.start(python, args);
    if (!client.waitForFinished(ms))
        return QStringLiteral("timeout");
    return QString::fromLatin1(client.readAllStandardOutput()).trimmed();
}

QString modbusRow(const QString &what, const QString &seconds, QTemporaryDir &dir)
{
    PtyPair pty(dir.filePath(what));
    QDir().mkpath(pty.folder());
    Processes p;
    const quint16 port = TestPeers::freePort();
    if (what != QLatin1String("direct")) {
        if (!pty.start())
            return QStringLiteral("no pty");
        p.start(python, {QStringLiteral(QUILLON_TEST_SUPPORT_DIR "/modbus_slave.py"), QStringLiteral("rtu"), pty.b()});
    }
    if (what == QLatin1String("gateway"))
        p.start(QStringLiteral(QUILLON_GATEWAY_BINARY), {QStringLiteral("--serial"), pty.a() + QStringLiteral(",115200"),
                                                         QStringLiteral("--listen"), QString::number(port),
                                                         QStringLiteral("--protocol"), QStringLiteral("modbus")});
    else if (what == QLatin1String("forwarder"))
        p.start(python, {here(QStringLiteral("tcp_rtu_forwarder.py")), QString::number(port), pty.a()});
    else
        p.start(python, {QStringLiteral(QUILLON_TEST_SUPPORT_DIR "/modbus_slave.py"), QStringLiteral("tcp"), QString::number(port)});
    if (!TestPeers::waitForPort(port, 10000))
        return QStringLiteral("did not start");
    QThread::msleep(500);
    return runClient({here(QStringLiteral("modbus_client.py")), QString::number(port), seconds}, 60000);
}

QString rfc2217Row(const QString &what, const QString &mib, QTemporaryDir &dir)
{
    PtyPair pty(dir.filePath(QStringLiteral("s-") + what));
    QDir().mkpath(pty.folder());
    if (!pty.start())
        return QStringLiteral("no pty");
    Processes p;
    Ser2net ser2net;
    quint16 port = TestPeers::freePort();
    if (what == QLatin1String("gateway")) {
        p.start(QStringLiteral(QUILLON_GATEWAY_BINARY), {QStringLiteral("--serial"), pty.a() + QStringLiteral(",115200"),
                                                         QStringLiteral("--listen"), QString::number(port),
                                                         QStringLiteral("--protocol"), QStringLiteral("rfc2217")});
        if (!TestPeers::waitForPort(port, 10000))
            return QStringLiteral("did not start");
    } else {
        if (Ser2net::program().isEmpty() || !ser2net.start(pty.a(), QStringLiteral("telnet(rfc2217),tcp"), pty.folder()))
            return QStringLiteral("ser2net did not start");
        port = ser2net.port();
    }
    return runClient({here(QStringLiteral("stream.py")), QString::number(port), pty.b(), mib}, 180000);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString seconds = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("5");
    const QString mib = argc > 2 ? QString::fromLatin1(argv[2]) : QStringLiteral("16");
    QTemporaryDir dir;
    std::printf("| Modbus TCP client, 10 registers per read | transactions/s | errors |\n|---|---|---|\n");
    const std::pair<const char *, const char *> modbus[] = {
        {"quillon-gateway -> RTU slave on a pty", "gateway"},
        {"Python TCP-to-RTU forwarder -> same slave", "forwarder"},
        {"pymodbus TCP server, no serial line (upper bound)", "direct"}};
    for (const auto &[label, what] : modbus) {
        const QStringList r = modbusRow(QString::fromLatin1(what), seconds, dir).split(QLatin1Char(' '));
        std::printf("| %s | %s | %s |\n", label, qPrintable(r.value(0)), qPrintable(r.value(1)));
        std::fflush(stdout);
    }
    std::printf("\n| RFC 2217 server, %s MiB TCP -> pty | MB/s |\n|---|---|\n", qPrintable(mib));
    const std::pair<const char *, const char *> streams[] = {{"quillon-gateway --protocol rfc2217", "gateway"},
                                                             {"ser2net telnet(rfc2217), default options", "ser2net"}};
    for (const auto &[label, what] : streams) {
        std::printf("| %s | %s |\n", label, qPrintable(rfc2217Row(QString::fromLatin1(what), mib, dir)));
        std::fflush(stdout);
    }
    return 0;
}
