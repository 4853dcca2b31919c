// Forwarding through a bridge against the usual tools, side by side in one run:
//   TCP -> TCP        bridge (TCP server pane to TCP client pane) vs socat with its default buffers
//   TCP <-> pty       bridge (TCP server pane to serial pane) vs ser2net's raw port, default and tuned
//   64-byte round trip through a bridge vs socat (p50 and p99)
// The traffic comes from a separate load process (this program with --load), so the
// forwarder under test has the event loop to itself. MB = 10^6 bytes; each figure is
// the median of the runs. RSS is the forwarder's peak resident memory during the row.
//
//   bench_bridge [runs [tcpMiB [ptyMiB [name-filter]]]]
//   bench_bridge --load ...          (internal) the traffic process

#include "bridge/bridgemanager.h"
#include "connection/connectionmode.h"
#include "session/portsession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <random>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// ---- The load process: plain sockets and threads --------------------------------------

using Clock = std::chrono::steady_clock;

int listenOn(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0)
        return -1;
    return fd;
}

int connectTo(int port)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(quint16(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return fd;
        }
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

int openTty(const char *path)
{
    const int fd = ::open(path, O_RDWR | O_NOCTTY);
    termios t{};
    if (fd >= 0 && ::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
        ::tcflush(fd, TCIOFLUSH);
    }
    return fd;
}

bool readN(int fd, long long n)
{
    std::vector<char> buffer(1 << 20);
    while (n > 0) {
        const ssize_t k = ::read(fd, buffer.data(), buffer.size());
        if (k <= 0)
            return false;
        n -= k;
    }
    return true;
}

bool writeN(int fd, long long n)
{
    std::vector<char> buffer(1 << 20);
    std::mt19937 random(7);
    for (char &c : buffer)
        c = char(random());
    while (n > 0) {
        const auto chunk = std::min<long long>(n, static_cast<long long>(buffer.size()));
        const ssize_t k = ::write(fd, buffer.data(), size_t(chunk));
        if (k <= 0)
            return false;
        n -= k;
    }
    return true;
}

// "tcp-listen:PORT", "tcp:PORT" or "tty:PATH"; a listening end accepts later.
int openEnd(const char *address, bool *listening)
{
    *listening = std::strncmp(address, "tcp-listen:", 11) == 0;
    if (*listening)
        return listenOn(std::atoi(address + 11));
    if (std::strncmp(address, "tcp:", 4) == 0)
        return connectTo(std::atoi(address + 4));
    return openTty(address + 4);
}

void waitForGo()
{
    char line[16];
    std::printf("ready\n");
    std::fflush(stdout);
    if (!std::fgets(line, sizeof line, stdin))
        std::exit(3);
}

// --load move SOURCE SINK BYTES: the sink is opened (a listening sink accepts in its
// thread); on "go" the source connects and writes; prints MB/s from the first write
// to the last byte read.
int loadMove(const char *source, const char *sink, long long bytes)
{
    bool sinkListens = false, unused = false;
    const int sinkFd = std::strncmp(sink, "tcp:", 4) == 0 ? -1 : openEnd(sink, &sinkListens);
    waitForGo();
    int readFd = sinkFd;
    if (std::strncmp(sink, "tcp:", 4) == 0) {
        readFd = openEnd(sink, &unused);
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the forwarder opens its device
    }
    Clock::time_point end;
    bool ok = false;
    std::thread reader([&] {
        const int fd = sinkListens ? ::accept(sinkFd, nullptr, nullptr) : readFd;
        ok = readN(fd, bytes);
        end = Clock::now();
    });
    const int out = openEnd(source, &unused);
    const Clock::time_point start = Clock::now();
    const bool sent = writeN(out, bytes);
    reader.join();
    if (!sent || !ok) {
        std::printf("failed\n");
        return 1;
    }
    std::printf("MBps %.1f\n", double(bytes) / 1e6 / std::chrono::duration<double>(end - start).count());
    return 0;
}

// --load rtt PORT DEVICE_PORT COUNT: a device on DEVICE_PORT echoes; 64-byte messages go
// through PORT one at a time; prints p50 and p99 in microseconds.
int loadRoundTrip(int port, int devicePort, int count)
{
    const int deviceListen = listenOn(devicePort);
    std::thread device([deviceListen] {
        const int fd = ::accept(deviceListen, nullptr, nullptr);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char buffer[4096];
        // Echoes until the peer goes or a write falls short.
        for (ssize_t k; (k = ::read(fd, buffer, sizeof buffer)) > 0 && ::write(fd, buffer, size_t(k)) == k;) {
        }
    });
    device.detach();
    waitForGo();
    const int fd = connectTo(port);
    std::vector<double> micros;
    char message[64];
    std::memset(message, 'r', sizeof message);
    for (int i = 0; i < count + 50; ++i) {
        const Clock::time_point t = Clock::now();
        if (::write(fd, message, sizeof message) != ssize_t(sizeof message) || !readN(fd, sizeof message)) {
            std::printf("failed\n");
            return 1;
        }
        if (i >= 50) // the first ones open the way
            micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t).count());
    }
    std::sort(micros.begin(), micros.end());
    std::printf("p50 %.0f p99 %.0f\n", micros[micros.size() / 2], micros[micros.size() * 99 / 100]);
    return 0;
}

// ---- The forwarders ----------------------------------------------------------------------

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

long rssKiB(qint64 pid)
{
    QFile f(pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

void runEvents(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

// Someone listens on the port when it cannot be bound. (Connecting to find out would
// hand socat or ser2net a first client of their own.)
bool waitForListener(quint16 port)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool taken = ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0;
        ::close(fd);
        if (taken)
            return true;
        QThread::msleep(50);
    }
    return false;
}

// Something that forwards from `entry` to the sink or device the load process offers.
struct Forwarder
{
    virtual ~Forwarder() = default;
    // Called once the load process is listening.
    virtual bool start() = 0;
    virtual long rss() const = 0;
};

struct ExternalForwarder : Forwarder
{
    ExternalForwarder(QString program, QStringList args, quint16 entry)
        : program(std::move(program)), args(std::move(args)), entry(entry)
    {
    }
    ~ExternalForwarder() override
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(2000);
    }
    bool start() override
    {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(program, args);
        return process.waitForStarted(5000) && waitForListener(entry);
    }
    long rss() const override { return rssKiB(process.processId()); }

    QString program;
    QStringList args;
    quint16 entry;
    QProcess process;
};

// Two headless sessions and a bridge between them, in this process.
struct BridgeForwarder : Forwarder
{
    BridgeForwarder(const FormatSetting &a, const FormatSetting &b, const BridgeConfig &config, bool views)
        : config(config)
        , views(views)
    {
        ends[0] = std::make_unique<PortSession>(a, 0);
        ends[1] = std::make_unique<PortSession>(b, 1);
        for (auto &end : ends) {
            if (!views)
                continue;
            // Stands in for a pane: the session formats for a view, which takes the text.
            end->setViewAttached(true);
            QObject::connect(end.get(), &PortSession::displayBatch, end.get(),
                             [this](const QList<ViewSegment> &s) { shown += s.size(); });
        }
    }
    bool start() override
    {
        manager.setPanes({ends[0].get(), ends[1].get()});
        if (!manager.add(config))
            return false;
        runEvents([this] { return ends[0]->isOpen() && ends[1]->isOpen(); }, 5000);
        return ends[0]->isOpen() && ends[1]->isOpen();
    }
    long rss() const override { return rssKiB(0); }

    std::array<std::unique_ptr<PortSession>, 2> ends;
    BridgeManager manager;
    BridgeConfig config;
    bool views;
    qint64 shown = 0;
};

struct Result
{
    QString figure;
    long rssStart = -1; // KiB when the load begins
    long rssPeak = -1;
};

// Runs the load process with `args`, starting `forwarder` once it listens; samples the
// forwarder's memory while the load runs.
Result runLoad(const QStringList &args, Forwarder &forwarder)
{
    QProcess load;
    load.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    load.start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("--load")} + args);
    QByteArray out;
    QObject::connect(&load, &QProcess::readyReadStandardOutput, &load, [&] { out += load.readAllStandardOutput(); });
    runEvents([&] { return out.contains("ready") || load.state() == QProcess::NotRunning; }, 10000);
    if (!out.contains("ready") || !forwarder.start())
        return {QStringLiteral("setup failed")};
    Result result;
    result.rssStart = result.rssPeak = forwarder.rss();
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &load,
                     [&] { result.rssPeak = qMax(result.rssPeak, forwarder.rss()); });
    sampler.start(100);
    load.write("go\n");
    runEvents([&] { return load.state() == QProcess::NotRunning; }, 300000);
    out += load.readAllStandardOutput();
    out.replace("ready\n", "");
    result.figure = QString::fromLatin1(out.trimmed());
    return result;
}

FormatSetting mode(int connMode, quint16 port, const QString &device = QString())
{
    FormatSetting s;
    s.ConnMode = connMode;
    s.LastTargetPort = port;
    s.PortName = device;
    return s;
}

BridgeConfig fastBridge(int direction, bool shown)
{
    BridgeConfig c;
    c.Direction = direction;
    c.FramingMaxBytes = 1048576;
    c.ShowForwardedInDisplay = shown;
    c.AutoOpenPeer = true;
    return c;
}

QString socat()
{
    return QStandardPaths::findExecutable(QStringLiteral("socat"));
}

QString ser2net()
{
    const QString path = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
    return path.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("ser2net"), {QStringLiteral("/usr/sbin")})
                          : path;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--load") == 0) {
        if (argc == 6 && std::strcmp(argv[2], "move") == 0)
            return loadMove(argv[3], argv[4], std::atoll(argv[5]));
        if (argc == 6 && std::strcmp(argv[2], "rtt") == 0)
            return loadRoundTrip(std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
        return 2;
    }
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const qint64 tcpBytes = (argc > 2 ? std::atoll(argv[2]) : 512) << 20;
    const qint64 ptyBytes = (argc > 3 ? std::atoll(argv[3]) : 32) << 20;
    const QString filter = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString();
    if (socat().isEmpty()) {
        std::printf("socat is not installed\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString ptyA = dir.filePath(QStringLiteral("ttyA")), ptyB = dir.filePath(QStringLiteral("ttyB"));
    QProcess pty;
    pty.start(socat(), {QStringLiteral("pty,raw,echo=0,link=") + ptyA, QStringLiteral("pty,raw,echo=0,link=") + ptyB});
    runEvents([&] { return QFileInfo::exists(ptyA) && QFileInfo::exists(ptyB); }, 10000);

    const auto ser2netConfig = [&](quint16 port, bool tuned) {
        const QString path = dir.filePath(QStringLiteral("ser2net-%1.yaml").arg(port));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(QStringLiteral("%YAML 1.1\n---\nconnection: &raw\n  accepter: tcp,127.0.0.1,%1\n"
                               "  connector: serialdev,%2,115200n81,local\n")
                    .arg(port)
                    .arg(ptyA)
                    .toUtf8());
        if (tuned)
            f.write("  options:\n    chardelay: false\n    net-to-dev-bufsize: 65536\n    dev-to-net-bufsize: 65536\n");
        return QStringList{QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), path, QStringLiteral("-P"),
                           path + QStringLiteral(".pid")};
    };

    struct Row
    {
        QString name;
        std::function<std::unique_ptr<Forwarder>(quint16 entry, quint16 far)> make;
        std::function<QStringList(quint16 entry, quint16 far)> load;
    };
    const QString bytesTcp = QString::number(tcpBytes), bytesPty = QString::number(ptyBytes);
    auto tcpMove = [&](quint16 entry, quint16 far) {
        return QStringList{QStringLiteral("move"), QStringLiteral("tcp:%1").arg(entry),
                           QStringLiteral("tcp-listen:%1").arg(far), bytesTcp};
    };
    auto toPty = [&](quint16 entry, quint16) {
        return QStringList{QStringLiteral("move"), QStringLiteral("tcp:%1").arg(entry), QStringLiteral("tty:") + ptyB,
                           bytesPty};
    };
    auto fromPty = [&](quint16 entry, quint16) {
        return QStringList{QStringLiteral("move"), QStringLiteral("tty:") + ptyB, QStringLiteral("tcp:%1").arg(entry),
                           bytesPty};
    };
    auto roundTrip = [&](quint16 entry, quint16 far) {
        return QStringList{QStringLiteral("rtt"), QString::number(entry), QString::number(far), QStringLiteral("2000")};
    };
    auto socatRow = [&](quint16 entry, quint16 far) -> std::unique_ptr<Forwarder> {
        return std::make_unique<ExternalForwarder>(
            socat(),
            QStringList{QStringLiteral("TCP-LISTEN:%1,reuseaddr,bind=127.0.0.1").arg(entry),
                        QStringLiteral("TCP:127.0.0.1:%1").arg(far)},
            entry);
    };
    auto bridgeTcp = [](int direction, bool shown) {
        return [direction, shown](quint16 entry, quint16 far) -> std::unique_ptr<Forwarder> {
            return std::make_unique<BridgeForwarder>(mode(TcpServer, entry), mode(TcpClient, far),
                                                     fastBridge(direction, shown), shown);
        };
    };
    auto bridgePty = [&](quint16 entry, quint16) -> std::unique_ptr<Forwarder> {
        return std::make_unique<BridgeForwarder>(mode(TcpServer, entry), mode(SerialPort, 0, ptyA),
                                                 fastBridge(BridgeConfig::BothWays, false), false);
    };
    auto ser2netRow = [&](bool tuned) {
        return [&, tuned](quint16 entry, quint16) -> std::unique_ptr<Forwarder> {
            return std::make_unique<ExternalForwarder>(ser2net(), ser2netConfig(entry, tuned), entry);
        };
    };
    const std::vector<Row> rows{
        {QStringLiteral("tcp->tcp socat (-b 8192)"), socatRow, tcpMove},
        {QStringLiteral("tcp->tcp bridge, forwarded not shown"), bridgeTcp(BridgeConfig::AToB, false), tcpMove},
        {QStringLiteral("tcp->tcp bridge, shown until muted"), bridgeTcp(BridgeConfig::AToB, true), tcpMove},
        {QStringLiteral("tcp->pty ser2net raw, default"), ser2netRow(false), toPty},
        {QStringLiteral("tcp->pty ser2net raw, tuned"), ser2netRow(true), toPty},
        {QStringLiteral("tcp->pty bridge"), bridgePty, toPty},
        {QStringLiteral("pty->tcp ser2net raw, default"), ser2netRow(false), fromPty},
        {QStringLiteral("pty->tcp ser2net raw, tuned"), ser2netRow(true), fromPty},
        {QStringLiteral("pty->tcp bridge"), bridgePty, fromPty},
        {QStringLiteral("64 B round trip socat (us)"), socatRow, roundTrip},
        {QStringLiteral("64 B round trip bridge (us)"), bridgeTcp(BridgeConfig::BothWays, false), roundTrip},
    };

    // Rows take turns run by run, so that a busy moment of the machine hits them alike.
    std::vector<const Row *> chosen;
    for (const Row &row : rows) {
        if (filter.isEmpty() || row.name.contains(filter))
            chosen.push_back(&row);
    }
    std::vector<std::vector<QString>> figures(chosen.size());
    std::vector<std::pair<long, long>> memory(chosen.size(), {-1, -1});
    for (int run = 0; run < runs; ++run) {
        for (size_t i = 0; i < chosen.size(); ++i) {
            const quint16 entry = freePort(), far = freePort();
            auto forwarder = chosen[i]->make(entry, far);
            const Result r = runLoad(chosen[i]->load(entry, far), *forwarder);
            figures[i].push_back(r.figure);
            if (run == 0 || r.rssPeak - r.rssStart > memory[i].second - memory[i].first)
                memory[i] = {r.rssStart, r.rssPeak};
        }
    }
    std::printf("%-38s %-22s %18s\n", "row", "median of runs", "RSS KiB start/peak");
    for (size_t i = 0; i < chosen.size(); ++i) {
        // Figures are "MBps x" or "p50 x p99 y": the median by the first number.
        auto key = [](const QString &f) { return f.section(QLatin1Char(' '), 1, 1).toDouble(); };
        std::vector<QString> &f = figures[i];
        std::sort(f.begin(), f.end(), [&](const QString &a, const QString &b) { return key(a) < key(b); });
        QStringList all;
        for (const QString &one : f)
            all << one.section(QLatin1Char(' '), 1, 1);
        std::printf("%-38s %-22s %8ld/%-9ld runs: %s\n", qPrintable(chosen[i]->name), qPrintable(f[f.size() / 2]),
                    memory[i].first, memory[i].second, qPrintable(all.join(QLatin1Char(' '))));
    }
    pty.terminate();
    pty.waitForFinished(3000);
    return 0;
}
