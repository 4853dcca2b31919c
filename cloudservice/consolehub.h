#pragma once

#include <QHash>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <deque>
#include <functional>

// The live side of the console, kept in memory: which devices are being watched, by
// which browsers (one watcher per browser sign-in), under which console session id,
// and the recent traffic each watched device uploaded. A device is told "watching"
// while its session has a watcher that asked within the watcher lifetime; traffic is
// kept only while somebody watches and is bounded per device.
// Call order: watch() or touch() from the browser side, session() and append() from
// the device side, expire() now and then. Times are milliseconds of a monotonic clock.
class ConsoleHub
{
public:
    struct Limits
    {
        qint64 watcherLifetimeMs = 30000;
        int maxEvents = 2000;              // per device
        qint64 maxEventBytes = 1024 * 1024; // payload text per device
    };
    struct Event
    {
        qint64 seq = 0;
        QString portKey;
        QString type; // "rx" or "tx"
        QString text;
        QJsonValue clientTime;
        qint64 serverTime = 0;
    };

    explicit ConsoleHub(const Limits &limits, std::function<QString()> newSessionId);

    // Joins the device's running session or starts one; returns its id.
    QString watch(qint64 deviceId, qint64 watcher, qint64 now);
    // Renews a watcher; false when sessionId is no longer the device's session.
    bool touch(qint64 deviceId, const QString &sessionId, qint64 watcher, qint64 now);
    void unwatch(qint64 deviceId, qint64 watcher);

    // The device's session id, empty when nobody watches.
    QString session(qint64 deviceId, qint64 now);
    // The device was told it is watched (it will stream from now on).
    void markTold(qint64 deviceId);
    bool told(qint64 deviceId) const;

    // Keeps the events while the device is watched; returns how many were kept.
    int append(qint64 deviceId, QList<Event> events, qint64 now);
    // Events after `after` (oldest first), at most `limit`, optionally of one port.
    QList<Event> events(qint64 deviceId, qint64 after, int limit, const QString &portKey) const;
    // Sequence number of the last event kept (0 if none).
    qint64 lastSeq(qint64 deviceId) const;

    void expire(qint64 now);
    qsizetype sessionCount() const { return m_sessions.size(); }

private:
    struct Session
    {
        QString id;
        QHash<qint64, qint64> watchers; // watcher -> last request
        bool told = false;
        qint64 nextSeq = 1;
        std::deque<Event> events;
        qint64 bytes = 0;
    };
    void dropStaleWatchers(qint64 deviceId, qint64 now);

    Limits m_limits;
    std::function<QString()> m_newSessionId;
    QHash<qint64, Session> m_sessions;
};
