#include "simulatedline.h"

#include "transfer/xmodemcodec.h"

#include <QtGlobal>

#include <algorithm>

void SimulatedLine::schedule(qint64 time, Event event)
{
    m_events.emplace(std::make_pair(time, m_sequence++), std::move(event));
}

void SimulatedLine::transmit(int from, QByteArray bytes)
{
    Side &s = m_side[from];
    const int index = int(s.writes.size());
    s.writes.append(bytes);
    const int to = 1 - from;
    const qint64 sendStart = std::max(m_now, m_lineFree[from]);
    const qint64 sendEnd = sendStart + 1 + bytes.size() / m_bytesPerMs;
    m_lineFree[from] = sendEnd;
    schedule(sendEnd, Event{Drained, from, QByteArray()});

    if (m_tamper && !m_tamper(from, bytes, index))
        return;
    const Faults &f = m_faults[from];
    if (f.drop > 0 && m_random.generateDouble() < f.drop) {
        if (bytes.size() <= 2)
            return;
        bytes.remove(m_random.bounded(int(bytes.size())), 1);
    }
    if (f.corrupt > 0 && m_random.generateDouble() < f.corrupt && !bytes.isEmpty()) {
        const int at = m_random.bounded(int(bytes.size()));
        bytes[at] = char(bytes.at(at) ^ char(1 + m_random.bounded(255)));
    }
    if (f.duplicate > 0 && m_random.generateDouble() < f.duplicate)
        bytes += bytes;

    // Deliver in pieces; each piece arrives no earlier than its last byte was sent.
    qint64 pos = 0;
    while (pos < bytes.size()) {
        qint64 len = bytes.size() - pos;
        if (f.maxDelayMs > 0 && len > 1)
            len = 1 + m_random.bounded(int(len));
        if (f.maxPiece > 0)
            len = qMin<qint64>(len, f.maxPiece);
        const qint64 sentBy = sendStart + 1 + (pos + len) / m_bytesPerMs;
        const qint64 delay = f.maxDelayMs > 0 ? m_random.bounded(f.maxDelayMs + 1) : 0;
        const qint64 arrival = std::max(m_lastArrival[from], sentBy + delay);
        m_lastArrival[from] = arrival;
        schedule(arrival, Event{Deliver, to, bytes.mid(pos, len)});
        pos += len;
    }
}

void SimulatedLine::apply(int side, const XferAction &action)
{
    Side &s = m_side[side];
    if (!action.bytes.isEmpty())
        transmit(side, action.bytes);
    ++s.timerGeneration;
    if (action.ended()) {
        if (!s.ended) {
            s.ended = true;
            s.end = action;
            s.endTime = m_now;
        }
        return;
    }
    if (action.timeoutMs >= 0)
        schedule(m_now + action.timeoutMs, Event{Timer, side, QByteArray(), s.timerGeneration});
}

void SimulatedLine::run(XmodemCodec &first, const XferFileInfo &firstInfo, XmodemCodec &second,
                        const XferFileInfo &secondInfo, qint64 limitMs)
{
    m_side[0].codec = &first;
    m_side[1].codec = &second;
    for (int i = 0; i < 2; ++i) {
        if (m_cancelAt[i] >= 0)
            schedule(m_cancelAt[i], Event{Cancel, i, QByteArray()});
    }
    m_now = 0;
    apply(0, first.start(firstInfo, m_now));
    m_now = 5;
    apply(1, second.start(secondInfo, m_now));

    while (!m_events.empty()) {
        if (m_side[0].ended && m_side[1].ended)
            break;
        auto it = m_events.begin();
        const qint64 time = it->first.first;
        if (time > limitMs)
            break;
        const Event event = std::move(it->second);
        m_events.erase(it);
        m_now = std::max(m_now, time);
        Side &s = m_side[event.side];
        if (s.ended)
            continue;
        switch (event.kind) {
        case Deliver:
            apply(event.side, s.codec->feed(event.bytes, m_now));
            break;
        case Drained:
            apply(event.side, s.codec->onDrained(m_now));
            break;
        case Timer:
            if (event.generation == s.timerGeneration)
                apply(event.side, s.codec->onTimer(m_now));
            break;
        case Cancel:
            apply(event.side, s.codec->cancel(m_now));
            break;
        }
    }
}
