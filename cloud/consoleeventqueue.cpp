#include "cloud/consoleeventqueue.h"

#include <QCoreApplication>

#include <algorithm>

ConsoleEventQueue::ConsoleEventQueue(int maxEvents, qint64 maxBytes)
    : m_maxEvents(qMax(2, maxEvents))
    , m_maxBytes(qMax<qint64>(1, maxBytes))
{
}

QString ConsoleEventQueue::markerText(qint64 skippedBytes)
{
    return QCoreApplication::translate("CloudConsoleService", "\u2026 %1 bytes skipped").arg(skippedBytes)
        + QLatin1Char('\n');
}

void ConsoleEventQueue::push(const QString &portKey, const QString &type, const QString &text,
                             const QString &clientTime)
{
    if (text.isEmpty())
        return;
    m_events.push_back({portKey, type, text, clientTime});
    m_bytes += sizeOf(text);
    // Markers count against the bound too, so at most one per port stays at the front.
    while (m_events.size() > 1 && (int(m_events.size()) > m_maxEvents || m_bytes > m_maxBytes)) {
        auto oldest = std::find_if(m_events.begin(), m_events.end(), [](const Event &e) { return e.skippedBytes == 0; });
        if (oldest == m_events.end() || std::next(oldest) == m_events.end())
            break; // only markers and the newest event are left
        const Event dropped = *oldest;
        m_bytes -= sizeOf(dropped.text);
        m_dropped += sizeOf(dropped.text);
        m_events.erase(oldest);
        addMarker(dropped.portKey, sizeOf(dropped.text), dropped.clientTime);
    }
}

void ConsoleEventQueue::addMarker(const QString &portKey, qint64 bytes, const QString &clientTime)
{
    for (auto it = m_events.begin(); it != m_events.end() && it->skippedBytes > 0; ++it) {
        if (it->portKey == portKey) {
            m_bytes -= sizeOf(it->text);
            it->skippedBytes += bytes;
            it->text = markerText(it->skippedBytes);
            it->clientTime = clientTime;
            m_bytes += sizeOf(it->text);
            return;
        }
    }
    // Markers stay together at the front, in the order their ports first lost data.
    auto at = std::find_if(m_events.begin(), m_events.end(), [](const Event &e) { return e.skippedBytes == 0; });
    Event marker{portKey, QStringLiteral("rx"), markerText(bytes), clientTime, bytes};
    m_bytes += sizeOf(marker.text);
    m_events.insert(at, marker);
}

QList<ConsoleEventQueue::Event> ConsoleEventQueue::takeBatch()
{
    QList<Event> batch;
    qint64 bytes = 0;
    while (!m_events.empty() && batch.size() < MaxBatchEvents) {
        const qint64 size = sizeOf(m_events.front().text);
        if (!batch.isEmpty() && bytes + size > MaxBatchBytes)
            break;
        bytes += size;
        batch.append(m_events.front());
        m_events.pop_front();
    }
    m_bytes -= bytes;
    return batch;
}

void ConsoleEventQueue::clear()
{
    m_events.clear();
    m_bytes = 0;
}
