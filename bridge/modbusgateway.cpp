#include "bridge/modbusgateway.h"

#include "codec/modbuscodec.h"

#include <algorithm>

namespace {

quint16 be16(const char *p)
{
    return quint16((uchar(p[0]) << 8) | uchar(p[1]));
}

void appendBe16(QByteArray &out, quint16 v)
{
    out.append(char(v >> 8));
    out.append(char(v & 0xFF));
}

} // namespace

// ---- MBAP parser ----------------------------------------------------------------------

QList<MbapParser::Request> MbapParser::feed(const QByteArray &bytes)
{
    m_buffer += bytes;
    QList<Request> requests;
    qsizetype at = 0;
    while (m_buffer.size() - at >= HeaderBytes) {
        const char *h = m_buffer.constData() + at;
        const quint16 protocol = be16(h + 2);
        const quint16 length = be16(h + 4);
        if (protocol != 0 || length < MinLength || length > MaxLength) {
            ++m_malformed;
            m_buffer.clear();
            return requests;
        }
        if (m_buffer.size() - at < 6 + length)
            break;
        requests.append({be16(h), quint8(h[6]), m_buffer.mid(at + HeaderBytes, length - 1)});
        at += 6 + length;
    }
    m_buffer.remove(0, at);
    return requests;
}

// ---- Gateway ----------------------------------------------------------------------------

void ModbusGateway::configure(qint64 transactionTimeoutMs)
{
    m_timeoutMs = qBound(qint64(1), transactionTimeoutMs, qint64(600000));
}

QByteArray ModbusGateway::rtuFrame(quint8 unit, const QByteArray &pdu)
{
    QByteArray frame;
    frame.reserve(pdu.size() + 3);
    frame.append(char(unit));
    frame.append(pdu);
    const quint16 crc = ModbusCodec::crc16(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

bool ModbusGateway::hasValidCrc(const QByteArray &frame)
{
    if (frame.size() < MinRtuFrame)
        return false;
    const quint16 crc = ModbusCodec::crc16(frame.first(frame.size() - 2));
    return uchar(frame.at(frame.size() - 2)) == (crc & 0xFF) && uchar(frame.at(frame.size() - 1)) == (crc >> 8);
}

qsizetype ModbusGateway::answerLength(const QByteArray &bytes, qsizetype from)
{
    if (bytes.size() - from < 3)
        return 0;
    const quint8 function = quint8(bytes.at(from + 1));
    if (function & 0x80)
        return 5; // unit, function, exception code, CRC
    switch (function) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x17:
        return 5 + quint8(bytes.at(from + 2)); // unit, function, byte count, data, CRC
    case 0x05: case 0x06: case 0x0F: case 0x10:
        return 8; // unit, function, address, value or count, CRC
    default:
        return 0;
    }
}

QList<QByteArray> ModbusGateway::splitAnswers(const QByteArray &frame) const
{
    if (hasValidCrc(frame))
        return {frame};
    QList<QByteArray> parts;
    for (qsizetype at = 0; at < frame.size();) {
        const qsizetype n = answerLength(frame, at);
        if (n == 0 || at + n > frame.size() || !hasValidCrc(frame.mid(at, n)))
            return {frame};
        parts.append(frame.mid(at, n));
        at += n;
    }
    return parts;
}

QList<QByteArray> ModbusGateway::request(const QString &peer, const QByteArray &bytes, qint64 now)
{
    Client &client = m_clients[peer];
    QList<QByteArray> frames;
    const QList<MbapParser::Request> requests = client.parser.feed(bytes);
    for (const MbapParser::Request &r : requests) {
        if (live(client.pending) >= MaxPending) {
            for (Pending &p : client.pending) {
                if (!std::exchange(p.dropped, true))
                    break;
            }
            ++m_counters.expired;
            // Placeholders are bounded too; the oldest goes without trace.
            if (client.pending.size() >= size_t(4 * MaxPending))
                client.pending.pop_front();
        }
        client.pending.push_back({r.transactionId, r.unit, quint8(r.pdu.at(0)), now, m_order++});
        frames.append(rtuFrame(r.unit, r.pdu));
        ++m_counters.requests;
    }
    return frames;
}

QList<ModbusGateway::Response> ModbusGateway::answer(const QByteArray &frame, const QString &owner, qint64 now)
{
    expire(now);
    QList<Response> responses;
    const QList<QByteArray> answers = splitAnswers(frame);
    for (const QByteArray &a : answers) {
        if (!hasValidCrc(a)) {
            ++m_counters.failedAnswers;
            continue;
        }
        if (auto r = match(a, owner)) {
            responses.append(*r);
            ++m_counters.responses;
        } else {
            ++m_counters.unmatchedAnswers;
        }
    }
    return responses;
}

int ModbusGateway::live(const std::deque<Pending> &pending)
{
    return int(std::count_if(pending.begin(), pending.end(), [](const Pending &p) { return !p.dropped; }));
}

std::optional<ModbusGateway::Response> ModbusGateway::match(const QByteArray &frame, const QString &owner)
{
    const quint8 unit = quint8(frame.at(0));
    const quint8 function = quint8(frame.at(1)) & 0x7F; // an exception answers its function too
    Client *best = nullptr;
    std::deque<Pending>::iterator bestAt;
    QString bestPeer;
    for (auto c = m_clients.begin(); c != m_clients.end(); ++c) {
        if (!owner.isEmpty() && c.key() != owner)
            continue;
        auto &pending = c->pending;
        const auto it = std::find_if(pending.begin(), pending.end(),
                                     [&](const Pending &p) { return p.unit == unit && p.function == function; });
        if (it != pending.end() && (!best || it->order < bestAt->order)) {
            best = &c.value();
            bestAt = it;
            bestPeer = c.key();
        }
    }
    if (!best)
        return std::nullopt;
    const quint16 id = bestAt->transactionId;
    const bool dropped = bestAt->dropped;
    best->pending.erase(bestAt);
    if (dropped)
        return std::nullopt;
    const QByteArray pdu = frame.mid(1, frame.size() - 3);
    QByteArray out;
    out.reserve(MbapParser::HeaderBytes + pdu.size());
    appendBe16(out, id);
    appendBe16(out, 0);
    appendBe16(out, quint16(pdu.size() + 1));
    out.append(char(unit));
    out.append(pdu);
    return Response{bestPeer, out};
}

void ModbusGateway::expire(qint64 now)
{
    for (Client &c : m_clients) {
        while (!c.pending.empty() && now - c.pending.front().sentAt >= m_timeoutMs) {
            if (!c.pending.front().dropped)
                ++m_counters.expired;
            c.pending.pop_front();
        }
    }
}

qint64 ModbusGateway::nextDeadline(qint64 now) const
{
    qint64 due = -1;
    for (const Client &c : m_clients) {
        if (c.pending.empty())
            continue;
        const qint64 d = qMax<qint64>(0, c.pending.front().sentAt + m_timeoutMs - now);
        if (due < 0 || d < due)
            due = d;
    }
    return due;
}

void ModbusGateway::peerLost(const QString &peer)
{
    const auto it = m_clients.constFind(peer);
    if (it == m_clients.cend())
        return;
    m_malformedOfGone += it->parser.malformed();
    m_clients.erase(it);
}

int ModbusGateway::pending() const
{
    int n = 0;
    for (const Client &c : m_clients)
        n += live(c.pending);
    return n;
}

ModbusGateway::Counters ModbusGateway::counters() const
{
    Counters c = m_counters;
    c.malformedRequests = m_malformedOfGone;
    for (const Client &client : m_clients)
        c.malformedRequests += client.parser.malformed();
    return c;
}
