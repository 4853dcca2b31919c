#pragma once

#include <QByteArray>
#include <QString>

#include <deque>

// The bounded queue of frames waiting for a bridge's destination, with the
// overflow policy and a "full" flag that follows the watermarks with hysteresis.
// No I/O. Call order: configure(), then push() and, as the destination takes
// bytes, head() and take(); clear() empties it and counts the rest as dropped.
class EgressQueue
{
public:
    enum class Push { Queued, QueuedAfterDropping, Dropped, Stop };
    struct Settings
    {
        qint64 limit = 262144;
        qint64 highWatermark = 196608;
        qint64 lowWatermark = 65536;
        qint32 policy = 2; // BridgeConfig's OverflowPolicy
    };
    struct Entry
    {
        QByteArray bytes; // what the destination has not taken yet
        QString peer;
    };

    void configure(const Settings &settings);
    Push push(const QByteArray &frame, const QString &peer);

    bool isEmpty() const { return m_entries.empty(); }
    const Entry &head() const { return m_entries.front(); }
    // Removes `bytes` from the head; true when the whole head entry has gone.
    bool take(qint64 bytes);
    // Drops every entry addressed to `peer`; returns the bytes dropped.
    qint64 dropPeer(const QString &peer);
    // Drops everything; returns the bytes dropped.
    qint64 clear();

    qint64 total() const { return m_total; }
    qint64 peak() const { return m_peak; }
    bool isFull() const { return m_full; }
    qint64 droppedBytes() const { return m_droppedBytes; }
    qint64 droppedFrames() const { return m_droppedFrames; }

private:
    void dropFront();
    void updateFull();

    Settings m_settings;
    std::deque<Entry> m_entries;
    qint64 m_total = 0;
    qint64 m_peak = 0;
    bool m_full = false;
    qint64 m_droppedBytes = 0;
    qint64 m_droppedFrames = 0;
};
