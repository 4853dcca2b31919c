#include "connection/rfc2217codec.h"

#include <QRandomGenerator>
#include <QTest>

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

// Feeds input to a fresh codec (after its handshake) cut before each position in cuts.
QString parseInChunks(Rfc2217Codec::Role role, const QByteArray &input, const QList<qsizetype> &cuts)
{
    Rfc2217Codec codec(role);
    codec.buildHandshake();
    QByteArray data, reply;
    QList<Rfc2217Event> events;
    qsizetype pos = 0;
    for (qsizetype cut : cuts + QList<qsizetype>{input.size()}) {
        data += codec.parse(input.mid(pos, cut - pos), &events, &reply);
        pos = cut;
    }
    return describe(data, reply, events, codec);
}

// Parses input whole, byte by byte and cut at random points; all must agree.
QString parseEveryWay(Rfc2217Codec::Role role, const QByteArray &input)
{
    const QString whole = parseInChunks(role, input, {});
    QList<qsizetype> everyByte;
    for (qsizetype i = 1; i < input.size(); ++i)
        everyByte << i;
    if (parseInChunks(role, input, everyByte) != whole)
        return QStringLiteral("byte by byte differs");
    for (quint32 seed = 1; seed <= 20; ++seed) {
        QRandomGenerator rng(seed);
        QList<qsizetype> cuts;
        for (qsizetype pos = rng.bounded(1, 9); pos < input.size(); pos += rng.bounded(1, 9))
            cuts << pos;
        if (parseInChunks(role, input, cuts) != whole)
            return QStringLiteral("random split %1 differs").arg(seed);
    }
    return whole;
}

const auto kClient = Rfc2217Codec::Client;
const auto kServer = Rfc2217Codec::Server;

} // namespace

// Telnet parsing, option negotiation and COM-PORT suboption coding in both roles.
class TestRfc2217Codec : public QObject
{
    Q_OBJECT

private slots:
    void encoding();
    void parse_data();
    void parse();
    void endlessSubnegotiationStaysBounded();
    void oversizedSuboptionIsDroppedWhole();
    void iacAtEveryPositionKeepsData();
};

void TestRfc2217Codec::encoding()
{
    QCOMPARE(Rfc2217Codec(kClient).buildHandshake().toHex(), QByteArray("fffb2cfffd2cfffb00fffd00fffb03fffd03"));
    QCOMPARE(Rfc2217Codec(kServer).buildHandshake().toHex(), QByteArray("fffb2cfffb00fffd00fffb03fffd03"));
    const QList<std::pair<const char *, const char *>> escapes{{"", ""}, {"0041fe", "0041fe"}, {"ff41ff", "ffff41ffff"}, {"ffffff", "ffffffffffff"}};
    for (const auto &[in, out] : escapes) {
        QCOMPARE(Rfc2217Codec::escapeData(hex(in)).toHex(), QByteArray(out));
        // Escaped data parsed on the other end gives the input back.
        QCOMPARE(Rfc2217Codec(kServer).parse(Rfc2217Codec::escapeData(hex(in)), nullptr, nullptr).toHex(), QByteArray(in));
    }
    // The server role adds 100 to the code; 0xFF in a payload is doubled.
    QCOMPARE(Rfc2217Codec(kClient).buildSuboption(1, hex("0001c200")).toHex(), QByteArray("fffa2c010001c200fff0"));
    QCOMPARE(Rfc2217Codec(kServer).buildSuboption(1, hex("0001c200")).toHex(), QByteArray("fffa2c650001c200fff0"));
    QCOMPARE(Rfc2217Codec(kClient).buildSuboption(1, hex("00ffff00")).toHex(), QByteArray("fffa2c0100ffffffff00fff0"));
    QCOMPARE(Rfc2217Codec(kServer).buildSuboption(12, hex("03")).toHex(), QByteArray("fffa2c7003fff0"));
    QCOMPARE(Rfc2217Codec::baudRatePayload(115200).toHex(), QByteArray("0001c200"));

    // The serial-port module's parity (none 0, even 2, odd 3, space 4, mark 5) against RFC 2217's.
    const int wireOfParity[] = {1, 1, 3, 2, 5, 4};
    for (int parity = 0; parity <= 5; ++parity) {
        QCOMPARE(int(Rfc2217Codec::parityToWire(parity)), wireOfParity[parity]);
        QCOMPARE(Rfc2217Codec::parityFromWire(quint8(wireOfParity[parity])), parity == 1 ? 0 : parity);
    }
    // Out-of-range settings values fall back to the defaults.
    QCOMPARE((QList<int>{Rfc2217Codec::parityToWire(-1), Rfc2217Codec::stopBitsToWire(0), Rfc2217Codec::stopBitsToWire(3)}), (QList<int>{1, 1, 3}));
    QCOMPARE((QList<int>{Rfc2217Codec::flowControlToWire(1), Rfc2217Codec::flowControlToWire(2), Rfc2217Codec::flowControlToWire(7)}), (QList<int>{3, 2, 1}));
    QCOMPARE(Rfc2217Codec::flowControlFromWire(3), 1);
}

void TestRfc2217Codec::parse_data()
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
    row("client: server WILL 44", {kClient}, hex("fffb2c"), "|||telnet accepted");
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
    row("client: signature", {kClient}, sub(100, "736572326e6574 -"), "||Sig=0[736572326e6574] Sig=0|telnet");
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
    // Everything at once, with doubled 0xFF inside suboptions and data.
    row("mixed stream", both, hex("41ffff42 fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c fffa2c6400010203fff0 fffa2c6500ffffc200fff0"
                                  "fffa2c0100002580fff0 fffa2c0051fffffff0 43fff1 44 fff9 45 fffb18 fffb18 fffa2c6b30fff0 ffff ff fe2c fffd05"
                                  "fffa2c690bfff0 46"), nullptr);
}

void TestRfc2217Codec::parse()
{
    QFETCH(QList<Rfc2217Codec::Role>, roles);
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);
    for (auto role : roles) {
        const QString got = parseEveryWay(role, input);
        if (!expected.isEmpty())
            QCOMPARE(got, expected);
        else // the mixed stream: the data of both roles, whatever each makes of the rest
            QVERIFY2(got.startsWith(QLatin1String("41ff42434445ff46|")) && got.count(u'=') > 1, qPrintable(got));
    }
}

void TestRfc2217Codec::endlessSubnegotiationStaysBounded()
{
    Rfc2217Codec codec(kClient);
    QList<Rfc2217Event> events;
    QByteArray data = codec.parse(hex("41 fffa2c65"), &events, nullptr);
    for (int i = 0; i < 256; ++i) { // 1 MiB without IAC SE
        data += codec.parse(QByteArray(4096, 'x'), &events, nullptr);
        QVERIFY(codec.pendingSubnegotiationSize() <= Rfc2217Codec::MaxSubnegotiation);
    }
    data += codec.parse(hex("fff0 42"), &events, nullptr);
    QCOMPARE(data.toHex(), QByteArray("4142"));
    QVERIFY(events.isEmpty() && codec.pendingSubnegotiationSize() == 0);
}

void TestRfc2217Codec::oversizedSuboptionIsDroppedWhole()
{
    for (qsizetype textSize : {Rfc2217Codec::MaxSubnegotiation - 2, Rfc2217Codec::MaxSubnegotiation - 1}) {
        QList<Rfc2217Event> events;
        const QByteArray text(textSize, 's');
        Rfc2217Codec(kClient).parse(hex("fffa2c64") + text + hex("fff0 fffa2c65 00002580 fff0"), &events, nullptr);
        const bool fits = textSize + 2 <= Rfc2217Codec::MaxSubnegotiation;
        QCOMPARE(events.size(), fits ? 2 : 1);
        QCOMPARE(events.constFirst().text, fits ? text : QByteArray());
        QCOMPARE(events.constLast().value, 9600u); // the next suboption still decodes
    }
}

void TestRfc2217Codec::iacAtEveryPositionKeepsData()
{
    QRandomGenerator rng(4711);
    // Before every payload byte a command that carries no data.
    static const char *const noise[] = {"fff1", "fffb18", "fffe00", "fffa2c6b30fff0", "fff9", "fffa18fff0"};
    QByteArray payload, input;
    for (int i = 0; i < 4096; ++i) {
        payload += char(rng.bounded(256));
        input += hex(noise[rng.bounded(6)]) + Rfc2217Codec::escapeData(payload.right(1));
    }
    for (auto role : {kClient, kServer})
        QVERIFY(parseEveryWay(role, input).startsWith(QLatin1String(payload.toHex() + '|')));
}

QTEST_APPLESS_MAIN(TestRfc2217Codec)
#include "tst_rfc2217codec.moc"
