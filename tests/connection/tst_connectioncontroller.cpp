#include "connection/connectioncontroller.h"
#include "connection/multiclientserver.h"
#include "settings/formatsetting.h"
#include "tests/support/peers.h"
#include "tests/support/ptypair.h"

#include <QSerialPort>
#include <QSet>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

namespace {

// The texts a status or error spy saw, each with its time-out when it has one.
QStringList texts(const QSignalSpy &spy)
{
    QStringList out;
    for (const auto &args : spy)
        out << args.at(0).toString() + (args.size() > 1 ? QStringLiteral(" (%1)").arg(args.at(1).toInt()) : QString());
    return out;
}

bool anyStartsWith(const QSignalSpy &spy, const QString &prefix)
{
    const QStringList all = texts(spy);
    return std::any_of(all.begin(), all.end(), [&](const QString &t) { return t.startsWith(prefix); });
}

FormatSetting serialSettings(const QString &port, int baud = 115200)
{
    FormatSetting s;
    s.PortName = port;
    s.BaudRate = baud;
    return s;
}

// Reads from the controller until size bytes came.
QByteArray readAll(ConnectionController &c, int mode, qsizetype size)
{
    QByteArray got;
    (void)QTest::qWaitFor([&] { return (got += c.readAvailable(mode)).size() >= size; }, 20000);
    return got;
}

QByteArray receive(QUdpSocket &s)
{
    QByteArray d;
    if (s.waitForReadyRead(3000) || s.hasPendingDatagrams()) {
        d.resize(s.pendingDatagramSize());
        s.readDatagram(d.data(), d.size());
    }
    return d;
}

} // namespace

class tst_ConnectionController : public QObject
{
    Q_OBJECT
private slots:
    void keysAndTitlesTellPortsApart();
    void nothingOpen();
    void tcpClient();
    void tcpServer();
    void udp();
    void serialPty();
    void serialPortVanishes_data();
    void serialPortVanishes();
};

void tst_ConnectionController::keysAndTitlesTellPortsApart()
{
    QSet<QString> keys, titles;
    FormatSetting s;
    s.PortName = QStringLiteral("COM7");
    s.LastTargetHost = {QStringLiteral("10.1.1.1"), QStringLiteral("10.9.9.9")};
    s.LastTargetPort = 5020;
    for (s.ConnMode = SerialPort; s.ConnMode <= RemoteSerial; ++s.ConnMode) {
        const int mode = s.ConnMode;
        keys << ConnectionController::portKey(mode, 0) << ConnectionController::portKey(mode, 3);
        QVERIFY(ConnectionController::portKey(mode, 3).startsWith(ConnectionController::portKeyPrefix(mode)));
        const QString title = ConnectionController::connectionTitle(s, 4);
        titles << title;
        // Network titles show the port, and client titles the first target host.
        QCOMPARE(title.contains(QLatin1String("5020")), mode != SerialPort && mode != Unassigned);
        QCOMPARE(title.contains(QLatin1String("10.1.1.1")), isTcpClientMode(mode) || mode == UdpClient || mode == UdpGroup);
    }
    QCOMPARE(keys.size(), 16);
    QCOMPARE(titles.size(), 7); // a UDP client and a UDP group show the same target
    QCOMPARE(ConnectionController::portKey(42, 3), ConnectionController::portKey(Unassigned, 3));
    s.ConnMode = 11;
    QCOMPARE(ConnectionController::connectionTitle(s, 4), QStringLiteral("Port 5"));
    s.ConnMode = SerialPort;
    QCOMPARE(ConnectionController::connectionTitle(s, 4), s.PortName);
}

void tst_ConnectionController::nothingOpen()
{
    ConnectionController c;
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    QSignalSpy errors(&c, &ConnectionController::errorOccurred);
    for (int mode : {int(Unassigned), 8, -1}) {
        QVERIFY(!c.isConnectionOpen(mode) && c.readAvailable(mode).isEmpty() && c.pendingBytes(mode) == 0);
        c.closeConnection(mode, QString());
    }
    QVERIFY(c.serverBroadcast("x") == 0 && !c.serverSendTo(QStringLiteral("a:1"), "x") && !c.serverSendToIndex("x", 0));
    QVERIFY(c.serverTakeMessage(QStringLiteral("a:1")).isEmpty() && c.serverAddressText().isEmpty());
    QVERIFY(!c.udpSendTo("x", QStringLiteral("127.0.0.1"), 9) && c.udpSendToAllPeers("x") == 0 && !c.udpReplyToCurrentPeer("x"));

    // Line wishes are kept while the port is closed; a break needs an open port.
    QVERIFY(c.controlLineState(ConnectionController::Dtr));
    QVERIFY(c.setControlLine(ConnectionController::Dtr, false) && !c.controlLineState(ConnectionController::Dtr));
    QVERIFY(c.setControlLine(ConnectionController::Rts, false) && !c.controlLineState(ConnectionController::Rts));
    QVERIFY(!c.setControlLine(ConnectionController::Break, true) && !c.controlLineState(ConnectionController::Break));
    QVERIFY(c.setControlLine(ConnectionController::Break, false));
    QVERIFY(!c.setControlLine(9, true) && !c.controlLineState(9));
    QCOMPARE(texts(status), QStringList{QStringLiteral("Open the serial port before sending Break (3000)")});

    // A device that cannot be opened: quietly, or with the reason; sending tries to open it.
    status.clear();
    const FormatSetting s = serialSettings(QStringLiteral("/dev/quillon-no-such-device"));
    QVERIFY(!c.openSerialPort(s, QString(), QStringLiteral("NODEV"), true));
    QCOMPARE(errors.size(), 0);
    QVERIFY(!c.writeSerial("x", s, s.PortName));
    const QString prefix = QStringLiteral("Serial Port /dev/quillon-no-such-device OPEN FAILED! ERROR: ");
    QCOMPARE(errors.size(), 1);
    QVERIFY2(texts(status).first().startsWith(prefix) && texts(status).first().endsWith(QLatin1String("(5000)"))
                 && texts(status).first().size() > prefix.size() + 7, qPrintable(texts(status).first()));
    QVERIFY(!c.isConnectionOpen(SerialPort));
}

void tst_ConnectionController::tcpClient()
{
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    ConnectionController c;
    QSignalSpy arrived(&c, &ConnectionController::peerArrived);
    QSignalSpy gone(&c, &ConnectionController::tcpClientDisconnected);
    QSignalSpy errors(&c, &ConnectionController::errorOccurred);
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    c.connectTcpClient(QStringLiteral("localhost"), listener.serverPort());
    // Bytes written while connecting wait for the connection, in order.
    QVERIFY(!c.isConnectionOpen(TcpClient));
    QVERIFY(c.writeTcpClient("first,") && c.writeTcpClient("second,") && !c.writeTcpClient(QByteArray()));
    QCOMPARE(c.pendingBytes(TcpClient), qint64(13));
    QVERIFY(arrived.wait(5000));
    QCOMPARE(arrived.first().at(0).toString(), QString());
    QVERIFY(c.isConnectionOpen(RemoteSerial) && c.writeTcpClient("third"));
    QVERIFY(listener.hasPendingConnections() || listener.waitForNewConnection(5000));
    QTcpSocket *peer = listener.nextPendingConnection();
    QCOMPARE(TestPeers::readFor(*peer, 18, 5000), QByteArray("first,second,third"));
    peer->write("bye");
    QCOMPARE(readAll(c, TcpClient, 3), QByteArray("bye"));
    // Receive hold against a flood: nothing handed out, little buffered, the sender held
    // back by TCP; on release readyRead comes at once, not at the next arrival.
    c.setPaused(TcpClient, true);
    QByteArray flood(8 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < flood.size(); ++i)
        flood[i] = char(i ^ (i >> 9));
    peer->write(flood);
    QTest::qWait(300);
    QVERIFY(c.readAvailable(TcpClient).isEmpty() && c.tcpClientSocket()->bytesAvailable() <= 64 * 1024 && peer->bytesToWrite() > 0);
    QSignalSpy ready(&c, &ConnectionController::readyRead);
    c.setPaused(TcpClient, false);
    QCOMPARE(ready.size(), 1);
    QVERIFY(readAll(c, TcpClient, flood.size()) == flood);
    peer->disconnectFromHost();
    QVERIFY(gone.wait(5000));
    QVERIFY(!c.isConnectionOpen(TcpClient) && !c.writeTcpClient("nowhere"));

    // A refused connection is reported and forgotten, with what was waiting to be sent.
    const quint16 closedPort = TestPeers::freePort();
    c.connectTcpClient(QStringLiteral("127.0.0.1"), closedPort);
    QVERIFY(c.writeTcpClient("lost"));
    QVERIFY(errors.wait(5000));
    QVERIFY(errors.last().at(0).toString().startsWith(QStringLiteral("TCP connect FAILED: ")));
    QCOMPARE(texts(status).last(), errors.last().at(0).toString() + QStringLiteral(" (5000)"));
    QVERIFY(!c.tcpClientSocket() && c.pendingBytes(TcpClient) == 0);

    // A new attempt starts afresh; closing it is reported once.
    c.connectTcpClient(QStringLiteral("127.0.0.1"), listener.serverPort());
    QTRY_VERIFY_WITH_TIMEOUT(c.isConnectionOpen(TcpClient), 5000);
    gone.clear();
    errors.clear();
    c.closeConnection(TcpClient, QString());
    c.closeConnection(TcpClient, QString());
    QTest::qWait(50);
    QCOMPARE(gone.size(), 1);
    QCOMPARE(errors.size(), 0);
}

void tst_ConnectionController::tcpServer()
{
    ConnectionController c;
    c.setClientPolicy(1);
    c.setLowLatency(true);
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    QSignalSpy arrived(&c, &ConnectionController::peerArrived);
    QSignalSpy lost(&c, &ConnectionController::peerLost);
    QSignalSpy message(&c, &ConnectionController::serverMessage);
    c.listenTcp(QHostAddress::AnyIPv4, 0);
    QVERIFY(c.isConnectionOpen(TcpServer) && c.server()->lowLatency());
    const quint16 port = c.server()->serverPort();
    QCOMPARE(c.serverAddressText(), QStringLiteral("0.0.0.0:%1").arg(port));
    QTcpSocket first, second;
    first.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(arrived.wait(5000));
    const QString key = arrived.first().at(0).toString();
    QCOMPARE(key, QStringLiteral("127.0.0.1:%1").arg(first.localPort()));
    second.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(second.waitForConnected(5000));
    const QString refusal = QStringLiteral("Refused 127.0.0.1:%1: the port already has a client (exclusive mode) (5000)").arg(second.localPort());
    QTRY_VERIFY2_WITH_TIMEOUT(texts(status).contains(refusal), qPrintable(texts(status).join(u'|')), 5000);
    first.write("hello");
    QVERIFY(message.wait(5000));
    QCOMPARE(c.serverTakeMessage(key), QByteArray("hello"));
    QVERIFY(c.serverBroadcast("back") == 4 && c.serverSendTo(key, "!") && c.serverSendToIndex("?", 0));
    QCOMPARE(TestPeers::readFor(first, 6, 5000), QByteArray("back!?"));
    first.disconnectFromHost();
    QVERIFY(lost.wait(5000));
    QCOMPARE(lost.first().at(0).toString(), key);
    // Restarting keeps the options pushed earlier.
    c.closeConnection(TcpServer, QString());
    QVERIFY(!c.isConnectionOpen(TcpServer));
    c.listenTcp(QHostAddress::LocalHost, 0);
    QVERIFY(c.isConnectionOpen(TcpServer));
    QCOMPARE(c.server()->clientPolicy(), 1);
}

void tst_ConnectionController::udp()
{
    ConnectionController c;
    QSignalSpy changed(&c, &ConnectionController::udpPeersChanged);
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    QSignalSpy errors(&c, &ConnectionController::errorOccurred);
    QUdpSocket one, two;
    QVERIFY(one.bind(QHostAddress::LocalHost, 0) && two.bind(QHostAddress::AnyIPv4, 0, QUdpSocket::DontShareAddress));
    QVERIFY(c.bindUdp(0) && c.isConnectionOpen(UdpServer));
    QVERIFY(!c.udpSendToPeerRow("x", 0) && !c.udpReplyToCurrentPeer("x") && !c.udpSendTo({}, QStringLiteral("127.0.0.1"), 9));
    QCOMPARE(texts(status), QStringList{QStringLiteral("No UDP peer to reply to yet (3000)")});
    const quint16 port = c.findChild<QUdpSocket *>()->localPort();
    const auto deliver = [&](QUdpSocket &from, const QByteArray &d) {
        from.writeDatagram(d, QHostAddress::LocalHost, port);
        QList<QPair<QByteArray, QString>> got;
        (void)QTest::qWaitFor([&] { return !(got += c.readUdpDatagrams()).isEmpty(); }, 3000);
        return got;
    };
    const QString keyOne = QStringLiteral("127.0.0.1:%1").arg(one.localPort());
    QCOMPARE(deliver(one, "a1"), (QList<QPair<QByteArray, QString>>{{"a1", keyOne}}));
    QCOMPARE(deliver(two, "b1").size(), 1);
    QCOMPARE(c.currentPeerRow(), 1);
    QCOMPARE(deliver(one, "a2").size(), 1);
    QCOMPARE(changed.size(), 2); // a known sender makes no new row
    QCOMPARE(c.currentPeerRow(), 0);
    QCOMPARE((QList<QByteArray>{c.udpPeerData(0), c.udpPeerData(1), c.udpPeerData(2)}), (QList<QByteArray>{"a2", "b1", {}}));

    QVERIFY(c.udpReplyToCurrentPeer("to-current") && c.udpSendToPeer(c.udpPeers().at(1).key(), "to-two"));
    QVERIFY(!c.udpSendToPeer(QStringLiteral("127.0.0.1:1"), "x"));
    QVERIFY(c.udpSendToPeerRow("row-99", 99) && c.udpSendToPeerRow("row-1", 1)); // out of range means the first row
    QVERIFY(c.udpSendToAllPeers("all") == 3 && c.udpSendTo("direct", QStringLiteral("127.0.0.1"), two.localPort()));
    QCOMPARE((QList<QByteArray>{receive(one), receive(one), receive(one)}), (QList<QByteArray>{"to-current", "row-99", "all"}));
    QCOMPARE((QList<QByteArray>{receive(two), receive(two), receive(two), receive(two)}),
             (QList<QByteArray>{"to-two", "row-1", "all", "direct"}));
    c.closeConnection(UdpServer, QString());
    QVERIFY(changed.size() == 3 && c.currentPeerRow() == -1 && !c.isConnectionOpen(UdpServer));
    c.clearUdpPeers();
    QCOMPARE(changed.size(), 3);

    // A taken port is refused with the reason.
    status.clear();
    QVERIFY(!c.bindUdp(two.localPort()) && !c.isConnectionOpen(UdpClient));
    QVERIFY(texts(status).first().startsWith(QStringLiteral("UDP bind to port %1 FAILED: ").arg(two.localPort())));
    QCOMPARE(errors.size(), 1);
}

void tst_ConnectionController::serialPty()
{
    if (!PtyPair::available())
        QSKIP("socat is not installed");
    PtyPair pty;
    QVERIFY(pty.start());
    ConnectionController c;
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    FormatSetting s = serialSettings(pty.a(), 57600);
    s.StopBits = 2;
    QVERIFY(c.openSerialPort(s, QString(), QStringLiteral("ttyA"), false));
    QVERIFY(c.openSerialPort(s, QString(), QStringLiteral("ttyA"), false)); // already open
    QVERIFY(c.isConnectionOpen(SerialPort));
    const QString termios = TestPeers::sttyOf(pty.a());
    QVERIFY2(termios.contains(QLatin1String("speed 57600 baud")) && termios.contains(QLatin1String(" cstopb")), qPrintable(termios));
    QVERIFY2(texts(status).contains(QStringLiteral("Serial Port ttyA OPEN SUCCESS (1000)")), qPrintable(texts(status).join(u'|')));
    // A pty has no modem lines, so raising DTR fails and says why.
    QVERIFY(anyStartsWith(status, QStringLiteral("Failed to set DTR: ")));

    QSerialPort far(pty.b());
    QVERIFY(far.open(QIODevice::ReadWrite));
    QByteArray all;
    for (int i = 0; i < 256 * 32; ++i)
        all.append(char(i));
    QSignalSpy written(&c, &ConnectionController::bytesWritten);
    QSignalSpy ready(&c, &ConnectionController::readyRead);
    QVERIFY(c.writeSerial(all, s, pty.a()));
    QCOMPARE(TestPeers::readFor(far, all.size(), 5000), all);
    far.write(all);
    QCOMPARE(readAll(c, SerialPort, all.size()), all);
    QVERIFY(!written.isEmpty() && !ready.isEmpty());
    // Receive hold: nothing is handed out until release, then readyRead at once.
    c.setPaused(SerialPort, true);
    far.write("held");
    QTest::qWait(200);
    QVERIFY(c.readAvailable(SerialPort).isEmpty());
    ready.clear();
    c.setPaused(SerialPort, false);
    QCOMPARE(ready.size(), 1);
    QCOMPARE(c.readAvailable(SerialPort), QByteArray("held"));
    status.clear();
    c.closeConnection(SerialPort, QStringLiteral("ttyA"));
    QVERIFY(!c.isConnectionOpen(SerialPort) && !c.controlLineState(ConnectionController::Break));
    QCOMPARE(texts(status).last(), QStringLiteral("Serial Port ttyA CLOSE SUCCESS (3000)"));
    QVERIFY(c.controlLineState(ConnectionController::Dtr)); // the wanted level survives the close

    // The kernel refuses 7 data bits on a pty; the user is told instead of left guessing.
    status.clear();
    s.DataBits = 7;
    QVERIFY(c.openSerialPort(s, pty.a(), QStringLiteral("ttyA"), false));
    QVERIFY2(anyStartsWith(status, QStringLiteral("Failed to set data bits: ")), qPrintable(texts(status).join(u'|')));
    c.closeConnection(SerialPort, QStringLiteral("ttyA"));
    // With RTS/CTS flow control RTS is not ours to drive; the wish is still stored.
    s = serialSettings(pty.a());
    s.FlowControl = QSerialPort::HardwareControl;
    QVERIFY(c.openSerialPort(s, QString(), QStringLiteral("ttyA"), true));
    status.clear();
    QVERIFY(!c.setControlLine(ConnectionController::Rts, false) && !c.controlLineState(ConnectionController::Rts));
    QCOMPARE(texts(status), QStringList{QStringLiteral("RTS is managed automatically by RTS/CTS flow control (3000)")});
    QVERIFY(!c.setControlLine(ConnectionController::Dtr, true) && anyStartsWith(status, QStringLiteral("Failed to set DTR: ")));
}

void tst_ConnectionController::serialPortVanishes_data()
{
    QTest::addColumn<bool>("watch");
    QTest::newRow("watching") << true;
    QTest::newRow("not watching") << false;
}

void tst_ConnectionController::serialPortVanishes()
{
    QFETCH(bool, watch);
    if (!PtyPair::available())
        QSKIP("socat is not installed");
    PtyPair pty;
    QVERIFY(pty.start());
    ConnectionController c;
    c.setWatchPortLoss(watch);
    QVERIFY(c.openSerialPort(serialSettings(pty.a()), QString(), QStringLiteral("ttyA"), true));
    QSignalSpy lost(&c, &ConnectionController::serialPortLost);
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    QVERIFY(pty.stop());
    QTest::qWait(500);
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), int(watch), 5000);
    QCOMPARE(c.isConnectionOpen(SerialPort), !watch);
    QCOMPARE(texts(status), watch ? QStringList{QStringLiteral("Serial Port %1 DISCONNECTED (5000)").arg(pty.a())} : QStringList{});
}

QTEST_GUILESS_MAIN(tst_ConnectionController)
#include "tst_connectioncontroller.moc"
