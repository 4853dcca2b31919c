#include "bridge/comportserver.h"

#include "bridge/bridgelog.h"
#include "connection/connectioncontroller.h"
#include "session/portsession.h"

namespace {

// SET-CONTROL values for the lines' states.
constexpr quint8 BreakOn = 5, BreakOff = 6, DtrOn = 8, DtrOff = 9, RtsOn = 11, RtsOff = 12;
constexpr qint32 HardwareFlow = 1;

// The line settings a batch asks to change; values the session could never take are
// left out, so the answer reports what is in effect instead.
LineChange requestedChange(const QList<Rfc2217Event> &events)
{
    LineChange change;
    for (const Rfc2217Event &e : events) {
        if (e.request)
            continue;
        switch (e.kind) {
        case Rfc2217Event::BaudRate:
            // Compared unsigned: a 32-bit value above 2^31 would turn negative as qint32.
            if (e.value >= quint32(PortSession::MinBaudRate) && e.value <= quint32(PortSession::MaxBaudRate))
                change.baudRate = qint32(e.value);
            break;
        case Rfc2217Event::DataSize: change.dataBits = qint32(e.value); break;
        case Rfc2217Event::Parity: change.parity = qint32(e.value); break;
        case Rfc2217Event::StopSize: change.stopBits = qint32(e.value); break;
        case Rfc2217Event::FlowControl: change.flowControl = qint32(e.value); break;
        default: break;
        }
    }
    return change;
}

bool isEmpty(const LineChange &c)
{
    return !c.baudRate && !c.dataBits && !c.parity && !c.stopBits && !c.flowControl;
}

} // namespace

QByteArray ComPortServer::serve(const Rfc2217Codec &codec, const QList<Rfc2217Event> &events, PortSession *serial)
{
    if (events.isEmpty())
        return {};
    const LineChange change = requestedChange(events);
    if (serial && !isEmpty(change)) {
        const auto result = serial->applyLineChange(change, PortRequester::Bridge);
        qCInfo(lcBridge) << "RFC 2217 line change" << serial->portKey() << "result" << int(result);
    }
    const LineChange line = serial ? serial->lineSettingsInEffect() : LineChange{};
    QByteArray reply;
    auto control = [&](quint8 value) { reply += codec.buildSuboption(Rfc2217Codec::SetControl, QByteArray(1, char(value))); };
    auto byte = [&](quint8 code, qint32 value) { reply += codec.buildSuboption(code, QByteArray(1, char(value))); };
    for (const Rfc2217Event &e : events) {
        switch (e.kind) {
        case Rfc2217Event::BaudRate:
            reply += codec.buildSuboption(Rfc2217Codec::SetBaudRate,
                                          Rfc2217Codec::baudRatePayload(quint32(line.baudRate.value_or(0))));
            break;
        case Rfc2217Event::DataSize: byte(Rfc2217Codec::SetDataSize, line.dataBits.value_or(8)); break;
        case Rfc2217Event::Parity:
            byte(Rfc2217Codec::SetParity, Rfc2217Codec::parityToWire(line.parity.value_or(0)));
            break;
        case Rfc2217Event::StopSize:
            byte(Rfc2217Codec::SetStopSize, Rfc2217Codec::stopBitsToWire(line.stopBits.value_or(1)));
            break;
        case Rfc2217Event::FlowControl: control(Rfc2217Codec::flowControlToWire(line.flowControl.value_or(0))); break;
        case Rfc2217Event::Break:
            if (serial && !e.request) {
                if (e.on)
                    serial->setBreak(true);
                else
                    serial->releaseBreak();
            }
            control(serial && serial->breakHeld() ? BreakOn : BreakOff);
            break;
        case Rfc2217Event::Dtr:
        case Rfc2217Event::Rts: {
            const bool rts = e.kind == Rfc2217Event::Rts;
            // RTS belongs to the flow control while it is RTS/CTS; the client hears the level that stays.
            const bool locked = rts && line.flowControl.value_or(0) == HardwareFlow;
            if (serial && !e.request && !locked) {
                const bool level = rts ? serial->settings().RtsOn : serial->settings().DtrOn;
                if (level != e.on)
                    serial->toggleLine(rts ? ConnectionController::Rts : ConnectionController::Dtr);
            }
            const bool now = serial && (rts ? serial->settings().RtsOn : serial->settings().DtrOn);
            control(rts ? (now ? RtsOn : RtsOff) : (now ? DtrOn : DtrOff));
            break;
        }
        case Rfc2217Event::Purge: byte(Rfc2217Codec::PurgeData, qint32(e.value)); break;
        case Rfc2217Event::Signature: reply += codec.buildSuboption(Rfc2217Codec::Signature, signature()); break;
        default: break;
        }
    }
    return reply;
}

QByteArray ComPortServer::lineCommands(const Rfc2217Codec &codec, const LineChange &line)
{
    QByteArray out;
    out += codec.buildSuboption(Rfc2217Codec::SetBaudRate,
                                Rfc2217Codec::baudRatePayload(quint32(line.baudRate.value_or(9600))));
    out += codec.buildSuboption(Rfc2217Codec::SetDataSize, QByteArray(1, char(line.dataBits.value_or(8))));
    out += codec.buildSuboption(Rfc2217Codec::SetParity,
                                QByteArray(1, char(Rfc2217Codec::parityToWire(line.parity.value_or(0)))));
    out += codec.buildSuboption(Rfc2217Codec::SetStopSize,
                                QByteArray(1, char(Rfc2217Codec::stopBitsToWire(line.stopBits.value_or(1)))));
    out += codec.buildSuboption(Rfc2217Codec::SetControl,
                                QByteArray(1, char(Rfc2217Codec::flowControlToWire(line.flowControl.value_or(0)))));
    return out;
}
