#include "bridge/floodguard.h"

void FloodGuard::configure(const Settings &settings)
{
    m_settings = settings;
    m_active = false;
}

void FloodGuard::open(qint64 count, qint64 queued, qint64 now)
{
    m_active = true;
    m_start = now;
    m_count = count;
    m_queuedAtStart = queued;
}

bool FloodGuard::observe(qint64 bytes, qint64 queued, qint64 now)
{
    if (!m_settings.enabled)
        return false;
    if (!m_active) {
        if (bytes > 0)
            open(bytes, queued, now);
        return false;
    }
    m_count += bytes;
    const qint64 elapsed = now - m_start;
    if (elapsed < m_settings.windowMs)
        return false;
    const qint64 rate = m_count * 1000 / qMax<qint64>(1, elapsed);
    if (rate > m_settings.rateBytesPerSec && queued > m_queuedAtStart)
        return true;
    open(0, queued, now);
    return false;
}
