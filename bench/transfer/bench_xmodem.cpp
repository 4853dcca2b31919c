// Moves a 4 MiB random file over a socat pty pair with XMODEM-1K, YMODEM and YMODEM-G:
// our sender to lrzsz, lrzsz to our receiver, lrzsz to lrzsz and ours to ours.
// Prints the median wall time of each (start until both ends have finished).
#include "tests/support/memoryxfer.h"
#include "tests/support/peers.h"
#include "tests/support/xferdriver.h"

#include "transfer/xmodemcodec.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr qint64 FileSize = 4 << 20;
constexpr int WaitMs = 180000;

QByteArray g_data;
QByteArray g_hash;

struct Variant
{
    const char *name;
    XferProtocol protocol;
    const char *lrzszSender;    // run on the far end
    const char *lrzszReceiver;  // nullptr: lrzsz has none for this variant
    bool padded;                // XMODEM: the file arrives padded to a block
};

bool sameFile(const QByteArray &got, bool padded)
{
    const QByteArray body = padded ? got.left(g_data.size()) : got;
    if (padded && got.size() - g_data.size() >= 1024)
        return false;
    return QCryptographicHash::hash(body, QCryptographicHash::Sha256) == g_hash;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool openPort(QSerialPort &port, const QString &path)
{
    port.setPortName(path);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.clear();
    return true;
}

// Runs the event loop until finished() holds; it is checked every 2 ms, which sleeps
// in between and so leaves the CPUs to the peer.
bool spin(const std::function<bool()> &finished)
{
    if (finished())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished())
            loop.quit();
    });
    poll.start(2);
    QTimer::singleShot(WaitMs, &loop, &QEventLoop::quit);
    loop.exec();
    return finished();
}

// Each run returns seconds, or a negative value when the transfer failed.
double oursToLrzsz(const Variant &v)
{
    QTemporaryDir dir;
    LrzszPeer peer;
    QDir(dir.path()).mkpath(QStringLiteral("out"));
    const QString out = dir.filePath(QStringLiteral("out"));
    QSerialPort port;
    if (!peer.startPair(dir.path()) || !openPort(port, peer.ttyA()))
        return -1;
    MemorySource source(g_data);
    XmodemCodec codec;
    codec.init(false, v.protocol, 1024);
    codec.setSource(&source);
    XferDriver driver(&codec, &port);
    QElapsedTimer clock;
    clock.start();
    driver.start(XferFileInfo{QStringLiteral("bench.bin"), g_data.size(), 0});
    QProcess *rx = peer.run(peer.ttyB(), QString::fromLatin1(v.lrzszReceiver), out);
    if (!spin([&] { return driver.isFinished() && rx->state() == QProcess::NotRunning; }))
        return -1;
    const double s = clock.nsecsElapsed() / 1e9;
    const QString name = v.padded ? QStringLiteral("out.bin") : QStringLiteral("bench.bin");
    if (!driver.result().done || !sameFile(readFile(QDir(out).filePath(name)), v.padded))
        return -1;
    return s;
}

double lrzszToOurs(const Variant &v)
{
    QTemporaryDir dir;
    LrzszPeer peer;
    QFile src(dir.filePath(QStringLiteral("bench.bin")));
    if (!src.open(QIODevice::WriteOnly) || src.write(g_data) != g_data.size())
        return -1;
    src.close();
    QSerialPort port;
    if (!peer.startPair(dir.path()) || !openPort(port, peer.ttyA()))
        return -1;
    MemorySink sink;
    XmodemCodec codec;
    codec.init(true, v.protocol, 1024);
    codec.setSink(&sink);
    XferDriver driver(&codec, &port);
    QElapsedTimer clock;
    clock.start();
    QProcess *sx = peer.run(peer.ttyB(), QString::fromLatin1(v.lrzszSender), dir.path());
    driver.start(XferFileInfo{QStringLiteral("bench.bin"), -1, 0});
    if (!spin([&] { return driver.isFinished() && sx->state() == QProcess::NotRunning; }))
        return -1;
    const double s = clock.nsecsElapsed() / 1e9;
    if (!driver.result().done || !sameFile(sink.data, v.padded))
        return -1;
    return s;
}

double lrzszToLrzsz(const Variant &v)
{
    QTemporaryDir dir;
    LrzszPeer peer;
    QDir(dir.path()).mkpath(QStringLiteral("out"));
    const QString out = dir.filePath(QStringLiteral("out"));
    QFile src(dir.filePath(QStringLiteral("bench.bin")));
    if (!src.open(QIODevice::WriteOnly) || src.write(g_data) != g_data.size())
        return -1;
    src.close();
    if (!peer.startPair(dir.path()))
        return -1;
    QElapsedTimer clock;
    clock.start();
    QProcess *rx = peer.run(peer.ttyB(), QString::fromLatin1(v.lrzszReceiver), out);
    QProcess *sx = peer.run(peer.ttyA(), QString::fromLatin1(v.lrzszSender), dir.path());
    if (!LrzszPeer::wait(sx, WaitMs) || !LrzszPeer::wait(rx, WaitMs))
        return -1;
    const double s = clock.nsecsElapsed() / 1e9;
    const QString name = v.padded ? QStringLiteral("out.bin") : QStringLiteral("bench.bin");
    if (sx->exitCode() != 0 || rx->exitCode() != 0 || !sameFile(readFile(QDir(out).filePath(name)), v.padded))
        return -1;
    return s;
}

double oursToOurs(const Variant &v)
{
    QTemporaryDir dir;
    LrzszPeer peer;
    QSerialPort a;
    QSerialPort b;
    if (!peer.startPair(dir.path()) || !openPort(a, peer.ttyA()) || !openPort(b, peer.ttyB()))
        return -1;
    MemorySource source(g_data);
    MemorySink sink;
    XmodemCodec sender;
    XmodemCodec receiver;
    sender.init(false, v.protocol, 1024);
    sender.setSource(&source);
    receiver.init(true, v.protocol, 1024);
    receiver.setSink(&sink);
    XferDriver tx(&sender, &a);
    XferDriver rx(&receiver, &b);
    QElapsedTimer clock;
    clock.start();
    tx.start(XferFileInfo{QStringLiteral("bench.bin"), g_data.size(), 0});
    rx.start(XferFileInfo{QStringLiteral("bench.bin"), -1, 0});
    if (!spin([&] { return tx.isFinished() && rx.isFinished(); }))
        return -1;
    const double s = clock.nsecsElapsed() / 1e9;
    if (!tx.result().done || !rx.result().done || !sameFile(sink.data, v.padded))
        return -1;
    return s;
}

// Median and best of the runs, or why there is no figure.
QString cell(QList<double> times)
{
    if (times.isEmpty())
        return QStringLiteral("n/a (no lrzsz receiver)");
    if (times.contains(-1.0))
        return QStringLiteral("FAILED");
    std::sort(times.begin(), times.end());
    const double median = times.at(times.size() / 2);
    return QStringLiteral("%1 s (best %2) %3 MiB/s")
        .arg(median, 0, 'f', 2)
        .arg(times.first(), 0, 'f', 2)
        .arg(FileSize / 1048576.0 / median, 0, 'f', 2);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    const QString missing = LrzszPeer::missingTools();
    if (!missing.isEmpty()) {
        std::printf("bench_xmodem: needs socat and lrzsz; missing: %s\n", qPrintable(missing));
        return 0;
    }
    QRandomGenerator rng(4242);
    g_data.resize(FileSize);
    for (qint64 i = 0; i < FileSize; ++i)
        g_data[i] = char(rng.bounded(256));
    g_hash = QCryptographicHash::hash(g_data, QCryptographicHash::Sha256);

    const Variant variants[] = {
        {"XMODEM-1K", Xmodem1k, "sx -q -k bench.bin", "rx -q -c out.bin", true},
        {"YMODEM", Ymodem, "sb -q -k bench.bin", "rb -q", false},
        {"YMODEM-G", YmodemG, "sb -q -k bench.bin", nullptr, false},
    };
    std::printf("4 MiB random file over a socat pty pair; %d rounds, the cells of a round run one after the other\n"
                "so that the machine's load hits every column alike. Wall time until both ends have finished,\n"
                "median (best) and MiB/s of the median.\n", runs);
    constexpr int Columns = 4;
    QList<double> times[3][Columns];
    for (int round = 0; round < runs; ++round) {
        for (int i = 0; i < 3; ++i) {
            const Variant &v = variants[i];
            if (v.lrzszReceiver) {
                times[i][0].append(oursToLrzsz(v));
                times[i][2].append(lrzszToLrzsz(v));
            }
            times[i][1].append(lrzszToOurs(v));
            times[i][3].append(oursToOurs(v));
        }
    }
    std::printf("%-10s | %-34s | %-34s | %-34s | %-34s\n", "protocol", "ours -> lrzsz", "lrzsz -> ours",
                "lrzsz -> lrzsz", "ours -> ours");
    std::printf("%s\n", QByteArray(158, '-').constData());
    for (int i = 0; i < 3; ++i) {
        std::printf("%-10s | %-34s | %-34s | %-34s | %-34s\n", variants[i].name, qPrintable(cell(times[i][0])),
                    qPrintable(cell(times[i][1])), qPrintable(cell(times[i][2])), qPrintable(cell(times[i][3])));
    }
    std::printf("lrzsz rb has no option to ask for YMODEM-G (rb --help lists no -g); sb switches to G only when the "
                "receiver sends 'G'.\n");
    return 0;
}
