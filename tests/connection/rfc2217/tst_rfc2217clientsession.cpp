#include "connection/rfc2217clientsession.h"
#include "connection/rfc2217lineconfig.h"

#include <QTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

QByteArray clientSub(quint8 code, const char *payloadHex)
{
    return Rfc2217Codec(Rfc2217Codec::Client).buildSuboption(code, hex(payloadHex));
}

QByteArray serverSub(quint8 code, const char *payloadHex)
{
    return Rfc2217Codec(Rfc2217Codec::Server).buildSuboption(code, hex(payloadHex));
}

const QString acceptedText = QStringLiteral("The remote port accepted serial parameter control.");
const QString plainTelnetText =
    QStringLiteral("The remote does not support serial parameter control; continuing as plain Telnet.");
const QString transparentText =
    QStringLiteral("The remote is not an RFC 2217 server; continuing as transparent TCP. "
                   "The handshake bytes may have reached the remote serial line.");

// A session that the server has accepted.
Rfc2217ClientSession activeSession()
{
    Rfc2217ClientSession session;
    session.start();
    session.decode(hex("fffd2c"));
    return session;
}

Rfc2217LineConfig pushedConfig()
{
    Rfc2217LineConfig config;
    config.baudRate = 115200;
    config.useRemoteSerialConfig = false;
    return config;
}

QByteArray preamble()
{
    return clientSub(0, "5175696c6c6f6e") + clientSub(11, "f0");
}

} // namespace

// The client session: negotiation outcome, status texts, pushed line settings, remote state.
class TestRfc2217ClientSession : public QObject
{
    Q_OBJECT

private slots:
    void startSendsClientHandshake();
    void negotiationOutcome_data();
    void negotiationOutcome();
    void lateAcceptanceAfterTimeout();
    void timeoutOnlyWhileNegotiating();
    void dontComPortKeepsState();
    void encodeData_data();
    void encodeData();
    void transparentStatePassesIacThrough();
    void firstApplyConfigSendsEverything();
    void applyConfigSendsOnlyChanges_data();
    void applyConfigSendsOnlyChanges();
    void keepRemoteConfiguration();
    void applyConfigNeedsActiveState();
    void setBreak();
    void baudRateNotifications_data();
    void baudRateNotifications();
    void acceptanceTextWinsOverBaudText();
    void remoteStateFromNotifications();
    void requestAnswersKeepKnownState();
    void remoteSummary();
    void decodeSplitAtEveryByte();
    void resetForgetsEverything();
};

void TestRfc2217ClientSession::startSendsClientHandshake()
{
    Rfc2217ClientSession session;
    QCOMPARE(session.start().toHex(), QByteArray("fffb2cfffd2cfffb00fffd00fffb03fffd03"));
    QCOMPARE(session.state(), Rfc2217ClientSession::Negotiating);
    QCOMPARE(Rfc2217ClientSession::HandshakeTimeoutMs, 3000);
}

void TestRfc2217ClientSession::negotiationOutcome_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<bool>("timeout");
    QTest::addColumn<int>("state");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("DO 44 accepts") << hex("fffd2c") << false << int(Rfc2217ClientSession::Active) << QByteArray()
                                   << acceptedText << QByteArray();
    QTest::newRow("ser2net greeting with data")
        << hex("fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c 41ffff") << false << int(Rfc2217ClientSession::Active)
        << hex("fffe01") << acceptedText << hex("41ff");
    QTest::newRow("WILL 44 accepts") << hex("fffb2c fffb01") << false << int(Rfc2217ClientSession::Active)
                                     << hex("fffe01") << acceptedText << QByteArray();
    QTest::newRow("Telnet peer refusing 44") << hex("fffc2c fffe2c fffb01") << true
                                             << int(Rfc2217ClientSession::PlainTelnet) << hex("fffe2c fffc2c fffe01")
                                             << plainTelnetText << QByteArray();
    QTest::newRow("silent peer") << QByteArray() << true << int(Rfc2217ClientSession::TransparentTcp) << QByteArray()
                                 << transparentText << QByteArray();
    QTest::newRow("raw peer with data") << QByteArrayLiteral("login: ") << true
                                        << int(Rfc2217ClientSession::TransparentTcp) << QByteArray() << transparentText
                                        << QByteArrayLiteral("login: ");
}

void TestRfc2217ClientSession::negotiationOutcome()
{
    QFETCH(QByteArray, received);
    QFETCH(bool, timeout);
    QFETCH(int, state);
    QFETCH(QByteArray, reply);
    QFETCH(QString, message);
    QFETCH(QByteArray, data);

    Rfc2217ClientSession session;
    session.start();
    Rfc2217Result decoded = session.decode(received);
    QCOMPARE(decoded.reply.toHex(), reply.toHex());
    QCOMPARE(decoded.data.toHex(), data.toHex());
    QCOMPARE(decoded.negotiationEnded, !timeout);
    if (timeout) {
        QVERIFY(decoded.message.isEmpty());
        QCOMPARE(session.state(), Rfc2217ClientSession::Negotiating);
        const Rfc2217Result timedOut = session.handshakeTimedOut();
        QVERIFY(timedOut.negotiationEnded);
        QCOMPARE(timedOut.message, message);
        QVERIFY(timedOut.reply.isEmpty());
    } else {
        QCOMPARE(decoded.message, message);
    }
    QCOMPARE(int(session.state()), state);
}

void TestRfc2217ClientSession::lateAcceptanceAfterTimeout()
{
    Rfc2217ClientSession session;
    session.start();
    session.decode(hex("fffb01"));
    QCOMPARE(session.handshakeTimedOut().message, plainTelnetText);
    const Rfc2217Result late = session.decode(hex("fffd2c"));
    QCOMPARE(session.state(), Rfc2217ClientSession::Active);
    QCOMPARE(late.message, acceptedText);
    QVERIFY(late.negotiationEnded);
}

void TestRfc2217ClientSession::timeoutOnlyWhileNegotiating()
{
    Rfc2217ClientSession session = activeSession();
    const Rfc2217Result result = session.handshakeTimedOut();
    QVERIFY(result.message.isEmpty());
    QVERIFY(!result.negotiationEnded);
    QCOMPARE(session.state(), Rfc2217ClientSession::Active);

    Rfc2217ClientSession transparent;
    transparent.start();
    transparent.handshakeTimedOut();
    QVERIFY(transparent.handshakeTimedOut().message.isEmpty());
    QCOMPARE(transparent.state(), Rfc2217ClientSession::TransparentTcp);
}

void TestRfc2217ClientSession::dontComPortKeepsState()
{
    Rfc2217ClientSession session = activeSession();
    const Rfc2217Result result = session.decode(hex("fffe2c"));
    QCOMPARE(result.reply.toHex(), QByteArray("fffc2c"));
    QVERIFY(!session.codec().comPortAccepted());
    QCOMPARE(session.state(), Rfc2217ClientSession::Active);
    // Accepting again is announced again.
    QCOMPARE(session.decode(hex("fffd2c")).message, acceptedText);
}

void TestRfc2217ClientSession::encodeData_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<bool>("timeout");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("negotiating") << QByteArray() << false << hex("41ffff42");
    QTest::newRow("active") << hex("fffd2c") << false << hex("41ffff42");
    QTest::newRow("plain Telnet") << hex("fffb01") << true << hex("41ffff42");
    QTest::newRow("transparent TCP") << QByteArray() << true << hex("41ff42");
}

void TestRfc2217ClientSession::encodeData()
{
    QFETCH(QByteArray, received);
    QFETCH(bool, timeout);
    QFETCH(QByteArray, wire);
    Rfc2217ClientSession session;
    session.start();
    session.decode(received);
    if (timeout)
        session.handshakeTimedOut();
    QCOMPARE(session.encodeData(hex("41ff42")).toHex(), wire.toHex());
}

void TestRfc2217ClientSession::transparentStatePassesIacThrough()
{
    Rfc2217ClientSession session;
    session.start();
    session.handshakeTimedOut();
    // A raw peer's 0xFF are data: nothing is swallowed and nothing is answered.
    const QByteArray raw = hex("41 ff fd 2c ff ff 42 ff");
    const Rfc2217Result result = session.decode(raw);
    QCOMPARE(result.data.toHex(), raw.toHex());
    QVERIFY(result.reply.isEmpty());
    QCOMPARE(session.state(), Rfc2217ClientSession::TransparentTcp);
}

void TestRfc2217ClientSession::firstApplyConfigSendsEverything()
{
    Rfc2217ClientSession session = activeSession();
    Rfc2217LineConfig config = pushedConfig();
    config.dataBits = 7;
    config.parity = 2; // even
    config.stopBits = 2;
    config.flowControl = 1; // hardware
    config.dtrOn = false;
    config.rtsOn = true;
    const QByteArray expected = preamble() + clientSub(1, "0001c200") + clientSub(2, "07") + clientSub(3, "03")
                              + clientSub(4, "02") + clientSub(5, "03") + clientSub(5, "09") + clientSub(5, "0b");
    QCOMPARE(session.applyConfig(config).toHex(), expected.toHex());
    QVERIFY(session.applyConfig(config).isEmpty());
}

void TestRfc2217ClientSession::applyConfigSendsOnlyChanges_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("baud rate") << QStringLiteral("baud") << 9600 << clientSub(1, "00002580");
    QTest::newRow("baud rate 0 asks") << QStringLiteral("baud") << 0 << clientSub(1, "00000000");
    QTest::newRow("data bits") << QStringLiteral("data") << 5 << clientSub(2, "05");
    QTest::newRow("data bits 9 sends 8 (unchanged)") << QStringLiteral("data") << 9 << QByteArray();
    QTest::newRow("parity odd") << QStringLiteral("parity") << 3 << clientSub(3, "02");
    QTest::newRow("parity mark") << QStringLiteral("parity") << 5 << clientSub(3, "04");
    QTest::newRow("parity space") << QStringLiteral("parity") << 4 << clientSub(3, "05");
    QTest::newRow("parity 1 sends none (unchanged)") << QStringLiteral("parity") << 1 << QByteArray();
    QTest::newRow("stop one and a half") << QStringLiteral("stop") << 3 << clientSub(4, "03");
    QTest::newRow("stop 0 sends one (unchanged)") << QStringLiteral("stop") << 0 << QByteArray();
    QTest::newRow("software flow") << QStringLiteral("flow") << 2 << clientSub(5, "02");
    QTest::newRow("dtr off") << QStringLiteral("dtr") << 0 << clientSub(5, "09");
    QTest::newRow("rts off") << QStringLiteral("rts") << 0 << clientSub(5, "0c");
}

void TestRfc2217ClientSession::applyConfigSendsOnlyChanges()
{
    QFETCH(QString, field);
    QFETCH(int, value);
    QFETCH(QByteArray, expected);
    Rfc2217ClientSession session = activeSession();
    Rfc2217LineConfig config = pushedConfig();
    QVERIFY(session.applyConfig(config).startsWith(preamble()));
    if (field == QLatin1String("baud"))
        config.baudRate = value;
    else if (field == QLatin1String("data"))
        config.dataBits = value;
    else if (field == QLatin1String("parity"))
        config.parity = value;
    else if (field == QLatin1String("stop"))
        config.stopBits = value;
    else if (field == QLatin1String("flow"))
        config.flowControl = value;
    else if (field == QLatin1String("dtr"))
        config.dtrOn = value != 0;
    else if (field == QLatin1String("rts"))
        config.rtsOn = value != 0;
    QCOMPARE(session.applyConfig(config).toHex(), expected.toHex());
    QVERIFY(session.applyConfig(config).isEmpty());
}

void TestRfc2217ClientSession::keepRemoteConfiguration()
{
    Rfc2217ClientSession session = activeSession();
    Rfc2217LineConfig keep = pushedConfig();
    keep.useRemoteSerialConfig = true;
    QCOMPARE(session.applyConfig(keep).toHex(), preamble().toHex());
    QVERIFY(session.applyConfig(keep).isEmpty());
    // Switching the option off later sends the full set, once.
    Rfc2217LineConfig push = keep;
    push.useRemoteSerialConfig = false;
    const QByteArray full = session.applyConfig(push);
    QVERIFY(!full.startsWith(preamble()));
    QCOMPARE(full.count(QByteArray::fromHex("fffa2c")), 7);
    QVERIFY(session.applyConfig(push).isEmpty());
}

void TestRfc2217ClientSession::applyConfigNeedsActiveState()
{
    Rfc2217ClientSession session;
    session.start();
    QVERIFY(session.applyConfig(pushedConfig()).isEmpty());
    session.decode(hex("fffb01"));
    session.handshakeTimedOut();
    QVERIFY(session.applyConfig(pushedConfig()).isEmpty());
    // Nothing was recorded as sent: acceptance later still sends everything.
    session.decode(hex("fffd2c"));
    QCOMPARE(session.applyConfig(pushedConfig()).count(QByteArray::fromHex("fffa2c")), 9);
}

void TestRfc2217ClientSession::setBreak()
{
    Rfc2217ClientSession session;
    session.start();
    QVERIFY(session.setBreak(true).isEmpty());
    session.decode(hex("fffd2c"));
    QCOMPARE(session.setBreak(true).toHex(), clientSub(5, "05").toHex());
    QCOMPARE(session.setBreak(false).toHex(), clientSub(5, "06").toHex());
}

void TestRfc2217ClientSession::baudRateNotifications_data()
{
    QTest::addColumn<quint32>("known");
    QTest::addColumn<quint32>("reported");
    QTest::addColumn<QString>("message");
    QTest::newRow("first report") << 0u << 9600u << QString();
    QTest::newRow("same rate") << 9600u << 9600u << QString();
    QTest::newRow("new rate") << 9600u << 115200u << QStringLiteral("The remote port is now at 115200 baud.");
}

void TestRfc2217ClientSession::baudRateNotifications()
{
    QFETCH(quint32, known);
    QFETCH(quint32, reported);
    QFETCH(QString, message);
    Rfc2217ClientSession session = activeSession();
    if (known)
        session.decode(serverSub(1, Rfc2217Codec::baudRatePayload(known).toHex().constData()));
    const Rfc2217Result result =
        session.decode(serverSub(1, Rfc2217Codec::baudRatePayload(reported).toHex().constData()));
    QCOMPARE(result.message, message);
    QCOMPARE(session.remoteBaudRate(), reported);
}

void TestRfc2217ClientSession::acceptanceTextWinsOverBaudText()
{
    Rfc2217ClientSession session;
    session.start();
    session.decode(serverSub(1, "00002580"));
    const Rfc2217Result result = session.decode(serverSub(1, "0001c200") + hex("fffd2c"));
    QCOMPARE(result.message, acceptedText);
    QCOMPARE(session.remoteBaudRate(), 115200u);
}

void TestRfc2217ClientSession::remoteStateFromNotifications()
{
    Rfc2217ClientSession session = activeSession();
    QVERIFY(!session.gotComPortReply());
    session.decode(serverSub(2, "07") + serverSub(3, "03") + serverSub(4, "02") + serverSub(5, "03")
                   + serverSub(5, "08") + serverSub(5, "0c") + serverSub(7, "b0") + serverSub(0, "20 6d7920 73657276 20"));
    QVERIFY(session.gotComPortReply());
    QCOMPARE(session.remoteDataBits(), 7u);
    QCOMPARE(session.remoteParity(), 2u); // even
    QCOMPARE(session.remoteStopBits(), 2u);
    QCOMPARE(session.remoteFlowControl(), 1u); // hardware
    QVERIFY(session.remoteDtrKnown());
    QVERIFY(session.remoteDtr());
    QVERIFY(session.remoteRtsKnown());
    QVERIFY(!session.remoteRts());
    QVERIFY(session.remoteModemStateKnown());
    QCOMPARE(session.remoteModemState(), quint8(0xb0));
    QCOMPARE(session.remoteSignature(), QStringLiteral("my serv"));
}

void TestRfc2217ClientSession::requestAnswersKeepKnownState()
{
    Rfc2217ClientSession session = activeSession();
    session.decode(serverSub(1, "00002580") + serverSub(5, "09"));
    // ser2net answers a DTR query with 7 and a baud query with the rate; a bare 0 or 7
    // must not be taken for a state.
    const Rfc2217Result result = session.decode(serverSub(1, "00000000") + serverSub(5, "07"));
    QVERIFY(result.message.isEmpty());
    QCOMPARE(session.remoteBaudRate(), 9600u);
    QVERIFY(session.remoteDtrKnown());
    QVERIFY(!session.remoteDtr());
}

void TestRfc2217ClientSession::remoteSummary()
{
    Rfc2217ClientSession session = activeSession();
    QCOMPARE(session.remoteSummary(), QString());
    session.decode(serverSub(7, "00"));
    QCOMPARE(session.remoteSummary(), QString());
    session.decode(serverSub(0, "73657232 6e6574"));
    QCOMPARE(session.remoteSummary(), QStringLiteral("ser2net"));
    session.decode(serverSub(1, "0001c200"));
    QCOMPARE(session.remoteSummary(), QStringLiteral("115200 \u00B7 ser2net"));
}

void TestRfc2217ClientSession::decodeSplitAtEveryByte()
{
    const QByteArray stream = hex("fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c 4142 ffff 43")
                            + serverSub(7, "00") + serverSub(1, "0001c200") + hex("44") + serverSub(1, "00002580")
                            + serverSub(0, "73657232 6e6574") + hex("fffc2c 45");
    Rfc2217ClientSession whole;
    whole.start();
    const Rfc2217Result all = whole.decode(stream);
    QCOMPARE(all.data.toHex(), QByteArray("4142ff434445"));
    QCOMPARE(all.message, acceptedText);

    for (qsizetype cut = 1; cut < stream.size(); ++cut) {
        Rfc2217ClientSession split;
        split.start();
        const Rfc2217Result a = split.decode(stream.left(cut));
        const Rfc2217Result b = split.decode(stream.mid(cut));
        QCOMPARE(a.data + b.data, all.data);
        QCOMPARE(a.reply + b.reply, all.reply);
        QCOMPARE(split.state(), Rfc2217ClientSession::Active);
        QVERIFY(a.negotiationEnded != b.negotiationEnded);
        QCOMPARE(split.remoteSummary(), whole.remoteSummary());
        QCOMPARE(split.remoteModemStateKnown(), true);
    }
}

void TestRfc2217ClientSession::resetForgetsEverything()
{
    Rfc2217ClientSession session = activeSession();
    session.applyConfig(pushedConfig());
    session.decode(serverSub(1, "0001c200") + serverSub(0, "616263"));
    session.reset();
    QCOMPARE(session.state(), Rfc2217ClientSession::Negotiating);
    QCOMPARE(session.remoteSummary(), QString());
    QVERIFY(!session.codec().comPortAccepted());
    QVERIFY(!session.codec().sawTelnet());
    // After a new start the preamble and the full set go out again.
    session.start();
    session.decode(hex("fffd2c"));
    QVERIFY(session.applyConfig(pushedConfig()).startsWith(preamble()));
}

QTEST_APPLESS_MAIN(TestRfc2217ClientSession)
#include "tst_rfc2217clientsession.moc"
