#include "cloudservice/consolehub.h"

ConsoleHub::ConsoleHub(const Limits &limits, std::function<QString()> newSessionId)
    : m_limits(limits), m_newSessionId(std::move(newSessionId))
{
}

QString ConsoleHub::watch(qint64 deviceId, qint64 watcher, qint64 now)
{
    dropStaleWatchers(deviceId, now);
    Session &session = m_sessions[deviceId];
    if (session.id.isEmpty())
        session.id = m_newSessionId();
    session.watchers.insert(watcher, now);
    return session.id;
}

bool ConsoleHub::touch(qint64 deviceId, const QString &sessionId, qint64 watcher, qint64 now)
{
    dropStaleWatchers(deviceId, now);
    const auto it = m_sessions.find(deviceId);
    if (it == m_sessions.end() || it->id != sessionId)
        return false;
    it->watchers.insert(watcher, now);
    return true;
}

void ConsoleHub::unwatch(qint64 deviceId, qint64 watcher)
{
    const auto it = m_sessions.find(deviceId);
    if (it == m_sessions.end())
        return;
    it->watchers.remove(watcher);
    if (it->watchers.isEmpty())
        m_sessions.erase(it);
}

QString ConsoleHub::session(qint64 deviceId, qint64 now)
{
    dropStaleWatchers(deviceId, now);
    const auto it = m_sessions.constFind(deviceId);
    return it == m_sessions.cend() ? QString() : it->id;
}

void ConsoleHub::markTold(qint64 deviceId)
{
    const auto it = m_sessions.find(deviceId);
    if (it != m_sessions.end())
        it->told = true;
}

bool ConsoleHub::told(qint64 deviceId) const
{
    const auto it = m_sessions.constFind(deviceId);
    return it != m_sessions.cend() && it->told;
}

int ConsoleHub::append(qint64 deviceId, QList<Event> events, qint64 now)
{
    dropStaleWatchers(deviceId, now);
    const auto it = m_sessions.find(deviceId);
    if (it == m_sessions.end())
        return 0;
    Session &session = *it;
    for (Event &event : events) {
        event.seq = session.nextSeq++;
        event.serverTime = now;
        session.bytes += event.text.size();
        session.events.push_back(std::move(event));
    }
    // Oldest traffic goes first; a browser that fell behind sees a gap in seq.
    while (!session.events.empty()
           && (qsizetype(session.events.size()) > m_limits.maxEvents || session.bytes > m_limits.maxEventBytes)) {
        session.bytes -= session.events.front().text.size();
        session.events.pop_front();
    }
    return int(events.size());
}

QList<ConsoleHub::Event> ConsoleHub::events(qint64 deviceId, qint64 after, int limit,
                                            const QString &portKey) const
{
    QList<Event> list;
    const auto it = m_sessions.constFind(deviceId);
    if (it == m_sessions.cend())
        return list;
    for (const Event &event : it->events) {
        if (event.seq <= after || (!portKey.isEmpty() && event.portKey != portKey))
            continue;
        list << event;
        if (list.size() >= limit)
            break;
    }
    return list;
}

qint64 ConsoleHub::lastSeq(qint64 deviceId) const
{
    const auto it = m_sessions.constFind(deviceId);
    return it == m_sessions.cend() ? 0 : it->nextSeq - 1;
}

void ConsoleHub::expire(qint64 now)
{
    const QList<qint64> ids = m_sessions.keys();
    for (qint64 id : ids)
        dropStaleWatchers(id, now);
}

void ConsoleHub::dropStaleWatchers(qint64 deviceId, qint64 now)
{
    const auto it = m_sessions.find(deviceId);
    if (it == m_sessions.end())
        return;
    for (auto w = it->watchers.begin(); w != it->watchers.end();)
        w = now - w.value() > m_limits.watcherLifetimeMs ? it->watchers.erase(w) : std::next(w);
    if (it->watchers.isEmpty())
        m_sessions.erase(it);
}
