#pragma once

#include <QList>
#include <QString>

#include <deque>

// Console traffic waiting for upload, bounded: a watched port can produce far more
// than the upload takes (64 events or 8192 bytes every 2 s), so beyond the bound the
// oldest events are dropped and a marker event at the front of the queue tells the
// watcher how many bytes of that port were skipped.
//
// Call order: push() for every piece of traffic; takeBatch() on each upload tick;
// clear() when watching ends.
class ConsoleEventQueue
{
public:
    struct Event
    {
        QString portKey;
        QString type; // "rx" or "tx"
        QString text;
        QString clientTime;
        qint64 skippedBytes = 0; // > 0: a marker standing for that many dropped bytes
    };

    static constexpr int MaxBatchEvents = 64;
    static constexpr qint64 MaxBatchBytes = 8192;
    static constexpr int DefaultMaxEvents = 1024;
    static constexpr qint64 DefaultMaxBytes = 64 * 1024;

    explicit ConsoleEventQueue(int maxEvents = DefaultMaxEvents, qint64 maxBytes = DefaultMaxBytes);

    void push(const QString &portKey, const QString &type, const QString &text, const QString &clientTime);
    // Events in queue order, at most MaxBatchEvents and MaxBatchBytes of text (the
    // event that would pass the byte limit waits, unless the batch would be empty).
    QList<Event> takeBatch();
    void clear();

    bool isEmpty() const { return m_events.empty(); }
    int size() const { return int(m_events.size()); }
    // UTF-8 size of the queued texts.
    qint64 queuedBytes() const { return m_bytes; }
    // All bytes dropped since the queue was made.
    qint64 droppedBytes() const { return m_dropped; }

    // The marker's text for the watcher.
    static QString markerText(qint64 skippedBytes);

private:
    void addMarker(const QString &portKey, qint64 bytes, const QString &clientTime);
    static qint64 sizeOf(const QString &text) { return text.toUtf8().size(); }

    std::deque<Event> m_events;
    int m_maxEvents;
    qint64 m_maxBytes;
    qint64 m_bytes = 0;
    qint64 m_dropped = 0;
};
