#include "connection/rfc2217codec.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

struct ParseOutput
{
    QByteArray data;
    QByteArray reply;
    QList<Rfc2217Event> events;
};

// Feeds input in the given chunk sizes (the rest in one chunk) to a fresh codec.
ParseOutput parseInChunks(Rfc2217Codec::Role role, bool handshake, const QByteArray &input,
                          const QList<qsizetype> &cuts)
{
    Rfc2217Codec codec(role);
    if (handshake)
        codec.buildHandshake();
    ParseOutput out;
    qsizetype pos = 0;
    for (qsizetype cut : cuts) {
        if (cut <= pos || cut >= input.size())
            continue;
        out.data += codec.parse(input.mid(pos, cut - pos), &out.events, &out.reply);
        pos = cut;
    }
    out.data += codec.parse(input.mid(pos), &out.events, &out.reply);
    return out;
}

QList<qsizetype> everyByte(qsizetype size)
{
    QList<qsizetype> cuts;
    for (qsizetype i = 1; i < size; ++i)
        cuts << i;
    return cuts;
}

QList<qsizetype> randomCuts(qsizetype size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QList<qsizetype> cuts;
    qsizetype pos = 0;
    while (size > 1 && pos < size) {
        pos += 1 + rng.bounded(qMax<qsizetype>(1, qMin<qsizetype>(size, 9)));
        cuts << pos;
    }
    return cuts;
}

bool sameEvent(const Rfc2217Event &a, const Rfc2217Event &b)
{
    return a.kind == b.kind && a.value == b.value && a.on == b.on && a.request == b.request && a.text == b.text
        && a.code == b.code && a.fromServer == b.fromServer;
}

bool sameOutput(const ParseOutput &a, const ParseOutput &b)
{
    if (a.data != b.data || a.reply != b.reply || a.events.size() != b.events.size())
        return false;
    for (qsizetype i = 0; i < a.events.size(); ++i) {
        if (!sameEvent(a.events.at(i), b.events.at(i)))
            return false;
    }
    return true;
}

// A transcript with everything the parser knows: negotiation, suboptions of both roles
// with doubled 0xFF inside, data with doubled 0xFF, stray commands.
QByteArray mixedStream()
{
    return hex("41ff ff42 fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c"
               "fffa2c6400010203fff0"      // server SET-BAUDRATE 66051
               "fffa2c6500ffffc200fff0"    // server SET-BAUDRATE with a doubled ff
               "fffa2c01000025 80fff0"     // client SET-BAUDRATE 9600
               "fffa2c00 51ffff fff0"      // client SIGNATURE "Q\xff"
               "43fff1 44 fff9 45 fffb18 fffb18 fffa2c6b30fff0 ffff ff"
               "fe2c fffd05 fffa2c690bfff0 46");
}

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
    void escapeDataSharesUnchangedInput();
    void buildSuboption_data();
    void buildSuboption();
    void dataStream_data();
    void dataStream();
    void negotiation_data();
    void negotiation();
    void suboptionDecoding_data();
    void suboptionDecoding();
    void serverRoleStoresModemStateMask();
    void splitAnywhereGivesSameResult_data();
    void splitAnywhereGivesSameResult();
    void endlessSubnegotiationStaysBounded();
    void oversizedSuboptionIsDroppedWhole();
    void optionFloodIsAnsweredOnce();
    void iacAtEveryPositionKeepsData();
    void truncatedSuboptionKeepsFollowingCommands();
    void valueMappings_data();
    void valueMappings();
};

void TestRfc2217Codec::handshake_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("client") << int(Rfc2217Codec::Client) << hex("fffb2c fffd2c fffb00 fffd00 fffb03 fffd03");
    QTest::newRow("server") << int(Rfc2217Codec::Server) << hex("fffb2c fffb00 fffd00 fffb03 fffd03");
}

void TestRfc2217Codec::handshake()
{
    QFETCH(int, role);
    QFETCH(QByteArray, expected);
    Rfc2217Codec codec{Rfc2217Codec::Role(role)};
    QCOMPARE(codec.buildHandshake(), expected);
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
    QTest::newRow("single 0xff") << hex("ff") << hex("ffff");
    QTest::newRow("0xff at both ends") << hex("ff 41 ff") << hex("ffff 41 ffff");
    QTest::newRow("run of 0xff") << hex("ffffff") << hex("ffffffffffff");
}

void TestRfc2217Codec::escapeData()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(Rfc2217Codec::escapeData(input).toHex(), expected.toHex());
    // Escaped data parsed on the other end gives the input back.
    Rfc2217Codec peer(Rfc2217Codec::Server);
    QCOMPARE(peer.parse(Rfc2217Codec::escapeData(input), nullptr, nullptr).toHex(), input.toHex());
}

void TestRfc2217Codec::escapeDataSharesUnchangedInput()
{
    const QByteArray input = QByteArrayLiteral("plain text without the escape byte");
    QCOMPARE(Rfc2217Codec::escapeData(input).constData(), input.constData());
}

void TestRfc2217Codec::buildSuboption_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("client baud 115200") << int(Rfc2217Codec::Client) << 1 << hex("0001c200")
                                        << hex("fffa2c01 0001c200 fff0");
    QTest::newRow("server baud 115200") << int(Rfc2217Codec::Server) << 1 << hex("0001c200")
                                        << hex("fffa2c65 0001c200 fff0");
    QTest::newRow("payload 0xff doubled") << int(Rfc2217Codec::Client) << 1 << hex("00ffff00")
                                          << hex("fffa2c01 00ffffffff00 fff0");
    QTest::newRow("client empty signature") << int(Rfc2217Codec::Client) << 0 << QByteArray() << hex("fffa2c00fff0");
    QTest::newRow("server purge") << int(Rfc2217Codec::Server) << 12 << hex("03") << hex("fffa2c7003fff0");
}

void TestRfc2217Codec::buildSuboption()
{
    QFETCH(int, role);
    QFETCH(int, code);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, expected);
    const Rfc2217Codec codec{Rfc2217Codec::Role(role)};
    QCOMPARE(codec.buildSuboption(quint8(code), payload).toHex(), expected.toHex());
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
    for (auto role : {Rfc2217Codec::Client, Rfc2217Codec::Server}) {
        const ParseOutput whole = parseInChunks(role, true, input, {});
        QCOMPARE(whole.data.toHex(), expected.toHex());
        QVERIFY(sameOutput(parseInChunks(role, true, input, everyByte(input.size())), whole));
        QVERIFY(sameOutput(parseInChunks(role, true, input, randomCuts(input.size(), 17)), whole));
        Rfc2217Codec codec(role);
        codec.parse(input, nullptr, nullptr);
        QCOMPARE(codec.sawTelnet(), sawTelnet);
    }
}

void TestRfc2217Codec::negotiation_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("accepted");
    const int client = Rfc2217Codec::Client;
    const int server = Rfc2217Codec::Server;
    QTest::newRow("client: server DO 44") << client << hex("fffd2c") << QByteArray() << true;
    QTest::newRow("client: server WILL 44") << client << hex("fffb2c") << QByteArray() << true;
    // What ser2net sends on connect: only WILL ECHO needs an answer.
    QTest::newRow("client: ser2net greeting")
        << client << hex("fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c") << hex("fffe01") << true;
    QTest::newRow("client: WONT 44 answered DONT, acceptance kept")
        << client << hex("fffd2c fffc2c") << hex("fffe2c") << true;
    QTest::newRow("client: DONT 44 withdraws") << client << hex("fffd2c fffe2c") << hex("fffc2c") << false;
    QTest::newRow("client: WILL 24 refused once") << client << hex("fffb18 fffb18") << hex("fffe18") << false;
    QTest::newRow("client: DO 24 refused once") << client << hex("fffd18 fffd18") << hex("fffc18") << false;
    QTest::newRow("client: DONT unknown option ignored") << client << hex("fffe18 fffc18") << QByteArray() << false;
    QTest::newRow("client: DONT BINARY then DO BINARY")
        << client << hex("fffe00 fffd00 fffd00") << hex("fffc00 fffb00") << false;
    QTest::newRow("server: client WILL 44") << server << hex("fffb2c") << hex("fffd2c") << true;
    QTest::newRow("server: client WILL then WONT 44") << server << hex("fffb2c fffc2c") << hex("fffd2c fffe2c")
                                                      << false;
    QTest::newRow("server: client DONT 44 keeps acceptance")
        << server << hex("fffb2c fffe2c") << hex("fffd2c fffc2c") << true;
    QTest::newRow("server: pyserial greeting")
        << server << hex("fffd01 fffb03 fffd03 fffb2c fffd2c") << hex("fffc01 fffd2c") << true;
    QTest::newRow("server: option 255") << server << hex("fffbff") << hex("fffeff") << false;
}

void TestRfc2217Codec::negotiation()
{
    QFETCH(int, role);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, reply);
    QFETCH(bool, accepted);
    const auto r = Rfc2217Codec::Role(role);
    const ParseOutput whole = parseInChunks(r, true, input, {});
    QCOMPARE(whole.reply.toHex(), reply.toHex());
    QVERIFY(whole.data.isEmpty());
    QVERIFY(sameOutput(parseInChunks(r, true, input, everyByte(input.size())), whole));

    Rfc2217Codec codec(r);
    codec.buildHandshake();
    codec.parse(input, nullptr, nullptr);
    QCOMPARE(codec.comPortAccepted(), accepted);
}

void TestRfc2217Codec::suboptionDecoding_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("hasEvent");
    QTest::addColumn<int>("kind");
    QTest::addColumn<uint>("value");
    QTest::addColumn<bool>("on");
    QTest::addColumn<bool>("request");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("text");

    const int c = Rfc2217Codec::Client;
    const int s = Rfc2217Codec::Server;
    auto row = [](const char *name, int role, const char *in, int kind, uint value, bool on, bool request, int code,
                  const QByteArray &text = {}) {
        QTest::newRow(name) << role << hex(in) << true << kind << value << on << request << code << text;
    };
    auto none = [](const char *name, int role, const char *in) {
        QTest::newRow(name) << role << hex(in) << false << 0 << 0u << false << false << 0 << QByteArray();
    };

    // Client role: what a device server reports.
    row("client: baud 115200", c, "fffa2c65 0001c200 fff0", Rfc2217Event::BaudRate, 115200, false, false, 1);
    row("client: baud with doubled ff", c, "fffa2c65 00ffffffff00 fff0", Rfc2217Event::BaudRate, 0x00ffff00, false,
        false, 1);
    row("client: baud 0 is a request", c, "fffa2c65 00000000 fff0", Rfc2217Event::BaudRate, 0, false, true, 1);
    none("client: baud with three bytes", c, "fffa2c65 00c200 fff0");
    row("client: data size 7", c, "fffa2c66 07 fff0", Rfc2217Event::DataSize, 7, false, false, 2);
    row("client: data size 4 out of range", c, "fffa2c66 04 fff0", Rfc2217Event::DataSize, 4, false, true, 2);
    row("client: data size 9 out of range", c, "fffa2c66 09 fff0", Rfc2217Event::DataSize, 9, false, true, 2);
    row("client: parity none", c, "fffa2c67 01 fff0", Rfc2217Event::Parity, 0, false, false, 3);
    row("client: parity odd", c, "fffa2c67 02 fff0", Rfc2217Event::Parity, 3, false, false, 3);
    row("client: parity even", c, "fffa2c67 03 fff0", Rfc2217Event::Parity, 2, false, false, 3);
    row("client: parity mark", c, "fffa2c67 04 fff0", Rfc2217Event::Parity, 5, false, false, 3);
    row("client: parity space", c, "fffa2c67 05 fff0", Rfc2217Event::Parity, 4, false, false, 3);
    row("client: parity 0 request", c, "fffa2c67 00 fff0", Rfc2217Event::Parity, 0, false, true, 3);
    row("client: parity 6 out of range", c, "fffa2c67 06 fff0", Rfc2217Event::Parity, 0, false, true, 3);
    row("client: stop size 1", c, "fffa2c68 01 fff0", Rfc2217Event::StopSize, 1, false, false, 4);
    row("client: stop size 3", c, "fffa2c68 03 fff0", Rfc2217Event::StopSize, 3, false, false, 4);
    row("client: stop size 0 request", c, "fffa2c68 00 fff0", Rfc2217Event::StopSize, 0, false, true, 4);
    row("client: stop size 4 out of range", c, "fffa2c68 04 fff0", Rfc2217Event::StopSize, 4, false, true, 4);
    row("client: control 0 flow request", c, "fffa2c69 00 fff0", Rfc2217Event::FlowControl, 0, false, true, 5);
    row("client: control 1 no flow", c, "fffa2c69 01 fff0", Rfc2217Event::FlowControl, 0, false, false, 5);
    row("client: control 2 software flow", c, "fffa2c69 02 fff0", Rfc2217Event::FlowControl, 2, false, false, 5);
    row("client: control 3 hardware flow", c, "fffa2c69 03 fff0", Rfc2217Event::FlowControl, 1, false, false, 5);
    row("client: control 4 break request", c, "fffa2c69 04 fff0", Rfc2217Event::Break, 4, false, true, 5);
    row("client: control 5 break on", c, "fffa2c69 05 fff0", Rfc2217Event::Break, 5, true, false, 5);
    row("client: control 6 break off", c, "fffa2c69 06 fff0", Rfc2217Event::Break, 6, false, false, 5);
    row("client: control 7 dtr request", c, "fffa2c69 07 fff0", Rfc2217Event::Dtr, 7, false, true, 5);
    row("client: control 8 dtr on", c, "fffa2c69 08 fff0", Rfc2217Event::Dtr, 8, true, false, 5);
    row("client: control 9 dtr off", c, "fffa2c69 09 fff0", Rfc2217Event::Dtr, 9, false, false, 5);
    row("client: control 10 rts request", c, "fffa2c69 0a fff0", Rfc2217Event::Rts, 10, false, true, 5);
    row("client: control 11 rts on", c, "fffa2c69 0b fff0", Rfc2217Event::Rts, 11, true, false, 5);
    row("client: control 12 rts off", c, "fffa2c69 0c fff0", Rfc2217Event::Rts, 12, false, false, 5);
    none("client: control 14 ignored", c, "fffa2c69 0e fff0");
    none("client: control without payload", c, "fffa2c69 fff0");
    row("client: line state", c, "fffa2c6a 60 fff0", Rfc2217Event::LineState, 0x60, false, false, 6);
    row("client: modem state", c, "fffa2c6b b0 fff0", Rfc2217Event::ModemState, 0xb0, false, false, 7);
    row("client: modem state ff", c, "fffa2c6b ffff fff0", Rfc2217Event::ModemState, 0xff, false, false, 7);
    none("client: flow suspend", c, "fffa2c6c fff0");
    none("client: flow resume", c, "fffa2c6d fff0");
    none("client: line state mask", c, "fffa2c6e 00 fff0");
    none("client: modem state mask", c, "fffa2c6f f0 fff0");
    row("client: purge", c, "fffa2c70 03 fff0", Rfc2217Event::Purge, 3, false, false, 12);
    none("client: code 113 unknown", c, "fffa2c71 00 fff0");
    row("client: signature", c, "fffa2c64 73657232 6e6574 fff0", Rfc2217Event::Signature, 0, false, false, 0,
        QByteArrayLiteral("ser2net"));
    row("client: empty server signature", c, "fffa2c64 fff0", Rfc2217Event::Signature, 0, false, false, 0);
    none("client: client code ignored", c, "fffa2c01 0001c200 fff0");
    none("client: other option", c, "fffa18 00 fff0");
    none("client: one byte suboption", c, "fffa2c fff0");
    none("client: empty suboption", c, "fffafff0");

    // Server role: what an RFC 2217 client asks for.
    row("server: baud 9600", s, "fffa2c01 00002580 fff0", Rfc2217Event::BaudRate, 9600, false, false, 1);
    row("server: baud request", s, "fffa2c01 00000000 fff0", Rfc2217Event::BaudRate, 0, false, true, 1);
    row("server: data size 8", s, "fffa2c02 08 fff0", Rfc2217Event::DataSize, 8, false, false, 2);
    row("server: parity even", s, "fffa2c03 03 fff0", Rfc2217Event::Parity, 2, false, false, 3);
    row("server: stop size 2", s, "fffa2c04 02 fff0", Rfc2217Event::StopSize, 2, false, false, 4);
    row("server: dtr off", s, "fffa2c05 09 fff0", Rfc2217Event::Dtr, 9, false, false, 5);
    row("server: rts on", s, "fffa2c05 0b fff0", Rfc2217Event::Rts, 11, true, false, 5);
    row("server: break on", s, "fffa2c05 05 fff0", Rfc2217Event::Break, 5, true, false, 5);
    row("server: signature request", s, "fffa2c00 fff0", Rfc2217Event::Signature, 0, false, true, 0);
    row("server: signature text", s, "fffa2c00 5120ff ff fff0", Rfc2217Event::Signature, 0, false, false, 0,
        hex("5120ff"));
    row("server: purge receive", s, "fffa2c0c 01 fff0", Rfc2217Event::Purge, 1, false, false, 12);
    none("server: purge without payload", s, "fffa2c0c fff0");
    none("server: server code ignored", s, "fffa2c65 0001c200 fff0");
    none("server: modem state mask", s, "fffa2c0b f0 fff0");
}

void TestRfc2217Codec::suboptionDecoding()
{
    QFETCH(int, role);
    QFETCH(QByteArray, input);
    QFETCH(bool, hasEvent);
    const auto r = Rfc2217Codec::Role(role);
    // Data around the suboption must come through untouched.
    const QByteArray framed = hex("41") + input + hex("42");
    const ParseOutput out = parseInChunks(r, false, framed, {});
    QCOMPARE(out.data.toHex(), QByteArray("4142"));
    QVERIFY(sameOutput(parseInChunks(r, false, framed, everyByte(framed.size())), out));
    QCOMPARE(out.events.size(), hasEvent ? 1 : 0);
    if (!hasEvent)
        return;
    QFETCH(int, kind);
    QFETCH(uint, value);
    QFETCH(bool, on);
    QFETCH(bool, request);
    QFETCH(int, code);
    QFETCH(QByteArray, text);
    const Rfc2217Event &ev = out.events.constFirst();
    QCOMPARE(ev.kind, kind);
    QCOMPARE(ev.value, value);
    QCOMPARE(ev.on, on);
    QCOMPARE(ev.request, request);
    QCOMPARE(int(ev.code), code);
    QCOMPARE(ev.text, text);
    QCOMPARE(ev.fromServer, r == Rfc2217Codec::Client);
}

void TestRfc2217Codec::serverRoleStoresModemStateMask()
{
    Rfc2217Codec server(Rfc2217Codec::Server);
    server.parse(hex("fffa2c0b f0 fff0"), nullptr, nullptr);
    QCOMPARE(server.modemStateMask(), quint8(0xf0));
    server.parse(hex("fffa2c0b ffff fff0"), nullptr, nullptr);
    QCOMPARE(server.modemStateMask(), quint8(0xff));

    Rfc2217Codec client(Rfc2217Codec::Client);
    client.parse(hex("fffa2c6f f0 fff0"), nullptr, nullptr);
    QCOMPARE(client.modemStateMask(), quint8(0));
}

void TestRfc2217Codec::splitAnywhereGivesSameResult_data()
{
    QTest::addColumn<int>("role");
    QTest::newRow("client") << int(Rfc2217Codec::Client);
    QTest::newRow("server") << int(Rfc2217Codec::Server);
}

void TestRfc2217Codec::splitAnywhereGivesSameResult()
{
    QFETCH(int, role);
    const auto r = Rfc2217Codec::Role(role);
    const QByteArray input = mixedStream();
    const ParseOutput whole = parseInChunks(r, true, input, {});
    QCOMPARE(whole.data.toHex(), QByteArray("41ff42434445ff46"));
    QVERIFY(!whole.reply.isEmpty());
    QVERIFY(!whole.events.isEmpty());

    for (qsizetype cut = 1; cut < input.size(); ++cut) {
        if (!sameOutput(parseInChunks(r, true, input, {cut}), whole))
            QFAIL(qPrintable(QStringLiteral("split at %1 differs").arg(cut)));
    }
    QVERIFY(sameOutput(parseInChunks(r, true, input, everyByte(input.size())), whole));
    for (quint32 seed = 1; seed <= 50; ++seed) {
        if (!sameOutput(parseInChunks(r, true, input, randomCuts(input.size(), seed)), whole))
            QFAIL(qPrintable(QStringLiteral("random split with seed %1 differs").arg(seed)));
    }
}

void TestRfc2217Codec::endlessSubnegotiationStaysBounded()
{
    Rfc2217Codec codec(Rfc2217Codec::Client);
    QList<Rfc2217Event> events;
    QByteArray reply;
    QByteArray data = codec.parse(hex("41 fffa2c65"), &events, &reply);
    const QByteArray chunk(4096, 'x');
    for (int i = 0; i < 256; ++i) { // 1 MiB without IAC SE
        data += codec.parse(chunk, &events, &reply);
        QVERIFY(codec.pendingSubnegotiationSize() <= Rfc2217Codec::MaxSubnegotiation);
    }
    data += codec.parse(hex("fff0 42"), &events, &reply);
    QCOMPARE(data.toHex(), QByteArray("4142"));
    QVERIFY(events.isEmpty());
    QCOMPARE(codec.pendingSubnegotiationSize(), 0);
}

void TestRfc2217Codec::oversizedSuboptionIsDroppedWhole()
{
    for (qsizetype textSize : {Rfc2217Codec::MaxSubnegotiation - 2, Rfc2217Codec::MaxSubnegotiation - 1}) {
        Rfc2217Codec codec(Rfc2217Codec::Client);
        QList<Rfc2217Event> events;
        const QByteArray text(textSize, 's');
        const QByteArray input = hex("fffa2c64") + text + hex("fff0 fffa2c65 00002580 fff0");
        codec.parse(input, &events, nullptr);
        const bool fits = textSize + 2 <= Rfc2217Codec::MaxSubnegotiation;
        QCOMPARE(events.size(), fits ? 2 : 1);
        if (fits)
            QCOMPARE(events.constFirst().text, text);
        QCOMPARE(events.constLast().value, 9600u); // the next suboption still decodes
    }
}

void TestRfc2217Codec::optionFloodIsAnsweredOnce()
{
    Rfc2217Codec codec(Rfc2217Codec::Server);
    codec.buildHandshake();
    QByteArray flood;
    for (int i = 0; i < 20000; ++i)
        flood += hex("fffb18 fffd18 fffd00 fffb2c fffd03");
    QByteArray reply;
    const QByteArray data = codec.parse(flood, nullptr, &reply);
    QVERIFY(data.isEmpty());
    QCOMPARE(reply.toHex(), QByteArray("fffe18fffc18fffd2c"));
}

void TestRfc2217Codec::iacAtEveryPositionKeepsData()
{
    QRandomGenerator rng(4711);
    QByteArray payload(4096, Qt::Uninitialized);
    for (char &b : payload)
        b = char(rng.bounded(256));
    // Between every payload byte a command that carries no data.
    static const char *const noise[] = {"fff1", "fffb18", "fffe00", "fffa2c6b30fff0", "fff9", "fffa18fff0"};
    QByteArray input;
    for (char b : payload) {
        input += hex(noise[rng.bounded(6)]);
        input += Rfc2217Codec::escapeData(QByteArray(1, b));
    }
    for (auto role : {Rfc2217Codec::Client, Rfc2217Codec::Server}) {
        QCOMPARE(parseInChunks(role, true, input, {}).data, payload);
        QCOMPARE(parseInChunks(role, true, input, randomCuts(input.size(), 99)).data, payload);
    }
}

void TestRfc2217Codec::truncatedSuboptionKeepsFollowingCommands()
{
    Rfc2217Codec codec(Rfc2217Codec::Client);
    QList<Rfc2217Event> events;
    QByteArray reply;
    // A baud-rate report cut off by a WILL, then a new suboption started inside a broken one.
    const QByteArray data = codec.parse(hex("fffa2c65 0001 fffb18 41 fffa2c66 fffa2c6b 30 fff0 42"), &events, &reply);
    QCOMPARE(data.toHex(), QByteArray("4142"));
    QCOMPARE(reply.toHex(), QByteArray("fffe18"));
    QCOMPARE(events.size(), 1);
    QCOMPARE(events.constFirst().kind, qint32(Rfc2217Event::ModemState));
    QCOMPARE(events.constFirst().value, 0x30u);
}

void TestRfc2217Codec::valueMappings_data()
{
    QTest::addColumn<int>("settingsParity");
    QTest::addColumn<int>("wireParity");
    QTest::newRow("none") << 0 << 1;
    QTest::newRow("even") << 2 << 3;
    QTest::newRow("odd") << 3 << 2;
    QTest::newRow("space") << 4 << 5;
    QTest::newRow("mark") << 5 << 4;
}

void TestRfc2217Codec::valueMappings()
{
    QFETCH(int, settingsParity);
    QFETCH(int, wireParity);
    QCOMPARE(int(Rfc2217Codec::parityToWire(settingsParity)), wireParity);
    QCOMPARE(Rfc2217Codec::parityFromWire(quint8(wireParity)), settingsParity);
    // Out-of-range settings values fall back to the defaults.
    QCOMPARE(int(Rfc2217Codec::parityToWire(1)), 1);
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
