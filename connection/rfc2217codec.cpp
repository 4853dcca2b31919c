#include "connection/rfc2217codec.h"

#include <algorithm>
#include <cstring>

Rfc2217Codec::Rfc2217Codec(Role role)
{
    reset(role);
}

void Rfc2217Codec::reset(Role role)
{
    m_role = role;
    m_state = Data;
    m_pendingCommand = 0;
    m_subOverflow = false;
    m_subBuffer.clear();
    m_comPortAccepted = false;
    m_sawTelnet = false;
    m_modemStateMask = 0;
    m_doAnswers.fill(Unknown);
    m_willAnswers.fill(Unknown);
}

QByteArray Rfc2217Codec::buildHandshake()
{
    QByteArray out;
    const auto add = [&out](quint8 command, quint8 option) {
        out.append(char(Iac));
        out.append(char(command));
        out.append(char(option));
    };
    add(Will, OptionComPort);
    m_willAnswers[OptionComPort] = Yes;
    if (m_role == Client) {
        add(Do, OptionComPort);
        m_doAnswers[OptionComPort] = Yes;
    }
    for (quint8 option : {quint8(OptionBinary), quint8(OptionSuppressGoAhead)}) {
        add(Will, option);
        add(Do, option);
        m_willAnswers[option] = Yes;
        m_doAnswers[option] = Yes;
    }
    return out;
}

QByteArray Rfc2217Codec::escapeData(const QByteArray &bytes)
{
    const char *begin = bytes.constData();
    const char *const end = begin + bytes.size();
    const auto *first = static_cast<const char *>(std::memchr(begin, Iac, size_t(bytes.size())));
    if (!first)
        return bytes; // shares the data, no copy

    QByteArray out(bytes.size() + std::count(first, end, char(Iac)), Qt::Uninitialized);
    char *dst = out.data();
    std::memcpy(dst, begin, size_t(first - begin));
    dst += first - begin;
    for (const char *src = first; src < end; ++src) {
        *dst++ = *src;
        if (*src == char(Iac))
            *dst++ = char(Iac);
    }
    return out;
}

QByteArray Rfc2217Codec::buildSuboption(quint8 code, const QByteArray &payload) const
{
    const quint8 wireCode = m_role == Server ? quint8(code + ServerOffset) : code;
    QByteArray out;
    out.reserve(payload.size() * 2 + 6);
    out.append(char(Iac));
    out.append(char(Sb));
    out.append(char(OptionComPort));
    out.append(char(wireCode));
    if (wireCode == Iac)
        out.append(char(Iac));
    out.append(escapeData(payload));
    out.append(char(Iac));
    out.append(char(Se));
    return out;
}

QByteArray Rfc2217Codec::parse(const QByteArray &bytes, QList<Rfc2217Event> *events, QByteArray *reply)
{
    const char *p = bytes.constData();
    const qsizetype size = bytes.size();
    if (m_state == Data && !std::memchr(p, Iac, size_t(size)))
        return bytes; // plain payload: no copy

    // Payload never grows while parsing, so it is written straight into a buffer of the input's size.
    QByteArray data(size, Qt::Uninitialized);
    char *const outBegin = data.data();
    char *out = outBegin;
    qsizetype i = 0;
    while (i < size) {
        if (m_state == Data) {
            const void *hit = std::memchr(p + i, Iac, size_t(size - i));
            const qsizetype end = hit ? static_cast<const char *>(hit) - p : size;
            std::memcpy(out, p + i, size_t(end - i));
            out += end - i;
            i = end;
            if (hit) {
                m_sawTelnet = true;
                m_state = AfterIac;
                ++i;
            }
            continue;
        }
        const quint8 byte = quint8(p[i++]);
        switch (m_state) {
        case Data:
            break;
        case AfterIac:
            if (byte == Iac) {
                *out++ = char(Iac);
                m_state = Data;
            } else {
                handleCommand(byte);
            }
            break;
        case OptionByte:
            m_state = Data;
            handleOption(m_pendingCommand, byte, reply);
            break;
        case InSub:
            if (byte == Iac) {
                m_state = IacInSub;
            } else if (m_subBuffer.size() < MaxSubnegotiation) {
                m_subBuffer.append(char(byte));
            } else {
                m_subOverflow = true;
            }
            break;
        case IacInSub:
            if (byte == Iac) {
                m_state = InSub;
                if (m_subBuffer.size() < MaxSubnegotiation)
                    m_subBuffer.append(char(Iac));
                else
                    m_subOverflow = true;
            } else if (byte == Se) {
                m_state = Data;
                if (!m_subOverflow)
                    decodeSuboption(events);
                m_subBuffer.clear();
                m_subOverflow = false;
            } else {
                // A broken suboption: drop it and take the byte as the command it is,
                // so a peer that forgot IAC SE does not swallow what follows.
                m_subBuffer.clear();
                m_subOverflow = false;
                handleCommand(byte);
            }
            break;
        }
    }
    data.truncate(out - outBegin);
    return data;
}

void Rfc2217Codec::handleCommand(quint8 byte)
{
    switch (byte) {
    case Will:
    case Wont:
    case Do:
    case Dont:
        m_pendingCommand = byte;
        m_state = OptionByte;
        break;
    case Sb:
        m_subBuffer.clear();
        m_subOverflow = false;
        m_state = InSub;
        break;
    default:
        m_state = Data; // NOP, GA, AYT and the like carry nothing for us
        break;
    }
}

void Rfc2217Codec::handleOption(quint8 command, quint8 option, QByteArray *reply)
{
    const bool supported = isSupportedOption(option);
    switch (command) {
    case Do:
        if (option == OptionComPort)
            m_comPortAccepted = true;
        answer(m_willAnswers, supported ? Will : Wont, option, reply);
        break;
    case Will:
        if (option == OptionComPort)
            m_comPortAccepted = true;
        answer(m_doAnswers, supported ? Do : Dont, option, reply);
        break;
    case Dont:
        if (option == OptionComPort && m_role == Client)
            m_comPortAccepted = false;
        if (m_willAnswers[option] == Yes)
            answer(m_willAnswers, Wont, option, reply);
        break;
    case Wont:
        if (option == OptionComPort && m_role == Server)
            m_comPortAccepted = false;
        if (m_doAnswers[option] == Yes)
            answer(m_doAnswers, Dont, option, reply);
        break;
    default:
        break;
    }
}

void Rfc2217Codec::answer(std::array<qint8, 256> &answers, quint8 command, quint8 option, QByteArray *reply)
{
    const qint8 yes = (command == Will || command == Do) ? Yes : No;
    if (answers[option] == yes)
        return; // never repeat an answer: that is how Telnet option loops start
    answers[option] = yes;
    if (reply) {
        reply->append(char(Iac));
        reply->append(char(command));
        reply->append(char(option));
    }
}

void Rfc2217Codec::decodeSuboption(QList<Rfc2217Event> *events)
{
    const QByteArray &sub = m_subBuffer;
    if (sub.size() < 2 || quint8(sub.at(0)) != OptionComPort)
        return;
    quint8 code = quint8(sub.at(1));
    const bool fromServer = code >= ServerOffset;
    // Each end only accepts the other end's codes.
    if (m_role == Client) {
        if (!fromServer)
            return;
        code = quint8(code - ServerOffset);
    } else if (fromServer) {
        return;
    }

    const QByteArray payload = sub.mid(2);
    const bool hasByte = !payload.isEmpty();
    const quint8 first = hasByte ? quint8(payload.at(0)) : 0;

    Rfc2217Event ev;
    ev.code = code;
    ev.fromServer = fromServer;
    switch (code) {
    case Signature:
        ev.kind = Rfc2217Event::Signature;
        ev.text = payload;
        ev.request = !fromServer && payload.isEmpty();
        break;
    case SetBaudRate: {
        if (payload.size() < 4)
            return;
        const auto *b = reinterpret_cast<const uchar *>(payload.constData());
        ev.kind = Rfc2217Event::BaudRate;
        ev.value = (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | quint32(b[3]);
        ev.request = ev.value == 0;
        break;
    }
    case SetDataSize:
        if (!hasByte)
            return;
        ev.kind = Rfc2217Event::DataSize;
        ev.value = first;
        ev.request = first < 5 || first > 8;
        break;
    case SetParity: {
        if (!hasByte)
            return;
        ev.kind = Rfc2217Event::Parity;
        const qint32 parity = parityFromWire(first);
        ev.request = parity < 0;
        ev.value = parity < 0 ? 0 : quint32(parity);
        break;
    }
    case SetStopSize:
        if (!hasByte)
            return;
        ev.kind = Rfc2217Event::StopSize;
        ev.value = first;
        ev.request = first < 1 || first > 3;
        break;
    case SetControl:
        if (!hasByte || first > 12)
            return;
        if (first <= 3) {
            ev.kind = Rfc2217Event::FlowControl;
            ev.request = first == 0;
            ev.value = first == 0 ? 0 : quint32(flowControlFromWire(first));
        } else {
            // 4..6 Break, 7..9 DTR, 10..12 RTS: request, on, off
            static constexpr qint32 kinds[] = {Rfc2217Event::Break, Rfc2217Event::Dtr, Rfc2217Event::Rts};
            const int group = (first - 4) / 3;
            const int offset = (first - 4) % 3;
            ev.kind = kinds[group];
            ev.request = offset == 0;
            ev.on = offset == 1;
            ev.value = first;
        }
        break;
    case NotifyLineState:
    case NotifyModemState:
    case PurgeData:
        if (!hasByte)
            return;
        ev.kind = code == NotifyLineState ? Rfc2217Event::LineState
                : code == NotifyModemState ? Rfc2217Event::ModemState
                                           : Rfc2217Event::Purge;
        ev.value = first;
        break;
    case SetModemStateMask:
        if (m_role == Server && hasByte)
            m_modemStateMask = first;
        return;
    default:
        return;
    }
    if (events)
        events->append(ev);
}

bool Rfc2217Codec::isSupportedOption(quint8 option)
{
    return option == OptionBinary || option == OptionSuppressGoAhead || option == OptionComPort;
}

quint8 Rfc2217Codec::parityToWire(qint32 parity)
{
    switch (parity) {
    case 2: return 3; // even
    case 3: return 2; // odd
    case 4: return 5; // space
    case 5: return 4; // mark
    default: return 1; // none
    }
}

qint32 Rfc2217Codec::parityFromWire(quint8 wire)
{
    switch (wire) {
    case 1: return 0;
    case 2: return 3;
    case 3: return 2;
    case 4: return 5;
    case 5: return 4;
    default: return -1;
    }
}

quint8 Rfc2217Codec::stopBitsToWire(qint32 stopBits)
{
    return (stopBits >= 1 && stopBits <= 3) ? quint8(stopBits) : 1;
}

quint8 Rfc2217Codec::flowControlToWire(qint32 flowControl)
{
    switch (flowControl) {
    case 1: return 3; // hardware
    case 2: return 2; // software
    default: return 1;
    }
}

qint32 Rfc2217Codec::flowControlFromWire(quint8 control)
{
    switch (control) {
    case 1: return 0;
    case 2: return 2;
    case 3: return 1;
    default: return -1;
    }
}

QByteArray Rfc2217Codec::baudRatePayload(quint32 baudRate)
{
    QByteArray out(4, Qt::Uninitialized);
    out[0] = char(baudRate >> 24);
    out[1] = char(baudRate >> 16);
    out[2] = char(baudRate >> 8);
    out[3] = char(baudRate);
    return out;
}
