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

QStringList texts(const QSignalSpy &spy)
{
    QStringList out;
    for (const auto &args : spy)
        out << args.at(0).toString();
    return out;
}

bool anyStartsWith(const QStringList &list, const QString &prefix)
{
    return std::any_of(list.begin(), list.end(), [&](const QString &t) { return t.startsWith(prefix); });
}

FormatSetting serialSettings(const QString &port)
{
    FormatSetting s;
    s.PortName = port;
    s.BaudRate = 115200;
    return s;
}

// Reads from the controller until size bytes came.
QByteArray readAll(ConnectionController &c, int mode, qsizetype size)
{
    QByteArray got;
    (void)QTest::qWaitFor([&] { return (got += c.readAvailable(mode)).size() >= size; }, 20000);
    return got;
}

} // namespace

class tst_ConnectionController : public QObject
{
    Q_OBJECT
private slots:
    void keysAndTitlesTellPortsApart();
    void nothingOpen();
    void tcpClientLifecycle();
    void tcpClientConnectFailsThenRetries();
    void tcpClientReceiveHold();
    void serverThroughController();
    void udpPeerTable();
    void udpFailures();
    void serialPtyRoundTrip();
    void serialLineSettings();
    void serialPortVanishes_data();
    void serialPortVanishes();
};

void tst_ConnectionController::keysAndTitlesTellPortsApart()
{
    QSet<QString> keys;
    QSet<QString> titles;
    FormatSetting s;
    s.PortName = QStringLiteral("COM7");
    s.LastTargetHost = {QStringLiteral("10.1.1.1"), QStringLiteral("10.9.9.9")};
    s.LastTargetPort = 5020;
    for (int mode = SerialPort; mode <= RemoteSerial; ++mode) {
        keys << ConnectionController::portKey(mode, 0) << ConnectionController::portKey(mode, 3);
        QVERIFY(ConnectionController::portKey(mode, 3).startsWith(ConnectionController::portKeyPrefix(mode)));
        s.ConnMode = mode;
        const QString title = ConnectionController::connectionTitle(s, 4);
        titles << title;
        QCOMPARE(title.contains(QLatin1String("5020")), mode != SerialPort && mode != Unassigned);
        QCOMPARE(title.contains(QLatin1String("10.1.1.1")), isTcpClientMode(mode) || mode == UdpClient || mode == UdpGroup);
        QVERIFY(!title.contains(QLatin1String("10.9.9.9")));
    }
    QCOMPARE(keys.size(), 16);
    QCOMPARE(titles.size(), 7); // a UDP client and a UDP group show the same target
    QCOMPARE(ConnectionController::portKey(42, 3), ConnectionController::portKey(Unassigned, 3));
    s.ConnMode = SerialPort;
    QCOMPARE(ConnectionController::connectionTitle(s, 4), s.PortName);
    s.ConnMode = 11;
    QCOMPARE(ConnectionController::connectionTitle(s, 4), QStringLiteral("Port 5"));
}

void tst_ConnectionController::nothingOpen()
{
    ConnectionController c;
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    QSignalSpy errors(&c, &ConnectionController::errorOccurred);
    for (int mode : {int(Unassigned), 8, -1}) {
        QVERIFY(!c.isConnectionOpen(mode));
        QVERIFY(c.readAvailable(mode).isEmpty());
        QCOMPARE(c.pendingBytes(mode), qint64(0));
        c.closeConnection(mode, QString());
    }
    QCOMPARE(c.serverBroadcast("x"), qint64(0));
    QVERIFY(!c.serverSendTo(QStringLiteral("a:1"), "x"));
    QVERIFY(!c.serverSendToIndex("x", 0));
    QVERIFY(c.serverTakeMessage(QStringLiteral("a:1")).isEmpty());
    QVERIFY(c.serverAddressText().isEmpty());

    // Line wishes are kept while the port is closed; a break needs an open port.
    QVERIFY(c.controlLineState(ConnectionController::Dtr));
    QVERIFY(c.setControlLine(ConnectionController::Dtr, false));
    QVERIFY(!c.controlLineState(ConnectionController::Dtr));
    QVERIFY(c.setControlLine(ConnectionController::Rts, false));
    QVERIFY(!c.controlLineState(ConnectionController::Rts));
    QVERIFY(!c.setControlLine(ConnectionController::Break, true));
    QVERIFY(!c.controlLineState(ConnectionController::Break));
    QVERIFY(c.setControlLine(ConnectionController::Break, false));
    QVERIFY(!c.setControlLine(9, true) && !c.controlLineState(9));
    QCOMPARE(texts(status), QStringList{QStringLiteral("Open the serial port before sending Break")});

    // A device that cannot be opened: quietly, or with the reason.
    status.clear();
    FormatSetting s;
    s.PortName = QStringLiteral("/dev/quillon-no-such-device");
    QVERIFY(!c.openSerialPort(s, QString(), QStringLiteral("NODEV"), true));
    QCOMPARE(errors.size(), 0);
    QVERIFY(!c.writeSerial("x", s, s.PortName));
    QCOMPARE(errors.size(), 1);
    const QString prefix = QStringLiteral("Serial Port /dev/quillon-no-such-device OPEN FAILED! ERROR: ");
    QVERIFY2(errors.first().at(0).toString().startsWith(prefix) && errors.first().at(0).toString().size() > prefix.size(),
             qPrintable(errors.first().at(0).toString()));
    QCOMPARE(status.first().at(1).toInt(), 5000);
    QVERIFY(!c.isConnectionOpen(SerialPort));
}

void tst_ConnectionController::tcpClientLifecycle()
{
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    ConnectionController c;
    QSignalSpy arrived(&c, &ConnectionController::peerArrived);
    QSignalSpy gone(&c, &ConnectionController::tcpClientDisconnected);
    c.connectTcpClient(QStringLiteral("localhost"), listener.serverPort());
    // Bytes written while connecting wait for the connection, in order.
    QVERIFY(!c.isConnectionOpen(TcpClient));
    QVERIFY(c.writeTcpClient("first,") && c.writeTcpClient("second,"));
    QCOMPARE(c.pendingBytes(TcpClient), qint64(13));
    QVERIFY(!c.writeTcpClient(QByteArray()));
    QVERIFY(arrived.wait(5000));
    QCOMPARE(arrived.first().at(0).toString(), QString());
    QVERIFY(c.isConnectionOpen(RemoteSerial));
    QVERIFY(c.writeTcpClient("third"));
    QVERIFY(listener.hasPendingConnections() || listener.waitForNewConnection(5000));
    QTcpSocket *peer = listener.nextPendingConnection();
    QByteArray got;
    QVERIFY(QTest::qWaitFor([&] { return (got += peer->readAll()).size() >= 18; }, 5000));
    QCOMPARE(got, QByteArray("first,second,third"));

    peer->write("bye");
    QCOMPARE(readAll(c, TcpClient, 3), QByteArray("bye"));
    peer->disconnectFromHost();
    QVERIFY(gone.wait(5000));
    QVERIFY(!c.isConnectionOpen(TcpClient));
    QVERIFY(!c.writeTcpClient("nowhere"));
}

void tst_ConnectionController::tcpClientConnectFailsThenRetries()
{
    const quint16 closedPort = TestPeers::freePort();
    ConnectionController c;
    QSignalSpy errors(&c, &ConnectionController::errorOccurred);
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    QSignalSpy gone(&c, &ConnectionController::tcpClientDisconnected);
    c.connectTcpClient(QStringLiteral("127.0.0.1"), closedPort);
    QVERIFY(c.writeTcpClient("lost"));
    QVERIFY(errors.wait(5000));
    QVERIFY(errors.first().at(0).toString().startsWith(QStringLiteral("TCP connect FAILED: ")));
    QCOMPARE(status.last(), (QVariantList{errors.first().at(0), 5000}));
    QVERIFY(!c.tcpClientSocket());
    QCOMPARE(c.pendingBytes(TcpClient), qint64(0));

    // The socket was forgotten, so a new attempt starts afresh; closing it is reported once.
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
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

void tst_ConnectionController::tcpClientReceiveHold()
{
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    ConnectionController c;
    c.setPaused(TcpClient, true);
    c.connectTcpClient(QStringLiteral("127.0.0.1"), listener.serverPort());
    QVERIFY(listener.waitForNewConnection(5000));
    QTcpSocket *peer = listener.nextPendingConnection();
    QTRY_VERIFY_WITH_TIMEOUT(c.isConnectionOpen(TcpClient), 5000);

    QByteArray flood(8 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < flood.size(); ++i)
        flood[i] = char(i ^ (i >> 9));
    peer->write(flood);
    QTest::qWait(300);
    // Held: nothing handed out, little buffered, the sender held back by TCP.
    QVERIFY(c.readAvailable(TcpClient).isEmpty());
    QVERIFY(c.tcpClientSocket()->bytesAvailable() <= 64 * 1024);
    QVERIFY(peer->bytesToWrite() > 0);
    QSignalSpy ready(&c, &ConnectionController::readyRead);
    c.setPaused(TcpClient, false);
    QCOMPARE(ready.size(), 1); // at once, not at the next arrival
    QVERIFY(readAll(c, TcpClient, flood.size()) == flood);
}

void tst_ConnectionController::serverThroughController()
{
    ConnectionController c;
    c.setClientPolicy(1);
    c.setLowLatency(true);
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    QSignalSpy arrived(&c, &ConnectionController::peerArrived);
    QSignalSpy lost(&c, &ConnectionController::peerLost);
    QSignalSpy message(&c, &ConnectionController::serverMessage);
    c.listenTcp(QHostAddress::AnyIPv4, 0);
    QVERIFY(c.isConnectionOpen(TcpServer));
    const quint16 port = c.server()->serverPort();
    QCOMPARE(c.serverAddressText(), QStringLiteral("0.0.0.0:%1").arg(port));
    QVERIFY(c.server()->lowLatency());

    QTcpSocket first, second;
    first.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(arrived.wait(5000));
    const QString key = arrived.first().at(0).toString();
    QCOMPARE(key, QStringLiteral("127.0.0.1:%1").arg(first.localPort()));
    second.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(second.waitForConnected(5000));
    const QString refusal = QStringLiteral("Refused 127.0.0.1:%1: the port already has a client (exclusive mode)").arg(second.localPort());
    QTRY_VERIFY2_WITH_TIMEOUT(texts(status).contains(refusal), qPrintable(texts(status).join(u'|')), 5000);
    first.write("hello");
    QVERIFY(message.wait(5000));
    QCOMPARE(c.serverTakeMessage(key), QByteArray("hello"));
    QCOMPARE(c.serverBroadcast("back"), qint64(4));
    QVERIFY(c.serverSendTo(key, "!"));
    QTRY_COMPARE_WITH_TIMEOUT(first.bytesAvailable(), qint64(5), 5000);
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

void tst_ConnectionController::udpPeerTable()
{
    ConnectionController server;
    QVERIFY(server.bindUdp(0));
    QVERIFY(server.isConnectionOpen(UdpServer));
    const quint16 port = server.findChild<QUdpSocket *>()->localPort();
    QSignalSpy changed(&server, &ConnectionController::udpPeersChanged);
    QUdpSocket one, two;
    QVERIFY(one.bind(QHostAddress::LocalHost, 0) && two.bind(QHostAddress::LocalHost, 0));
    const auto deliver = [&](QUdpSocket &from, const QByteArray &d) {
        from.writeDatagram(d, QHostAddress::LocalHost, port);
        QList<QPair<QByteArray, QString>> got;
        (void)QTest::qWaitFor([&] { return !(got += server.readUdpDatagrams()).isEmpty(); }, 3000);
        return got;
    };
    const auto receive = [](QUdpSocket &s) {
        if (!s.waitForReadyRead(3000) && !s.hasPendingDatagrams())
            return QByteArray();
        QByteArray d(int(s.pendingDatagramSize()), Qt::Uninitialized);
        s.readDatagram(d.data(), d.size());
        return d;
    };
    const QString keyOne = QStringLiteral("127.0.0.1:%1").arg(one.localPort());
    const QString keyTwo = QStringLiteral("127.0.0.1:%1").arg(two.localPort());

    QCOMPARE(deliver(one, "a1"), (QList<QPair<QByteArray, QString>>{{"a1", keyOne}}));
    QCOMPARE(deliver(two, "b1").size(), 1);
    QCOMPARE(changed.size(), 2);
    QCOMPARE(server.currentPeerRow(), 1);
    QCOMPARE(deliver(one, "a2").size(), 1);
    QCOMPARE(changed.size(), 2); // a known sender: no new row
    QCOMPARE(server.currentPeerRow(), 0);
    QCOMPARE(server.udpPeerData(0), QByteArray("a2"));
    QCOMPARE(server.udpPeerData(1), QByteArray("b1"));
    QVERIFY(server.udpPeerData(2).isEmpty());

    QVERIFY(server.udpReplyToCurrentPeer("to-current"));
    QCOMPARE(receive(one), QByteArray("to-current"));
    QVERIFY(server.udpSendToPeer(keyTwo, "to-two"));
    QCOMPARE(receive(two), QByteArray("to-two"));
    QVERIFY(!server.udpSendToPeer(QStringLiteral("127.0.0.1:1"), "x"));
    QVERIFY(server.udpSendToPeerRow("row-99", 99)); // out of range means the first row
    QCOMPARE(receive(one), QByteArray("row-99"));
    QVERIFY(server.udpSendToPeerRow("row-1", 1));
    QCOMPARE(receive(two), QByteArray("row-1"));
    QCOMPARE(server.udpSendToAllPeers("all"), qint64(3));
    QCOMPARE(receive(one), QByteArray("all"));
    QCOMPARE(receive(two), QByteArray("all"));
    QVERIFY(server.udpSendTo("direct", QStringLiteral("127.0.0.1"), two.localPort()));
    QCOMPARE(receive(two), QByteArray("direct"));

    server.closeConnection(UdpServer, QString());
    QCOMPARE(changed.size(), 3);
    QCOMPARE(server.currentPeerRow(), -1);
    QVERIFY(!server.isConnectionOpen(UdpServer));
    server.clearUdpPeers();
    QCOMPARE(changed.size(), 3);
}

void tst_ConnectionController::udpFailures()
{
    ConnectionController c;
    QVERIFY(!c.udpSendTo("x", QStringLiteral("127.0.0.1"), 9));
    QCOMPARE(c.udpSendToAllPeers("x"), qint64(0));
    QVERIFY(!c.udpReplyToCurrentPeer("x"));
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    QSignalSpy errors(&c, &ConnectionController::errorOccurred);
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress::AnyIPv4, 0, QUdpSocket::DontShareAddress));
    QVERIFY(!c.bindUdp(holder.localPort()));
    QCOMPARE(errors.size(), 1);
    QVERIFY(errors.first().at(0).toString().startsWith(QStringLiteral("UDP bind to port %1 FAILED: ").arg(holder.localPort())));
    QCOMPARE(status.first().at(1).toInt(), 5000);
    QVERIFY(!c.isConnectionOpen(UdpClient));

    status.clear();
    QVERIFY(c.bindUdp(0));
    QVERIFY(!c.udpSendToPeerRow("x", 0));
    QCOMPARE(status.first(), (QVariantList{QStringLiteral("No UDP peer to reply to yet"), 3000}));
    QVERIFY(!c.udpReplyToCurrentPeer("x"));
    QVERIFY(!c.udpSendTo(QByteArray(), QStringLiteral("127.0.0.1"), 9));
}

void tst_ConnectionController::serialPtyRoundTrip()
{
    if (!PtyPair::available())
        QSKIP("socat is not installed");
    PtyPair pty;
    QVERIFY(pty.start());
    ConnectionController c;
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    QVERIFY(c.openSerialPort(serialSettings(pty.a()), QString(), QStringLiteral("ttyA"), false));
    QVERIFY(c.isConnectionOpen(SerialPort));
    const QStringList shown = texts(status);
    QVERIFY2(shown.contains(QStringLiteral("Serial Port ttyA OPEN SUCCESS")), qPrintable(shown.join(u'|')));
    // A pty has no modem lines, so raising DTR fails and says why.
    QVERIFY2(anyStartsWith(shown, QStringLiteral("Failed to set DTR: ")), qPrintable(shown.join(u'|')));
    QVERIFY(c.openSerialPort(serialSettings(pty.a()), QString(), QStringLiteral("ttyA"), false)); // already open

    QSerialPort far(pty.b());
    QVERIFY(far.open(QIODevice::ReadWrite));
    QByteArray all;
    for (int i = 0; i < 256 * 32; ++i)
        all.append(char(i));
    QSignalSpy written(&c, &ConnectionController::bytesWritten);
    QVERIFY(c.writeSerial(all, serialSettings(pty.a()), pty.a()));
    QCOMPARE(TestPeers::readFor(far, all.size(), 5000), all);
    QVERIFY(!written.isEmpty());
    QSignalSpy ready(&c, &ConnectionController::readyRead);
    far.write(all);
    QCOMPARE(readAll(c, SerialPort, all.size()), all);
    QVERIFY(!ready.isEmpty());

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
    QVERIFY(!c.isConnectionOpen(SerialPort));
    QCOMPARE(texts(status).last(), QStringLiteral("Serial Port ttyA CLOSE SUCCESS"));
    QVERIFY(!c.controlLineState(ConnectionController::Break));
    QVERIFY(c.controlLineState(ConnectionController::Dtr)); // the wanted level survives the close
}

void tst_ConnectionController::serialLineSettings()
{
    if (!PtyPair::available())
        QSKIP("socat is not installed");
    PtyPair pty;
    QVERIFY(pty.start());
    ConnectionController c;
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    FormatSetting s = serialSettings(pty.a());
    s.BaudRate = 57600;
    s.StopBits = 2;
    QVERIFY(c.openSerialPort(s, QString(), QStringLiteral("ttyA"), false));
    const QString termios = TestPeers::sttyOf(pty.a());
    QVERIFY2(termios.contains(QStringLiteral("speed 57600 baud")) && termios.contains(QStringLiteral(" cstopb")), qPrintable(termios));
    c.closeConnection(SerialPort, QStringLiteral("ttyA"));

    // The kernel refuses 7 data bits on a pty; the user is told instead of left guessing.
    status.clear();
    s.DataBits = 7;
    QVERIFY(c.openSerialPort(s, pty.a(), QStringLiteral("ttyA"), false));
    QVERIFY2(anyStartsWith(texts(status), QStringLiteral("Failed to set data bits: ")), qPrintable(texts(status).join(u'|')));
    c.closeConnection(SerialPort, QStringLiteral("ttyA"));

    // With RTS/CTS flow control RTS is not ours to drive; the wish is still stored.
    s = serialSettings(pty.a());
    s.FlowControl = QSerialPort::HardwareControl;
    QVERIFY(c.openSerialPort(s, QString(), QStringLiteral("ttyA"), true));
    status.clear();
    QVERIFY(!c.setControlLine(ConnectionController::Rts, false));
    QCOMPARE(status.first(), (QVariantList{QStringLiteral("RTS is managed automatically by RTS/CTS flow control"), 3000}));
    QVERIFY(!c.controlLineState(ConnectionController::Rts));
    status.clear();
    QVERIFY(!c.setControlLine(ConnectionController::Dtr, true));
    QVERIFY(anyStartsWith(texts(status), QStringLiteral("Failed to set DTR: ")));
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
    QCOMPARE(texts(status), watch ? QStringList{QStringLiteral("Serial Port %1 DISCONNECTED").arg(pty.a())} : QStringList{});
}

QTEST_GUILESS_MAIN(tst_ConnectionController)
#include "tst_connectioncontroller.moc"
