#pragma once

#include "transfer/xferaction.h"
#include "transfer/xferfileinfo.h"

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>

#include <functional>
#include <map>
#include <utility>

class XmodemCodec;

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
        XferAction end;            // the action that ended this side
        bool ended = false;
        qint64 endTime = -1;
        QList<QByteArray> writes;  // every write, in order
        quint64 timerGeneration = 0;
    };
    // Called for every write before faults; return false to lose it.
    using Tamper = std::function<bool(int side, QByteArray &bytes, int writeIndex)>;

    explicit SimulatedLine(quint32 seed) : m_random(seed) {}
    void setFaults(int fromSide, const Faults &faults) { m_faults[fromSide] = faults; }
    void setTamper(Tamper tamper) { m_tamper = std::move(tamper); }
    // Cancels side at the given virtual time.
    void cancelAt(int side, qint64 time) { m_cancelAt[side] = time; }

    // Side 0 starts first, side 1 a little later; runs until both ended or limitMs.
    void run(XmodemCodec &first, const XferFileInfo &firstInfo, XmodemCodec &second,
             const XferFileInfo &secondInfo, qint64 limitMs = 3600000);

    const Side &side(int i) const { return m_side[i]; }

private:
    enum Kind { Deliver, Drained, Timer, Cancel };
    struct Event
    {
        Kind kind;
        int side;  // the side the event happens to
        QByteArray bytes;
        quint64 generation = 0;
    };

    void apply(int side, const XferAction &action);
    void transmit(int from, QByteArray bytes);
    void schedule(qint64 time, Event event);

    QRandomGenerator m_random;
    Faults m_faults[2];
    Tamper m_tamper;
    Side m_side[2];
    std::multimap<std::pair<qint64, quint64>, Event> m_events;
    quint64 m_sequence = 0;
    qint64 m_now = 0;
    qint64 m_lineFree[2] = {0, 0};    // when each direction's transmitter is idle
    qint64 m_lastArrival[2] = {0, 0}; // bytes never overtake each other
    static constexpr int m_bytesPerMs = 12; // about 115200 baud
    qint64 m_cancelAt[2] = {-1, -1};
};
