#include "connection/connectioncontroller.h"
#include "connection/multiclientserver.h"
#include "settings/formatsetting.h"
#include "tests/support/bytes.h"
#include "tests/support/peers.h"
#include "tests/support/ptypair.h"

#include <QCoreApplication>
#include <QFile>
#include <QNetworkDatagram>
#include <QSerialPort>
#include <QSet>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <cstdio>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

// The texts a status spy saw, each with its time-out, one to a line.
QString texts(const QSignalSpy &spy)
{
    QStringList out;
    for (const auto &args : spy)
        out << args.at(0).toString() + QStringLiteral(" (%1)").arg(args.at(1).toInt());
    return out.join(u'\n');
}

FormatSetting serialSettings(const QString &port)
{
    return FormatSetting{.PortName = port, .BaudRate = 115200};
}

// Takes from a reader until size bytes came.
QByteArray collect(const std::function<QByteArray()> &take, qsizetype size)
{
    QByteArray got;
    (void)QTest::qWaitFor([&] { return (got += take()).size() >= size; }, 30000);
    return got;
}

QByteArray receive(QUdpSocket &s)
{
    return s.hasPendingDatagrams() || s.waitForReadyRead(3000) ? s.receiveDatagram().data() : QByteArray();
}

// A flood sent while receiving is held: nothing is handed out and TCP holds the sender
// back instead of us buffering it all; on release the signal comes at once, not at the
// next arrival, and every byte arrives in order.
void floodThroughHold(ConnectionController &c, int mode, QTcpSocket &sender, QSignalSpy &ready,
                      const std::function<QByteArray()> &take)
{
    const QByteArray flood = randomBytes(8 * 1024 * 1024, 9);
    c.setPaused(mode, true);
    sender.write(flood);
    QTest::qWait(300);
    QVERIFY(take().isEmpty());
    QVERIFY(!c.tcpClientSocket() || c.tcpClientSocket()->bytesAvailable() <= 64 * 1024);
    QVERIFY2(sender.bytesToWrite() > 0, "the sender was not held back");
    ready.clear();
    c.setPaused(mode, false);
    QVERIFY(!ready.isEmpty());
    QVERIFY(collect(take, flood.size()) == flood);
}

} // namespace

class tst_ConnectionController : public QObject
{
    Q_OBJECT
private slots:
    void keysAndTitlesTellPortsApart()
    {
        QSet<QString> keys, titles;
        FormatSetting s{.PortName = QStringLiteral("COM7"), .LastTargetHost = {QStringLiteral("10.1.1.1"), QStringLiteral("10.9.9.9")},
                        .LastTargetPort = 5020};
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
    }

    void nothingOpen()
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
        QVERIFY(c.setControlLine(ConnectionController::Dtr, false) && !c.controlLineState(ConnectionController::Dtr));
        QVERIFY(c.setControlLine(ConnectionController::Rts, false) && !c.controlLineState(ConnectionController::Rts));
        QVERIFY(!c.setControlLine(ConnectionController::Break, true) && !c.controlLineState(ConnectionController::Break));
        QVERIFY(c.setControlLine(ConnectionController::Break, false));
        QVERIFY(!c.setControlLine(9, true) && !c.controlLineState(9));
        QCOMPARE(texts(status), QStringLiteral("Open the serial port before sending Break (3000)"));

        // A device that cannot be opened: quietly, or with the reason; sending tries to open it.
        status.clear();
        const FormatSetting s = serialSettings(QStringLiteral("/dev/quillon-no-such-device"));
        QVERIFY(!c.openSerialPort(s, QString(), QStringLiteral("NODEV"), true));
        QCOMPARE(errors.size(), 0);
        QVERIFY(!c.writeSerial("x", s, s.PortName));
        const QString prefix = QStringLiteral("Serial Port /dev/quillon-no-such-device OPEN FAILED! ERROR: ");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(texts(status).startsWith(prefix) && texts(status).endsWith(QLatin1String("(5000)")) && texts(status).size() > prefix.size() + 7,
                 qPrintable(texts(status)));
    }

    void tcpClient()
    {
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        ConnectionController c;
        QSignalSpy arrived(&c, &ConnectionController::peerArrived);
        QSignalSpy gone(&c, &ConnectionController::tcpClientDisconnected);
        QSignalSpy errors(&c, &ConnectionController::errorOccurred);
        QSignalSpy status(&c, &ConnectionController::statusMessage);
        QSignalSpy ready(&c, &ConnectionController::readyRead);
        const auto take = [&] { return c.readAvailable(TcpClient); };
        c.connectTcpClient(QStringLiteral("localhost"), listener.serverPort());
        // Bytes written while connecting wait for the connection, in order.
        QVERIFY(!c.isConnectionOpen(TcpClient));
        QVERIFY(c.writeTcpClient("first,") && c.writeTcpClient("second,") && !c.writeTcpClient(QByteArray()));
        QCOMPARE(c.pendingBytes(TcpClient), qint64(13));
        QVERIFY(arrived.wait(5000));
        QVERIFY(c.isConnectionOpen(RemoteSerial) && c.writeTcpClient("third"));
        QVERIFY(listener.hasPendingConnections() || listener.waitForNewConnection(5000));
        QTcpSocket *peer = listener.nextPendingConnection();
        QCOMPARE(TestPeers::readFor(*peer, 18, 5000), QByteArray("first,second,third"));
        floodThroughHold(c, TcpClient, *peer, ready, take);
        peer->disconnectFromHost();
        QVERIFY(gone.wait(5000));
        QVERIFY(!c.isConnectionOpen(TcpClient) && !c.writeTcpClient("nowhere"));

        // A refused connection is reported and forgotten, with what was waiting to be sent.
        c.connectTcpClient(QStringLiteral("127.0.0.1"), TestPeers::freePort());
        QVERIFY(c.writeTcpClient("lost"));
        QVERIFY(errors.wait(5000));
        QVERIFY(errors.last().at(0).toString().startsWith(QStringLiteral("TCP connect FAILED: ")));
        QVERIFY(texts(status).endsWith(errors.last().at(0).toString() + QStringLiteral(" (5000)")));
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

    void allowlist_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<bool>("allowed");
        const auto row = [](const char *name, const char *peer, const char *list, bool allowed) {
            QTest::newRow(name) << QString::fromLatin1(peer) << QString::fromLatin1(list).split(u',', Qt::SkipEmptyParts) << allowed;
        };
        row("empty list", "10.1.2.3", "", true);
        row("subnet outside", "10.0.0.1", "192.168.1.0/24", false);
        row("host exact, blanks around", "10.0.0.1", " 10.0.0.1 ", true);
        row("host other", "10.0.0.2", "10.0.0.1", false);
        row("v4-mapped peer, v4 host", "::ffff:127.0.0.1", "127.0.0.1", true);
        row("v4-mapped peer, v4 subnet", "::ffff:192.168.1.9", "192.168.1.0/24", true);
        row("v6 subnet", "fd00::5", "fd00::/8", true);
        row("garbage ignored, next matches", "10.0.0.1", "not-an-address,1.2.3/99,10.0.0.0/8", true);
        row("only garbage refuses", "10.0.0.1", "garbage,10.0.0.0/40", false);
        row("only blanks refuse", "10.0.0.1", " ,   ", false);
    }

    void allowlist()
    {
        QFETCH(QString, peer);
        QFETCH(QStringList, list);
        QFETCH(bool, allowed);
        QCOMPARE(MultiClientServer::addressAllowed(QHostAddress(peer), list), allowed);
    }

    void tcpServer()
    {
        ConnectionController c;
        c.setClientPolicy(1);
        c.setLowLatency(true);
        c.setAllowlist({QStringLiteral("192.168.1.0/24"), QStringLiteral("junk")});
        QSignalSpy status(&c, &ConnectionController::statusMessage);
        QSignalSpy arrived(&c, &ConnectionController::peerArrived);
        QSignalSpy message(&c, &ConnectionController::serverMessage);
        c.listenTcp(QHostAddress::AnyIPv4, 0);
        QVERIFY(c.isConnectionOpen(TcpServer) && c.server()->lowLatency());
        const quint16 port = c.server()->serverPort();
        QCOMPARE(c.serverAddressText(), QStringLiteral("0.0.0.0:%1").arg(port));
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        const auto connectClient = [&] {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(QHostAddress::LocalHost, port);
            return clients.back()->waitForConnected(5000) ? clients.back().get() : nullptr;
        };
        const auto keyOf = [](const QTcpSocket *s) { return QStringLiteral("127.0.0.1:%1").arg(s->localPort()); };
        // A refused client is told by the connection closing, the user by a status text.
        const auto refused = [&](const QString &reason) {
            QTcpSocket *client = connectClient();
            const QString text = client ? QStringLiteral("Refused %1: %2 (5000)").arg(keyOf(client), reason) : QString();
            return client && QTest::qWaitFor([&] {
                return texts(status).contains(text) && client->state() == QAbstractSocket::UnconnectedState; }, 5000);
        };
        QVERIFY(refused(QStringLiteral("not on the address allowlist")));
        c.setAllowlist({QStringLiteral("junk"), QStringLiteral("127.0.0.0/8")});
        QTcpSocket *first = connectClient();
        QVERIFY(first && arrived.wait(5000));
        const QString firstKey = keyOf(first);
        QCOMPARE(arrived.first().at(0).toString(), firstKey);
        QVERIFY(refused(QStringLiteral("the port already has a client (exclusive mode)")));
        QCOMPARE(c.serverClients(), QStringList{firstKey});

        // A client leaving: its unread bytes go, then it is reported lost, then the count changes.
        QStringList order;
        connect(&c, &ConnectionController::peerLost, this, [&](const QString &peer) { order << peer; });
        connect(&c, &ConnectionController::serverConnectionsChanged, this, [&] { order << QStringLiteral("state"); });
        first->write("unread");
        QVERIFY(message.wait(5000));
        QCOMPARE(message.first().at(0).toString(), firstKey);
        first->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(order, (QStringList{firstKey, QStringLiteral("state")}), 5000);
        QVERIFY(c.serverTakeMessage(firstKey).isEmpty());

        // Forty clients that vanish at once leave nothing behind: once three later ones are
        // in, only they are.
        c.setClientPolicy(0);
        for (int i = 0; i < 40; ++i) {
            QTcpSocket burst;
            burst.connectToHost(QHostAddress::LocalHost, port);
            if (i % 2)
                burst.waitForConnected(1000);
            burst.write("x");
            burst.abort();
        }
        const QList<QTcpSocket *> senders{connectClient(), connectClient(), connectClient()};
        QVERIFY(!senders.contains(nullptr));
        const QSet<QString> keys{keyOf(senders[0]), keyOf(senders[1]), keyOf(senders[2])};
        const auto clientKeys = [&] {
            const QStringList list = c.serverClients();
            return QSet<QString>(list.begin(), list.end());
        };
        QTRY_COMPARE_WITH_TIMEOUT(clientKeys(), keys, 10000);

        // Interleaved writes; each client's stream must come back whole and in order.
        QList<QByteArray> sent(3);
        for (int round = 0; round < 200; ++round) {
            for (int i = 0; i < 3; ++i) {
                const QByteArray chunk = QByteArray::number(round) + char('A' + i) + QByteArray(round % 17, char('a' + i));
                sent[i] += chunk;
                senders[i]->write(chunk);
            }
            if (round % 50 == 0)
                QTest::qWait(1);
        }
        for (int i = 0; i < 3; ++i)
            QCOMPARE(collect([&] { return c.serverTakeMessage(keyOf(senders[i])); }, sent[i].size()), sent[i]);
        QVERIFY(c.serverTakeMessage(QStringLiteral("1.2.3.4:5")).isEmpty());
        // Sending: to all, to one peer, and to an index out of range, which means the first.
        QVERIFY(c.serverBroadcast({}) == 0 && !c.serverSendTo(keyOf(senders[0]), {}) && c.serverBroadcast("all") == 3);
        QVERIFY(c.serverSendTo(keyOf(senders[1]), "only-b") && !c.serverSendTo(QStringLiteral("127.0.0.1:1"), "x"));
        QVERIFY(c.serverSendToIndex("idx", 9));
        QCOMPARE(TestPeers::readFor(*senders[0], 6, 5000), QByteArray("allidx"));
        QCOMPARE(TestPeers::readFor(*senders[1], 9, 5000), QByteArray("allonly-b"));
        floodThroughHold(c, TcpServer, *senders[2], message, [&] { return c.serverTakeMessage(keyOf(senders[2])); });

        // Closing drops the clients without reporting each; a new listen keeps the options.
        order.clear();
        c.closeConnection(TcpServer, QString());
        QVERIFY(!c.isConnectionOpen(TcpServer) && c.serverClients().isEmpty());
        for (QTcpSocket *s : senders)
            QTRY_COMPARE_WITH_TIMEOUT(s->state(), QAbstractSocket::UnconnectedState, 5000);
        QCOMPARE(order, QStringList{QStringLiteral("state")});
        c.setClientPolicy(1);
        c.listenTcp(QHostAddress::LocalHost, 0);
        QVERIFY(c.isConnectionOpen(TcpServer) && c.server()->lowLatency());
        QCOMPARE(c.server()->clientPolicy(), 1);
    }

    void udp()
    {
        ConnectionController c;
        QSignalSpy changed(&c, &ConnectionController::udpPeersChanged);
        QSignalSpy status(&c, &ConnectionController::statusMessage);
        QSignalSpy errors(&c, &ConnectionController::errorOccurred);
        QUdpSocket one, two;
        QVERIFY(one.bind(QHostAddress::LocalHost, 0) && two.bind(QHostAddress::AnyIPv4, 0, QUdpSocket::DontShareAddress));
        QVERIFY(c.bindUdp(0) && c.isConnectionOpen(UdpServer));
        QVERIFY(!c.udpSendToPeerRow("x", 0) && !c.udpReplyToCurrentPeer("x") && !c.udpSendTo({}, QStringLiteral("127.0.0.1"), 9));
        QCOMPARE(texts(status), QStringLiteral("No UDP peer to reply to yet (3000)"));
        const quint16 port = c.findChild<QUdpSocket *>()->localPort();
        const auto deliver = [&](QUdpSocket &from, const QByteArray &d) {
            from.writeDatagram(d, QHostAddress::LocalHost, port);
            QList<QPair<QByteArray, QString>> got;
            (void)QTest::qWaitFor([&] { return !(got += c.readUdpDatagrams()).isEmpty(); }, 3000);
            return got;
        };
        QCOMPARE(deliver(one, "a1"), (QList<QPair<QByteArray, QString>>{{"a1", QStringLiteral("127.0.0.1:%1").arg(one.localPort())}}));
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
        QVERIFY(texts(status).startsWith(QStringLiteral("UDP bind to port %1 FAILED: ").arg(two.localPort())));
        QCOMPARE(errors.size(), 1);
    }

    void serialPty_data()
    {
        QTest::addColumn<bool>("watch");
        QTest::newRow("watching port loss") << true;
        QTest::newRow("not watching port loss") << false;
    }

    void serialPty()
    {
        QFETCH(bool, watch);
        if (!PtyPair::available())
            QSKIP("socat is not installed");
        PtyPair pty;
        QVERIFY(pty.start());
        ConnectionController c;
        QSignalSpy status(&c, &ConnectionController::statusMessage);
        FormatSetting s{.PortName = pty.a(), .BaudRate = 57600, .StopBits = 2};
        QVERIFY(c.openSerialPort(s, QString(), QStringLiteral("ttyA"), false));
        QVERIFY(c.openSerialPort(s, QString(), QStringLiteral("ttyA"), false)); // already open
        const QString termios = TestPeers::sttyOf(pty.a());
        QVERIFY2(termios.contains(QLatin1String("speed 57600 baud")) && termios.contains(QLatin1String(" cstopb")), qPrintable(termios));
        QVERIFY2(texts(status).contains(QStringLiteral("Serial Port ttyA OPEN SUCCESS (1000)")), qPrintable(texts(status)));
        // A pty has no modem lines, so raising DTR fails and says why.
        QVERIFY(texts(status).contains(QStringLiteral("Failed to set DTR: ")));

        QSerialPort far(pty.b());
        QVERIFY(far.open(QIODevice::ReadWrite));
        const QByteArray all = allByteValues(32);
        QSignalSpy written(&c, &ConnectionController::bytesWritten);
        QSignalSpy ready(&c, &ConnectionController::readyRead);
        QVERIFY(c.writeSerial(all, s, pty.a()));
        QCOMPARE(TestPeers::readFor(far, all.size(), 5000), all);
        far.write(all);
        QCOMPARE(collect([&] { return c.readAvailable(SerialPort); }, all.size()), all);
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
        c.closeConnection(SerialPort, QStringLiteral("ttyA"));
        QVERIFY(!c.isConnectionOpen(SerialPort) && !c.controlLineState(ConnectionController::Break));
        QVERIFY(texts(status).endsWith(QStringLiteral("Serial Port ttyA CLOSE SUCCESS (3000)")));
        QVERIFY(c.controlLineState(ConnectionController::Dtr)); // the wanted level survives the close

        // The kernel refuses 7 data bits on a pty; the user is told instead of left guessing.
        s.DataBits = 7;
        QVERIFY(c.openSerialPort(s, pty.a(), QStringLiteral("ttyA"), false));
        QVERIFY2(texts(status).contains(QStringLiteral("Failed to set data bits: ")), qPrintable(texts(status)));
        c.closeConnection(SerialPort, QStringLiteral("ttyA"));
        // With RTS/CTS flow control RTS is not ours to drive; the wish is still stored.
        s = serialSettings(pty.a());
        s.FlowControl = QSerialPort::HardwareControl;
        QVERIFY(c.openSerialPort(s, QString(), QStringLiteral("ttyA"), true));
        status.clear();
        QVERIFY(!c.setControlLine(ConnectionController::Rts, false) && !c.controlLineState(ConnectionController::Rts));
        QCOMPARE(texts(status), QStringLiteral("RTS is managed automatically by RTS/CTS flow control (3000)"));
        QVERIFY(!c.setControlLine(ConnectionController::Dtr, true) && texts(status).contains(QStringLiteral("Failed to set DTR: ")));

        // The device node goes away under the open port: only a watched port is closed.
        c.setWatchPortLoss(watch);
        QSignalSpy lost(&c, &ConnectionController::serialPortLost);
        status.clear();
        QVERIFY(pty.stop());
        QTest::qWait(500);
        QTRY_COMPARE_WITH_TIMEOUT(lost.size(), int(watch), 5000);
        QCOMPARE(c.isConnectionOpen(SerialPort), !watch);
        QCOMPARE(texts(status), watch ? QStringLiteral("Serial Port %1 DISCONNECTED (5000)").arg(pty.a()) : QString());
    }

    // A serial port whose group keeps the user out: the open failure says which group to
    // join and that a new login is needed. The open runs as "nobody" through runuser.
    void permissionHintNamesTheDevicesGroup()
    {
        const QString runuser = TestPeers::findTool(QStringLiteral("runuser"));
        if (::geteuid() != 0 || runuser.isEmpty() || !PtyPair::available() || !::getgrnam("dialout"))
            QSKIP("needs root, runuser, socat and a dialout group to hand a device to another user");
        PtyPair pty;
        QVERIFY(pty.start());
        const QByteArray device = QFile::symLinkTarget(pty.a()).toLocal8Bit();
        QVERIFY(device.startsWith("/dev/pts/"));
        QCOMPARE(::chown(device.constData(), 0, ::getgrnam("dialout")->gr_gid), 0);
        QCOMPARE(::chmod(device.constData(), 0660), 0);

        // A copy of this program where "nobody" may run it.
        QTemporaryDir dir(QStringLiteral("/tmp/quillon-permission-XXXXXX"));
        QVERIFY(dir.isValid());
        const QString self = dir.filePath(QStringLiteral("opener"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), self));
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                                      | QFile::ExeOther));
        QProcess opener;
        opener.start(runuser, {QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"), self,
                               QStringLiteral("--open"), QString::fromLocal8Bit(device)});
        QVERIFY(opener.waitForFinished(15000));
        const QString said = QString::fromUtf8(opener.readAllStandardOutput());
        QVERIFY2(said.contains(QStringLiteral("OPEN FAILED")), qPrintable(said + QString::fromUtf8(opener.readAllStandardError())));
        QVERIFY2(said.contains(QStringLiteral("group \"dialout\"")) && said.contains(QStringLiteral("usermod -aG dialout nobody"))
                     && said.contains(QStringLiteral("log in again")),
                 qPrintable(said));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // As "nobody": open the device and print what the controller says.
    if (argc == 3 && qstrcmp(argv[1], "--open") == 0) {
        ConnectionController controller;
        QObject::connect(&controller, &ConnectionController::statusMessage, [](const QString &text) {
            std::printf("%s\n", qPrintable(text));
        });
        return controller.openSerialPort(serialSettings(QString::fromLocal8Bit(argv[2])), QString(), QString::fromLocal8Bit(argv[2]), false) ? 1 : 0;
    }
    tst_ConnectionController test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_connectioncontroller.moc"
