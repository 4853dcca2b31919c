#include "bridge/bridgemanager.h"
#include "connection/connectionmode.h"
#include "session/portsession.h"
#include "tests/support/peers.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

std::unique_ptr<PortSession> makeSession(int mode, int index, quint16 port, const QString &device = QString())
{
    FormatSetting s;
    s.ConnMode = mode;
    s.PortName = device;
    s.LastTargetPort = port;
    return std::make_unique<PortSession>(s, index);
}

// QTest::qWaitFor sleeps 10 ms between passes, far too slow for streams.
bool runUntil(const std::function<bool()> &done, int ms)
{
    QEventLoop loop;
    QTimer check;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > ms)
            loop.quit();
    });
    check.start(5);
    if (!done())
        loop.exec();
    return done();
}

qint64 residentKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// One direction of a test stream: random bytes of every value written with flow
// control, and a running hash of each side.
struct Stream
{
    explicit Stream(qint64 total) : total(total) {}
    void pump(QIODevice *out)
    {
        while (sent < total && out->bytesToWrite() < (256 << 10)) {
            QByteArray block(qMin<qint64>(64 << 10, total - sent), Qt::Uninitialized);
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
            sentHash.addData(block);
            sent += out->write(block);
        }
    }
    void take(const QByteArray &bytes)
    {
        receivedHash.addData(bytes);
        received += bytes.size();
    }
    bool complete() const { return received == total; }
    bool intact() { return sentHash.result() == receivedHash.result(); }

    qint64 total;
    qint64 sent = 0;
    qint64 received = 0;
    QCryptographicHash sentHash{QCryptographicHash::Sha256};
    QCryptographicHash receivedHash{QCryptographicHash::Sha256};
};

} // namespace

// Bridges on real sockets and ptys, where the wire is the point.
class tst_BridgeWire : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void gatewayCarriesEveryByteBothWays();
    void heldSourceStaysBounded();
    void floodGuardStopsACableLoop();
    void clientsTakeTurns();
    void clientVanishesMidStream();

private:
    QTemporaryDir m_dir;
};

void tst_BridgeWire::initTestCase()
{
    if (!PtyPair::available())
        QSKIP("socat is not installed");
    QVERIFY(m_dir.isValid());
}

void tst_BridgeWire::gatewayCarriesEveryByteBothWays()
{
    PtyPair pty(m_dir.filePath(QStringLiteral("gateway")));
    QVERIFY(QDir().mkpath(pty.folder()) && pty.start());
    const quint16 port = TestPeers::freePort();
    auto server = makeSession(TcpServer, 0, port);
    auto serial = makeSession(SerialPort, 1, 0, pty.a());
    BridgeManager manager;
    manager.setPanes({server.get(), serial.get()});
    QVERIFY(manager.add(BridgeConfig()));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(client.waitForConnected(5000));
    QSerialPort device(pty.b());
    QVERIFY(device.open(QIODevice::ReadWrite));

    Stream up(16 << 20), down(16 << 20);
    connect(&client, &QTcpSocket::bytesWritten, this, [&] { up.pump(&client); });
    connect(&device, &QSerialPort::bytesWritten, this, [&] { down.pump(&device); });
    connect(&device, &QSerialPort::readyRead, this, [&] { up.take(device.readAll()); });
    connect(&client, &QTcpSocket::readyRead, this, [&] { down.take(client.readAll()); });
    up.pump(&client);
    down.pump(&device);
    QVERIFY2(runUntil([&] { return up.complete() && down.complete(); }, 180000),
             qPrintable(QStringLiteral("up %1, down %2").arg(up.received).arg(down.received)));
    QVERIFY(up.intact());
    QVERIFY(down.intact());
    const BridgeLink *link = manager.link(0);
    QCOMPARE(link->pipe(BridgeLink::EndA).counters().bytesDropped + link->pipe(BridgeLink::EndB).counters().bytesDropped,
             qint64(0));
    QCOMPARE(link->state(), BridgeState::Running);
}

// A sender flooding a TCP server end towards a consumer that reads 1 KiB every 10 ms,
// then not at all for five seconds: the source is held, the queue and the memory stay
// within bounds, and once the consumer reads again everything arrives.
void tst_BridgeWire::heldSourceStaysBounded()
{
    QTcpServer consumer;
    QVERIFY(consumer.listen(QHostAddress::LocalHost, 0));
    const quint16 entry = TestPeers::freePort();
    auto server = makeSession(TcpServer, 0, entry);
    auto client = makeSession(TcpClient, 1, consumer.serverPort());
    BridgeManager manager;
    manager.setPanes({server.get(), client.get()});
    BridgeConfig config;
    config.Direction = BridgeConfig::AToB;
    QVERIFY(manager.add(config));
    QVERIFY(consumer.waitForNewConnection(5000));
    QTcpSocket *reader = consumer.nextPendingConnection();
    reader->setReadBufferSize(1024);

    QTcpSocket sender;
    sender.connectToHost(QHostAddress::LocalHost, entry);
    QVERIFY(sender.waitForConnected(5000));
    Stream stream(qint64(1) << 40);
    connect(&sender, &QTcpSocket::bytesWritten, this, [&] { stream.pump(&sender); });
    stream.pump(&sender);
    QTimer slowly;
    connect(&slowly, &QTimer::timeout, this, [&] { stream.take(reader->read(1024)); });
    slowly.start(10);

    const BridgeLink *link = manager.link(0);
    const BridgePipe &pipe = link->pipe(BridgeLink::EndA);
    QVERIFY(QTest::qWaitFor([&] { return pipe.isSourceHeld(); }, 20000));
    QTest::qWait(1000);
    const qint64 rssHeld = residentKiB();
    QTest::qWait(2000);
    slowly.stop(); // the destination takes nothing now
    QTest::qWait(5000);
    QVERIFY(pipe.isSourceHeld());
    QVERIFY(sender.bytesToWrite() > 0); // the window towards the bridge is closed
    QVERIFY2(residentKiB() - rssHeld < 4096, qPrintable(QString::number(residentKiB() - rssHeld)));
    QVERIFY(pipe.queuePeak() <= pipe.queueLimit());

    stream.total = stream.sent;
    reader->setReadBufferSize(0);
    connect(reader, &QTcpSocket::readyRead, this, [&] { stream.take(reader->readAll()); });
    stream.take(reader->readAll());
    QVERIFY(runUntil([&] { return stream.complete(); }, 60000));
    QVERIFY(stream.intact());
    QCOMPARE(pipe.counters().bytesDropped, qint64(0));
    QVERIFY(!pipe.isSourceHeld());
}

// Two serial panes bridged both ways whose wires are joined to each other: what one
// pane sends comes back forever. The guard trips; once the loop is gone, resume
// brings the bridge back.
void tst_BridgeWire::floodGuardStopsACableLoop()
{
    PtyPair x(m_dir.filePath(QStringLiteral("loopX"))), y(m_dir.filePath(QStringLiteral("loopY")));
    QVERIFY(QDir().mkpath(x.folder()) && QDir().mkpath(y.folder()) && x.start() && y.start());
    auto paneX = makeSession(SerialPort, 0, 0, x.a());
    auto paneY = makeSession(SerialPort, 1, 0, y.a());
    BridgeManager manager;
    manager.setPanes({paneX.get(), paneY.get()});
    BridgeConfig config;
    config.FloodRateBytesPerSec = 100000;
    config.FloodWindowMs = 500;
    QVERIFY(manager.add(config));
    QProcess cable;
    cable.start(PtyPair::socat(), {x.b() + QStringLiteral(",raw,echo=0"), y.b() + QStringLiteral(",raw,echo=0")});
    QVERIFY(cable.waitForStarted(5000));
    QTest::qWait(300);

    QTimer inject;
    connect(&inject, &QTimer::timeout, this, [&] { paneX->send(QByteArray(4096, 'L')); });
    inject.start(20);
    const BridgeLink *link = manager.link(0);
    QVERIFY(runUntil([&] { return link->state() == BridgeState::Suspended; }, 20000));
    QCOMPARE(link->stateText(), QStringLiteral("Suspended: Flood guard tripped (possible cable loop)"));
    inject.stop();
    TestPeers::stop(cable);

    QSerialPort farY(y.b()), farX(x.b());
    QVERIFY(farY.open(QIODevice::ReadWrite) && farX.open(QIODevice::ReadWrite));
    manager.resume(0);
    QCOMPARE(link->state(), BridgeState::Running);
    farY.write("ping after the loop");
    QByteArray arrived; // what the loop left queued comes first
    QVERIFY(QTest::qWaitFor([&] { return (arrived += farX.readAll()).endsWith("ping after the loop"); }, 5000));
    QTest::qWait(1000);
    QCOMPARE(link->state(), BridgeState::Running);
}

// Three clients of a TCP server end take turns at a device that answers each line
// after 30 ms; each client gets only its own answers.
void tst_BridgeWire::clientsTakeTurns()
{
    QTcpServer device;
    QVERIFY(device.listen(QHostAddress::LocalHost, 0));
    const quint16 entry = TestPeers::freePort();
    auto server = makeSession(TcpServer, 0, entry);
    auto towardsDevice = makeSession(TcpClient, 1, device.serverPort());
    BridgeManager manager;
    manager.setPanes({server.get(), towardsDevice.get()});
    BridgeConfig config;
    config.FanoutMode = BridgeConfig::TakeTurns;
    config.FramingMode = BridgeConfig::CutOnDelimiter;
    QVERIFY(manager.add(config));
    QVERIFY(device.waitForNewConnection(5000));
    QTcpSocket *wire = device.nextPendingConnection();
    QByteArray pending;
    connect(wire, &QTcpSocket::readyRead, this, [&] {
        pending += wire->readAll();
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            const QByteArray line = pending.left(end + 1);
            QTimer::singleShot(30, wire, [wire, line] { wire->write("re:" + line); });
        }
    });

    std::array<QTcpSocket, 3> clients;
    std::array<QByteArray, 3> heard;
    for (int c = 0; c < 3; ++c) {
        clients[c].connectToHost(QHostAddress::LocalHost, entry);
        QVERIFY(clients[c].waitForConnected(5000));
        connect(&clients[c], &QTcpSocket::readyRead, this, [&, c] { heard[c] += clients[c].readAll(); });
    }
    QTest::qWait(200);
    for (int c = 0; c < 3; ++c)
        clients[c].write(QStringLiteral("c%1-1\nc%1-2\nc%1-3\nc%1-4\n").arg(c).toLatin1());
    QVERIFY(QTest::qWaitFor([&] { return heard[0].count('\n') + heard[1].count('\n') + heard[2].count('\n') >= 12; },
                            10000));
    for (int c = 0; c < 3; ++c)
        QCOMPARE(heard[c], QStringLiteral("re:c%1-1\nre:c%1-2\nre:c%1-3\nre:c%1-4\n").arg(c).toLatin1());
    const BridgeLink *link = manager.link(0);
    QCOMPARE(link->pipe(BridgeLink::EndA).counters().framesForwarded, qint64(12));
    QCOMPARE(link->pipe(BridgeLink::EndB).counters().framesForwarded, qint64(12));
    QCOMPARE(link->arbiterUnanswered() + link->arbiterDropped() + link->arbiterWaiting(), qint64(0));
}

// The only client of a gateway goes away while the device streams; what the device
// sends meanwhile waits and reaches the next client in order.
void tst_BridgeWire::clientVanishesMidStream()
{
    PtyPair pty(m_dir.filePath(QStringLiteral("vanish")));
    QVERIFY(QDir().mkpath(pty.folder()) && pty.start());
    const quint16 port = TestPeers::freePort();
    auto server = makeSession(TcpServer, 0, port);
    auto serial = makeSession(SerialPort, 1, 0, pty.a());
    BridgeManager manager;
    manager.setPanes({server.get(), serial.get()});
    QVERIFY(manager.add(BridgeConfig()));
    QSerialPort device(pty.b());
    QVERIFY(device.open(QIODevice::ReadWrite));
    QByteArray stream;
    for (int i = 0; i < 40000; ++i)
        stream += QByteArray::number(i) + ' ';

    auto first = std::make_unique<QTcpSocket>();
    first->connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(first->waitForConnected(5000));
    QTest::qWait(100);
    device.write(stream.left(stream.size() / 2));
    QVERIFY(QTest::qWaitFor([&] { return first->bytesAvailable() > 1000; }, 5000));
    first->abort();
    first.reset();
    device.write(stream.mid(stream.size() / 2));
    QTest::qWait(500);

    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(second.waitForConnected(5000));
    QByteArray heard;
    QVERIFY(QTest::qWaitFor([&] { return (heard += second.readAll()).endsWith(stream.right(100)); }, 10000));
    QVERIFY(stream.endsWith(heard)); // a gapless, in-order tail
    QVERIFY(heard.size() >= stream.size() / 2);
    const BridgeLink *link = manager.link(0);
    QCOMPARE(link->pipe(BridgeLink::EndB).counters().bytesDropped, qint64(0));
    second.write("still both ways");
    QVERIFY(QTest::qWaitFor([&] { return device.readAll().contains("both ways"); }, 5000));
}

QTEST_GUILESS_MAIN(tst_BridgeWire)
#include "tst_bridgewire.moc"
