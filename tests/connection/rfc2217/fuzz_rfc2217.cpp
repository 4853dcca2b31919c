// libFuzzer target: the Telnet/COM-PORT parser in both roles, the client session, the
// server role's answers and the Modbus gateway's MBAP parser and matching. Checks that
// parsing in chunks gives the same result as parsing at once, that the subnegotiation
// and MBAP buffers stay capped, that payload never grows, and that every answer the
// server gives is well formed and carries a plausible baud rate.
#include "bridge/comportanswers.h"
#include "bridge/modbusgateway.h"
#include "connection/rfc2217clientsession.h"
#include "connection/rfc2217codec.h"
#include "connection/rfc2217lineconfig.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <tuple>

namespace {

struct Output
{
    QByteArray data;
    QByteArray reply;
    QList<Rfc2217Event> events;
};

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// Everything an event carries.
auto fields(const Rfc2217Event &e)
{
    return std::tie(e.kind, e.value, e.on, e.request, e.text, e.code, e.fromServer);
}

bool sameEvents(const QList<Rfc2217Event> &a, const QList<Rfc2217Event> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto &x, const auto &y) { return fields(x) == fields(y); });
}

void runRole(Rfc2217Codec::Role role, quint8 splitSeed, const QByteArray &input)
{
    Rfc2217Codec whole(role);
    whole.buildHandshake();
    Output a;
    a.data = whole.parse(input, &a.events, &a.reply);
    check(whole.pendingSubnegotiationSize() <= Rfc2217Codec::MaxSubnegotiation);
    check(a.data.size() <= input.size());

    Rfc2217Codec chunked(role);
    chunked.buildHandshake();
    Output b;
    quint32 state = splitSeed * 2654435761u + 1;
    qsizetype pos = 0;
    while (pos < input.size()) {
        state = state * 1103515245u + 12345u;
        const qsizetype len = qMin<qsizetype>(input.size() - pos, 1 + (state >> 16) % 7);
        b.data += chunked.parse(input.mid(pos, len), &b.events, &b.reply);
        check(chunked.pendingSubnegotiationSize() <= Rfc2217Codec::MaxSubnegotiation);
        pos += len;
    }
    check(a.data == b.data);
    check(a.reply == b.reply);
    check(sameEvents(a.events, b.events));
    check(whole.comPortAccepted() == chunked.comPortAccepted());
    check(whole.sawTelnet() == chunked.sawTelnet());
    // Every answer is three bytes and is only given when it changes something.
    check(a.reply.size() % 3 == 0);
    for (const Rfc2217Event &ev : a.events)
        check(ev.text.size() <= Rfc2217Codec::MaxSubnegotiation);

    // What we send the other way always comes back intact.
    Rfc2217Codec peer(role == Rfc2217Codec::Client ? Rfc2217Codec::Server : Rfc2217Codec::Client);
    check(peer.parse(Rfc2217Codec::escapeData(input), nullptr, nullptr) == input);
}

// The client session on top: time-out after the first half, settings pushed whenever
// the peer has accepted; in the transparent state the input must come out unchanged.
void runSession(quint8 seed, const QByteArray &input)
{
    Rfc2217ClientSession session;
    session.start();
    const qsizetype half = input.size() / 2;
    session.decode(input.left(half));
    session.handshakeTimedOut();
    const bool transparent = session.state() == Rfc2217ClientSession::TransparentTcp;
    const Rfc2217Result rest = session.decode(input.mid(half));
    if (transparent)
        check(rest.data == input.mid(half));
    const Rfc2217LineConfig config{.baudRate = qint32(seed) * 1200 - 1200, .dataBits = seed % 10, .parity = seed % 7, .stopBits = seed % 5,
                                   .flowControl = seed % 4, .useRemoteSerialConfig = (seed & 1) != 0};
    const QByteArray first = session.applyConfig(config);
    check(session.state() == Rfc2217ClientSession::Active || first.isEmpty());
    check(session.applyConfig(config).isEmpty());
    session.remoteSummary();
}

// The server role: whatever a client sends, the answers parse back on the client side
// into exactly one event per answered request, none of them a request.
void runServerAnswers(quint8 seed, const QByteArray &input)
{
    Rfc2217Codec server(Rfc2217Codec::Server);
    QList<Rfc2217Event> events;
    server.parse(input, &events, nullptr);
    ComPortState state;
    state.baudRate = 9600 + seed;
    for (const Rfc2217Event &e : std::as_const(events)) {
        if (e.kind == Rfc2217Event::BaudRate && !e.request && isPlausibleBaudRate(e.value))
            state.baudRate = qint32(e.value);
    }
    const QByteArray reply = comPortAnswers(server, events, state);
    Rfc2217Codec client(Rfc2217Codec::Client);
    QList<Rfc2217Event> heard;
    check(client.parse(reply, &heard, nullptr).isEmpty());
    qsizetype answered = 0;
    for (const Rfc2217Event &e : std::as_const(events))
        answered += e.kind <= Rfc2217Event::Signature ? 1 : 0;
    check(heard.size() == answered);
    for (const Rfc2217Event &e : std::as_const(heard)) {
        check(e.fromServer);
        if (e.kind == Rfc2217Event::BaudRate)
            check(isPlausibleBaudRate(e.value) && e.value == quint32(state.baudRate));
    }
}

// The gateway: a client's stream whole and in chunks gives the same frames, the
// parser never keeps more than one request, and answers built from the input never
// produce more responses than requests.
void runMbap(quint8 seed, const QByteArray &input)
{
    ModbusGateway whole, chunked;
    const QList<QByteArray> frames = whole.request(QStringLiteral("c"), input, 0);
    QList<QByteArray> pieces;
    quint32 state = seed * 2654435761u + 7;
    for (qsizetype pos = 0; pos < input.size();) {
        state = state * 1103515245u + 12345u;
        const qsizetype len = qMin<qsizetype>(input.size() - pos, 1 + (state >> 16) % 13);
        pieces += chunked.request(QStringLiteral("c"), input.mid(pos, len), 0);
        pos += len;
    }
    // A malformed header empties the buffer with the rest of its chunk, so chunking
    // may only differ once something was malformed.
    if (whole.counters().malformedRequests == 0 && chunked.counters().malformedRequests == 0)
        check(frames == pieces);
    check(whole.pending() <= ModbusGateway::MaxPending);
    qint64 responses = 0;
    for (const QByteArray &frame : frames) {
        check(ModbusGateway::hasValidCrc(frame));
        responses += whole.answer(frame, QString(), 1).size();
    }
    responses += whole.answer(input, QString(), 2).size();
    check(responses <= whole.counters().requests);
    MbapParser parser;
    parser.feed(input);
    check(parser.buffered() < 6 + MbapParser::MaxLength);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size == 0)
        return 0;
    const quint8 splitSeed = bytes[0];
    const QByteArray input(reinterpret_cast<const char *>(bytes + 1), qsizetype(size - 1));
    runRole(Rfc2217Codec::Client, splitSeed, input);
    runRole(Rfc2217Codec::Server, splitSeed, input);
    runSession(splitSeed, input);
    runServerAnswers(splitSeed, input);
    runMbap(splitSeed, input);
    return 0;
}
