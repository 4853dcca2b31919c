#pragma once

#include "bridge/bridgeframer.h"
#include "bridge/egressqueue.h"
#include "bridge/floodguard.h"

#include <QCoreApplication>
#include <QString>

#include <optional>

struct BridgeConfig;

// One direction of a bridge: the framer, the flood guard and the bounded egress
// queue towards the destination, with the counters and the source's hold state.
//
// No I/O and no timers: the driver passes the time (ms, one monotonic clock) and
// does the writing. Call order: configure(); then for each input ingest() (or
// ingestFrame() for a frame cut elsewhere), and onTimer() once nextDeadline() has
// passed. After each of these, pump: while nextWrite() offers bytes, write them to
// the destination and report what it took with written(); then updateHold() says
// whether to hold or release the source. resume() lifts a suspension; on stop,
// flush() moves what the framer holds into the queue, a last pump runs, and
// discard() counts the rest as dropped.
class BridgePipe
{
    Q_DECLARE_TR_FUNCTIONS(BridgePipe)

public:
    // A blocked destination is tried again this often.
    static constexpr qint64 RetryMs = 20;

    struct Counters
    {
        qint64 bytesForwarded = 0;
        qint64 framesForwarded = 0;
        qint64 bytesDropped = 0;  // by the queue and while suspended
        qint64 framesDropped = 0; // frames, or inputs while suspended
        qint64 failedWrites = 0;
        qint64 heldMs = 0;        // completed holds of the source
    };
    // The destination as the pump sees it at one moment.
    struct SinkState
    {
        bool open = false;
        qint64 pending = 0; // bytes it holds that are not written yet
    };
    // Bytes to hand to the destination.
    struct Write
    {
        QByteArray bytes;
        QString peer;
    };
    enum class Hold { Keep, Hold, Release };

    void configure(const BridgeConfig &normalised);

    // Each returns the number of frames that became complete (whether or not the
    // queue could take them).
    int ingest(const QByteArray &bytes, const QString &peer, qint64 now);
    int ingestFrame(const QByteArray &frame, const QString &peer, qint64 now);
    int onTimer(qint64 now);
    int flush();

    std::optional<Write> nextWrite(const SinkState &sink);
    void written(qint64 taken);
    Hold updateHold(qint64 now);

    void resume();
    // Drops what is queued and what the framer holds; returns the bytes dropped.
    qint64 discard();
    // Drops the frames addressed to a peer that has gone.
    qint64 dropPeer(const QString &peer);

    // Milliseconds until onTimer() is due, -1 for none.
    qint64 nextDeadline(qint64 now) const;

    bool isSuspended() const { return m_suspended; }
    QString suspendReason() const { return m_suspendReason; }
    bool isBlocked() const { return m_blocked; }
    bool isSourceHeld() const { return m_held; }
    // Nothing framed or queued: the destination has been handed everything.
    bool isIdle() const { return m_framer.isEmpty() && m_queue.isEmpty(); }
    qint64 queued() const { return m_queue.total(); }
    qint64 queuePeak() const { return m_queue.peak(); }
    bool isQueueFull() const { return m_queue.isFull(); }
    qint64 queueLimit() const { return m_queueLimit; }
    qint64 framerHeld() const { return m_framer.buffered(); }
    Counters counters() const;

private:
    void pushFrames(const QList<QByteArray> &frames, const QString &peer);
    void suspend(const QString &reason);
    void countDropped(qint64 bytes, qint64 frames);

    BridgeFramer m_framer;
    EgressQueue m_queue;
    FloodGuard m_flood;
    qint64 m_queueLimit = 0;
    qint64 m_sinkPendingLimit = 65536;
    QString m_lastPeer;

    Counters m_counters; // all but the queue's own drops
    bool m_suspended = false;
    QString m_suspendReason;
    bool m_blocked = false;
    bool m_held = false;
    qint64 m_holdStart = 0;
};
