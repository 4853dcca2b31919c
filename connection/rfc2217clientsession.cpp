#include "connection/rfc2217clientsession.h"

#include "connection/rfc2217lineconfig.h"

#include <QList>
#include <QStringList>

void Rfc2217ClientSession::reset()
{
    *this = Rfc2217ClientSession();
}

QByteArray Rfc2217ClientSession::start()
{
    reset();
    return m_codec.buildHandshake();
}

QByteArray Rfc2217ClientSession::encodeData(const QByteArray &bytes) const
{
    return m_state == TransparentTcp ? bytes : Rfc2217Codec::escapeData(bytes);
}

Rfc2217Result Rfc2217ClientSession::decode(const QByteArray &bytes)
{
    Rfc2217Result result;
    if (m_state == TransparentTcp) {
        // The peer is no Telnet server and our outgoing 0xFF go unescaped, so its
        // 0xFF bytes are data too.
        result.data = bytes;
        return result;
    }

    const bool acceptedBefore = m_codec.comPortAccepted();
    QList<Rfc2217Event> events;
    result.data = m_codec.parse(bytes, &events, &result.reply);
    for (const Rfc2217Event &event : events)
        applyEvent(event, result);

    if (!acceptedBefore && m_codec.comPortAccepted()) {
        m_state = Active;
        result.negotiationEnded = true;
        result.message = tr("The remote port accepted serial parameter control.");
    }
    return result;
}

void Rfc2217ClientSession::applyEvent(const Rfc2217Event &event, Rfc2217Result &result)
{
    m_gotComPortReply = true;
    // A server's "request" value (0, out of range, or a state query echoed back) says
    // nothing about the port, so it must not overwrite what we know.
    if (event.request)
        return;
    switch (event.kind) {
    case Rfc2217Event::BaudRate:
        if (m_remoteBaudRate != 0 && m_remoteBaudRate != event.value)
            result.message = tr("The remote port is now at %1 baud.").arg(event.value);
        m_remoteBaudRate = event.value;
        break;
    case Rfc2217Event::DataSize:
        m_remoteDataBits = event.value;
        break;
    case Rfc2217Event::Parity:
        m_remoteParity = event.value;
        break;
    case Rfc2217Event::StopSize:
        m_remoteStopBits = event.value;
        break;
    case Rfc2217Event::FlowControl:
        m_remoteFlowControl = event.value;
        break;
    case Rfc2217Event::Dtr:
        m_remoteDtrKnown = true;
        m_remoteDtr = event.on;
        break;
    case Rfc2217Event::Rts:
        m_remoteRtsKnown = true;
        m_remoteRts = event.on;
        break;
    case Rfc2217Event::Signature:
        m_remoteSignature = QString::fromUtf8(event.text).trimmed();
        break;
    case Rfc2217Event::ModemState:
        m_remoteModemStateKnown = true;
        m_remoteModemState = quint8(event.value);
        break;
    default:
        break; // Break, purge and line state change nothing we show
    }
}

Rfc2217Result Rfc2217ClientSession::handshakeTimedOut()
{
    Rfc2217Result result;
    if (m_state != Negotiating)
        return result;
    if (m_codec.sawTelnet()) {
        m_state = PlainTelnet;
        result.message = tr("The remote does not support serial parameter control; continuing as plain Telnet.");
    } else {
        m_state = TransparentTcp;
        result.message = tr("The remote is not an RFC 2217 server; continuing as transparent TCP. "
                            "The handshake bytes may have reached the remote serial line.");
    }
    result.negotiationEnded = true;
    return result;
}

QByteArray Rfc2217ClientSession::setBreak(bool on) const
{
    if (m_state != Active)
        return {};
    return m_codec.buildSuboption(Rfc2217Codec::SetControl, QByteArray(1, char(on ? 5 : 6)));
}

QByteArray Rfc2217ClientSession::applyConfig(const Rfc2217LineConfig &config)
{
    if (m_state != Active)
        return {};
    QByteArray out;
    if (!m_preambleSent) {
        out += m_codec.buildSuboption(Rfc2217Codec::Signature, QByteArrayLiteral("Quillon"));
        // CD, RI, DSR and CTS changes
        out += m_codec.buildSuboption(Rfc2217Codec::SetModemStateMask, QByteArray(1, char(0xF0)));
        m_preambleSent = true;
    }
    if (config.useRemoteSerialConfig)
        return out;

    // A non-positive rate goes out as 0, which asks the server for its rate instead.
    const quint32 baud = config.baudRate > 0 ? quint32(config.baudRate) : 0;
    const quint8 dataBits = (config.dataBits >= 5 && config.dataBits <= 8) ? quint8(config.dataBits) : 8;
    const quint8 parity = Rfc2217Codec::parityToWire(config.parity);
    const quint8 stopBits = Rfc2217Codec::stopBitsToWire(config.stopBits);
    const quint8 flow = Rfc2217Codec::flowControlToWire(config.flowControl);
    const auto oneByte = [](quint8 v) { return QByteArray(1, char(v)); };

    if (!m_configSent || baud != m_sentBaudRate)
        out += m_codec.buildSuboption(Rfc2217Codec::SetBaudRate, Rfc2217Codec::baudRatePayload(baud));
    if (!m_configSent || dataBits != m_sentDataBits)
        out += m_codec.buildSuboption(Rfc2217Codec::SetDataSize, oneByte(dataBits));
    if (!m_configSent || parity != m_sentParity)
        out += m_codec.buildSuboption(Rfc2217Codec::SetParity, oneByte(parity));
    if (!m_configSent || stopBits != m_sentStopBits)
        out += m_codec.buildSuboption(Rfc2217Codec::SetStopSize, oneByte(stopBits));
    if (!m_configSent || flow != m_sentFlowControl)
        out += m_codec.buildSuboption(Rfc2217Codec::SetControl, oneByte(flow));
    if (!m_configSent || config.dtrOn != m_sentDtr)
        out += m_codec.buildSuboption(Rfc2217Codec::SetControl, oneByte(config.dtrOn ? 8 : 9));
    if (!m_configSent || config.rtsOn != m_sentRts)
        out += m_codec.buildSuboption(Rfc2217Codec::SetControl, oneByte(config.rtsOn ? 11 : 12));

    m_sentBaudRate = baud;
    m_sentDataBits = dataBits;
    m_sentParity = parity;
    m_sentStopBits = stopBits;
    m_sentFlowControl = flow;
    m_sentDtr = config.dtrOn;
    m_sentRts = config.rtsOn;
    m_configSent = true;
    return out;
}

QString Rfc2217ClientSession::remoteSummary() const
{
    if (!m_gotComPortReply)
        return {};
    QStringList parts;
    if (m_remoteBaudRate != 0)
        parts << QString::number(m_remoteBaudRate);
    if (!m_remoteSignature.isEmpty())
        parts << m_remoteSignature;
    return parts.join(QStringLiteral(" \u00B7 "));
}
