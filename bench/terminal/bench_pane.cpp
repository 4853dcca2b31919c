// Feeds port panes in TCP client mode from a separate sender process and
// reports what the display path sustains: bytes/s shown, CPU seconds per MB,
// how late a 20 ms timer fires while the panes work, and the resident memory.
//
//   bench_pane [seconds-per-case [name-filter]]   run the table (or the rows whose name contains the filter)
//   bench_pane --send PORT RATE SECONDS    (internal) the sender process

#include "connection/connectioncontroller.h"
#include "settings/formatsetting.h"
#include "terminal/serialportwidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <vector>

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

int runSender(quint16 port, double rate, double seconds)
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, port))
        return 2;
    std::printf("listening\n");
    std::fflush(stdout);
    if (!server.waitForNewConnection(10000))
        return 3;
    QTcpSocket *socket = server.nextPendingConnection();
    const QByteArray block = sampleText(64 * 1024);
    QElapsedTimer clock;
    clock.start();
    qint64 sent = 0;
    while (clock.elapsed() < seconds * 1000) {
        const double due = rate > 0 ? rate * double(clock.elapsed()) / 1000.0 : double(sent + block.size());
        if (double(sent) < due && socket->bytesToWrite() < 4 * block.size()) {
            const qint64 n = rate > 0 ? qMin<qint64>(block.size(), qint64(due) - sent + 1) : block.size();
            sent += socket->write(block.constData(), n);
        }
        socket->waitForBytesWritten(rate > 0 ? 5 : 50);
        if (rate > 0)
            QThread::usleep(500);
    }
    socket->flush();
    socket->waitForBytesWritten(2000);
    return 0;
}

struct CaseResult
{
    double shownBytesPerSecond = 0;
    double cpuPerMB = 0;
    double p50 = 0, p99 = 0, max = 0;
    long rss = 0;
};

CaseResult runCase(int panes, double rate, bool hex, bool stamps, double seconds)
{
    std::vector<std::unique_ptr<QProcess>> senders;
    std::vector<std::unique_ptr<SerialPortWidget>> views;
    for (int i = 0; i < panes; ++i) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const quint16 port = probe.serverPort();
        probe.close();
        auto sender = std::make_unique<QProcess>();
        sender->start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--send"), QString::number(port), QString::number(rate), QString::number(seconds)});
        sender->waitForReadyRead(5000);
        FormatSetting s;
        s.ConnMode = TcpClient;
        s.LastTargetHost = {QStringLiteral("127.0.0.1")};
        s.LastTargetPort = port;
        s.ReceiveMsgForamt = hex ? 1 : 2;
        s.DisplayMsgTime = stamps;
        auto pane = std::make_unique<SerialPortWidget>(s, i);
        pane->resize(900, 600);
        pane->show();
        pane->openPort();
        senders.push_back(std::move(sender));
        views.push_back(std::move(pane));
    }

    std::vector<double> lateness;
    QElapsedTimer clock;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(20);
    qint64 last = -1;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0)
            lateness.push_back(std::max(0.0, double(now - last) / 1e6 - 20.0));
        last = now;
    });
    const double cpu0 = cpuSeconds();
    clock.start();
    probe.start();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    probe.stop();
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    quint64 shown = 0;
    for (auto &pane : views) {
        pane->session()->flushDisplay();
        shown += pane->session()->rxByteCount();
    }
    CaseResult r;
    r.shownBytesPerSecond = double(shown) / elapsed;
    r.cpuPerMB = (cpuSeconds() - cpu0) / std::max(1e-9, double(shown) / 1e6);
    std::sort(lateness.begin(), lateness.end());
    if (!lateness.empty()) {
        r.p50 = lateness[lateness.size() / 2];
        r.p99 = lateness[std::min(lateness.size() - 1, lateness.size() * 99 / 100)];
        r.max = lateness.back();
    }
    r.rss = rssKiB();
    for (auto &pane : views)
        pane->closePort();
    for (auto &sender : senders) {
        sender->kill();
        sender->waitForFinished(3000);
    }
    return r;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 5 && qstrcmp(argv[1], "--send") == 0) {
        QCoreApplication app(argc, argv);
        return runSender(quint16(atoi(argv[2])), atof(argv[3]), atof(argv[4]));
    }
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? atof(argv[1]) : 30.0;
    std::printf("%-34s %12s %10s %8s %8s %8s %9s\n", "case", "shown MB/s", "CPU s/MB", "p50 ms", "p99 ms",
                "max ms", "RSS MiB");
    struct Case
    {
        const char *name;
        int panes;
        double rate;
        bool hex, stamps;
    };
    const Case cases[] = {
        {"1 pane text 2 MB/s", 1, 2e6, false, false},
        {"1 pane text 2 MB/s stamps", 1, 2e6, false, true},
        {"1 pane hex 2 MB/s", 1, 2e6, true, false},
        {"1 pane hex 2 MB/s stamps", 1, 2e6, true, true},
        {"1 pane text full speed", 1, 0, false, false},
        {"1 pane text full speed stamps", 1, 0, false, true},
        {"1 pane hex full speed", 1, 0, true, false},
        {"1 pane hex full speed stamps", 1, 0, true, true},
        {"16 panes text 92 KB/s each", 16, 92160, false, false},
    };
    const QString filter = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    for (const Case &c : cases) {
        if (!filter.isEmpty() && !QString::fromLatin1(c.name).contains(filter))
            continue;
        const CaseResult r = runCase(c.panes, c.rate, c.hex, c.stamps, seconds);
        std::printf("%-34s %12.2f %10.3f %8.1f %8.1f %8.1f %9.1f\n", c.name, r.shownBytesPerSecond / 1e6, r.cpuPerMB,
                    r.p50, r.p99, r.max, double(r.rss) / 1024.0);
        std::fflush(stdout);
    }
    return 0;
}
