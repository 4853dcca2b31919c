#include "bridge/comportserver.h"

#include "bridge/bridgelog.h"
#include "bridge/comportanswers.h"
#include "connection/connectioncontroller.h"
#include "session/portsession.h"

namespace {

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
            if (isPlausibleBaudRate(e.value))
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
    ComPortState state;
    if (serial) {
        const LineChange line = serial->lineSettingsInEffect();
        state = {line.baudRate.value_or(0), line.dataBits.value_or(8), line.parity.value_or(0),
                 line.stopBits.value_or(1), line.flowControl.value_or(0)};
        for (const Rfc2217Event &e : events) {
            if (e.request)
                continue;
            if (e.kind == Rfc2217Event::Break) {
                if (e.on)
                    serial->setBreak(true);
                else
                    serial->releaseBreak();
            } else if (e.kind == Rfc2217Event::Dtr || e.kind == Rfc2217Event::Rts) {
                const bool rts = e.kind == Rfc2217Event::Rts;
                // RTS belongs to the flow control while it is RTS/CTS; the client hears the level that stays.
                const bool locked = rts && state.flowControl == HardwareFlow;
                const bool level = rts ? serial->settings().RtsOn : serial->settings().DtrOn;
                if (!locked && level != e.on)
                    serial->toggleLine(rts ? ConnectionController::Rts : ConnectionController::Dtr);
            }
        }
        state.breakOn = serial->breakHeld();
        state.dtrOn = serial->settings().DtrOn;
        state.rtsOn = serial->settings().RtsOn;
    }
    return comPortAnswers(codec, events, state);
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
