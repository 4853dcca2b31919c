#include "bridge/bridgelink.h"
#include "connection/connectionmode.h"
#include "session/portsession.h"
#include "tests/support/peers.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The RFC 2217 client end against ser2net: the serial pane's line parameters reach
// ser2net's tty when the link connects and again when the pane's baud rate changes.
class tst_Rfc2217ClientEnd : public QObject
{
    Q_OBJECT
private slots:
    void ser2netFollowsTheSerialPane();
};

void tst_Rfc2217ClientEnd::ser2netFollowsTheSerialPane()
{
    if (!PtyPair::available() || Ser2net::program().isEmpty())
        QSKIP("socat or ser2net is not installed");
    QTemporaryDir dir;
    PtyPair pty(dir.path());
    QVERIFY(pty.start());
    Ser2net server;
    QVERIFY2(server.start(pty.b(), QStringLiteral("telnet(rfc2217),tcp"), dir.path()), server.errors().constData());

    FormatSetting serial;
    serial.PortName = pty.a();
    serial.BaudRate = 19200;
    FormatSetting net;
    net.ConnMode = TcpClient;
    net.LastTargetPort = server.port();
    PortSession device(serial, 0), network(net, 1);
    QVERIFY(device.open() && network.open());
    PortEndpoint a(&device), b(&network);
    BridgeConfig config;
    config.Protocol = BridgeConfig::Rfc2217Client;
    config.Name = QStringLiteral("remote");
    BridgeLink link(config, &a, &b);
    QSignalSpy messages(&link, &BridgeLink::message);
    link.start();
    QCOMPARE(link.protocolEnd(), int(BridgeLink::EndB));

    const QString sent = QStringLiteral("remote: sent the serial parameters to the remote port");
    QVERIFY(QTest::qWaitFor([&] { return !messages.isEmpty(); }, 10000));
    QCOMPARE(messages.takeFirst().first().toString(), sent);
    QTRY_VERIFY_WITH_TIMEOUT(TestPeers::sttyOf(pty.b()).startsWith(QStringLiteral("speed 19200 baud")), 5000);

    FormatSetting faster = device.settings();
    faster.BaudRate = 38400;
    faster.StopBits = 2;
    QVERIFY(device.applyLineEdit(faster));
    QVERIFY(QTest::qWaitFor([&] { return !messages.isEmpty(); }, 5000));
    QCOMPARE(messages.takeFirst().first().toString(), sent);
    QTRY_VERIFY_WITH_TIMEOUT(TestPeers::sttyOf(pty.b()).startsWith(QStringLiteral("speed 38400 baud")), 5000);
    QVERIFY(TestPeers::sttyOf(pty.b()).contains(QStringLiteral(" cstopb")));
}

QTEST_GUILESS_MAIN(tst_Rfc2217ClientEnd)
#include "tst_rfc2217clientend.moc"
