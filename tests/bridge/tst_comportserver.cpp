#include "bridge/bridgelink.h"
#include "connection/connectionmode.h"
#include "tests/session/faketransport.h"

#include <QTest>

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

    using C = Rfc2217Codec;
    // Suboptions with a one-byte value, or a payload for the rest, as a client and the server send them.
    const auto ask = [](quint8 code, QByteArray payload) { return C(C::Client).buildSuboption(code, payload); };
    const auto answer = [](quint8 code, QByteArray payload) { return C(C::Server).buildSuboption(code, payload); };
    const auto b = [](int v) { return QByteArray(1, char(v)); };
    const auto row = [](const char *name, const QByteArray &request, const QByteArray &reply, const char *line = "9600 8 0 1 2") {
        QTest::newRow(name) << request << reply << QString::fromLatin1(line); // the pane starts at 9600 8N1, XON/XOFF
    };
    const auto askBaud = [&](quint32 rate) { return ask(C::SetBaudRate, C::baudRatePayload(rate)); };
    const auto answerBaud = [&](quint32 rate) { return answer(C::SetBaudRate, C::baudRatePayload(rate)); };
    row("parity odd stays odd", ask(C::SetParity, b(2)), answer(C::SetParity, b(2)), "9600 8 3 1 2");
    row("parity even stays even", ask(C::SetParity, b(3)), answer(C::SetParity, b(3)), "9600 8 2 1 2");
    row("parity mark stays mark", ask(C::SetParity, b(4)), answer(C::SetParity, b(4)), "9600 8 5 1 2");
    row("flow hardware stays hardware", ask(C::SetControl, b(3)), answer(C::SetControl, b(3)), "9600 8 0 1 1");
    row("flow none is applied", ask(C::SetControl, b(1)), answer(C::SetControl, b(1)), "9600 8 0 1 0");
    row("one batch", askBaud(57600) + ask(C::SetDataSize, b(7)) + ask(C::SetStopSize, b(3)),
        answerBaud(57600) + answer(C::SetDataSize, b(7)) + answer(C::SetStopSize, b(3)), "57600 7 0 3 2");
    row("baud 2^32-1 gets the rate in effect", askBaud(0xFFFFFFFFu), answerBaud(9600));
    row("baud above the range", askBaud(16000001), answerBaud(9600));
    row("baud 0 asks", askBaud(0), answerBaud(9600));
    row("data size 9 gets the size in effect", ask(C::SetDataSize, b(9)), answer(C::SetDataSize, b(8)));
    row("flow asked", ask(C::SetControl, b(0)), answer(C::SetControl, b(2)));
    row("RTS is the flow control's under RTS/CTS", ask(C::SetControl, b(3)) + ask(C::SetControl, b(12)),
        answer(C::SetControl, b(3)) + answer(C::SetControl, b(11)), "9600 8 0 1 1");
    row("DTR the port cannot drive stays", ask(C::SetControl, b(9)), answer(C::SetControl, b(8)));
    row("Break held", ask(C::SetControl, b(5)), answer(C::SetControl, b(5)));
    row("signature", ask(C::Signature, QByteArray()), answer(C::Signature, "Quillon bridge"));
    row("purge", ask(C::PurgeData, b(3)), answer(C::PurgeData, b(3)));
    row("codes the codec ignores", ask(13, b(1)) + ask(C::SetControl, b(99)) + ask(C::FlowControlSuspend, QByteArray()),
        QByteArray());
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
    FakeTransport *wire = useFakeTransport(network), *serialWire = useFakeTransport(device);
    QVERIFY(network.open() && device.open());
    PortEndpoint a(&network), b(&device);
    BridgeConfig config;
    config.Protocol = BridgeConfig::Rfc2217Server;
    BridgeLink link(config, &a, &b);
    link.start();
    QCOMPARE(link.protocolEnd(), int(BridgeLink::EndA));

    // Data around the commands still crosses, once, with 0xFF unescaped.
    serialWire->writes.clear();
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
    QTRY_COMPARE(serialWire->written(), QByteArray("x\xffy", 3));
}

QTEST_GUILESS_MAIN(tst_ComPortServer)
#include "tst_comportserver.moc"
