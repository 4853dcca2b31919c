// Moves a 4 MiB random file over a socat pty pair with XMODEM-1K, YMODEM and YMODEM-G,
// between a pane (offscreen, with its transfer strip), the quillon-transfer program and
// lrzsz, and measures the raw pty pair in the same run. Prints the median wall time of
// each cell: from the moment both ends are ready until both have finished.
#include "tests/support/peers.h"

#include "connection/connectionmode.h"
#include "terminal/serialportwidget.h"
#include "transfer/dialogs/filetransferbar.h"
#include "transfer/porttransfer.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr qint64 FileSize = 4 << 20;
constexpr int WaitMs = 180000;
// A sender that waits for its receiver gets this long to be ready; it is not timed.
constexpr int ReadyMs = 300;

QByteArray g_data;
QByteArray g_hash;

struct Variant
{
    const char *name;
    XferProtocol protocol;
    const char *cliName;
    const char *lrzszSender;
    const char *lrzszReceiver;  // nullptr: rb cannot ask for YMODEM-G
    bool padded;                // XMODEM: the file arrives padded to a block
    const char *arrived;        // what the receiver calls the file
};

// Runs the event loop until done() holds, polling every 2 ms so the peers get the CPUs.
bool spin(const std::function<bool()> &done, int ms = WaitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void pause(int ms)
{
    QElapsedTimer clock;
    clock.start();
    spin([&] { return clock.elapsed() >= ms; });
}

// What our receivers call the file: XMODEM carries no name, so they were given one.
QString ourName(const Variant &v)
{
    return v.padded ? QStringLiteral("out.bin") : QStringLiteral("bench.bin");
}

bool finished(const QProcess *p)
{
    return p->state() == QProcess::NotRunning;
}

// One cell's scene: a pty pair in a folder holding bench.bin, with out/ for what arrives.
struct Scene
{
    QTemporaryDir dir;
    std::unique_ptr<PtyPair> pty;
    LrzszPeer lrzsz;
    std::vector<std::unique_ptr<QProcess>> programs;

    bool setUp()
    {
        QDir(dir.path()).mkpath(QStringLiteral("out"));
        QFile src(dir.filePath(QStringLiteral("bench.bin")));
        if (!src.open(QIODevice::WriteOnly) || src.write(g_data) != g_data.size())
            return false;
        src.close();
        pty = std::make_unique<PtyPair>(dir.path());
        return pty->start();
    }
    QString out() const { return dir.filePath(QStringLiteral("out")); }
    QProcess *lrzszOn(const QString &tty, const char *command, bool inOut)
    {
        return lrzsz.run(tty, QString::fromLatin1(command), inOut ? out() : dir.path());
    }
    QProcess *cli(const Variant &v, bool send, const QString &tty)
    {
        QStringList args{send ? QStringLiteral("send") : QStringLiteral("receive"), QStringLiteral("--quiet"),
                         QStringLiteral("--port=") + tty, QStringLiteral("--protocol=") + QString::fromLatin1(v.cliName),
                         QStringLiteral("--name=out.bin"), QStringLiteral("--max-size=0")};
        if (v.protocol == YmodemG)
            args << QStringLiteral("--flow=rtscts");
        args << (send ? dir.filePath(QStringLiteral("bench.bin")) : out());
        programs.push_back(std::make_unique<QProcess>());
        programs.back()->start(QStringLiteral(QUILLON_TRANSFER_CLI), args);
        return programs.back().get();
    }
    bool arrivedIntact(const Variant &v, const QString &name) const
    {
        QFile f(QDir(out()).filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            return false;
        const QByteArray got = f.readAll();
        if (v.padded && got.size() - g_data.size() >= 1024)
            return false;
        return QCryptographicHash::hash(v.padded ? got.left(g_data.size()) : got, QCryptographicHash::Sha256) == g_hash;
    }
};

// A pane with its transfer strip, on our end of the pair.
struct BenchPane
{
    BenchPane(const QString &tty, const Variant &v)
    {
        FormatSetting s;
        s.ConnMode = SerialPort;
        s.PortName = tty;
        s.BaudRate = 115200;
        s.FlowControl = v.protocol == YmodemG ? 1 : 0;
        widget = std::make_unique<SerialPortWidget>(s, 0);
        transfer = new PortTransfer(widget->session());
        widget->addStrip(new FileTransferBar(transfer, widget.get()));
        widget->resize(900, 600);
        widget->show();
    }
    bool start(const Variant &v, bool send, const Scene &scene)
    {
        XferOptions options;
        options.protocol = v.protocol;
        options.direction = send ? XferOptions::Send : XferOptions::Receive;
        return widget->session()->open()
            && transfer->startTransfer(options, send ? scene.dir.filePath(QStringLiteral("bench.bin")) : scene.out(),
                                       QStringLiteral("out.bin"));
    }
    std::unique_ptr<SerialPortWidget> widget;
    PortTransfer *transfer;
};

// Each cell returns seconds, or a negative value when the transfer failed.
double paneToLrzsz(const Variant &v)
{
    Scene scene;
    if (!v.lrzszReceiver || !scene.setUp())
        return -1;
    BenchPane pane(scene.pty->a(), v);
    QElapsedTimer clock;
    clock.start();
    if (!pane.start(v, true, scene))
        return -1;
    QProcess *rx = scene.lrzszOn(scene.pty->b(), v.lrzszReceiver, true);
    if (!spin([&] { return !pane.transfer->isActive() && finished(rx); }))
        return -1;
    const double s = clock.nsecsElapsed() / 1e9;
    return pane.transfer->lastOutcome().success && scene.arrivedIntact(v, QString::fromLatin1(v.arrived)) ? s : -1;
}

double lrzszToPane(const Variant &v)
{
    Scene scene;
    if (!scene.setUp())
        return -1;
    BenchPane pane(scene.pty->a(), v);
    QProcess *sx = scene.lrzszOn(scene.pty->b(), v.lrzszSender, false);
    pause(ReadyMs);
    QElapsedTimer clock;
    clock.start();
    if (!pane.start(v, false, scene) || !spin([&] { return !pane.transfer->isActive() && finished(sx); }))
        return -1;
    const double s = clock.nsecsElapsed() / 1e9;
    return pane.transfer->lastOutcome().success && scene.arrivedIntact(v, ourName(v)) ? s : -1;
}

double cliToLrzsz(const Variant &v)
{
    Scene scene;
    if (!v.lrzszReceiver || !scene.setUp())
        return -1;
    QProcess *ours = scene.cli(v, true, scene.pty->a());
    pause(ReadyMs);
    QElapsedTimer clock;
    clock.start();
    QProcess *rx = scene.lrzszOn(scene.pty->b(), v.lrzszReceiver, true);
    if (!spin([&] { return finished(ours) && finished(rx); }))
        return -1;
    const double s = clock.nsecsElapsed() / 1e9;
    return ours->exitCode() == 0 && scene.arrivedIntact(v, QString::fromLatin1(v.arrived)) ? s : -1;
}

double lrzszToCli(const Variant &v)
{
    Scene scene;
    if (!scene.setUp())
        return -1;
    QProcess *sx = scene.lrzszOn(scene.pty->b(), v.lrzszSender, false);
    pause(ReadyMs);
    QElapsedTimer clock;
    clock.start();
    QProcess *ours = scene.cli(v, false, scene.pty->a());
    if (!spin([&] { return finished(ours) && finished(sx); }))
        return -1;
    const double s = clock.nsecsElapsed() / 1e9;
    return ours->exitCode() == 0 && scene.arrivedIntact(v, ourName(v)) ? s : -1;
}

double lrzszToLrzsz(const Variant &v)
{
    Scene scene;
    if (!v.lrzszReceiver || !scene.setUp())
        return -1;
    QElapsedTimer clock;
    clock.start();
    QProcess *rx = scene.lrzszOn(scene.pty->b(), v.lrzszReceiver, true);
    QProcess *sx = scene.lrzszOn(scene.pty->a(), v.lrzszSender, false);
    if (!spin([&] { return finished(rx) && finished(sx); }))
        return -1;
    const double s = clock.nsecsElapsed() / 1e9;
    return sx->exitCode() == 0 && rx->exitCode() == 0 && scene.arrivedIntact(v, QString::fromLatin1(v.arrived)) ? s : -1;
}

// Ours to ours: the program sends, a pane receives; both wait ready before the clock starts.
double cliToPane(const Variant &v)
{
    Scene scene;
    if (!scene.setUp())
        return -1;
    BenchPane pane(scene.pty->b(), v);
    QProcess *tx = scene.cli(v, true, scene.pty->a());
    pause(ReadyMs);
    QElapsedTimer clock;
    clock.start();
    if (!pane.start(v, false, scene) || !spin([&] { return !pane.transfer->isActive() && finished(tx); }))
        return -1;
    const double s = clock.nsecsElapsed() / 1e9;
    return tx->exitCode() == 0 && pane.transfer->lastOutcome().success && scene.arrivedIntact(v, ourName(v)) ? s : -1;
}

// The pty pair alone: one thread writes 64 MiB into one end, another reads the other.
double rawPtyMiBs()
{
    Scene scene;
    if (!scene.setUp())
        return -1;
    const int a = ::open(QFile::encodeName(scene.pty->a()).constData(), O_RDWR | O_NOCTTY);
    const int b = ::open(QFile::encodeName(scene.pty->b()).constData(), O_RDWR | O_NOCTTY);
    if (a < 0 || b < 0)
        return -1;
    for (int fd : {a, b}) {
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    ::tcflush(b, TCIOFLUSH);
    constexpr qint64 Total = qint64(64) << 20;
    qint64 got = 0;
    QElapsedTimer clock;
    clock.start();
    std::thread reader([&] {
        QByteArray buf(1 << 20, Qt::Uninitialized);
        while (got < Total) {
            const ssize_t n = ::read(b, buf.data(), buf.size());
            if (n <= 0)
                break;
            got += n;
        }
    });
    for (qint64 sent = 0; sent < Total;) {
        const ssize_t n = ::write(a, g_data.constData(), size_t(std::min<qint64>(g_data.size(), Total - sent)));
        if (n <= 0)
            break;
        sent += n;
    }
    reader.join();
    const double s = clock.nsecsElapsed() / 1e9;
    ::close(a);
    ::close(b);
    return got == Total ? Total / 1048576.0 / s : -1;
}

double median(QList<double> times)
{
    if (times.isEmpty() || times.contains(-1.0))
        return -1;
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2);
}

QString cell(const QList<double> &times)
{
    const double m = median(times);
    if (times.isEmpty())
        return QStringLiteral("n/a");
    if (m < 0)
        return QStringLiteral("FAILED");
    return QStringLiteral("%1 s %2 MiB/s").arg(m, 0, 'f', 2).arg(FileSize / 1048576.0 / m, 0, 'f', 2);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    // An optional second argument picks cells whose "protocol column" name contains it.
    const QString only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
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
        {"XMODEM-1K", Xmodem1k, "xmodem-1k", "sx -q -k bench.bin", "rx -q -c out.bin", true, "out.bin"},
        {"YMODEM", Ymodem, "ymodem", "sb -q -k bench.bin", "rb -q", false, "bench.bin"},
        {"YMODEM-G", YmodemG, "ymodem-g", "sb -q -k bench.bin", nullptr, false, "bench.bin"},
    };
    using Cell = double (*)(const Variant &);
    const std::pair<const char *, Cell> columns[] = {{"pane -> lrzsz", paneToLrzsz}, {"lrzsz -> pane", lrzszToPane},
                                                     {"cli -> lrzsz", cliToLrzsz},   {"lrzsz -> cli", lrzszToCli},
                                                     {"lrzsz -> lrzsz", lrzszToLrzsz}, {"cli -> pane", cliToPane}};
    constexpr int Columns = 6;
    std::printf("4 MiB random file over a socat pty pair; %d rounds, the cells of a round one after the other so that\n"
                "the machine's load hits every column alike. Median wall time from both ends ready to both done.\n",
                runs);
    QList<double> times[3][Columns];
    QList<double> raw;
    for (int round = 0; round < runs; ++round) {
        raw.append(rawPtyMiBs());
        for (int i = 0; i < 3; ++i) {
            for (int c = 0; c < Columns; ++c) {
                const QString name = QString::fromLatin1(variants[i].name) + QLatin1Char(' ') + QString::fromLatin1(columns[c].first);
                if ((variants[i].lrzszReceiver || (c != 0 && c != 2 && c != 4)) && name.contains(only))
                    times[i][c].append(columns[c].second(variants[i]));
            }
        }
    }
    std::printf("%-10s", "protocol");
    for (const auto &column : columns)
        std::printf(" | %-21s", column.first);
    std::printf("\n");
    for (int i = 0; i < 3; ++i) {
        std::printf("%-10s", variants[i].name);
        for (int c = 0; c < Columns; ++c)
            std::printf(" | %-21s", qPrintable(cell(times[i][c])));
        std::printf("\n");
    }
    std::sort(raw.begin(), raw.end());
    const double rawRate = raw.at(raw.size() / 2);
    std::printf("raw pty pair (64 MiB, 1 MiB writes): %.1f MiB/s (median of %d)\n", rawRate, runs);
    auto speed = [](const QList<double> &t) { return median(t) > 0 ? FileSize / 1048576.0 / median(t) : 0.0; };
    for (int i = 0; i < 2; ++i) {
        const double lrzsz = speed(times[i][4]);
        std::printf("%s vs lrzsz -> lrzsz: pane sends %.2fx, pane receives %.2fx, cli sends %.2fx, cli receives %.2fx\n",
                    variants[i].name, speed(times[i][0]) / lrzsz, speed(times[i][1]) / lrzsz, speed(times[i][2]) / lrzsz,
                    speed(times[i][3]) / lrzsz);
    }
    std::printf("YMODEM-G as a share of the raw pair: sb -> pane %.0f%%, sb -> cli %.0f%%, cli -> pane %.0f%%\n",
                100 * speed(times[2][1]) / rawRate, 100 * speed(times[2][3]) / rawRate, 100 * speed(times[2][5]) / rawRate);
    std::printf("lrzsz rb has no option to ask for YMODEM-G; sb switches to G only when the receiver sends 'G'.\n");
    return 0;
}
