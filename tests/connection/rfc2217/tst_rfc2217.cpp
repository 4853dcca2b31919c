#include "connection/rfc2217clientsession.h"
#include "connection/rfc2217codec.h"
#include "connection/rfc2217lineconfig.h"

#include <QRandomGenerator>
#include <QTest>

#include <functional>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// One COM-PORT suboption per blank-separated payload (already escaped; "-" is empty).
QByteArray sub(int code, const char *payloads)
{
    QByteArray out;
    for (const QByteArray &p : QByteArray(payloads).split(' '))
        out += hex("fffa2c") + char(code) + (p == "-" ? QByteArray() : hex(p)) + hex("fff0");
    return out;
}

// What a parse gave: "data|reply|events|flags" with data and reply in hex, each event as
// Kind=value, then + when on, ? when a request, [hex] for a text; and the flags telnet,
// accepted and mask=xx when set.
QString describe(const QByteArray &data, const QByteArray &reply, const QList<Rfc2217Event> &events, const Rfc2217Codec &codec)
{
    static const char *const kinds[] = {"Baud", "Data", "Parity", "Stop", "Flow", "Break", "Dtr", "Rts", "Purge", "Sig", "Line", "Modem"};
    static const int codeOfKind[] = {1, 2, 3, 4, 5, 5, 5, 5, 12, 0, 6, 7};
    QStringList names;
    for (const Rfc2217Event &e : events) {
        names << QStringLiteral("%1=%2%3%4%5").arg(QLatin1String(kinds[e.kind])).arg(e.value).arg(QLatin1String(e.on ? "+" : ""))
                     .arg(QLatin1String(e.request ? "?" : "")).arg(e.text.isEmpty() ? QString() : u'[' + QLatin1String(e.text.toHex()) + u']');
        if (e.code != codeOfKind[e.kind] || e.fromServer != (codec.role() == Rfc2217Codec::Client))
            names.last() += QStringLiteral("!code");
    }
    QStringList flags;
    if (codec.sawTelnet())
        flags << QStringLiteral("telnet");
    if (codec.comPortAccepted())
        flags << QStringLiteral("accepted");
    if (codec.modemStateMask())
        flags << QStringLiteral("mask=%1").arg(codec.modemStateMask(), 0, 16);
    return QStringList{QLatin1String(data.toHex()), QLatin1String(reply.toHex()), names.join(u' '), flags.join(u' ')}.join(u'|');
}

// Feeds input to a fresh codec (after its handshake) whole (seed -1), byte by byte
// (seed 0) or in pieces of random length.
QString parseSplit(Rfc2217Codec::Role role, const QByteArray &input, int seed)
{
    Rfc2217Codec codec(role);
    codec.buildHandshake();
    QRandomGenerator rng{quint32(seed)};
    QByteArray data, reply;
    QList<Rfc2217Event> events;
    for (qsizetype pos = 0, len = 0; pos < input.size(); pos += len) {
        len = seed < 0 ? input.size() : seed == 0 ? 1 : rng.bounded(1, 9);
        data += codec.parse(input.mid(pos, len), &events, &reply);
    }
    return describe(data, reply, events, codec);
}

// All ways of cutting the input must agree.
QString parseEveryWay(Rfc2217Codec::Role role, const QByteArray &input)
{
    const QString whole = parseSplit(role, input, -1);
    for (int seed = 0; seed <= 20; ++seed) {
        if (parseSplit(role, input, seed) != whole)
            return QStringLiteral("split %1 differs").arg(seed);
    }
    return whole;
}

const auto kClient = Rfc2217Codec::Client;
const auto kServer = Rfc2217Codec::Server;

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
    return Rfc2217LineConfig{.baudRate = 115200, .useRemoteSerialConfig = false};
}

// Our signature and the modem-state mask go out once, before any setting.
const QByteArray preamble = sub(0, "5175696c6c6f6e") + sub(11, "f0");

} // namespace

// Telnet parsing, option negotiation and COM-PORT suboption coding in both roles, and
// the client session on top: negotiation outcome, pushed line settings, remote state.
class TestRfc2217 : public QObject
{
    Q_OBJECT

private slots:
    // Escaping and the session rows cover the rest of the coding; what is left is the
    // suboptions we build and settings values no serial port has.
    void encoding()
    {
        // The server role adds 100 to the code; 0xFF in a payload is doubled.
        QCOMPARE(Rfc2217Codec(kClient).buildSuboption(1, hex("00ffff00")).toHex(), QByteArray("fffa2c0100ffffffff00fff0"));
        QCOMPARE(Rfc2217Codec(kServer).buildSuboption(12, hex("03")).toHex(), QByteArray("fffa2c7003fff0"));
        // Out-of-range settings values fall back to the defaults.
        QCOMPARE((QList<int>{Rfc2217Codec::parityToWire(-1), Rfc2217Codec::flowControlToWire(7)}), (QList<int>{1, 1}));
    }

    void parse_data()
    {
        QTest::addColumn<QList<Rfc2217Codec::Role>>("roles");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, QList<Rfc2217Codec::Role> roles, const QByteArray &input, const char *expected) {
            QTest::newRow(name) << roles << input << QString::fromLatin1(expected);
        };
        const QList<Rfc2217Codec::Role> both{kClient, kServer};
        // Data: Telnet commands and doubled IAC removed, an IAC at the end held.
        row("plain", both, hex("4142000d0a"), "4142000d0a|||");
        row("doubled IAC", both, hex("41ffff42 ffffffff"), "41ff42ffff|||telnet");
        row("NOP, GA, AYT, stray SE dropped", both, hex("41 fff1 42 fff9 43 fff6 44 fff0 45"), "4142434445|||telnet");
        row("suboption removed, IAC at the end pending", both, hex("41 fffa1800fff0 42 ff"), "4142|||telnet");
        // Negotiation: the handshake counts as our answers, an answer is never repeated.
        row("client: agreeing peer", {kClient}, hex("fffd2c fffb00 fffd00 fffb03 fffd03"), "|||telnet accepted");
        // What ser2net sends on connect: only WILL ECHO needs an answer.
        row("client: ser2net greeting", {kClient}, hex("fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c"), "|fffe01||telnet accepted");
        row("client: WONT 44 answered DONT, acceptance kept", {kClient}, hex("fffd2c fffc2c"), "|fffe2c||telnet accepted");
        row("client: DONT 44 withdraws", {kClient}, hex("fffd2c fffe2c"), "|fffc2c||telnet");
        row("client: unknown options refused once", {kClient}, hex("fffb18 fffb18 fffd18 fffd18 fffe18 fffc18"), "|fffe18fffc18||telnet");
        row("client: DONT BINARY then DO BINARY", {kClient}, hex("fffe00 fffd00 fffd00"), "|fffc00fffb00||telnet");
        row("server: client WILL then WONT 44", {kServer}, hex("fffb2c fffc2c"), "|fffd2cfffe2c||telnet");
        row("server: client DONT 44 keeps acceptance", {kServer}, hex("fffb2c fffe2c"), "|fffd2cfffc2c||telnet accepted");
        row("server: pyserial greeting", {kServer}, hex("fffd01 fffb03 fffd03 fffb2c fffd2c"), "|fffc01fffd2c||telnet accepted");
        row("server: option 255", {kServer}, hex("fffbff"), "|fffeff||telnet");
        row("server: option flood answered once", {kServer}, hex("fffb18 fffd18 fffd00 fffb2c fffd03").repeated(20000), "|fffe18fffc18fffd2c||telnet accepted");
        // Suboptions from a device server (codes + 100): every value of every code.
        row("client: baud rate, doubled ff, request, short", {kClient}, sub(101, "0001c200 00ffffffff00 00000000 00c200"),
            "||Baud=115200 Baud=16776960 Baud=0?|telnet");
        row("client: data size", {kClient}, sub(102, "07 04 09 -"), "||Data=7 Data=4? Data=9?|telnet");
        row("client: parity", {kClient}, sub(103, "01 02 03 04 05 00 06"), "||Parity=0 Parity=3 Parity=2 Parity=5 Parity=4 Parity=0? Parity=0?|telnet");
        row("client: stop size", {kClient}, sub(104, "01 02 03 00 04"), "||Stop=1 Stop=2 Stop=3 Stop=0? Stop=4?|telnet");
        row("client: control", {kClient}, sub(105, "00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0e -"),
            "||Flow=0? Flow=0 Flow=2 Flow=1 Break=4? Break=5+ Break=6 Dtr=7? Dtr=8+ Dtr=9 Rts=10? Rts=11+ Rts=12|telnet");
        row("client: line and modem state, purge", {kClient}, sub(106, "60") + sub(107, "b0 ffff") + sub(112, "03"),
            "||Line=96 Modem=176 Modem=255 Purge=3|telnet");
        row("client: codes without events", {kClient}, sub(108, "-") + sub(109, "-") + sub(110, "00") + sub(111, "f0") + sub(113, "00"), "|||telnet");
        row("client: client codes, other options, short suboptions ignored", {kClient},
            sub(1, "0001c200") + hex("fffa1800fff0 fffa2cfff0 fffafff0"), "|||telnet");
        // A baud-rate report cut off by a WILL, then a new suboption started inside a broken one.
        row("client: truncated suboptions keep what follows", {kClient}, hex("fffa2c65 0001 fffb18 41 fffa2c66 fffa2c6b 30 fff0 42"),
            "4142|fffe18|Modem=48|telnet");
        // Suboptions from an RFC 2217 client.
        row("server: settings", {kServer}, sub(1, "00002580 00000000") + sub(2, "08") + sub(3, "03") + sub(4, "02") + sub(5, "09 0b 05"),
            "||Baud=9600 Baud=0? Data=8 Parity=2 Stop=2 Dtr=9 Rts=11+ Break=5+|telnet");
        row("server: signature, purge", {kServer}, sub(0, "- 5120ffff") + sub(12, "01 -"), "||Sig=0? Sig=0[5120ff] Purge=1|telnet");
        row("server: modem state mask, server codes ignored", {kServer}, sub(11, "f0 ffff") + sub(101, "0001c200"), "|||telnet mask=ff");
    }

    void parse()
    {
        QFETCH(QList<Rfc2217Codec::Role>, roles);
        QFETCH(QByteArray, input);
        QFETCH(QString, expected);
        for (auto role : roles)
            QCOMPARE(parseEveryWay(role, input), expected);
    }

    // A suboption that never ends stays bounded; one over the limit is dropped whole, one
    // at the limit decodes, and what follows decodes either way.
    void hostileSuboptions()
    {
        for (qsizetype textSize : {Rfc2217Codec::MaxSubnegotiation - 2, Rfc2217Codec::MaxSubnegotiation - 1, qsizetype(1) << 20}) {
            Rfc2217Codec codec(kClient);
            QList<Rfc2217Event> events;
            QByteArray data = codec.parse(hex("41 fffa2c64"), &events, nullptr);
            for (qsizetype sent = 0; sent < textSize; sent += 4096) {
                data += codec.parse(QByteArray(qMin<qsizetype>(4096, textSize - sent), 's'), &events, nullptr);
                QVERIFY(codec.pendingSubnegotiationSize() <= Rfc2217Codec::MaxSubnegotiation);
            }
            data += codec.parse(hex("fff0 42 fffa2c65 00002580 fff0"), &events, nullptr);
            QCOMPARE(data.toHex(), QByteArray("4142"));
            const bool fits = textSize + 2 <= Rfc2217Codec::MaxSubnegotiation;
            QCOMPARE(events.size(), fits ? 2 : 1);
            QCOMPARE(events.constFirst().text, fits ? QByteArray(textSize, 's') : QByteArray());
            QCOMPARE(events.constLast().value, 9600u);
            QCOMPARE(codec.pendingSubnegotiationSize(), 0);
        }
    }

    void negotiationOutcome_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<bool>("timeout");
        QTest::addColumn<int>("state");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("message"); // a part of it
        const auto row = [](const char *name, const QByteArray &received, bool timeout, int state, const char *reply, const QString &message) {
            QTest::newRow(name) << received << timeout << state << hex(reply) << message;
        };
        const int active = Rfc2217ClientSession::Active;
        row("WILL 44 accepts", hex("fffb2c fffb01"), false, active, "fffe01", acceptedText);
        // An echo peer returns our own offers: taken as acceptance, and nothing answered back.
        row("echo of our own handshake", hex("fffb2cfffd2cfffb00fffd00fffb03fffd03"), false, active, "", acceptedText);
        row("Telnet peer refusing 44", hex("fffc2c fffe2c fffb01"), true, Rfc2217ClientSession::PlainTelnet, "fffe2c fffc2c fffe01",
            QStringLiteral("continuing as plain Telnet"));
        // What a raw peer sends while we negotiate is its data.
        row("raw peer with data", "login: ", true, Rfc2217ClientSession::TransparentTcp, "", QStringLiteral("continuing as transparent TCP"));
    }

    void negotiationOutcome()
    {
        QFETCH(QByteArray, received);
        QFETCH(bool, timeout);
        QFETCH(int, state);
        QFETCH(QByteArray, reply);
        QFETCH(QString, message);
        Rfc2217ClientSession s;
        QCOMPARE(s.encodeData(hex("41ff42")).toHex(), QByteArray("41ffff42")); // negotiating
        QCOMPARE(s.start().toHex(), QByteArray("fffb2cfffd2cfffb00fffd00fffb03fffd03"));
        const Rfc2217Result decoded = s.decode(received);
        const bool raw = state == Rfc2217ClientSession::TransparentTcp;
        QCOMPARE(decoded.reply.toHex(), reply.toHex());
        QCOMPARE(decoded.data.toHex(), raw ? received.toHex() : QByteArray());
        QCOMPARE(decoded.negotiationEnded, !timeout);
        QVERIFY(timeout == decoded.message.isEmpty() && (timeout || decoded.message.contains(message)));
        if (timeout) {
            QCOMPARE(s.state(), Rfc2217ClientSession::Negotiating);
            const Rfc2217Result timedOut = s.handshakeTimedOut();
            QVERIFY(timedOut.negotiationEnded && timedOut.reply.isEmpty());
            QVERIFY2(timedOut.message.contains(message), qPrintable(timedOut.message));
        }
        QCOMPARE(int(s.state()), state);
        // The time-out only counts while negotiating.
        const Rfc2217Result late = s.handshakeTimedOut();
        QVERIFY(late.message.isEmpty() && !late.negotiationEnded && int(s.state()) == state);
        // Only towards a raw peer is 0xFF not escaped, and are its 0xFF data: nothing is
        // swallowed and nothing is answered.
        QCOMPARE(s.encodeData(hex("41ff42")).toHex(), raw ? QByteArray("41ff42") : QByteArray("41ffff42"));
        const Rfc2217Result fromRaw = s.decode(hex("41 ff fd 2c ff ff 42 ff"));
        QVERIFY(!raw || (fromRaw.data == hex("41fffd2cffff42ff") && fromRaw.reply.isEmpty()));
    }

    void stateChangesAfterTheOutcome()
    {
        // A late acceptance after the time-out still turns the session active.
        Rfc2217ClientSession late = session(hex("fffb01"), true);
        QVERIFY(late.applyConfig(pushedConfig()).isEmpty() && late.setBreak(true).isEmpty());
        const Rfc2217Result accepted = late.decode(hex("fffd2c"));
        QVERIFY(late.state() == Rfc2217ClientSession::Active && accepted.negotiationEnded);
        QCOMPARE(accepted.message, acceptedText);
        // Nothing was recorded as sent before: everything goes out now.
        QCOMPARE(late.applyConfig(pushedConfig()).count(hex("fffa2c")), 9);

        // DONT COM-PORT keeps the state; accepting again is announced again.
        Rfc2217ClientSession active = session();
        QCOMPARE(active.decode(hex("fffe2c")).reply.toHex(), QByteArray("fffc2c"));
        QVERIFY(!active.codec().comPortAccepted() && active.state() == Rfc2217ClientSession::Active);
        QCOMPARE(active.decode(hex("fffd2c")).message, acceptedText);

        // reset forgets everything: after a new start the preamble goes out again.
        active.applyConfig(pushedConfig());
        active.decode(sub(101, "0001c200") + sub(100, "616263"));
        active.reset();
        QVERIFY(active.state() == Rfc2217ClientSession::Negotiating && active.remoteSummary().isEmpty());
        QVERIFY(!active.codec().comPortAccepted() && !active.codec().sawTelnet());
        active.start();
        active.decode(hex("fffd2c"));
        QVERIFY(active.applyConfig(pushedConfig()).startsWith(preamble));
    }

    void applyConfigSendsEverythingOnceThenChanges()
    {
        Rfc2217ClientSession s = session();
        const Rfc2217LineConfig keep{.baudRate = 115200};
        QCOMPARE(s.applyConfig(keep).toHex(), preamble.toHex());
        QVERIFY(s.applyConfig(keep).isEmpty());
        // Even parity, RTS/CTS flow control.
        const Rfc2217LineConfig first{.baudRate = 115200, .dataBits = 7, .parity = 2, .stopBits = 2, .flowControl = 1, .dtrOn = false,
                                      .useRemoteSerialConfig = false};
        QCOMPARE(s.applyConfig(first).toHex(), (sub(1, "0001c200") + sub(2, "07") + sub(3, "03") + sub(4, "02")
                                                 + sub(5, "03") + sub(5, "09") + sub(5, "0b")).toHex());
        QVERIFY(s.applyConfig(first).isEmpty());
        QCOMPARE(s.setBreak(true).toHex(), sub(5, "05").toHex());
        QCOMPARE(s.setBreak(false).toHex(), sub(5, "06").toHex());

        // Out-of-range values go out as the defaults, so they count as no change.
        const QList<std::tuple<const char *, std::function<void(Rfc2217LineConfig &)>, QByteArray>> changes{
            {"baud rate", [](auto &c) { c.baudRate = 9600; }, sub(1, "00002580")},
            {"data bits", [](auto &c) { c.dataBits = 5; }, sub(2, "05")},
            {"data bits 9 sends 8", [](auto &c) { c.dataBits = 9; }, QByteArray()},
            {"parity odd", [](auto &c) { c.parity = 3; }, sub(3, "02")},
            {"parity mark", [](auto &c) { c.parity = 5; }, sub(3, "04")},
            {"parity space", [](auto &c) { c.parity = 4; }, sub(3, "05")},
            {"parity 1 sends none", [](auto &c) { c.parity = 1; }, QByteArray()},
            {"stop one and a half", [](auto &c) { c.stopBits = 3; }, sub(4, "03")},
            {"stop 0 sends one", [](auto &c) { c.stopBits = 0; }, QByteArray()},
            {"software flow", [](auto &c) { c.flowControl = 2; }, sub(5, "02")},
            {"dtr off", [](auto &c) { c.dtrOn = false; }, sub(5, "09")},
            {"rts off", [](auto &c) { c.rtsOn = false; }, sub(5, "0c")},
        };
        for (const auto &[name, change, expected] : changes) {
            Rfc2217ClientSession t = session();
            Rfc2217LineConfig config = pushedConfig();
            QVERIFY(t.applyConfig(config).startsWith(preamble));
            change(config);
            QVERIFY2(t.applyConfig(config) == expected && t.applyConfig(config).isEmpty(), name);
        }
    }

    void remoteState()
    {
        Rfc2217ClientSession s = session();
        QVERIFY(!s.gotComPortReply());
        QCOMPARE(s.decode(sub(101, "00002580")).message, QString()); // the first report is no change
        QCOMPARE(s.decode(sub(101, "00002580")).message, QString());
        QCOMPARE(s.remoteSummary(), QStringLiteral("9600"));
        s.decode(sub(102, "07") + sub(103, "03") + sub(104, "02") + sub(105, "03") + sub(105, "08")
                 + sub(105, "0c") + sub(107, "b0") + sub(100, "206d79207365727620"));
        QVERIFY(s.gotComPortReply());
        QCOMPARE((QList<quint32>{s.remoteDataBits(), s.remoteParity(), s.remoteStopBits(), s.remoteFlowControl()}), (QList<quint32>{7, 2, 2, 1}));
        QVERIFY(s.remoteDtrKnown() && s.remoteDtr() && s.remoteRtsKnown() && !s.remoteRts() && s.remoteModemStateKnown());
        QCOMPARE(s.remoteModemState(), quint8(0xb0));
        QCOMPARE(s.remoteSummary(), QStringLiteral("9600 \u00B7 my serv"));
        // ser2net answers a DTR query with 7 and a baud query with 0: not states.
        QVERIFY(s.decode(sub(101, "00000000") + sub(105, "07")).message.isEmpty());
        QVERIFY(s.remoteBaudRate() == 9600 && s.remoteDtrKnown() && s.remoteDtr());
        QCOMPARE(s.decode(sub(101, "0001c200")).message, QStringLiteral("The remote port is now at 115200 baud."));
        // Cut anywhere, a device server's greeting and reports give the same session.
        const QByteArray stream = hex("fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c 4142 ffff 43") + sub(107, "00") + sub(100, "736572326e6574")
                                + sub(101, "0001c200") + hex("44 fffc2c 45");
        for (qsizetype cut = 1; cut < stream.size(); ++cut) {
            Rfc2217ClientSession split;
            split.start();
            const Rfc2217Result a = split.decode(stream.left(cut));
            const Rfc2217Result b = split.decode(stream.mid(cut));
            QVERIFY2(a.data + b.data == hex("4142ff434445") && a.reply + b.reply == hex("fffe01fffe2c") && a.negotiationEnded != b.negotiationEnded
                         && split.remoteSummary() == QStringLiteral("115200 \u00B7 ser2net"), qPrintable(QString::number(cut)));
        }
        // The acceptance text wins over a baud-rate text in the same chunk.
        Rfc2217ClientSession early = session(sub(101, "00002580"));
        QCOMPARE(early.decode(sub(101, "0001c200") + hex("fffd2c")).message, acceptedText);
        QCOMPARE(early.remoteBaudRate(), 115200u);
    }
};

QTEST_APPLESS_MAIN(TestRfc2217)
#include "tst_rfc2217.moc"
