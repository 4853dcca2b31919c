#include "cloudservice/loginthrottle.h"

LoginThrottle::LoginThrottle(const Policy &policy) : m_policy(policy)
{
}

qint64 LoginThrottle::retryAfter(const QString &key, qint64 now) const
{
    const auto it = m_entries.constFind(key);
    if (it == m_entries.cend() || it->lockedUntil <= now)
        return 0;
    return it->lockedUntil - now;
}

void LoginThrottle::failed(const QString &key, qint64 now)
{
    if (m_entries.size() >= m_policy.maxKeys && !m_entries.contains(key))
        prune(now);
    Entry &entry = m_entries[key];
    if (entry.failures == 0 || (now - entry.windowStart > m_policy.windowMs && entry.lockedUntil <= now)) {
        entry.failures = 0;
        entry.windowStart = now;
    }
    ++entry.failures;
    const int over = entry.failures - m_policy.freeFailures;
    if (over >= 0) {
        qint64 lock = m_policy.firstLockMs;
        for (int i = 0; i < over && lock < m_policy.maxLockMs; ++i)
            lock *= 2;
        entry.lockedUntil = now + qMin(lock, m_policy.maxLockMs);
        // A lock keeps the count alive until it has run out.
        entry.windowStart = qMax(entry.windowStart, entry.lockedUntil - m_policy.windowMs);
    }
}

void LoginThrottle::succeeded(const QString &key)
{
    m_entries.remove(key);
}

void LoginThrottle::prune(qint64 now)
{
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it->lockedUntil <= now && now - it->windowStart > m_policy.windowMs)
            it = m_entries.erase(it);
        else
            ++it;
    }
    // Still full: forget the keys that are not locked rather than grow without bound.
    if (m_entries.size() >= m_policy.maxKeys) {
        for (auto it = m_entries.begin(); it != m_entries.end();)
            it = it->lockedUntil <= now ? m_entries.erase(it) : std::next(it);
    }
}
