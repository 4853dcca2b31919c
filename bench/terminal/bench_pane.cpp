// What the pane sustains under load, with its data log on: how late a 20 ms timer fires
// while the panes work (the refresh shares the event loop with it), bytes per second
// received, shown and logged, CPU seconds per MB received and the largest resident
// memory seen. Feeds come from a separate sender process: TCP at a fixed rate or as fast
// as the panes take it, or a pty pair (socat) at its own limit, measured against socat
// itself reading the same kind of pair in the same run. Start-up rows time the real
// executable from exec to its first painted window.
//
//   bench_pane [seconds-per-case [name-filter]]
//   bench_pane --send PORT RATE SECONDS CONNECTIONS   (internal) the TCP sender
//   bench_pane --pty-write PATH SECONDS                (internal) the pty writer

#include "connection/connectionmode.h"
#include "settings/formatsetting.h"
#include "settings/settingsdocument.h"
#include "terminal/serialportwidget.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#ifndef QUILLON_EXECUTABLE
#define QUILLON_EXECUTABLE ""
#endif

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long rssKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// Text with line feeds every ~60 bytes, some of it multi-byte UTF-8.
QByteArray sampleText(int size)
{
    QByteArray out;
    int n = 0;
    while (out.size() < size) {
        out += "sensor ";
        out += QByteArray::number(n++);
        out += " temp=23.5 \xe6\xb8\xa9\xe5\xba\xa6 ok status=ready\r\n";
    }
    out.truncate(size);
    return out;
}

// Serves `connections` clients on one port: at `rate` bytes/s each, or as fast as each takes.
int runSender(quint16 port, double rate, double seconds, int connections)
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, port))
        return 2;
    std::printf("listening\n");
    std::fflush(stdout);
    std::vector<QTcpSocket *> sockets;
    while (int(sockets.size()) < connections) {
        if (!server.waitForNewConnection(10000))
            return 3;
        while (QTcpSocket *s = server.nextPendingConnection())
            sockets.push_back(s);
    }
    const QByteArray block = sampleText(64 * 1024);
    std::vector<qint64> sent(sockets.size(), 0);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000) {
        for (size_t i = 0; i < sockets.size(); ++i) {
            QTcpSocket *socket = sockets[i];
            const double due = rate > 0 ? rate * double(clock.elapsed()) / 1000.0 : double(sent[i] + block.size());
            if (double(sent[i]) < due && socket->bytesToWrite() < 4 * block.size()) {
                const qint64 n = rate > 0 ? qMin<qint64>(block.size(), qint64(due) - sent[i] + 1) : block.size();
                sent[i] += socket->write(block.constData(), n);
            }
            socket->waitForBytesWritten(rate > 0 ? 1 : 0);
        }
        if (rate > 0)
            QThread::usleep(500);
    }
    return 0;
}

// Writes sample text into a pty as fast as its reader takes it; prints the total.
int runPtyWriter(const QString &path, double seconds)
{
    // Non-blocking, so that the writer ends on time even when nobody reads any more.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return 2;
    const QByteArray block = sampleText(16 * 1024);
    QElapsedTimer clock;
    clock.start();
    qint64 total = 0;
    qsizetype at = 0;
    while (clock.elapsed() < seconds * 1000) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = ::write(fd, block.constData() + at, size_t(block.size() - at));
        if (n > 0) {
            total += n;
            at = (at + n) % block.size();
        }
    }
    std::printf("%lld\n", static_cast<long long>(total));
    std::fflush(stdout);
    ::close(fd);
    return 0;
}

struct Result
{
    double in = 0, shown = 0, logged = 0; // MB/s
    double cpuPerMB = 0;
    double p50 = 0, p99 = 0, max = 0;
    long rss = 0;
};

qint64 folderBytes(const QString &folder)
{
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        total += QFileInfo(it.next()).size();
    return total;
}

// Runs the panes' event loop for `seconds`, timing a 20 ms probe.
Result measure(std::vector<std::unique_ptr<SerialPortWidget>> &panes, double seconds, const QString &logFolder)
{
    std::vector<double> lateness;
    QElapsedTimer clock;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(20);
    qint64 last = -1;
    long maxRss = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0)
            lateness.push_back(std::max(0.0, double(now - last) / 1e6 - 20.0));
        last = now;
        if (lateness.size() % 50 == 0)
            maxRss = std::max(maxRss, rssKiB());
    });
    const double cpu0 = cpuSeconds();
    clock.start();
    probe.start();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    probe.stop();
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    Result r;
    r.rss = std::max(maxRss, rssKiB());
    quint64 in = 0;
    qint64 shown = 0;
    for (auto &pane : panes) {
        in += pane->session()->rxByteCount();
        shown += pane->session()->viewShownBytes();
        pane->closePort(); // writes what the log still holds
    }
    r.in = double(in) / elapsed / 1e6;
    r.shown = double(shown) / elapsed / 1e6;
    r.logged = double(folderBytes(logFolder)) / elapsed / 1e6;
    r.cpuPerMB = cpu / std::max(1e-9, double(in) / 1e6);
    std::sort(lateness.begin(), lateness.end());
    if (!lateness.empty()) {
        r.p50 = lateness[lateness.size() / 2];
        r.p99 = lateness[std::min(lateness.size() - 1, lateness.size() * 99 / 100)];
        r.max = lateness.back();
    }
    return r;
}

FormatSetting paneSettings(bool hex, bool stamps, const QString &logFolder, int index)
{
    FormatSetting s;
    s.ReceiveMsgForamt = hex ? HexFormat : TextFormat;
    s.DisplayMsgTime = stamps;
    s.LogSaveFlag = qEnvironmentVariableIsEmpty("QUILLON_BENCH_NO_LOG");
    s.LogTimestampEnabled = stamps;
    s.LogRotateAtSize = false;
    s.NeedHourTimeStamp = false;
    s.LogFilePath = QDir(logFolder).filePath(QStringLiteral("pane-%1.log").arg(index));
    return s;
}

Result runTcp(int panes, double rate, bool hex, bool stamps, double seconds)
{
    QTemporaryDir logs;
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    QProcess sender;
    sender.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--send"), QString::number(port), QString::number(rate), QString::number(seconds + 2),
                  QString::number(panes)});
    sender.waitForReadyRead(5000);
    std::vector<std::unique_ptr<SerialPortWidget>> views;
    for (int i = 0; i < panes; ++i) {
        FormatSetting s = paneSettings(hex, stamps, logs.path(), i);
        s.ConnMode = TcpClient;
        s.LastTargetHost = {QStringLiteral("127.0.0.1")};
        s.LastTargetPort = port;
        auto pane = std::make_unique<SerialPortWidget>(s, i);
        pane->resize(900, 600);
        pane->show();
        pane->openPort();
        views.push_back(std::move(pane));
    }
    const Result r = measure(views, seconds, logs.path());
    sender.kill();
    sender.waitForFinished(3000);
    return r;
}

// A socat pty pair; the writer feeds end A, the consumer reads end B.
struct PtyPair
{
    QTemporaryDir dir;
    QProcess socat;
    QString a() const { return dir.filePath(QStringLiteral("A")); }
    QString b() const { return dir.filePath(QStringLiteral("B")); }
    bool start()
    {
        socat.start(QStringLiteral("socat"), {QStringLiteral("pty,raw,echo=0,link=") + a(),
                                              QStringLiteral("pty,raw,echo=0,link=") + b()});
        for (int i = 0; i < 100 && !(QFileInfo::exists(a()) && QFileInfo::exists(b())); ++i)
            QThread::msleep(20);
        return QFileInfo::exists(b());
    }
    ~PtyPair()
    {
        socat.kill();
        socat.waitForFinished(3000);
    }
};

QProcess *startWriter(const QString &path, double seconds)
{
    auto *writer = new QProcess;
    writer->start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--pty-write"), path, QString::number(seconds)});
    return writer;
}

double writerMBps(QProcess *writer, double seconds)
{
    writer->waitForFinished(int(seconds * 1000) + 10000);
    const double total = writer->readAllStandardOutput().trimmed().toDouble();
    delete writer;
    return total / seconds / 1e6;
}

// socat alone draining end B of a pair: the rate the pair itself reaches.
double socatPtyRate(double seconds)
{
    PtyPair pair;
    if (!pair.start())
        return 0;
    QProcess reader;
    reader.setStandardOutputFile(QStringLiteral("/dev/null"));
    reader.start(QStringLiteral("socat"), {QStringLiteral("-u"), QStringLiteral("FILE:%1,raw,echo=0").arg(pair.b()),
                                           QStringLiteral("STDOUT")});
    reader.waitForStarted();
    QThread::msleep(200);
    QProcess *writer = startWriter(pair.a(), seconds);
    const double rate = writerMBps(writer, seconds);
    reader.kill();
    reader.waitForFinished(3000);
    return rate;
}

Result runPty(bool hex, bool stamps, double seconds, double *writerRate)
{
    PtyPair pair;
    QTemporaryDir logs;
    if (!pair.start())
        return {};
    FormatSetting s = paneSettings(hex, stamps, logs.path(), 0);
    s.ConnMode = SerialPort;
    s.PortName = pair.b();
    std::vector<std::unique_ptr<SerialPortWidget>> views;
    views.push_back(std::make_unique<SerialPortWidget>(s, 0));
    views.back()->resize(900, 600);
    views.back()->show();
    views.back()->openPort();
    QProcess *writer = startWriter(pair.a(), seconds);
    const Result r = measure(views, seconds, logs.path());
    *writerRate = writerMBps(writer, seconds);
    return r;
}

// Exec of the real program to its first painted window, with a preset configuration.
double startupMs(int panes)
{
    QTemporaryDir home;
    const QString config = home.filePath(QStringLiteral("config"));
    QDir().mkpath(config + QStringLiteral("/VORTANE"));
    QFile conf(config + QStringLiteral("/VORTANE/Quillon.conf"));
    if (!conf.open(QIODevice::WriteOnly))
        return -1;
    conf.write("[General]\nCONFIG_FILE_PATH=" + home.filePath(QStringLiteral("cfg")).toUtf8() + "\n");
    conf.close();
    QStringList arguments;
    if (panes > 1) {
        SettingsDocument doc;
        doc.PortNumber = panes;
        doc.ColumnNumber = 4;
        for (int i = 0; i < panes; ++i) {
            FormatSetting s;
            s.ConnMode = TcpClient;
            s.LastTargetPort = 7000 + i;
            doc.panes.append(s);
        }
        const QString path = home.filePath(QStringLiteral("sixteen.qln"));
        writeFile(path, doc);
        arguments << path;
    }
    QProcess quillon;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("quillon.app.info=true"));
    quillon.setProcessEnvironment(env);
    quillon.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    quillon.start(QStringLiteral(QUILLON_EXECUTABLE), arguments);
    QByteArray output;
    double ms = -1;
    while (clock.elapsed() < 20000 && quillon.waitForReadyRead(20000)) {
        output += quillon.readAll();
        if (output.contains("first paint")) {
            ms = double(clock.nsecsElapsed()) / 1e6;
            break;
        }
    }
    quillon.kill();
    quillon.waitForFinished(3000);
    return ms;
}

void printRow(const char *name, const Result &r)
{
    std::printf("%-32s %6.1f %7.1f %7.1f %9.2f %9.2f %9.2f %8.4f %8.1f\n", name, r.p50, r.p99, r.max, r.in, r.shown,
                r.logged, r.cpuPerMB, double(r.rss) / 1024.0);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 6 && qstrcmp(argv[1], "--send") == 0) {
        QCoreApplication app(argc, argv);
        return runSender(quint16(atoi(argv[2])), atof(argv[3]), atof(argv[4]), atoi(argv[5]));
    }
    if (argc == 4 && qstrcmp(argv[1], "--pty-write") == 0)
        return runPtyWriter(QString::fromLocal8Bit(argv[2]), atof(argv[3]));
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? atof(argv[1]) : 20.0;
    const QString filter = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    auto wanted = [&](const char *name) { return filter.isEmpty() || QString::fromLatin1(name).contains(filter); };
    std::printf("%-32s %6s %7s %7s %9s %9s %9s %8s %8s\n", "case", "p50 ms", "p99 ms", "max ms", "in MB/s", "shown",
                "logged", "CPU s/MB", "RSS MiB");
    struct Case
    {
        const char *name;
        int panes;
        double rate;
        bool hex, stamps;
    };
    const Case tcpCases[] = {
        {"1 pane text 2 MB/s", 1, 2e6, false, false},
        {"1 pane text 2 MB/s stamps", 1, 2e6, false, true},
        {"1 pane hex 2 MB/s", 1, 2e6, true, false},
        {"1 pane hex 2 MB/s stamps", 1, 2e6, true, true},
        {"1 pane text full speed", 1, 0, false, false},
        {"1 pane text full speed stamps", 1, 0, false, true},
        {"1 pane hex full speed", 1, 0, true, false},
        {"1 pane hex full speed stamps", 1, 0, true, true},
        {"16 panes text 92 KB/s each", 16, 92160, false, false},
        {"16 panes full speed", 16, 0, false, false},
    };
    for (const Case &c : tcpCases) {
        if (wanted(c.name))
            printRow(c.name, runTcp(c.panes, c.rate, c.hex, c.stamps, seconds));
    }
    const Case ptyCases[] = {
        {"1 pane pty full speed", 1, 0, false, false},
        {"1 pane pty full speed hex", 1, 0, true, false},
        {"1 pane pty full speed stamps", 1, 0, false, true},
    };
    for (const Case &c : ptyCases) {
        if (!wanted(c.name))
            continue;
        if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty()) {
            std::printf("%-32s socat is not installed\n", c.name);
            continue;
        }
        double writer = 0;
        const Result r = runPty(c.hex, c.stamps, seconds, &writer);
        printRow(c.name, r);
        std::printf("%-32s %9.2f MB/s through the pair; socat alone %.2f MB/s\n", "", writer, socatPtyRate(seconds));
    }
    for (int panes : {1, 16}) {
        const QByteArray name = "start-up, " + QByteArray::number(panes) + (panes > 1 ? " panes" : " pane");
        if (!wanted(name.constData()))
            continue;
        std::vector<double> times;
        for (int i = 0; i < 5; ++i)
            times.push_back(startupMs(panes));
        std::sort(times.begin(), times.end());
        std::printf("%-32s exec to first paint: median %.0f ms, best %.0f ms, worst %.0f ms (5 runs)\n",
                    name.constData(), times[2], times.front(), times.back());
    }
    return 0;
}
