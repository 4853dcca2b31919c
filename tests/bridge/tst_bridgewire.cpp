#include "bridge/bridgemanager.h"
#include "connection/connectionmode.h"
#include "session/portsession.h"
#include "tests/bridge/bridgetest.h"
#include "tests/support/peers.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

FormatSetting end(int mode, quint16 port, const QString &device = QString())
{
    return FormatSetting{.ConnMode = mode, .PortName = device, .LastTargetPort = port};
}

// Two sessions and a manager running one bridge between them.
struct Rig
{
    Rig(const FormatSetting &a, const FormatSetting &b)
        : ends{std::make_unique<PortSession>(a, 0), std::make_unique<PortSession>(b, 1)}
    {
        manager.setPanes({ends[0].get(), ends[1].get()});
    }
    std::array<std::unique_ptr<PortSession>, 2> ends;
    BridgeManager manager;
    BridgeLink *link() const { return manager.link(0); }
    const BridgePipe &pipe(int source) const { return link()->pipe(BridgeLink::End(source)); }
};

// One direction of a test stream: random bytes written with flow control, and a
// running hash of each side.
struct Stream
{
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
    bool intact() { return received == total && sentHash.result() == receivedHash.result(); }

    qint64 total;
    qint64 sent = 0;
    qint64 received = 0;
    QCryptographicHash sentHash{QCryptographicHash::Sha256};
    QCryptographicHash receivedHash{QCryptographicHash::Sha256};
};

} // namespace

using namespace BridgeTest;

// Bridges on real sockets and ptys, where the wire is the point.
class tst_BridgeWire : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!PtyPair::available())
            QSKIP("socat is not installed");
    }

    // A TCP server end and a serial end on a pty: 16 MiB of every byte value each way.
    // Then the client vanishes while the device streams; what the device sends meanwhile
    // waits and reaches the next client, gapless and in order.
    void gatewayCarriesEveryByteBothWays()
    {
        PtyPair pty;
        QVERIFY(pty.start());
        const quint16 port = TestPeers::freePort();
        Rig rig(end(TcpServer, port), end(SerialPort, 0, pty.a()));
        QVERIFY(rig.manager.add(BridgeConfig()));
        auto client = std::make_unique<QTcpSocket>();
        QSerialPort device(pty.b());
        QVERIFY(connectTo(*client, port) && device.open(QIODevice::ReadWrite));

        Stream up{16 << 20}, down{16 << 20};
        connect(client.get(), &QTcpSocket::bytesWritten, this, [&] { up.pump(client.get()); });
        connect(&device, &QSerialPort::bytesWritten, this, [&] { down.pump(&device); });
        const auto toDevice = connect(&device, &QSerialPort::readyRead, this, [&] { up.take(device.readAll()); });
        connect(client.get(), &QTcpSocket::readyRead, this, [&] { down.take(client->readAll()); });
        up.pump(client.get());
        down.pump(&device);
        QVERIFY(runUntil([&] { return up.received == up.total && down.received == down.total; }, 180000));
        QVERIFY(up.intact() && down.intact());
        QCOMPARE(rig.link()->state(), BridgeState::Running);

        QByteArray stream;
        for (int i = 0; i < 40000; ++i)
            stream += QByteArray::number(i) + ' ';
        device.write(stream.left(stream.size() / 2));
        QVERIFY(runUntil([&] { return down.received > down.total + 1000; }, 5000));
        client->abort();
        client.reset();
        device.write(stream.mid(stream.size() / 2));
        QTest::qWait(500);
        QTcpSocket second;
        QVERIFY(connectTo(second, port));
        QByteArray heard;
        QVERIFY(runUntil([&] { return (heard += second.readAll()).endsWith(stream.right(100)); }, 10000));
        QVERIFY(stream.endsWith(heard) && heard.size() >= stream.size() / 2);
        disconnect(toDevice);
        second.write("still both ways");
        QByteArray atDevice;
        QVERIFY(runUntil([&] { return (atDevice += device.readAll()).endsWith("still both ways"); }, 5000));
        QCOMPARE(rig.pipe(0).counters().bytesDropped + rig.pipe(1).counters().bytesDropped, qint64(0));
    }

    // A sender flooding a TCP server end towards a consumer that reads 1 KiB every 10 ms,
    // then not at all for five seconds: the source is held, the queue and the memory stay
    // within bounds, and once the consumer reads again everything arrives.
    void heldSourceStaysBounded()
    {
        QTcpServer consumer;
        QVERIFY(consumer.listen(QHostAddress::LocalHost, 0));
        const quint16 entry = TestPeers::freePort();
        Rig rig(end(TcpServer, entry), end(TcpClient, consumer.serverPort()));
        QVERIFY(rig.manager.add(BridgeConfig{.Direction = BridgeConfig::AToB}) && consumer.waitForNewConnection(5000));
        QTcpSocket *reader = consumer.nextPendingConnection();
        reader->setReadBufferSize(1024);
        QTcpSocket sender;
        QVERIFY(connectTo(sender, entry));
        Stream stream{qint64(1) << 40};
        connect(&sender, &QTcpSocket::bytesWritten, this, [&] { stream.pump(&sender); });
        stream.pump(&sender);
        QTimer slowly;
        connect(&slowly, &QTimer::timeout, this, [&] { stream.take(reader->read(1024)); });
        slowly.start(10);

        const BridgePipe &pipe = rig.pipe(0);
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
        QVERIFY(runUntil([&] { return stream.received == stream.total; }, 60000));
        QVERIFY(stream.intact());
        QCOMPARE(pipe.counters().bytesDropped, qint64(0));
        QVERIFY(!pipe.isSourceHeld());
    }

    // Two serial panes bridged both ways whose wires are joined to each other: what one
    // pane sends comes back forever. The guard trips; once the loop is gone, resume
    // brings the bridge back.
    // Such a loop soon jams itself: the held source is what would drain the sink. The
    // window in which it jams is judged on what came in before, which on a busy machine
    // can be little, so the rate is set low enough for any flowing loop.
    void floodGuardStopsACableLoop()
    {
        PtyPair x, y;
        QVERIFY(x.start() && y.start());
        Rig rig(end(SerialPort, 0, x.a()), end(SerialPort, 0, y.a()));
        QVERIFY(rig.manager.add(BridgeConfig{.FloodRateBytesPerSec = 1024, .FloodWindowMs = 1000}));
        QProcess cable;
        cable.start(PtyPair::socat(), {x.b() + QStringLiteral(",raw,echo=0"), y.b() + QStringLiteral(",raw,echo=0")});
        QVERIFY(cable.waitForStarted(5000));
        QTest::qWait(300);
        QTimer inject;
        // Faster than the loop turns, so that its backlog grows even on a busy machine.
        connect(&inject, &QTimer::timeout, this, [&] { rig.ends[0]->send(QByteArray(16384, 'L')); });
        inject.start(10);
        QVERIFY(runUntil([&] { return rig.link()->state() == BridgeState::Suspended; }, 20000));
        QCOMPARE(rig.link()->stateText(), QStringLiteral("Suspended: Flood guard tripped (possible cable loop)"));
        inject.stop();
        TestPeers::stop(cable);

        QSerialPort farY(y.b()), farX(x.b());
        QVERIFY(farY.open(QIODevice::ReadWrite) && farX.open(QIODevice::ReadWrite));
        rig.manager.resume(0);
        QCOMPARE(rig.link()->state(), BridgeState::Running);
        farY.write("ping after the loop");
        QByteArray arrived; // what the loop left queued comes first
        QVERIFY(runUntil([&] { return (arrived += farX.readAll()).endsWith("ping after the loop"); }, 20000));
        QTest::qWait(1000);
        QCOMPARE(rig.link()->state(), BridgeState::Running);
    }

    // Three clients of a TCP server end take turns at a device that answers each line
    // after 30 ms, but one never; each client gets only its own answers, and the silent
    // request's turn ends after the response time.
    void clientsTakeTurns()
    {
        QTcpServer device;
        QVERIFY(device.listen(QHostAddress::LocalHost, 0));
        const quint16 entry = TestPeers::freePort();
        Rig rig(end(TcpServer, entry), end(TcpClient, device.serverPort()));
        const BridgeConfig config{.FramingMode = BridgeConfig::CutOnDelimiter, .FanoutMode = BridgeConfig::TakeTurns,
                                  .ArbiterResponseTimeoutMs = 300};
        QVERIFY(rig.manager.add(config) && device.waitForNewConnection(5000));
        QTcpSocket *wire = device.nextPendingConnection();
        connect(wire, &QTcpSocket::readyRead, this, [wire] {
            while (wire->canReadLine()) {
                const QByteArray line = wire->readLine();
                if (line != "c2-4\n")
                    QTimer::singleShot(30, wire, [wire, line] { wire->write("re:" + line); });
            }
        });
        std::array<QTcpSocket, 3> clients;
        std::array<QByteArray, 3> heard;
        for (int c = 0; c < 3; ++c) {
            QVERIFY(connectTo(clients[c], entry));
            connect(&clients[c], &QTcpSocket::readyRead, this, [&, c] { heard[c] += clients[c].readAll(); });
        }
        QTest::qWait(200);
        for (int c = 0; c < 3; ++c)
            clients[c].write(QStringLiteral("c%1-1\nc%1-2\nc%1-3\nc%1-4\n").arg(c).toLatin1());
        QVERIFY(QTest::qWaitFor([&] { return rig.link()->arbiterUnanswered() == 1 && rig.link()->arbiterWaiting() == 0; },
                                10000));
        for (int c = 0; c < 3; ++c) {
            QByteArray answers; // all four, but the last of client 2; the last may still be on its way
            for (int r = 1; r <= (c == 2 ? 3 : 4); ++r)
                answers += QStringLiteral("re:c%1-%2\n").arg(c).arg(r).toLatin1();
            QTRY_COMPARE_WITH_TIMEOUT(heard[c], answers, 5000);
        }
        QCOMPARE(rig.pipe(0).counters().framesForwarded, qint64(12));
        QCOMPARE(rig.pipe(1).counters().framesForwarded, qint64(11));
        QCOMPARE(rig.link()->arbiterDropped(), qint64(0));
    }

    // The RFC 2217 client end against ser2net: the serial pane's line parameters reach
    // ser2net's tty when the link connects and again when the pane's line changes.
    void rfc2217ClientEndDrivesSer2net()
    {
        if (Ser2net::program().isEmpty())
            QSKIP("ser2net is not installed");
        PtyPair pty;
        QVERIFY(pty.start());
        Ser2net server;
        QVERIFY2(server.start(pty.b(), QStringLiteral("telnet(rfc2217),tcp"), pty.folder()), server.errors().constData());
        const FormatSetting serial{.ConnMode = SerialPort, .PortName = pty.a(), .BaudRate = 19200};
        Rig rig(serial, end(TcpClient, server.port()));
        QSignalSpy messages(&rig.manager, &BridgeManager::message);
        QVERIFY(rig.manager.add(BridgeConfig{.Name = QStringLiteral("remote"), .Protocol = BridgeConfig::Rfc2217Client}));

        const FormatSetting faster{.ConnMode = SerialPort, .PortName = pty.a(), .BaudRate = 38400, .StopBits = 2};
        // The first parameters go when the link connects, the next when the pane's line changes.
        for (const FormatSetting &line : {serial, faster}) {
            QVERIFY(line.BaudRate == serial.BaudRate || rig.ends[0]->applyLineEdit(line));
            QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 10000);
            QCOMPARE(messages.takeFirst().first().toString(), QStringLiteral("remote: sent the serial parameters to the remote port"));
            QTRY_VERIFY_WITH_TIMEOUT(TestPeers::sttyOf(pty.b()).startsWith(QStringLiteral("speed %1 baud").arg(line.BaudRate)), 5000);
            QCOMPARE(TestPeers::sttyOf(pty.b()).contains(QStringLiteral(" cstopb")), line.StopBits == 2);
        }
    }
};

QTEST_GUILESS_MAIN(tst_BridgeWire)
#include "tst_bridgewire.moc"
