#include "bridge/bridgeframer.h"

#include "bridge/bridgeconfig.h"

BridgeFramer::Settings BridgeFramer::settingsFrom(const BridgeConfig &c)
{
    return {c.FramingMode, c.FramingIdleGapMs, c.FramingDelimiterHex, c.FramingFixedLength, c.FramingMaxBytes,
            c.FramingMaxHoldMs};
}

void BridgeFramer::configure(const Settings &settings)
{
    m_settings = settings;
    m_settings.maxBytes = qMax<qint64>(1, m_settings.maxBytes);
    m_settings.fixedLength = qMax<qint64>(1, m_settings.fixedLength);
    if (m_settings.mode == BridgeConfig::CutOnDelimiter && m_settings.delimiter.isEmpty())
        m_settings.mode = BridgeConfig::ForwardImmediately;
    m_searchFrom = 0;
}

void BridgeFramer::cutPieces(QList<QByteArray> &out, const QByteArray &bytes) const
{
    const qsizetype max = qsizetype(m_settings.maxBytes);
    if (bytes.size() <= max) {
        if (!bytes.isEmpty())
            out.append(bytes);
        return;
    }
    for (qsizetype at = 0; at < bytes.size(); at += max)
        out.append(bytes.mid(at, max));
}

void BridgeFramer::takeAll(QList<QByteArray> &out)
{
    cutPieces(out, m_buffer);
    m_buffer.clear();
    m_searchFrom = 0;
}

QList<QByteArray> BridgeFramer::push(const QByteArray &bytes, qint64 now)
{
    QList<QByteArray> out;
    if (bytes.isEmpty())
        return out;
    if (m_settings.mode == BridgeConfig::ForwardImmediately) {
        cutPieces(out, bytes);
        return out;
    }
    if (m_buffer.isEmpty())
        m_firstAt = now;
    m_lastAt = now;
    m_buffer.append(bytes);
    // Frames are cut from the front by a cursor; the buffer is compacted once at the end.
    const qsizetype max = qsizetype(m_settings.maxBytes);
    qsizetype done = 0;
    auto cutTo = [&](qsizetype end) {
        cutPieces(out, m_buffer.sliced(done, end - done));
        done = end;
    };
    switch (m_settings.mode) {
    case BridgeConfig::CutOnIdleGap:
        while (m_buffer.size() - done >= max)
            cutTo(done + max);
        break;
    case BridgeConfig::CutOnDelimiter: {
        const QByteArray &delimiter = m_settings.delimiter;
        qsizetype from = m_searchFrom;
        for (;;) {
            const qsizetype at = m_buffer.indexOf(delimiter, from);
            if (at >= 0) {
                cutTo(at + delimiter.size());
                from = done;
                continue;
            }
            // No delimiter starts anywhere up to size - length, so a piece of the largest
            // size can go without splitting one; the tail is kept for the next search.
            if (m_buffer.size() - done >= max + delimiter.size() - 1) {
                cutTo(done + max);
                from = done;
                continue;
            }
            break;
        }
        break;
    }
    case BridgeConfig::FixedLength:
        while (m_buffer.size() - done >= m_settings.fixedLength)
            cutTo(done + qsizetype(m_settings.fixedLength));
        break;
    default:
        break;
    }
    if (done > 0) {
        m_buffer.remove(0, done);
        // What is left began after the last cut, so within this input.
        m_firstAt = now;
    }
    if (m_settings.mode == BridgeConfig::CutOnDelimiter)
        m_searchFrom = qMax<qsizetype>(0, m_buffer.size() - m_settings.delimiter.size() + 1);
    return out;
}

QList<QByteArray> BridgeFramer::onTimer(qint64 now)
{
    QList<QByteArray> out;
    if (m_buffer.isEmpty())
        return out;
    const bool idle = m_settings.mode == BridgeConfig::CutOnIdleGap && now - m_lastAt >= m_settings.idleGapMs;
    if (idle || now - m_firstAt >= m_settings.maxHoldMs)
        takeAll(out);
    return out;
}

QList<QByteArray> BridgeFramer::flush()
{
    QList<QByteArray> out;
    takeAll(out);
    return out;
}

qint64 BridgeFramer::nextDeadline(qint64 now) const
{
    if (m_buffer.isEmpty())
        return -1;
    qint64 due = m_firstAt + m_settings.maxHoldMs;
    if (m_settings.mode == BridgeConfig::CutOnIdleGap)
        due = qMin(due, m_lastAt + m_settings.idleGapMs);
    return qMax<qint64>(0, due - now);
}
