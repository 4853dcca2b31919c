#pragma once

#include "bridge/bridgeframer.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <deque>
#include <optional>

// Lets the clients of a many-client end take turns at a device that answers one
// request at a time: each client's input is framed on its own, complete requests
// wait in arrival order, and the client whose request went out owns the device's
// answers until its turn ends.
//
// No I/O and no timers. Call order: configure(); request() for each client input;
// next() whenever the way to the device is idle, handing out at most one request;
// answer() for each device chunk (it says whose it is); answerComplete() when a
// framed answer ended; peerLost() when a client leaves; onTimer() once
// nextDeadline() has passed.
class TurnArbiter
{
public:
    struct Settings
    {
        BridgeFramer::Settings framing;
        qint64 responseTimeoutMs = 1000;
        int maxQueued = 64;
    };
    struct Request
    {
        QByteArray bytes;
        QString peer;
    };

    void configure(const Settings &settings);

    void request(const QByteArray &bytes, const QString &peer, qint64 now);
    // A request already cut into its frame elsewhere.
    void requestFrame(const QByteArray &frame, const QString &peer) { enqueue({frame}, peer); }
    // The oldest waiting request, when no client owns the device; its client owns it.
    std::optional<Request> next(qint64 now);
    // The peer a device chunk belongs to (empty once the turn has ended), extending the turn.
    QString answer(qint64 now);
    void answerComplete();
    void peerLost(const QString &peer);
    void onTimer(qint64 now);
    qint64 nextDeadline(qint64 now) const;

    QString owner() const { return m_owner; }
    int waiting() const { return int(m_waiting.size()); }
    qint64 unanswered() const { return m_unanswered; }
    qint64 dropped() const { return m_dropped; }

private:
    void enqueue(const QList<QByteArray> &frames, const QString &peer);
    void endTurn();

    Settings m_settings;
    QMap<QString, BridgeFramer> m_framers;
    std::deque<Request> m_waiting;
    QString m_owner;
    bool m_owned = false;
    bool m_answered = false;
    qint64 m_turnEnds = 0;
    qint64 m_unanswered = 0;
    qint64 m_dropped = 0;
};
