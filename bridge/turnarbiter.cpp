#include "bridge/turnarbiter.h"

void TurnArbiter::configure(const Settings &settings)
{
    m_settings = settings;
    m_settings.maxQueued = qMax(1, m_settings.maxQueued);
    for (BridgeFramer &framer : m_framers)
        framer.configure(m_settings.framing);
}

void TurnArbiter::enqueue(const QList<QByteArray> &frames, const QString &peer)
{
    for (const QByteArray &frame : frames) {
        if (int(m_waiting.size()) >= m_settings.maxQueued) {
            ++m_dropped;
            continue;
        }
        m_waiting.push_back({frame, peer});
    }
}

void TurnArbiter::request(const QByteArray &bytes, const QString &peer, qint64 now)
{
    auto it = m_framers.find(peer);
    if (it == m_framers.end()) {
        it = m_framers.insert(peer, BridgeFramer());
        it->configure(m_settings.framing);
    }
    enqueue(it->push(bytes, now), peer);
}

std::optional<TurnArbiter::Request> TurnArbiter::next(qint64 now)
{
    if (m_owned || m_waiting.empty())
        return std::nullopt;
    Request request = std::move(m_waiting.front());
    m_waiting.pop_front();
    m_owner = request.peer;
    m_owned = true;
    m_answered = false;
    m_turnEnds = now + m_settings.responseTimeoutMs;
    return request;
}

QString TurnArbiter::answer(qint64 now)
{
    if (m_owned && now >= m_turnEnds)
        endTurn();
    if (!m_owned)
        return {};
    m_answered = true;
    m_turnEnds = now + m_settings.responseTimeoutMs;
    return m_owner;
}

void TurnArbiter::answerComplete()
{
    if (m_owned)
        endTurn();
}

void TurnArbiter::endTurn()
{
    if (m_owned && !m_answered)
        ++m_unanswered;
    m_owned = false;
    m_owner.clear();
}

void TurnArbiter::peerLost(const QString &peer)
{
    m_framers.remove(peer);
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if (it->peer == peer) {
            ++m_dropped;
            it = m_waiting.erase(it);
        } else {
            ++it;
        }
    }
    // Nobody is left to answer: the device is free for the next client.
    if (m_owned && m_owner == peer) {
        m_owned = false;
        m_owner.clear();
    }
}

void TurnArbiter::onTimer(qint64 now)
{
    for (auto it = m_framers.begin(); it != m_framers.end(); ++it)
        enqueue(it->onTimer(now), it.key());
    if (m_owned && now >= m_turnEnds)
        endTurn();
}

qint64 TurnArbiter::nextDeadline(qint64 now) const
{
    qint64 due = -1;
    auto earliest = [&due](qint64 d) {
        if (d >= 0 && (due < 0 || d < due))
            due = d;
    };
    for (const BridgeFramer &framer : m_framers)
        earliest(framer.nextDeadline(now));
    if (m_owned)
        earliest(qMax<qint64>(0, m_turnEnds - now));
    return due;
}
