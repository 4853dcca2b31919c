#include "connection/rfc2217clientsession.h"
#include "connection/rfc2217lineconfig.h"

#include <QTest>

#include <functional>

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

// A session after start(), the given bytes and, if asked, the handshake time-out.
Rfc2217ClientSession session(const QByteArray &received = hex("fffd2c"), bool timeout = false)
{
    Rfc2217ClientSession s;
    s.start();
    s.decode(received);
    if (timeout)
        s.handshakeTimedOut();
    return s;
}

Rfc2217LineConfig pushedConfig()
{
    Rfc2217LineConfig config;
    config.baudRate = 115200;
    config.useRemoteSerialConfig = false;
    return config;
}

// Our signature and the modem-state mask go out once, before any setting.
const QByteArray preamble = clientSub(0, "5175696c6c6f6e") + clientSub(11, "f0");

} // namespace

// The client session: negotiation outcome, status texts, pushed line settings, remote state.
class TestRfc2217ClientSession : public QObject
{
    Q_OBJECT

private slots:
    void negotiationOutcome_data();
    void negotiationOutcome();
    void stateChangesAfterTheOutcome();
    void applyConfigSendsEverythingOnceThenChanges();
    void remoteState();
};

void TestRfc2217ClientSession::negotiationOutcome_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<bool>("timeout");
    QTest::addColumn<int>("state");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("wire"); // what 41 ff 42 is sent as
    const QString plainTelnet = QStringLiteral("The remote does not support serial parameter control; continuing as plain Telnet.");
    const QString transparent = QStringLiteral("The remote is not an RFC 2217 server; continuing as transparent TCP. "
                                               "The handshake bytes may have reached the remote serial line.");
    const auto row = [](const char *name, const QByteArray &received, bool timeout, int state, const char *reply, const QString &message,
                        const QByteArray &data, const char *wire) {
        QTest::newRow(name) << received << timeout << state << hex(reply) << message << data << hex(wire);
    };
    const int active = Rfc2217ClientSession::Active;
    row("DO 44 accepts", hex("fffd2c"), false, active, "", acceptedText, {}, "41ffff42");
    row("ser2net greeting with data", hex("fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c 41ffff"), false, active, "fffe01", acceptedText,
        hex("41ff"), "41ffff42");
    row("WILL 44 accepts", hex("fffb2c fffb01"), false, active, "fffe01", acceptedText, {}, "41ffff42");
    row("Telnet peer refusing 44", hex("fffc2c fffe2c fffb01"), true, Rfc2217ClientSession::PlainTelnet, "fffe2c fffc2c fffe01", plainTelnet, {},
        "41ffff42");
    row("silent peer", {}, true, Rfc2217ClientSession::TransparentTcp, "", transparent, {}, "41ff42");
    row("raw peer with data", "login: ", true, Rfc2217ClientSession::TransparentTcp, "", transparent, "login: ", "41ff42");
}

void TestRfc2217ClientSession::negotiationOutcome()
{
    QFETCH(QByteArray, received);
    QFETCH(bool, timeout);
    QFETCH(int, state);
    QFETCH(QByteArray, reply);
    QFETCH(QString, message);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, wire);
    Rfc2217ClientSession s;
    QCOMPARE(s.encodeData(hex("41ff42")).toHex(), QByteArray("41ffff42")); // negotiating
    QCOMPARE(s.start().toHex(), QByteArray("fffb2cfffd2cfffb00fffd00fffb03fffd03"));
    const Rfc2217Result decoded = s.decode(received);
    QCOMPARE(decoded.reply.toHex(), reply.toHex());
    QCOMPARE(decoded.data.toHex(), data.toHex());
    QCOMPARE(decoded.negotiationEnded, !timeout);
    QCOMPARE(decoded.message, timeout ? QString() : message);
    if (timeout) {
        QCOMPARE(s.state(), Rfc2217ClientSession::Negotiating);
        const Rfc2217Result timedOut = s.handshakeTimedOut();
        QVERIFY(timedOut.negotiationEnded && timedOut.reply.isEmpty());
        QCOMPARE(timedOut.message, message);
    }
    QCOMPARE(int(s.state()), state);
    QCOMPARE(s.encodeData(hex("41ff42")).toHex(), wire.toHex());
    // A raw peer's 0xFF are data: nothing is swallowed and nothing is answered.
    const Rfc2217Result raw = s.decode(hex("41 ff fd 2c ff ff 42 ff"));
    QVERIFY(state != Rfc2217ClientSession::TransparentTcp || (raw.data == hex("41fffd2cffff42ff") && raw.reply.isEmpty()));
}

void TestRfc2217ClientSession::stateChangesAfterTheOutcome()
{
    // A late acceptance after the time-out still turns the session active.
    Rfc2217ClientSession late = session(hex("fffb01"), true);
    QVERIFY(late.applyConfig(pushedConfig()).isEmpty() && late.setBreak(true).isEmpty());
    const Rfc2217Result accepted = late.decode(hex("fffd2c"));
    QVERIFY(late.state() == Rfc2217ClientSession::Active && accepted.negotiationEnded);
    QCOMPARE(accepted.message, acceptedText);
    // Nothing was recorded as sent before: everything goes out now.
    QCOMPARE(late.applyConfig(pushedConfig()).count(hex("fffa2c")), 9);

    // The time-out only counts while negotiating.
    Rfc2217ClientSession active = session();
    const Rfc2217Result result = active.handshakeTimedOut();
    QVERIFY(result.message.isEmpty() && !result.negotiationEnded && active.state() == Rfc2217ClientSession::Active);
    Rfc2217ClientSession transparent = session(QByteArray(), true);
    QVERIFY(transparent.handshakeTimedOut().message.isEmpty() && transparent.state() == Rfc2217ClientSession::TransparentTcp);

    // DONT COM-PORT keeps the state; accepting again is announced again.
    QCOMPARE(active.decode(hex("fffe2c")).reply.toHex(), QByteArray("fffc2c"));
    QVERIFY(!active.codec().comPortAccepted() && active.state() == Rfc2217ClientSession::Active);
    QCOMPARE(active.decode(hex("fffd2c")).message, acceptedText);

    // reset forgets everything: after a new start the preamble goes out again.
    active.applyConfig(pushedConfig());
    active.decode(serverSub(1, "0001c200") + serverSub(0, "616263"));
    active.reset();
    QVERIFY(active.state() == Rfc2217ClientSession::Negotiating && active.remoteSummary().isEmpty());
    QVERIFY(!active.codec().comPortAccepted() && !active.codec().sawTelnet());
    active.start();
    active.decode(hex("fffd2c"));
    QVERIFY(active.applyConfig(pushedConfig()).startsWith(preamble));
}

void TestRfc2217ClientSession::applyConfigSendsEverythingOnceThenChanges()
{
    Rfc2217ClientSession s = session();
    Rfc2217LineConfig keep = pushedConfig();
    keep.useRemoteSerialConfig = true;
    QCOMPARE(s.applyConfig(keep).toHex(), preamble.toHex());
    QVERIFY(s.applyConfig(keep).isEmpty());
    Rfc2217LineConfig first = pushedConfig();
    first.dataBits = 7;
    first.parity = 2; // even
    first.stopBits = 2;
    first.flowControl = 1; // hardware
    first.dtrOn = false;
    QCOMPARE(s.applyConfig(first).toHex(), (clientSub(1, "0001c200") + clientSub(2, "07") + clientSub(3, "03") + clientSub(4, "02")
                                             + clientSub(5, "03") + clientSub(5, "09") + clientSub(5, "0b")).toHex());
    QVERIFY(s.applyConfig(first).isEmpty());
    QCOMPARE(s.setBreak(true).toHex(), clientSub(5, "05").toHex());
    QCOMPARE(s.setBreak(false).toHex(), clientSub(5, "06").toHex());

    // Out-of-range values go out as the defaults, so they count as no change.
    const QList<std::tuple<const char *, std::function<void(Rfc2217LineConfig &)>, QByteArray>> changes{
        {"baud rate", [](auto &c) { c.baudRate = 9600; }, clientSub(1, "00002580")},
        {"baud rate 0 asks", [](auto &c) { c.baudRate = 0; }, clientSub(1, "00000000")},
        {"data bits", [](auto &c) { c.dataBits = 5; }, clientSub(2, "05")},
        {"data bits 9 sends 8", [](auto &c) { c.dataBits = 9; }, QByteArray()},
        {"parity odd", [](auto &c) { c.parity = 3; }, clientSub(3, "02")},
        {"parity mark", [](auto &c) { c.parity = 5; }, clientSub(3, "04")},
        {"parity 1 sends none", [](auto &c) { c.parity = 1; }, QByteArray()},
        {"stop one and a half", [](auto &c) { c.stopBits = 3; }, clientSub(4, "03")},
        {"stop 0 sends one", [](auto &c) { c.stopBits = 0; }, QByteArray()},
        {"software flow", [](auto &c) { c.flowControl = 2; }, clientSub(5, "02")},
        {"dtr off", [](auto &c) { c.dtrOn = false; }, clientSub(5, "09")},
        {"rts off", [](auto &c) { c.rtsOn = false; }, clientSub(5, "0c")},
    };
    for (const auto &[name, change, expected] : changes) {
        Rfc2217ClientSession t = session();
        Rfc2217LineConfig config = pushedConfig();
        QVERIFY(t.applyConfig(config).startsWith(preamble));
        change(config);
        QVERIFY2(t.applyConfig(config) == expected && t.applyConfig(config).isEmpty(), name);
    }
}

void TestRfc2217ClientSession::remoteState()
{
    Rfc2217ClientSession s = session();
    QVERIFY(!s.gotComPortReply());
    QCOMPARE(s.decode(serverSub(1, "00002580")).message, QString()); // the first report is no change
    QCOMPARE(s.decode(serverSub(1, "00002580")).message, QString());
    QCOMPARE(s.remoteSummary(), QStringLiteral("9600"));
    s.decode(serverSub(2, "07") + serverSub(3, "03") + serverSub(4, "02") + serverSub(5, "03") + serverSub(5, "08")
             + serverSub(5, "0c") + serverSub(7, "b0") + serverSub(0, "206d79207365727620"));
    QVERIFY(s.gotComPortReply());
    QCOMPARE((QList<quint32>{s.remoteDataBits(), s.remoteParity(), s.remoteStopBits(), s.remoteFlowControl()}), (QList<quint32>{7, 2, 2, 1}));
    QVERIFY(s.remoteDtrKnown() && s.remoteDtr() && s.remoteRtsKnown() && !s.remoteRts() && s.remoteModemStateKnown());
    QCOMPARE(s.remoteModemState(), quint8(0xb0));
    QCOMPARE(s.remoteSummary(), QStringLiteral("9600 \u00B7 my serv"));
    // ser2net answers a DTR query with 7 and a baud query with 0: not states.
    QVERIFY(s.decode(serverSub(1, "00000000") + serverSub(5, "07")).message.isEmpty());
    QVERIFY(s.remoteBaudRate() == 9600 && s.remoteDtrKnown() && s.remoteDtr());
    QCOMPARE(s.decode(serverSub(1, "0001c200")).message, QStringLiteral("The remote port is now at 115200 baud."));
    // Cut anywhere, a device server's greeting and reports give the same session.
    const QByteArray stream = hex("fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c 4142 ffff 43") + serverSub(7, "00") + serverSub(0, "736572326e6574")
                            + serverSub(1, "0001c200") + hex("44 fffc2c 45");
    for (qsizetype cut = 1; cut < stream.size(); ++cut) {
        Rfc2217ClientSession split;
        split.start();
        const Rfc2217Result a = split.decode(stream.left(cut));
        const Rfc2217Result b = split.decode(stream.mid(cut));
        QVERIFY2(a.data + b.data == hex("4142ff434445") && a.reply + b.reply == hex("fffe01fffe2c") && a.negotiationEnded != b.negotiationEnded
                     && split.remoteSummary() == QStringLiteral("115200 \u00B7 ser2net"), qPrintable(QString::number(cut)));
    }
    // The acceptance text wins over a baud-rate text in the same chunk.
    Rfc2217ClientSession early = session(serverSub(1, "00002580"));
    QCOMPARE(early.decode(serverSub(1, "0001c200") + hex("fffd2c")).message, acceptedText);
    QCOMPARE(early.remoteBaudRate(), 115200u);
}

QTEST_APPLESS_MAIN(TestRfc2217ClientSession)
#include "tst_rfc2217clientsession.moc"
