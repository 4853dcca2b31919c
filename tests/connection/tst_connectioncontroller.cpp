#include "connection/connectioncontroller.h"
#include "connection/multiclientserver.h"
#include "ptypair.h"
#include "settings/formatsetting.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QTest>
#include <memory>

class tst_ConnectionController : public QObject
{
    Q_OBJECT
private slots:
    void portKey_data();
    void portKey();
    void title_data();
    void title();

    void tcpClientQueuesWhileConnecting();
    void tcpClientConnectFails();
    void tcpClientPeerCloses();
    void tcpClientCloseByPane();
    void tcpClientReceiveHold();
    void serverThroughController();

    void udpPeerTable();
    void udpWithoutPeersOrSocket();
    void udpBindFailure();

    void controlLinesWhileClosed();
    void serialOpenFailure();
    void serialPtyRoundTrip();
    void serialLineSettings();
    void serialHardwareFlowKeepsRts();
    void serialPortVanishes_data();
    void serialPortVanishes();
    void unassignedModeOpensNothing();

private:
    static QStringList texts(const QSignalSpy &spy)
    {
        QStringList out;
        for (const auto &args : spy)
            out << args.at(0).toString();
        return out;
    }
};

void tst_ConnectionController::portKey_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("key");
    QTest::newRow("serial") << 0 << "ser-3";
    QTest::newRow("tcp server") << 1 << "tcps-3";
    QTest::newRow("tcp client") << 2 << "tcpc-3";
    QTest::newRow("unassigned") << 3 << "port-3";
    QTest::newRow("udp server") << 4 << "udps-3";
    QTest::newRow("udp client") << 5 << "udpc-3";
    QTest::newRow("udp group") << 6 << "udpg-3";
    QTest::newRow("remote serial") << 7 << "rser-3";
    QTest::newRow("unknown") << 42 << "port-3";
}

void tst_ConnectionController::portKey()
{
    QFETCH(int, mode);
    QFETCH(QString, key);
    QCOMPARE(ConnectionController::portKey(mode, 3), key);
}

void tst_ConnectionController::title_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("title");
    QTest::newRow("serial") << 0 << "COM7";
    QTest::newRow("tcp server") << 1 << "TCP Server :5020";
    QTest::newRow("tcp client") << 2 << "TCP Client 10.1.1.1:5020";
    QTest::newRow("udp client") << 5 << "UDP 10.1.1.1:5020";
    QTest::newRow("udp group") << 6 << "UDP 10.1.1.1:5020";
    QTest::newRow("remote serial") << 7 << "Remote Serial 10.1.1.1:5020";
    QTest::newRow("unassigned") << 3 << "Port 5";
    QTest::newRow("unknown") << 11 << "Port 5";
}

void tst_ConnectionController::title()
{
    QFETCH(int, mode);
    QFETCH(QString, title);
    FormatSetting s;
    s.ConnMode = mode;
    s.PortName = QStringLiteral("COM7");
    s.LastTargetHost = {QStringLiteral("10.1.1.1"), QStringLiteral("10.9.9.9")};
    s.LastTargetPort = 5020;
    QCOMPARE(ConnectionController::connectionTitle(s, 4), title);
}

void tst_ConnectionController::tcpClientQueuesWhileConnecting()
{
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    ConnectionController c;
    QSignalSpy arrived(&c, &ConnectionController::peerArrived);
    c.connectTcpClient(QStringLiteral("localhost"), listener.serverPort());
    QVERIFY(!c.isConnectionOpen(TcpClient));
    QVERIFY(c.writeTcpClient("first,"));
    QVERIFY(c.writeTcpClient("second,"));
    QCOMPARE(c.pendingBytes(TcpClient), qint64(13));
    QVERIFY(!c.writeTcpClient(QByteArray()));
    QVERIFY(arrived.wait(5000));
    QCOMPARE(arrived.first().at(0).toString(), QString());
    QVERIFY(c.isConnectionOpen(RemoteSerial));
    QVERIFY(c.writeTcpClient("third"));
    QVERIFY(listener.hasPendingConnections() || listener.waitForNewConnection(5000));
    QTcpSocket *peer = listener.nextPendingConnection();
    QByteArray got;
    QVERIFY(QTest::qWaitFor([&] {
        got += peer->readAll();
        return got.size() >= 18;
    }, 5000));
    QCOMPARE(got, QByteArray("first,second,third"));
}

void tst_ConnectionController::tcpClientConnectFails()
{
    quint16 closedPort;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    ConnectionController c;
    QSignalSpy errors(&c, &ConnectionController::errorOccurred);
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    c.connectTcpClient(QStringLiteral("127.0.0.1"), closedPort);
    QVERIFY(c.writeTcpClient("lost"));
    QVERIFY(errors.wait(5000));
    QVERIFY(errors.first().at(0).toString().startsWith(QStringLiteral("TCP connect FAILED: ")));
    QCOMPARE(status.last().at(0).toString(), errors.first().at(0).toString());
    QCOMPARE(status.last().at(1).toInt(), 5000);
    QVERIFY(!c.tcpClientSocket());
    QCOMPARE(c.pendingBytes(TcpClient), qint64(0));

    // The socket was forgotten, so a new attempt starts afresh.
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    QSignalSpy arrived(&c, &ConnectionController::peerArrived);
    c.connectTcpClient(QStringLiteral("127.0.0.1"), listener.serverPort());
    QVERIFY(arrived.wait(5000));
}

void tst_ConnectionController::tcpClientPeerCloses()
{
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    ConnectionController c;
    QSignalSpy gone(&c, &ConnectionController::tcpClientDisconnected);
    QSignalSpy ready(&c, &ConnectionController::readyRead);
    c.connectTcpClient(QStringLiteral("127.0.0.1"), listener.serverPort());
    QVERIFY(listener.waitForNewConnection(5000));
    QTcpSocket *peer = listener.nextPendingConnection();
    QTRY_VERIFY_WITH_TIMEOUT(c.isConnectionOpen(TcpClient), 5000);
    peer->write("bye");
    QVERIFY(ready.wait(5000));
    QCOMPARE(c.readAvailable(TcpClient), QByteArray("bye"));
    peer->disconnectFromHost();
    QVERIFY(gone.wait(5000));
    QVERIFY(!c.isConnectionOpen(TcpClient));
    QVERIFY(!c.writeTcpClient("nowhere"));
}

void tst_ConnectionController::tcpClientCloseByPane()
{
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    ConnectionController c;
    c.connectTcpClient(QStringLiteral("127.0.0.1"), listener.serverPort());
    QTRY_VERIFY_WITH_TIMEOUT(c.isConnectionOpen(TcpClient), 5000);
    QSignalSpy gone(&c, &ConnectionController::tcpClientDisconnected);
    QSignalSpy errors(&c, &ConnectionController::errorOccurred);
    c.closeConnection(TcpClient, QStringLiteral("x"));
    QCOMPARE(gone.size(), 1);
    QTest::qWait(50);
    QCOMPARE(gone.size(), 1);
    QCOMPARE(errors.size(), 0);
    c.closeConnection(TcpClient, QStringLiteral("x"));
    QCOMPARE(gone.size(), 1);
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
    QVERIFY(c.readAvailable(TcpClient).isEmpty());
    QVERIFY(c.tcpClientSocket()->bytesAvailable() <= 64 * 1024);
    QVERIFY(peer->bytesToWrite() > 0);

    QSignalSpy ready(&c, &ConnectionController::readyRead);
    c.setPaused(TcpClient, false);
    QCOMPARE(ready.size(), 1); // at once, not at the next arrival
    QByteArray got;
    QVERIFY(QTest::qWaitFor([&] {
        got += c.readAvailable(TcpClient);
        return got.size() >= flood.size();
    }, 20000));
    QVERIFY(got == flood);
}

void tst_ConnectionController::serverThroughController()
{
    ConnectionController c;
    c.setClientPolicy(1);
    c.setLowLatency(true);
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    QSignalSpy arrived(&c, &ConnectionController::peerArrived);
    QSignalSpy lost(&c, &ConnectionController::peerLost);
    QSignalSpy changed(&c, &ConnectionController::serverConnectionsChanged);
    QSignalSpy message(&c, &ConnectionController::serverMessage);
    QVERIFY(c.serverAddressText().isEmpty());
    c.listenTcp(QHostAddress::AnyIPv4, 0);
    QVERIFY(c.isConnectionOpen(TcpServer));
    const quint16 port = c.server()->serverPort();
    QCOMPARE(c.serverAddressText(), QStringLiteral("0.0.0.0:%1").arg(port));
    QVERIFY(c.server()->lowLatency());

    QTcpSocket first;
    first.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(arrived.wait(5000));
    const QString key = arrived.first().at(0).toString();
    QCOMPARE(key, QStringLiteral("127.0.0.1:%1").arg(first.localPort()));
    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(second.waitForConnected(5000));
    const QString refusal = QStringLiteral("Refused 127.0.0.1:%1: the port already has a client (exclusive mode)")
                                .arg(second.localPort());
    QTRY_VERIFY_WITH_TIMEOUT(texts(status).contains(refusal), 5000);

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
    QVERIFY(changed.size() >= 3);
}

struct UdpEnd
{
    QUdpSocket socket;
    UdpEnd() { socket.bind(QHostAddress::LocalHost, 0); }
    QByteArray receive()
    {
        if (!socket.waitForReadyRead(3000) && !socket.hasPendingDatagrams())
            return {};
        QByteArray d(int(socket.pendingDatagramSize()), Qt::Uninitialized);
        socket.readDatagram(d.data(), d.size());
        return d;
    }
};

void tst_ConnectionController::udpPeerTable()
{
    ConnectionController server;
    QVERIFY(server.bindUdp(0));
    QVERIFY(server.isConnectionOpen(UdpServer));
    QUdpSocket *probe = server.findChild<QUdpSocket *>();
    QVERIFY(probe);
    const quint16 port = probe->localPort();
    QSignalSpy changed(&server, &ConnectionController::udpPeersChanged);
    UdpEnd one, two;
    auto deliver = [&](UdpEnd &from, const QByteArray &d) {
        from.socket.writeDatagram(d, QHostAddress::LocalHost, port);
        QList<QPair<QByteArray, QString>> got;
        QTest::qWaitFor([&] {
            got += server.readUdpDatagrams();
            return !got.isEmpty();
        }, 3000);
        return got;
    };
    const QString keyOne = QStringLiteral("127.0.0.1:%1").arg(one.socket.localPort());
    const QString keyTwo = QStringLiteral("127.0.0.1:%1").arg(two.socket.localPort());

    auto got = deliver(one, "a1");
    QCOMPARE(got.size(), 1);
    QCOMPARE(got.first().first, QByteArray("a1"));
    QCOMPARE(got.first().second, keyOne);
    QCOMPARE(changed.size(), 1);
    QVERIFY(deliver(two, "b1").size() == 1);
    QCOMPARE(changed.size(), 2);
    QCOMPARE(server.currentPeerRow(), 1);
    QVERIFY(deliver(one, "a2").size() == 1);
    QCOMPARE(changed.size(), 2); // known sender: no new row
    QCOMPARE(server.currentPeerRow(), 0);
    QCOMPARE(server.udpPeerData(0), QByteArray("a2"));
    QCOMPARE(server.udpPeerData(1), QByteArray("b1"));
    QVERIFY(server.udpPeerData(2).isEmpty());

    QVERIFY(server.udpReplyToCurrentPeer("to-current"));
    QCOMPARE(one.receive(), QByteArray("to-current"));
    QVERIFY(server.udpSendToPeer(keyTwo, "to-two"));
    QCOMPARE(two.receive(), QByteArray("to-two"));
    QVERIFY(!server.udpSendToPeer(QStringLiteral("127.0.0.1:1"), "x"));
    QVERIFY(server.udpSendToPeerRow("row-99", 99));
    QCOMPARE(one.receive(), QByteArray("row-99"));
    QVERIFY(server.udpSendToPeerRow("row-1", 1));
    QCOMPARE(two.receive(), QByteArray("row-1"));
    QCOMPARE(server.udpSendToAllPeers("all"), qint64(3));
    QCOMPARE(one.receive(), QByteArray("all"));
    QCOMPARE(two.receive(), QByteArray("all"));
    QVERIFY(server.udpSendTo("direct", QStringLiteral("127.0.0.1"), two.socket.localPort()));
    QCOMPARE(two.receive(), QByteArray("direct"));

    server.closeConnection(UdpServer, QString());
    QCOMPARE(changed.size(), 3);
    QCOMPARE(server.currentPeerRow(), -1);
    QVERIFY(!server.isConnectionOpen(UdpServer));
    server.clearUdpPeers();
    QCOMPARE(changed.size(), 3);
}

void tst_ConnectionController::udpWithoutPeersOrSocket()
{
    ConnectionController c;
    QVERIFY(!c.udpSendTo("x", QStringLiteral("127.0.0.1"), 9));
    QCOMPARE(c.udpSendToAllPeers("x"), qint64(0));
    QVERIFY(!c.udpReplyToCurrentPeer("x"));
    QVERIFY(c.bindUdp(0));
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    QVERIFY(!c.udpSendToPeerRow("x", 0));
    QCOMPARE(texts(status), QStringList{QStringLiteral("No UDP peer to reply to yet")});
    QCOMPARE(status.first().at(1).toInt(), 3000);
    QVERIFY(!c.udpReplyToCurrentPeer("x"));
    QVERIFY(!c.udpSendTo(QByteArray(), QStringLiteral("127.0.0.1"), 9));
}

void tst_ConnectionController::udpBindFailure()
{
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress::AnyIPv4, 0, QUdpSocket::DontShareAddress));
    ConnectionController c;
    QSignalSpy errors(&c, &ConnectionController::errorOccurred);
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    QVERIFY(!c.bindUdp(holder.localPort()));
    QCOMPARE(errors.size(), 1);
    const QString text = errors.first().at(0).toString();
    QVERIFY2(text.startsWith(QStringLiteral("UDP bind to port %1 FAILED: ").arg(holder.localPort())), qPrintable(text));
    QCOMPARE(status.first().at(1).toInt(), 5000);
    QVERIFY(!c.isConnectionOpen(UdpClient));
}

void tst_ConnectionController::controlLinesWhileClosed()
{
    ConnectionController c;
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    QVERIFY(c.controlLineState(ConnectionController::Dtr));
    QVERIFY(c.setControlLine(ConnectionController::Dtr, false));
    QVERIFY(!c.controlLineState(ConnectionController::Dtr));
    QVERIFY(c.setControlLine(ConnectionController::Rts, false));
    QVERIFY(!c.controlLineState(ConnectionController::Rts));
    QVERIFY(!c.setControlLine(ConnectionController::Break, true));
    QCOMPARE(texts(status), QStringList{QStringLiteral("Open the serial port before sending Break")});
    QVERIFY(!c.controlLineState(ConnectionController::Break));
    QVERIFY(c.setControlLine(ConnectionController::Break, false));
    QVERIFY(!c.setControlLine(9, true));
    QVERIFY(!c.controlLineState(9));
}

void tst_ConnectionController::serialOpenFailure()
{
    ConnectionController c;
    QSignalSpy errors(&c, &ConnectionController::errorOccurred);
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    FormatSetting s;
    s.PortName = QStringLiteral("/dev/quillon-no-such-device");
    QVERIFY(!c.openSerialPort(s, QString(), QStringLiteral("NODEV"), true));
    QCOMPARE(errors.size(), 0);
    QVERIFY(!c.openSerialPort(s, QString(), QStringLiteral("NODEV"), false));
    QCOMPARE(errors.size(), 1);
    const QString text = errors.first().at(0).toString();
    QVERIFY2(text.startsWith(QStringLiteral("Serial Port NODEV OPEN FAILED! ERROR: ")), qPrintable(text));
    QVERIFY(text.size() > int(qstrlen("Serial Port NODEV OPEN FAILED! ERROR: ")));
    QCOMPARE(status.first().at(1).toInt(), 5000);
    QVERIFY(!c.isConnectionOpen(SerialPort));
    QVERIFY(!c.writeSerial("x", s, s.PortName));
}

static FormatSetting serialSettings(const QString &port)
{
    FormatSetting s;
    s.PortName = port;
    s.BaudRate = 115200;
    return s;
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
    QStringList shown = texts(status);
    QVERIFY2(shown.contains(QStringLiteral("Serial Port ttyA OPEN SUCCESS")), qPrintable(shown.join(u'|')));
    // A pty has no modem lines, so raising DTR fails and says why.
    QVERIFY2(std::any_of(shown.begin(), shown.end(), [](const QString &t) { return t.startsWith(QStringLiteral("Failed to set DTR: ")); }),
             qPrintable(shown.join(u'|')));
    QVERIFY(c.openSerialPort(serialSettings(pty.a()), QString(), QStringLiteral("ttyA"), false)); // already open

    QSerialPort far(pty.b());
    QVERIFY(far.open(QIODevice::ReadWrite));
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    all = all.repeated(32);

    QSignalSpy written(&c, &ConnectionController::bytesWritten);
    QVERIFY(c.writeSerial(all, serialSettings(pty.a()), pty.a()));
    QByteArray got;
    QVERIFY(QTest::qWaitFor([&] {
        got += far.readAll();
        return got.size() >= all.size();
    }, 5000));
    QCOMPARE(got, all);
    QVERIFY(!written.isEmpty());

    QSignalSpy ready(&c, &ConnectionController::readyRead);
    far.write(all);
    got.clear();
    QVERIFY(QTest::qWaitFor([&] {
        got += c.readAvailable(SerialPort);
        return got.size() >= all.size();
    }, 5000));
    QCOMPARE(got, all);
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

static QString sttyOf(const QString &device)
{
    QProcess stty;
    stty.start(QStringLiteral("stty"), {QStringLiteral("-F"), device, QStringLiteral("-a")});
    stty.waitForFinished(5000);
    return QString::fromLocal8Bit(stty.readAllStandardOutput());
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
    const QString termios = sttyOf(pty.a());
    QVERIFY2(termios.contains(QStringLiteral("speed 57600 baud")), qPrintable(termios));
    QVERIFY2(termios.contains(QStringLiteral(" cstopb")), qPrintable(termios));
    c.closeConnection(SerialPort, QStringLiteral("ttyA"));

    // The kernel refuses 7 data bits on a pty; the user is told instead of left guessing.
    status.clear();
    s.DataBits = 7;
    QVERIFY(c.openSerialPort(s, pty.a(), QStringLiteral("ttyA"), false));
    QStringList shown = texts(status);
    QVERIFY2(std::any_of(shown.begin(), shown.end(), [](const QString &t) { return t.startsWith(QStringLiteral("Failed to set data bits: ")); }),
             qPrintable(shown.join(u'|')));
}

void tst_ConnectionController::serialHardwareFlowKeepsRts()
{
    if (!PtyPair::available())
        QSKIP("socat is not installed");
    PtyPair pty;
    QVERIFY(pty.start());
    ConnectionController c;
    FormatSetting s = serialSettings(pty.a());
    s.FlowControl = QSerialPort::HardwareControl;
    QVERIFY(c.openSerialPort(s, QString(), QStringLiteral("ttyA"), true));
    QSignalSpy status(&c, &ConnectionController::statusMessage);
    QVERIFY(!c.setControlLine(ConnectionController::Rts, false));
    QCOMPARE(texts(status), QStringList{QStringLiteral("RTS is managed automatically by RTS/CTS flow control")});
    QCOMPARE(status.first().at(1).toInt(), 3000);
    QVERIFY(!c.controlLineState(ConnectionController::Rts)); // the wish is still stored
    status.clear();
    QVERIFY(!c.setControlLine(ConnectionController::Dtr, true));
    QVERIFY(texts(status).first().startsWith(QStringLiteral("Failed to set DTR: ")));
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
    pty.stop();
    if (watch) {
        QVERIFY(lost.wait(5000));
        QVERIFY(!c.isConnectionOpen(SerialPort));
        QCOMPARE(texts(status), QStringList{QStringLiteral("Serial Port %1 DISCONNECTED").arg(pty.a())});
        QCOMPARE(status.first().at(1).toInt(), 5000);
    } else {
        QTest::qWait(500);
        QCOMPARE(lost.size(), 0);
        QCOMPARE(status.size(), 0);
        QVERIFY(c.isConnectionOpen(SerialPort));
    }
}

void tst_ConnectionController::unassignedModeOpensNothing()
{
    ConnectionController c;
    for (int mode : {3, 8, -1}) {
        QVERIFY(!c.isConnectionOpen(mode));
        QVERIFY(c.readAvailable(mode).isEmpty());
        QCOMPARE(c.pendingBytes(mode), qint64(0));
        c.closeConnection(mode, QString());
    }
    QCOMPARE(c.serverBroadcast("x"), qint64(0));
    QVERIFY(!c.serverSendTo(QStringLiteral("a:1"), "x"));
    QVERIFY(!c.serverSendToIndex("x", 0));
    QVERIFY(c.serverTakeMessage(QStringLiteral("a:1")).isEmpty());
}

QTEST_GUILESS_MAIN(tst_ConnectionController)
#include "tst_connectioncontroller.moc"
