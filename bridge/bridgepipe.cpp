#include "bridge/bridgepipe.h"

#include "bridge/bridgeconfig.h"

void BridgePipe::configure(const BridgeConfig &c)
{
    m_framer.configure(BridgeFramer::settingsFrom(c));
    m_queue.configure({c.QueueLimitBytes, c.HighWatermark, c.LowWatermark, c.OverflowPolicy});
    m_flood.configure({c.FloodGuardEnabled, c.FloodRateBytesPerSec, c.FloodWindowMs});
    m_queueLimit = c.QueueLimitBytes;
    m_sinkPendingLimit = c.SinkPendingLimitBytes;
}

void BridgePipe::countDropped(qint64 bytes, qint64 frames)
{
    m_counters.bytesDropped += bytes;
    m_counters.framesDropped += frames;
}

void BridgePipe::suspend(const QString &reason)
{
    m_suspended = true;
    m_suspendReason = reason;
}

int BridgePipe::ingest(const QByteArray &bytes, const QString &peer, qint64 now)
{
    if (bytes.isEmpty())
        return 0;
    if (m_suspended) {
        countDropped(bytes.size(), 1);
        return 0;
    }
    if (m_flood.observe(bytes.size(), m_queue.total(), now)) {
        suspend(tr("Flood guard tripped (possible cable loop)"));
        countDropped(bytes.size(), 1);
        return 0;
    }
    m_lastPeer = peer;
    const QList<QByteArray> frames = m_framer.push(bytes, now);
    pushFrames(frames, peer);
    return int(frames.size());
}

int BridgePipe::ingestFrame(const QByteArray &frame, const QString &peer, qint64 now)
{
    if (frame.isEmpty())
        return 0;
    if (m_suspended) {
        countDropped(frame.size(), 1);
        return 0;
    }
    if (m_flood.observe(frame.size(), m_queue.total(), now)) {
        suspend(tr("Flood guard tripped (possible cable loop)"));
        countDropped(frame.size(), 1);
        return 0;
    }
    pushFrames({frame}, peer);
    return 1;
}

void BridgePipe::pushFrames(const QList<QByteArray> &frames, const QString &peer)
{
    for (qsizetype i = 0; i < frames.size(); ++i) {
        if (m_suspended) {
            countDropped(frames.at(i).size(), 1);
            continue;
        }
        if (m_queue.push(frames.at(i), peer) == EgressQueue::Push::Stop)
            suspend(tr("Egress queue overflowed"));
    }
}

int BridgePipe::onTimer(qint64 now)
{
    if (m_suspended)
        return 0;
    if (m_flood.observe(0, m_queue.total(), now)) {
        suspend(tr("Flood guard tripped (possible cable loop)"));
        return 0;
    }
    const QList<QByteArray> frames = m_framer.onTimer(now);
    pushFrames(frames, m_lastPeer);
    return int(frames.size());
}

int BridgePipe::flush()
{
    const QList<QByteArray> frames = m_framer.flush();
    pushFrames(frames, m_lastPeer);
    return int(frames.size());
}

std::optional<BridgePipe::Write> BridgePipe::nextWrite(const SinkState &sink)
{
    if (m_suspended || m_queue.isEmpty())
        return std::nullopt;
    if (!sink.open || sink.pending >= m_sinkPendingLimit) {
        m_blocked = true;
        return std::nullopt;
    }
    const EgressQueue::Entry &head = m_queue.head();
    return Write{head.bytes, head.peer};
}

void BridgePipe::written(qint64 taken)
{
    if (taken < 1 || m_queue.isEmpty()) {
        m_blocked = true;
        ++m_counters.failedWrites;
        return;
    }
    m_blocked = false;
    m_counters.bytesForwarded += qMin<qint64>(taken, m_queue.head().bytes.size());
    if (m_queue.take(taken))
        ++m_counters.framesForwarded;
}

BridgePipe::Hold BridgePipe::updateHold(qint64 now)
{
    const bool wanted = !m_suspended && (m_queue.isFull() || (m_blocked && !m_queue.isEmpty()));
    if (wanted == m_held)
        return Hold::Keep;
    m_held = wanted;
    if (wanted) {
        m_holdStart = now;
        return Hold::Hold;
    }
    m_counters.heldMs += now - m_holdStart;
    return Hold::Release;
}

void BridgePipe::resume()
{
    m_suspended = false;
    m_suspendReason.clear();
    m_flood.reset();
}

qint64 BridgePipe::discard()
{
    qint64 dropped = m_queue.clear();
    const QList<QByteArray> held = m_framer.flush();
    for (const QByteArray &frame : held) {
        countDropped(frame.size(), 1);
        dropped += frame.size();
    }
    m_blocked = false;
    return dropped;
}

qint64 BridgePipe::dropPeer(const QString &peer)
{
    return m_queue.dropPeer(peer);
}

qint64 BridgePipe::nextDeadline(qint64 now) const
{
    if (m_suspended)
        return -1;
    qint64 due = m_framer.nextDeadline(now);
    if (!m_queue.isEmpty())
        due = due < 0 ? RetryMs : qMin(due, RetryMs);
    return due;
}

BridgePipe::Counters BridgePipe::counters() const
{
    Counters c = m_counters;
    c.bytesDropped += m_queue.droppedBytes();
    c.framesDropped += m_queue.droppedFrames();
    return c;
}
