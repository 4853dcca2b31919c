#include "bridge/bridgelink.h"
#include "connection/connectionmode.h"
#include "tests/session/faketransport.h"

#include <QTest>

namespace {

QByteArray sub(Rfc2217Codec::Role role, quint8 code, const QByteArray &payload)
{
    return Rfc2217Codec(role).buildSuboption(code, payload);
}
QByteArray ask(quint8 code, const QByteArray &payload)
{
    return sub(Rfc2217Codec::Client, code, payload);
}
QByteArray answer(quint8 code, const QByteArray &payload)
{
    return sub(Rfc2217Codec::Server, code, payload);
}
QByteArray byte(int v)
{
    return QByteArray(1, char(v));
}

} // namespace

// The RFC 2217 server end of a link between a TCP server and a serial pane on fake
// transports: what a client asks is applied through the pane and answered with the
// value in effect afterwards.
class tst_ComPortServer : public QObject
{
    Q_OBJECT
private slots:
    void answers_data();
    void answers();
};

void tst_ComPortServer::answers_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("line"); // baud data parity stop flow, serial-module values

    // The pane starts at 9600 8N1 with XON/XOFF.
    const QString unchanged = QStringLiteral("9600 8 0 1 2");
    using C = Rfc2217Codec;
    QTest::newRow("parity odd stays odd") << ask(C::SetParity, byte(2)) << answer(C::SetParity, byte(2))
                                          << QStringLiteral("9600 8 3 1 2");
    QTest::newRow("parity even stays even") << ask(C::SetParity, byte(3)) << answer(C::SetParity, byte(3))
                                            << QStringLiteral("9600 8 2 1 2");
    QTest::newRow("parity mark stays mark") << ask(C::SetParity, byte(4)) << answer(C::SetParity, byte(4))
                                            << QStringLiteral("9600 8 5 1 2");
    QTest::newRow("flow hardware stays hardware") << ask(C::SetControl, byte(3)) << answer(C::SetControl, byte(3))
                                                  << QStringLiteral("9600 8 0 1 1");
    QTest::newRow("flow none is applied") << ask(C::SetControl, byte(1)) << answer(C::SetControl, byte(1))
                                          << QStringLiteral("9600 8 0 1 0");
    QTest::newRow("one batch") << ask(C::SetBaudRate, C::baudRatePayload(57600)) + ask(C::SetDataSize, byte(7))
                                      + ask(C::SetStopSize, byte(3))
                               << answer(C::SetBaudRate, C::baudRatePayload(57600)) + answer(C::SetDataSize, byte(7))
                                      + answer(C::SetStopSize, byte(3))
                               << QStringLiteral("57600 7 0 3 2");
    QTest::newRow("baud 2^32-1 gets the rate in effect")
        << ask(C::SetBaudRate, C::baudRatePayload(0xFFFFFFFFu)) << answer(C::SetBaudRate, C::baudRatePayload(9600)) << unchanged;
    QTest::newRow("baud above the range") << ask(C::SetBaudRate, C::baudRatePayload(16000001))
                                          << answer(C::SetBaudRate, C::baudRatePayload(9600)) << unchanged;
    QTest::newRow("baud 0 asks") << ask(C::SetBaudRate, C::baudRatePayload(0))
                                 << answer(C::SetBaudRate, C::baudRatePayload(9600)) << unchanged;
    QTest::newRow("data size 9 gets the size in effect") << ask(C::SetDataSize, byte(9)) << answer(C::SetDataSize, byte(8))
                                                         << unchanged;
    QTest::newRow("flow asked") << ask(C::SetControl, byte(0)) << answer(C::SetControl, byte(2)) << unchanged;
    QTest::newRow("RTS is the flow control's under RTS/CTS")
        << ask(C::SetControl, byte(3)) + ask(C::SetControl, byte(12))
        << answer(C::SetControl, byte(3)) + answer(C::SetControl, byte(11)) << QStringLiteral("9600 8 0 1 1");
    QTest::newRow("DTR the port cannot drive stays") << ask(C::SetControl, byte(9)) << answer(C::SetControl, byte(8))
                                                     << unchanged;
    QTest::newRow("Break held") << ask(C::SetControl, byte(5)) << answer(C::SetControl, byte(5)) << unchanged;
    QTest::newRow("signature") << ask(C::Signature, QByteArray()) << answer(C::Signature, "Quillon bridge") << unchanged;
    QTest::newRow("purge") << ask(C::PurgeData, byte(3)) << answer(C::PurgeData, byte(3)) << unchanged;
    QTest::newRow("codes the codec ignores") << ask(13, byte(1)) + ask(C::SetControl, byte(99))
                                                    + ask(C::FlowControlSuspend, QByteArray())
                                             << QByteArray() << unchanged;
}

void tst_ComPortServer::answers()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(QString, line);

    FormatSetting net;
    net.ConnMode = TcpServer;
    FormatSetting serial;
    serial.FlowControl = 2;
    PortSession network(net, 0), device(serial, 1);
    FakeTransport *wire = useFakeTransport(network);
    useFakeTransport(device);
    QVERIFY(network.open() && device.open());
    PortEndpoint a(&network), b(&device);
    BridgeConfig config;
    config.Protocol = BridgeConfig::Rfc2217Server;
    BridgeLink link(config, &a, &b);
    link.start();
    QCOMPARE(link.protocolEnd(), int(BridgeLink::EndA));

    // Data around the commands still crosses, once, with 0xFF unescaped.
    static_cast<FakeTransport *>(device.transport())->writes.clear();
    wire->feed(QByteArray("x\xff\xff", 3) + request + "y", QStringLiteral("c:1"));
    QByteArray replies;
    for (const FakeTransport::Write &w : std::as_const(wire->writes)) {
        QCOMPARE(w.peer, QStringLiteral("c:1"));
        replies += w.bytes;
    }
    QCOMPARE(replies, reply);
    const FormatSetting &s = device.settings();
    QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5").arg(s.BaudRate).arg(s.DataBits).arg(s.Parity).arg(s.StopBits).arg(s.FlowControl),
             line);
    QTRY_COMPARE(static_cast<FakeTransport *>(device.transport())->written(), QByteArray("x\xffy", 3));
}

QTEST_GUILESS_MAIN(tst_ComPortServer)
#include "tst_comportserver.moc"
