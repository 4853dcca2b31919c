#include "bridge/egressqueue.h"

#include "bridge/bridgeconfig.h"

void EgressQueue::configure(const Settings &settings)
{
    m_settings = settings;
    updateFull();
}

EgressQueue::Push EgressQueue::push(const QByteArray &frame, const QString &peer)
{
    if (frame.isEmpty())
        return Push::Queued;
    const qint64 size = frame.size();
    Push answer = Push::Queued;
    if (m_total + size > m_settings.limit) {
        switch (m_settings.policy) {
        case BridgeConfig::DropOldest:
            // A frame larger than the whole limit still goes in once the queue is empty.
            while (!m_entries.empty() && m_total + size > m_settings.limit) {
                dropFront();
                answer = Push::QueuedAfterDropping;
            }
            break;
        case BridgeConfig::StopBridge:
            ++m_droppedFrames;
            m_droppedBytes += size;
            return Push::Stop;
        default:
            ++m_droppedFrames;
            m_droppedBytes += size;
            return Push::Dropped;
        }
    }
    m_entries.push_back({frame, peer});
    m_total += size;
    m_peak = qMax(m_peak, m_total);
    updateFull();
    return answer;
}

void EgressQueue::dropFront()
{
    const qint64 rest = m_entries.front().bytes.size();
    m_total -= rest;
    m_droppedBytes += rest;
    ++m_droppedFrames;
    m_entries.pop_front();
}

bool EgressQueue::take(qint64 bytes)
{
    Entry &entry = m_entries.front();
    bytes = qMin<qint64>(bytes, entry.bytes.size());
    m_total -= bytes;
    const bool whole = bytes == entry.bytes.size();
    if (whole)
        m_entries.pop_front();
    else
        entry.bytes = entry.bytes.sliced(bytes); // partial writes are rare: the destination's room is cut to fit
    updateFull();
    return whole;
}

qint64 EgressQueue::dropPeer(const QString &peer)
{
    qint64 dropped = 0;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it->peer != peer) {
            ++it;
            continue;
        }
        dropped += it->bytes.size();
        ++m_droppedFrames;
        it = m_entries.erase(it);
    }
    m_total -= dropped;
    m_droppedBytes += dropped;
    updateFull();
    return dropped;
}

qint64 EgressQueue::clear()
{
    const qint64 dropped = m_total;
    m_droppedBytes += dropped;
    m_droppedFrames += qint64(m_entries.size());
    m_entries.clear();
    m_total = 0;
    updateFull();
    return dropped;
}

void EgressQueue::updateFull()
{
    if (m_total >= m_settings.highWatermark)
        m_full = true;
    else if (m_total <= m_settings.lowWatermark)
        m_full = false;
}
