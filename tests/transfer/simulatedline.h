#pragma once

#include "transfer/xmodemcodec.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <algorithm>
#include <functional>
#include <map>
#include <utility>

// Runs two engines against each other over a simulated serial line on a virtual
// clock that jumps from event to event. Each write is timed like a real line, may
// arrive in pieces, and may be dropped, corrupted or duplicated (seeded).
class SimulatedLine
{
public:
    struct Faults
    {
        double drop = 0;       // per write: lose it (short writes) or one of its bytes
        double corrupt = 0;    // per write: flip one byte
        double duplicate = 0;  // per write: deliver it twice
        int maxDelayMs = 0;    // extra latency per piece, and writes split into pieces
        int maxPiece = 0;      // when set, no piece is longer (1: byte by byte)
    };
    struct Side
    {
        XmodemCodec *codec = nullptr;
        XferAction end;  // the action that ended this side
        bool ended = false;
        quint64 timerGeneration = 0;
    };
    // Called for every write before faults; return false to lose it.
    using Tamper = std::function<bool(int side, QByteArray &bytes)>;

    explicit SimulatedLine(quint32 seed) : m_random(seed) {}
    void setFaults(int fromSide, const Faults &faults) { m_faults[fromSide] = faults; }
    void setTamper(Tamper tamper) { m_tamper = std::move(tamper); }
    const Side &side(int i) const { return m_side[i]; }

    // Side 0 starts first, side 1 a little later; runs until both ended or an hour passed.
    void run(XmodemCodec &first, const XferFileInfo &firstInfo, XmodemCodec &second, const XferFileInfo &secondInfo)
    {
        m_side[0].codec = &first;
        m_side[1].codec = &second;
        apply(0, first.start(firstInfo, m_now));
        m_now = 5;
        apply(1, second.start(secondInfo, m_now));
        while (!m_events.empty() && !(m_side[0].ended && m_side[1].ended) && m_events.begin()->first.first <= 3600000) {
            const auto next = m_events.extract(m_events.begin());
            const Event &event = next.mapped();
            m_now = std::max(m_now, next.key().first);
            Side &s = m_side[event.side];
            if (s.ended)
                continue;
            if (event.kind == Deliver)
                apply(event.side, s.codec->feed(event.bytes, m_now));
            else if (event.kind == Drained)
                apply(event.side, s.codec->onDrained(m_now));
            else if (event.generation == s.timerGeneration)
                apply(event.side, s.codec->onTimer(m_now));
        }
    }

private:
    enum Kind { Deliver, Drained, Timer };
    struct Event
    {
        Kind kind;
        int side;  // the side the event happens to
        QByteArray bytes;
        quint64 generation = 0;
    };

    void schedule(qint64 time, Event event) { m_events.emplace(std::make_pair(time, m_sequence++), std::move(event)); }

    void apply(int side, const XferAction &action)
    {
        Side &s = m_side[side];
        if (!action.bytes.isEmpty())
            transmit(side, action.bytes);
        ++s.timerGeneration;
        if (action.ended() && !s.ended) {
            s.ended = true;
            s.end = action;
        } else if (!action.ended() && action.timeoutMs >= 0) {
            schedule(m_now + action.timeoutMs, Event{Timer, side, QByteArray(), s.timerGeneration});
        }
    }

    void transmit(int from, QByteArray bytes)
    {
        const qint64 sendStart = std::max(m_now, m_lineFree[from]);
        m_lineFree[from] = sendStart + 1 + bytes.size() / BytesPerMs;
        schedule(m_lineFree[from], Event{Drained, from, QByteArray()});
        if (m_tamper && !m_tamper(from, bytes))
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
        for (qint64 pos = 0, len = 0; pos < bytes.size(); pos += len) {
            len = bytes.size() - pos;
            if (f.maxDelayMs > 0 && len > 1)
                len = 1 + m_random.bounded(int(len));
            if (f.maxPiece > 0)
                len = qMin<qint64>(len, f.maxPiece);
            const qint64 sentBy = sendStart + 1 + (pos + len) / BytesPerMs;
            const qint64 delay = f.maxDelayMs > 0 ? m_random.bounded(f.maxDelayMs + 1) : 0;
            m_lastArrival[from] = std::max(m_lastArrival[from], sentBy + delay);
            schedule(m_lastArrival[from], Event{Deliver, 1 - from, bytes.mid(pos, len)});
        }
    }

    static constexpr int BytesPerMs = 12;  // about 115200 baud
    QRandomGenerator m_random;
    Faults m_faults[2];
    Tamper m_tamper;
    Side m_side[2];
    std::multimap<std::pair<qint64, quint64>, Event> m_events;
    quint64 m_sequence = 0;
    qint64 m_now = 0;
    qint64 m_lineFree[2] = {0, 0};     // when each direction's transmitter is idle
    qint64 m_lastArrival[2] = {0, 0};  // bytes never overtake each other
};
