#include "bridge/comportanswers.h"

namespace {

// SET-CONTROL values for the lines' states.
constexpr quint8 BreakOn = 5, BreakOff = 6, DtrOn = 8, DtrOff = 9, RtsOn = 11, RtsOff = 12;

} // namespace

bool isPlausibleBaudRate(quint32 baudRate)
{
    return baudRate >= 50 && baudRate <= 16000000;
}

QByteArray comPortAnswers(const Rfc2217Codec &codec, const QList<Rfc2217Event> &events, const ComPortState &s)
{
    QByteArray reply;
    auto byte = [&](quint8 code, qint32 value) { reply += codec.buildSuboption(code, QByteArray(1, char(value))); };
    for (const Rfc2217Event &e : events) {
        switch (e.kind) {
        case Rfc2217Event::BaudRate:
            reply += codec.buildSuboption(Rfc2217Codec::SetBaudRate, Rfc2217Codec::baudRatePayload(quint32(s.baudRate)));
            break;
        case Rfc2217Event::DataSize: byte(Rfc2217Codec::SetDataSize, s.dataBits); break;
        case Rfc2217Event::Parity: byte(Rfc2217Codec::SetParity, Rfc2217Codec::parityToWire(s.parity)); break;
        case Rfc2217Event::StopSize: byte(Rfc2217Codec::SetStopSize, Rfc2217Codec::stopBitsToWire(s.stopBits)); break;
        case Rfc2217Event::FlowControl: byte(Rfc2217Codec::SetControl, Rfc2217Codec::flowControlToWire(s.flowControl)); break;
        case Rfc2217Event::Break: byte(Rfc2217Codec::SetControl, s.breakOn ? BreakOn : BreakOff); break;
        case Rfc2217Event::Dtr: byte(Rfc2217Codec::SetControl, s.dtrOn ? DtrOn : DtrOff); break;
        case Rfc2217Event::Rts: byte(Rfc2217Codec::SetControl, s.rtsOn ? RtsOn : RtsOff); break;
        case Rfc2217Event::Purge: byte(Rfc2217Codec::PurgeData, qint32(e.value)); break;
        case Rfc2217Event::Signature:
            reply += codec.buildSuboption(Rfc2217Codec::Signature, QByteArrayLiteral("Quillon bridge"));
            break;
        default: break;
        }
    }
    return reply;
}
