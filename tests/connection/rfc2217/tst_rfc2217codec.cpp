#include "connection/rfc2217codec.h"

#include <QRandomGenerator>
#include <QTest>

#include <optional>

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

// "Kind=value", then + when on, ? when a request, [hex] for a text.
QString describe(const QList<Rfc2217Event> &events)
{
    static const char *const kinds[] = {"Baud", "Data", "Parity", "Stop", "Flow", "Break",
                                        "Dtr", "Rts", "Purge", "Sig", "Line", "Modem"};
    QStringList out;
    for (const Rfc2217Event &e : events) {
        out << QStringLiteral("%1=%2%3%4%5").arg(QLatin1String(kinds[e.kind])).arg(e.value)
                   .arg(QLatin1String(e.on ? "+" : "")).arg(QLatin1String(e.request ? "?" : ""))
                   .arg(e.text.isEmpty() ? QString() : QLatin1Char('[') + QLatin1String(e.text.toHex()) + QLatin1Char(']'));
    }
    return out.join(QLatin1Char(' '));
}

struct ParseOutput
{
    QByteArray data;
    QByteArray reply;
    QList<Rfc2217Event> events;
    bool accepted = false;
    bool operator==(const ParseOutput &o) const
    {
        return data == o.data && reply == o.reply && describe(events) == describe(o.events) && accepted == o.accepted;
    }
};

// Feeds input to a fresh codec cut before each position in cuts.
ParseOutput parseInChunks(Rfc2217Codec::Role role, const QByteArray &input, const QList<qsizetype> &cuts,
                          bool handshake = true)
{
    Rfc2217Codec codec(role);
    if (handshake)
        codec.buildHandshake();
    ParseOutput out;
    qsizetype pos = 0;
    for (qsizetype cut : cuts) {
        out.data += codec.parse(input.mid(pos, cut - pos), &out.events, &out.reply);
        pos = cut;
    }
    out.data += codec.parse(input.mid(pos), &out.events, &out.reply);
    out.accepted = codec.comPortAccepted();
    return out;
}

// Parses input whole, byte by byte and cut at random points; nothing when they disagree.
std::optional<ParseOutput> parseEveryWay(Rfc2217Codec::Role role, const QByteArray &input, bool handshake = true)
{
    const ParseOutput whole = parseInChunks(role, input, {}, handshake);
    QList<qsizetype> everyByte;
    for (qsizetype i = 1; i < input.size(); ++i)
        everyByte << i;
    if (!(parseInChunks(role, input, everyByte, handshake) == whole))
        return std::nullopt;
    for (quint32 seed = 1; seed <= 20; ++seed) {
        QRandomGenerator rng(seed);
        QList<qsizetype> cuts;
        for (qsizetype pos = rng.bounded(1, 9); pos < input.size(); pos += rng.bounded(1, 9))
            cuts << pos;
        if (!(parseInChunks(role, input, cuts, handshake) == whole))
            return std::nullopt;
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
    void handshake_data();
    void handshake();
    void escapeData_data();
    void escapeData();
    void buildSuboption_data();
    void buildSuboption();
    void dataStream_data();
    void dataStream();
    void negotiation_data();
    void negotiation();
    void suboptions_data();
    void suboptions();
    void mixedStreamSplitAnywhere();
    void endlessSubnegotiationStaysBounded();
    void oversizedSuboptionIsDroppedWhole();
    void optionFloodIsAnsweredOnce();
    void iacAtEveryPositionKeepsData();
    void truncatedSuboptionKeepsFollowingCommands();
    void valueMappings();
};

void TestRfc2217Codec::handshake_data()
{
    QTest::addColumn<Rfc2217Codec::Role>("role");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("client") << kClient << hex("fffb2c fffd2c fffb00 fffd00 fffb03 fffd03");
    QTest::newRow("server") << kServer << hex("fffb2c fffb00 fffd00 fffb03 fffd03");
}

void TestRfc2217Codec::handshake()
{
    QFETCH(Rfc2217Codec::Role, role);
    QFETCH(QByteArray, expected);
    Rfc2217Codec codec(role);
    QCOMPARE(codec.buildHandshake().toHex(), expected.toHex());
    // The handshake counts as our answers: the peer agreeing to them gets no reply.
    QByteArray reply;
    codec.parse(hex("fffd2c fffb00 fffd00 fffb03 fffd03"), nullptr, &reply);
    QCOMPARE(reply.toHex(), QByteArray());
    QVERIFY(codec.comPortAccepted());
}

void TestRfc2217Codec::escapeData_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("no 0xff") << hex("00 41 fe") << hex("00 41 fe");
    QTest::newRow("0xff at both ends") << hex("ff 41 ff") << hex("ffff 41 ffff");
    QTest::newRow("run of 0xff") << hex("ffffff") << hex("ffffffffffff");
}

void TestRfc2217Codec::escapeData()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(Rfc2217Codec::escapeData(input).toHex(), expected.toHex());
    // Escaped data parsed on the other end gives the input back.
    Rfc2217Codec peer(kServer);
    QCOMPARE(peer.parse(Rfc2217Codec::escapeData(input), nullptr, nullptr).toHex(), input.toHex());
}

void TestRfc2217Codec::buildSuboption_data()
{
    QTest::addColumn<Rfc2217Codec::Role>("role");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("client baud 115200") << kClient << 1 << hex("0001c200") << hex("fffa2c01 0001c200 fff0");
    QTest::newRow("server baud 115200") << kServer << 1 << hex("0001c200") << hex("fffa2c65 0001c200 fff0");
    QTest::newRow("payload 0xff doubled") << kClient << 1 << hex("00ffff00") << hex("fffa2c01 00ffffffff00 fff0");
    QTest::newRow("client empty signature") << kClient << 0 << QByteArray() << hex("fffa2c00fff0");
    QTest::newRow("server purge") << kServer << 12 << hex("03") << hex("fffa2c7003fff0");
}

void TestRfc2217Codec::buildSuboption()
{
    QFETCH(Rfc2217Codec::Role, role);
    QFETCH(int, code);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, expected);
    QCOMPARE(Rfc2217Codec(role).buildSuboption(quint8(code), payload).toHex(), expected.toHex());
}

void TestRfc2217Codec::dataStream_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("sawTelnet");
    QTest::newRow("plain") << hex("41 42 00 0d 0a") << hex("41 42 00 0d 0a") << false;
    QTest::newRow("doubled IAC") << hex("41 ffff 42") << hex("41 ff 42") << true;
    QTest::newRow("four IAC") << hex("ffffffff") << hex("ffff") << true;
    QTest::newRow("NOP, GA, AYT dropped") << hex("41 fff1 42 fff9 43 fff6 44") << hex("41 42 43 44") << true;
    QTest::newRow("stray SE dropped") << hex("41 fff0 42") << hex("41 42") << true;
    QTest::newRow("negotiation removed") << hex("41 fffb18 42 fffd18 43") << hex("41 42 43") << true;
    QTest::newRow("suboption removed") << hex("41 fffa2c6b30fff0 42") << hex("41 42") << true;
    QTest::newRow("IAC at the end pending") << hex("41 ff") << hex("41") << true;
}

void TestRfc2217Codec::dataStream()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QFETCH(bool, sawTelnet);
    for (auto role : {kClient, kServer}) {
        const auto out = parseEveryWay(role, input);
        QVERIFY(out);
        QCOMPARE(out->data.toHex(), expected.toHex());
        Rfc2217Codec codec(role);
        codec.parse(input, nullptr, nullptr);
        QCOMPARE(codec.sawTelnet(), sawTelnet);
    }
}

void TestRfc2217Codec::negotiation_data()
{
    QTest::addColumn<Rfc2217Codec::Role>("role");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("client: server DO 44") << kClient << hex("fffd2c") << QByteArray() << true;
    QTest::newRow("client: server WILL 44") << kClient << hex("fffb2c") << QByteArray() << true;
    // What ser2net sends on connect: only WILL ECHO needs an answer.
    QTest::newRow("client: ser2net greeting") << kClient << hex("fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c") << hex("fffe01") << true;
    QTest::newRow("client: WONT 44 answered DONT, acceptance kept") << kClient << hex("fffd2c fffc2c") << hex("fffe2c") << true;
    QTest::newRow("client: DONT 44 withdraws") << kClient << hex("fffd2c fffe2c") << hex("fffc2c") << false;
    QTest::newRow("client: WILL 24 refused once") << kClient << hex("fffb18 fffb18") << hex("fffe18") << false;
    QTest::newRow("client: DO 24 refused once") << kClient << hex("fffd18 fffd18") << hex("fffc18") << false;
    QTest::newRow("client: DONT unknown option ignored") << kClient << hex("fffe18 fffc18") << QByteArray() << false;
    QTest::newRow("client: DONT BINARY then DO BINARY") << kClient << hex("fffe00 fffd00 fffd00") << hex("fffc00 fffb00") << false;
    QTest::newRow("server: client WILL 44") << kServer << hex("fffb2c") << hex("fffd2c") << true;
    QTest::newRow("server: client WILL then WONT 44") << kServer << hex("fffb2c fffc2c") << hex("fffd2c fffe2c") << false;
    QTest::newRow("server: client DONT 44 keeps acceptance") << kServer << hex("fffb2c fffe2c") << hex("fffd2c fffc2c") << true;
    QTest::newRow("server: pyserial greeting") << kServer << hex("fffd01 fffb03 fffd03 fffb2c fffd2c") << hex("fffc01 fffd2c") << true;
    QTest::newRow("server: option 255") << kServer << hex("fffbff") << hex("fffeff") << false;
}

void TestRfc2217Codec::negotiation()
{
    QFETCH(Rfc2217Codec::Role, role);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, reply);
    QFETCH(bool, accepted);
    const auto out = parseEveryWay(role, input);
    QVERIFY(out);
    QCOMPARE(out->reply.toHex(), reply.toHex());
    QVERIFY(out->data.isEmpty());
    QCOMPARE(out->accepted, accepted);
}

void TestRfc2217Codec::suboptions_data()
{
    QTest::addColumn<Rfc2217Codec::Role>("role");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("events");
    QTest::addColumn<int>("modemStateMask");

    const auto row = [](const char *name, Rfc2217Codec::Role role, const QByteArray &input, const char *events, int mask = 0) {
        QTest::newRow(name) << role << input << QString::fromLatin1(events) << mask;
    };
    // Client role: what a device server reports (codes + 100).
    row("client: baud rate, doubled ff, request, short", kClient, sub(101, "0001c200 00ffffffff00 00000000 00c200"),
        "Baud=115200 Baud=16776960 Baud=0?");
    row("client: data size", kClient, sub(102, "07 04 09 -"), "Data=7 Data=4? Data=9?");
    row("client: parity", kClient, sub(103, "01 02 03 04 05 00 06"),
        "Parity=0 Parity=3 Parity=2 Parity=5 Parity=4 Parity=0? Parity=0?");
    row("client: stop size", kClient, sub(104, "01 02 03 00 04"), "Stop=1 Stop=2 Stop=3 Stop=0? Stop=4?");
    row("client: control", kClient, sub(105, "00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0e -"),
        "Flow=0? Flow=0 Flow=2 Flow=1 Break=4? Break=5+ Break=6 Dtr=7? Dtr=8+ Dtr=9 Rts=10? Rts=11+ Rts=12");
    row("client: line and modem state", kClient, sub(106, "60") + sub(107, "b0 ffff"), "Line=96 Modem=176 Modem=255");
    row("client: purge", kClient, sub(112, "03"), "Purge=3");
    row("client: signature", kClient, sub(100, "736572326e6574 -"), "Sig=0[736572326e6574] Sig=0");
    row("client: no events", kClient, sub(108, "-") + sub(109, "-") + sub(110, "00") + sub(111, "f0") + sub(113, "00"), "");
    row("client: client codes, other options, short suboptions ignored", kClient,
        sub(1, "0001c200") + hex("fffa1800fff0 fffa2cfff0 fffafff0"), "");
    // Server role: what an RFC 2217 client asks for.
    row("server: settings", kServer, sub(1, "00002580 00000000") + sub(2, "08") + sub(3, "03") + sub(4, "02") + sub(5, "09 0b 05"),
        "Baud=9600 Baud=0? Data=8 Parity=2 Stop=2 Dtr=9 Rts=11+ Break=5+");
    row("server: signature", kServer, sub(0, "- 5120ffff"), "Sig=0? Sig=0[5120ff]");
    row("server: purge", kServer, sub(12, "01 -"), "Purge=1");
    row("server: modem state mask, server codes ignored", kServer, sub(11, "f0 ffff") + sub(101, "0001c200"), "", 0xff);
}

void TestRfc2217Codec::suboptions()
{
    QFETCH(Rfc2217Codec::Role, role);
    QFETCH(QByteArray, input);
    QFETCH(QString, events);
    QFETCH(int, modemStateMask);
    // Data around the suboptions must come through untouched.
    const auto out = parseEveryWay(role, hex("41") + input + hex("42"), false);
    QVERIFY(out);
    QCOMPARE(out->data.toHex(), QByteArray("4142"));
    QCOMPARE(describe(out->events), events);
    static const int codeOfKind[] = {1, 2, 3, 4, 5, 5, 5, 5, 12, 0, 6, 7};
    for (const Rfc2217Event &e : out->events) {
        QCOMPARE(int(e.code), codeOfKind[e.kind]);
        QCOMPARE(e.fromServer, role == kClient);
    }
    Rfc2217Codec codec(role);
    codec.parse(input, nullptr, nullptr);
    QCOMPARE(int(codec.modemStateMask()), modemStateMask);
}

void TestRfc2217Codec::mixedStreamSplitAnywhere()
{
    // Negotiation, suboptions of both roles with doubled 0xFF inside, data with doubled
    // 0xFF and stray commands.
    const QByteArray input = hex("41ff ff42 fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c fffa2c6400010203fff0"
                                 "fffa2c6500ffffc200fff0 fffa2c0100002580fff0 fffa2c0051fffffff0 43fff1 44 fff9 45"
                                 "fffb18 fffb18 fffa2c6b30fff0 ffff ff fe2c fffd05 fffa2c690bfff0 46");
    for (auto role : {kClient, kServer}) {
        const auto whole = parseEveryWay(role, input);
        QVERIFY(whole);
        QCOMPARE(whole->data.toHex(), QByteArray("41ff42434445ff46"));
        QVERIFY(!whole->reply.isEmpty() && !whole->events.isEmpty());
        for (qsizetype cut = 1; cut < input.size(); ++cut)
            QVERIFY2(parseInChunks(role, input, {cut}) == *whole, qPrintable(QString::number(cut)));
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
    QVERIFY(events.isEmpty());
    QCOMPARE(codec.pendingSubnegotiationSize(), 0);
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

void TestRfc2217Codec::optionFloodIsAnsweredOnce()
{
    Rfc2217Codec codec(kServer);
    codec.buildHandshake();
    QByteArray reply;
    QVERIFY(codec.parse(hex("fffb18 fffd18 fffd00 fffb2c fffd03").repeated(20000), nullptr, &reply).isEmpty());
    QCOMPARE(reply.toHex(), QByteArray("fffe18fffc18fffd2c"));
}

void TestRfc2217Codec::iacAtEveryPositionKeepsData()
{
    QRandomGenerator rng(4711);
    // Before every payload byte a command that carries no data.
    static const char *const noise[] = {"fff1", "fffb18", "fffe00", "fffa2c6b30fff0", "fff9", "fffa18fff0"};
    QByteArray payload;
    QByteArray input;
    for (int i = 0; i < 4096; ++i) {
        payload += char(rng.bounded(256));
        input += hex(noise[rng.bounded(6)]) + Rfc2217Codec::escapeData(payload.right(1));
    }
    for (auto role : {kClient, kServer}) {
        const auto out = parseEveryWay(role, input);
        QVERIFY(out);
        QCOMPARE(out->data, payload);
    }
}

void TestRfc2217Codec::truncatedSuboptionKeepsFollowingCommands()
{
    QList<Rfc2217Event> events;
    QByteArray reply;
    // A baud-rate report cut off by a WILL, then a new suboption started inside a broken one.
    const QByteArray data = Rfc2217Codec(kClient).parse(hex("fffa2c65 0001 fffb18 41 fffa2c66 fffa2c6b 30 fff0 42"), &events, &reply);
    QCOMPARE(data.toHex(), QByteArray("4142"));
    QCOMPARE(reply.toHex(), QByteArray("fffe18"));
    QCOMPARE(describe(events), QStringLiteral("Modem=48"));
}

void TestRfc2217Codec::valueMappings()
{
    // The serial-port module's parity (none 0, even 2, odd 3, space 4, mark 5) against RFC 2217's.
    const int wireOfParity[] = {1, 1, 3, 2, 5, 4};
    for (int parity = 0; parity <= 5; ++parity) {
        QCOMPARE(int(Rfc2217Codec::parityToWire(parity)), wireOfParity[parity]);
        if (parity != 1)
            QCOMPARE(Rfc2217Codec::parityFromWire(quint8(wireOfParity[parity])), parity);
    }
    // Out-of-range settings values fall back to the defaults.
    QCOMPARE(int(Rfc2217Codec::parityToWire(-1)), 1);
    QCOMPARE(int(Rfc2217Codec::stopBitsToWire(0)), 1);
    QCOMPARE(int(Rfc2217Codec::stopBitsToWire(3)), 3);
    QCOMPARE(int(Rfc2217Codec::flowControlToWire(1)), 3);
    QCOMPARE(int(Rfc2217Codec::flowControlToWire(2)), 2);
    QCOMPARE(int(Rfc2217Codec::flowControlToWire(7)), 1);
    QCOMPARE(Rfc2217Codec::flowControlFromWire(3), 1);
    QCOMPARE(Rfc2217Codec::baudRatePayload(115200).toHex(), QByteArray("0001c200"));
}

QTEST_APPLESS_MAIN(TestRfc2217Codec)
#include "tst_rfc2217codec.moc"
